// The production march. Same answer as MarchRay for every pixel, bit for
// bit; what changes is how the ray points are found and how most of them
// are settled without an arc tangent.
//
// Ray points. Ray point s of pixel (x, y) is X = trunc(x + fx), Y =
// trunc(y + fy) with fx = sin(sigma A) s and fy = cos(sigma A) s. Y is the
// same for every pixel of a row, so it is computed exactly once per row and
// step. For X, with off = floor(fx):
//   x + off >= 0:  x + fx >= 0 and X = x + off;
//   x + off <  0:  x + fx < 0 is not whole, truncation rounds it up: X = x + off + 1;
// as long as the sum x + fx, rounded to double, does not land on the other
// side of a whole number. It cannot when fx is whole (the sum is exact) or
// at least `tol` away from one (the rounding error of a sum below 2^12 is
// under 2^-41); steps with fx closer than that to a whole number, but not
// on it, take the exact formula per pixel. So a step is one column offset
// for the row's lanes from `pre` = max(0, -off) on and off + 1 below it.
//
// Missing neighbours. X and Y are monotonic in s, so a ray leaves the
// sector's columns at most once (step sc, per column) and its rows at most
// once (step sr, per row); it passes through at most three cells of the
// neighbourhood and meets a missing one first at a step known in advance.
// Each pixel's ray is marched only below that step. A sample that is not a
// number is different: it never shades but the ray goes on past it.
//
// The comparison. A point shades when h > G and atan((h - G)/d) > E, h - G
// formed in float and d = sqrt(dx^2 + dy^2). With tl = tan(E - 1e-9) and
// th = tan(E + 1e-9), per step and row lc = max(0, d tl rounded down to
// float) and u = d th rounded up: h - G <= lc cannot shade, h - G > u
// (with h - G > 0) shades, and only between the two is the arc tangent
// evaluated. The 1e-9 radian margin is far wider than the rounding of tan,
// the product, the quotient and atan together.
//
// Lanes. A row is marched in blocks of sixteen consecutive pixels, step by
// step; one vector comparison against the step's lc settles the block
// unless a lane rises above it. Blocks past every `pre` in an hour without
// ambiguous steps (nearly all of them) take a loop with nothing else in it,
// the scan of march_kernel.h, in the widest version the processor runs.
// Each row's mask is written by its own march only, so rows are shared out
// between threads (row_pool.h) with the same masks for any thread count.
//
// Bounds by row. |y - Y| at step s is |floor(sy s)| or one more for every
// row, so the distances and bounds of both cases are found once per hour.
//
// Early end. A block stops once, for every live pixel, the greatest sample
// on the mosaic rows its rays have still to cross minus the pixel's height
// is not above the smallest lc those steps can have: lc only grows along a
// ray, and that maximum only shrinks.
#include <algorithm>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <limits>

#include <memory>

#include "engine/march.h"
#include "engine/march_kernel.h"
#include "engine/row_pool.h"
#include "engine/shade.h"
#include "terrain/state.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kAngleMargin = 1e-9;
constexpr int kLanes = kMarchLanes;  // pixels of a row marched together

// Largest float not above v / smallest float not below v.
float FloatDown(double v) {
  if (std::isnan(v)) return std::numeric_limits<float>::quiet_NaN();
  if (v > FLT_MAX) return FLT_MAX;
  if (v < -FLT_MAX) return -kInf;
  float f = static_cast<float>(v);
  if (static_cast<double>(f) > v) f = std::nextafter(f, -kInf);
  return f;
}
float FloatUp(double v) {
  if (std::isnan(v)) return std::numeric_limits<float>::quiet_NaN();
  if (v > FLT_MAX) return kInf;
  if (v < -FLT_MAX) return -FLT_MAX;
  float f = static_cast<float>(v);
  if (static_cast<double>(f) < v) f = std::nextafter(f, kInf);
  return f;
}
// Lower bound used to dismiss a sample: never below 0, since h - G > 0 is
// needed anyway.
float LowerBound(double d, double tl) {
  const float l = FloatDown(d * tl);
  return l > 0 ? l : 0.0f;
}

// Column part of ray step s, shared by every row of the hour step.
struct StepCol {
  double fx = 0;
  int32_t off = 0;     // lanes x >= pre read column x + off
  int32_t pre = 0;     // lanes x < pre read column x + off + 1
  bool exact = false;  // fx next to a whole number: per-pixel formula
  double dxa = 0, dxb = 0, dxlo = 0;  // |x - X| of lanes >= pre, < pre, and a floor for any lane
};

// Distances and bounds of step s for one value of |y - Y|.
struct StepBound {
  int32_t ady = -1;  // |y - Y| these are for
  double dy = 0, da = 0, db = 0;
  float lca = 0, ua = 0, lcb = 0, ub = 0, lcmin = 0;
};

struct HourPlan {
  int32_t W = 0, H = 0, R = 0;
  // By 2s + v: |y - Y| is |floor(sy s)| (v = 0) or that plus one (v = 1)
  // for every row, so the square roots and roundings are done per hour.
  std::vector<StepBound> bound;
  double sx = 0, sy = 0, E = 0, tl = 0, th = 0, px = 1;
  std::vector<StepCol> col;  // by s, 1..R-1
  std::vector<int32_t> sc;   // by column: first step outside the sector's columns, R if none
  int cside = 1;             // neighbourhood column the rays leave to: 0 west, 2 east
  bool any_exact = false;    // some step needs the per-pixel formula
  int32_t max_pre = 0;       // lanes from here on read column x + off at every step
};

// Row part of ray step s.
struct StepRow {
  const float* a = nullptr;  // lanes >= pre read a[x], lanes < pre read a[x + 1]
  const float* row = nullptr;
  int32_t Y = 0;
  double dy = 0, da = 0, db = 0;
  float lca = 0, ua = 0, lcb = 0, ub = 0;
};

struct RowScratch {
  std::vector<StepRow> step;
  std::vector<float> g;       // the lanes' heights (dead lanes: anything)
  std::vector<int32_t> ends;  // first step a lane's ray may not take; 0 = dead
  std::vector<float> lcmin;   // by step: smallest lower bound any lane can have
  // The common path's data by step, packed: where lanes >= pre read, their
  // lower bound, and the height from which a block can stop at this step.
  std::vector<const float*> pa, pb;
  std::vector<float> lca, lcb;
  std::vector<double> stopg;
};

StepBound MakeBound(const HourPlan& p, const StepCol& c, int32_t ady) {
  StepBound b;
  b.ady = ady;
  b.dy = ady * p.px;
  b.da = std::sqrt(c.dxa * c.dxa + b.dy * b.dy);
  b.db = std::sqrt(c.dxb * c.dxb + b.dy * b.dy);
  b.lca = LowerBound(b.da, p.tl);
  b.ua = FloatUp(b.da * p.th);
  b.lcb = LowerBound(b.db, p.tl);
  b.ub = FloatUp(b.db * p.th);
  b.lcmin = LowerBound(std::sqrt(c.dxlo * c.dxlo + b.dy * b.dy), p.tl);
  return b;
}

HourPlan PlanHour(const Mosaic& mo, const SunPos& sun, int32_t R) {
  HourPlan p;
  p.W = mo.W;
  p.H = mo.H;
  p.R = R;
  p.sx = std::sin(sun.sign * sun.azimuth);
  p.sy = std::cos(sun.sign * sun.azimuth);
  p.E = sun.elevation;
  p.px = st.xypx[0];
  const double lo = p.E - kAngleMargin, hi = p.E + kAngleMargin;
  p.tl = lo <= -kHalfPi ? -std::numeric_limits<double>::infinity() : std::tan(lo);
  p.th = hi >= kHalfPi ? std::numeric_limits<double>::infinity() : std::tan(hi);

  // Rounding error of x + fx stays far below tol for |x + fx| < 2^12; wider
  // rasters widen it in proportion.
  const double tol = std::max(1e-12, (p.W + R + 2.0) * std::ldexp(1.0, -50));
  p.col.resize(static_cast<size_t>(std::max(R, 1)));
  for (int32_t s = 1; s < R; ++s) {
    StepCol& c = p.col[s];
    c.fx = p.sx * s;
    const double fl = std::floor(c.fx);
    const double frac = c.fx - fl;
    c.off = static_cast<int32_t>(fl);
    c.exact = frac != 0 && (frac < tol || frac > 1 - tol);
    c.pre = (frac != 0 && c.off < 0) ? std::min(-c.off, p.W) : 0;
    c.dxa = std::abs(c.off) * p.px;
    c.dxb = std::abs(c.off + 1) * p.px;
    c.dxlo = std::max(0.0, std::floor(std::fabs(c.fx)) - 1) * p.px;
    p.any_exact = p.any_exact || c.exact;
    p.max_pre = std::max(p.max_pre, c.pre);
  }
  p.bound.resize(2 * p.col.size());
  for (int32_t s = 1; s < R; ++s) {
    const int32_t offy = static_cast<int32_t>(std::floor(p.sy * s));
    p.bound[2 * s] = MakeBound(p, p.col[s], std::abs(offy));
    p.bound[2 * s + 1] = MakeBound(p, p.col[s], std::abs(offy + 1));
  }
  p.cside = p.sx < 0 ? 0 : (p.sx > 0 ? 2 : 1);
  p.sc.assign(static_cast<size_t>(p.W), R);
  if (p.cside != 1)
    for (int32_t x = 0; x < p.W; ++x)
      for (int32_t s = 1; s < R; ++s) {
        const int32_t X = static_cast<int32_t>(x + p.sx * s);
        if (X < 0 || X >= p.W) {
          p.sc[x] = s;
          break;
        }
      }
  return p;
}

// Steps, bounds and ray limits of row y.
void PlanRow(const Mosaic& mo, const HourPlan& p, int32_t y, RowScratch& rs) {
  const int32_t W = p.W, H = p.H, R = p.R;
  rs.step.resize(static_cast<size_t>(R));
  rs.pa.resize(static_cast<size_t>(R));
  rs.pb.resize(static_cast<size_t>(R));
  rs.lca.resize(static_cast<size_t>(R));
  rs.lcb.resize(static_cast<size_t>(R));
  rs.stopg.resize(static_cast<size_t>(R));
  int32_t sr = R;
  int rside = 1;
  std::vector<float>& lcmin = rs.lcmin;
  lcmin.assign(static_cast<size_t>(R), 0.0f);
  for (int32_t s = 1; s < R; ++s) {
    StepRow& t = rs.step[s];
    const StepCol& c = p.col[s];
    t.Y = static_cast<int32_t>(y + p.sy * s);
    t.row = mo.Row(t.Y);
    t.a = t.row + c.off;
    const int32_t ady = std::abs(y - t.Y);
    const StepBound* pb = &p.bound[2 * s];
    StepBound own;
    if (pb->ady != ady) ++pb;
    if (pb->ady != ady) {  // not expected; the direct computation then
      own = MakeBound(p, c, ady);
      pb = &own;
    }
    const StepBound& b = *pb;
    t.dy = b.dy;
    t.da = b.da;
    t.db = b.db;
    t.lca = b.lca;
    t.ua = b.ua;
    t.lcb = b.lcb;
    t.ub = b.ub;
    lcmin[s] = b.lcmin;
    rs.pa[s] = t.a;
    rs.pb[s] = t.a + 1;
    rs.lca[s] = t.lca;
    rs.lcb[s] = t.lcb;
    if (sr == R && (t.Y < 0 || t.Y >= H)) {
      sr = s;
      rside = t.Y < 0 ? 2 : 0;
    }
  }
  // Suffix maxima of the rows still to be crossed against the smallest
  // bound of the step, rounded up so the test stays on the safe side.
  float sm = -kInf;
  for (int32_t s = R - 1; s >= 1; --s) {
    sm = std::max(sm, mo.RowMax(rs.step[s].Y));
    double& stopg = rs.stopg[s];
    if (sm == -kInf) {
      stopg = -std::numeric_limits<double>::infinity();
    } else if (sm == kInf) {
      stopg = std::numeric_limits<double>::infinity();
    } else {
      const double diff = static_cast<double>(sm) - static_cast<double>(lcmin[s]);
      stopg = diff + std::fabs(diff) * 1e-15;
    }
  }

  // Lanes: height and the step at which the ray meets a missing cell.
  const size_t lanes = (static_cast<size_t>(W) + kLanes - 1) / kLanes * kLanes;
  rs.g.assign(lanes, 0.0f);
  rs.ends.assign(lanes, 0);
  const float* own = mo.Row(y);
  const bool rowside_present = rside == 1 || mo.present[3 + rside];
  const bool colside_present = p.cside == 1 || mo.present[3 * p.cside + 1];
  const bool corner_present = mo.present[3 * p.cside + rside];
  for (int32_t x = 0; x < W; ++x) {
    const float G = MarchBaseHeight(own[x]);
    rs.g[x] = G;
    // Nothing rises above a height that is not a number or is infinite.
    if (std::isnan(G) || G == kInf) continue;
    const int32_t sc = p.sc[x];
    int32_t end = R;
    if (sc < sr) {
      end = !colside_present ? sc : (sr < R && !corner_present ? sr : R);
    } else if (sr < sc) {
      end = !rowside_present ? sr : (sc < R && !corner_present ? sc : R);
    } else if (sc < R) {
      end = corner_present ? R : sc;
    }
    rs.ends[x] = end;
  }
}

// First step in [lo, hi) from which no sample can shade a lane of height
// gmin or more; hi if there is none. stopg does not grow with s, so the
// steps that qualify are a tail of the range.
int32_t StopStep(const double* stopg, int32_t lo, int32_t hi, float gmin) {
  const double g = gmin;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (g >= stopg[mid])
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

// Marches lanes x0 .. x0+7 of the row: for each step, one comparison of the
// eight samples against the step's lower bound settles every lane but the
// rare ones above it.
void MarchBlock(const HourPlan& p, const RowScratch& rs, MarchScanFn scan, int32_t x0, uint8_t* mask) {
  const float* g = rs.g.data() + x0;
  const int32_t* ends = rs.ends.data() + x0;
  const int32_t R = p.R;
  uint32_t live = 0;
  for (int j = 0; j < kLanes; ++j)
    if (ends[j] > 1) live |= 1u << j;
  int32_t s = 1;
  int32_t limit = 1;  // steps below it need no look at the lanes' ends or the stop

  // Drops the lanes whose ray ends at s and finds the next step at which
  // a lane ends or from which nothing can shade the lanes left.
  auto settle = [&]() {
    int32_t next_end = R;
    float gmin = kInf;
    for (int j = 0; j < kLanes; ++j) {
      if (!(live >> j & 1)) continue;
      if (ends[j] <= s) {
        live &= ~(1u << j);
        continue;
      }
      next_end = std::min(next_end, ends[j]);
      gmin = std::min(gmin, g[j]);
    }
    limit = live ? StopStep(rs.stopg.data(), s, next_end, gmin) : s;
  };
  auto resolve = [&](uint32_t cand, const float* h, float u, double d) {
    while (cand) {
      const int j = __builtin_ctz(cand);
      cand &= cand - 1;
      const float diff = h[j] - g[j];
      if (diff > u || std::atan(diff / d) > p.E) {
        mask[x0 + j] = 1;
        live &= ~(1u << j);
      }
    }
  };

  const bool plain = !p.any_exact && x0 >= p.max_pre;
  uint32_t cand = 0;
  while (live && s < R) {
    if (s >= limit) {
      settle();
      if (s >= limit) return;  // no live lane, or none can be shaded any more
    }
    if (plain) {
      // Every step reads column x + off with bound lca: the common case.
      s = scan(rs.pa.data(), rs.lca.data(), s, limit, x0, g, live, &cand);
      if (!cand) continue;
      const StepRow& t = rs.step[s];
      const uint32_t before = live;
      resolve(cand, t.a + x0, t.ua, t.da);
      ++s;
      if (live != before) limit = s;  // settle again before the next step
      continue;
    }
    const StepRow& t = rs.step[s];
    const StepCol& c = p.col[s];
    const uint32_t before = live;
    if (c.exact) {
      // An ambiguous fx: the formula itself.
      for (int j = 0; j < kLanes; ++j) {
        if (!(live >> j & 1)) continue;
        const int32_t x = x0 + j;
        const int32_t X = static_cast<int32_t>(x + c.fx);
        const float h = t.row[X];
        const float G = g[j];
        if (h > G) {
          const double dx = std::abs(x - X) * p.px;
          const double d = std::sqrt(dx * dx + t.dy * t.dy);
          if (std::atan((h - G) / d) > p.E) {
            mask[x] = 1;
            live &= ~(1u << j);
          }
        }
      }
    } else {
      // Lanes from `pre` on read column x + off, those below it x + off + 1.
      const int32_t below = std::clamp(c.pre - x0, 0, kLanes);
      const uint32_t low = (1u << below) - 1;
      if (live & ~low) {
        scan(rs.pa.data(), rs.lca.data(), s, s + 1, x0, g, live & ~low, &cand);
        if (cand) resolve(cand, t.a + x0, t.ua, t.da);
      }
      if (live & low) {
        scan(rs.pb.data(), rs.lcb.data(), s, s + 1, x0, g, live & low, &cand);
        if (cand) resolve(cand, t.a + 1 + x0, t.ub, t.db);
      }
    }
    ++s;
    if (live != before) limit = s;
  }
}

}  // namespace

void BuildMosaic(Mosaic& mo, int32_t pad) {
  mo.W = st.proj_w;
  mo.H = st.proj_h;
  mo.pad = std::max(0, std::min({pad, mo.W, mo.H}));
  mo.stride = mo.W + 2 * mo.pad;
  const int32_t rows = mo.H + 2 * mo.pad;
  for (int f = 0; f < 9; ++f)
    mo.present[f] = (f == 4 || st.matflgarea[f]) &&
                    (st.cu_ext == 1 ? st.AreaRaster(f) != nullptr : st.AreaSurface(f) != nullptr);
  // Whole blocks of lanes may read up to kLanes floats past a row's end.
  mo.cells.assign(static_cast<size_t>(mo.stride) * rows + 2 * kLanes, -kInf);
  mo.rowmax.assign(static_cast<size_t>(rows), -kInf);
  for (int32_t Y = -mo.pad; Y < mo.H + mo.pad; ++Y) {
    float* row = mo.Row(Y);
    float mx = -kInf;
    for (int32_t X = -mo.pad; X < mo.W + mo.pad; ++X) {
      float h;
      if (!HeightAt(X, Y, h)) continue;
      row[X] = h;
      if (h > mx) mx = h;  // NaN never compares greater
    }
    mo.rowmax[static_cast<size_t>(Y + mo.pad)] = mx;
  }
}

void MarchMaskFast(const Mosaic& mo, const SunPos& sun, int32_t R, uint8_t* mask, int threads,
                   const std::function<void(int32_t y)>& after_row) {
  const int32_t W = mo.W, H = mo.H;
  std::fill(mask, mask + static_cast<size_t>(W) * H, uint8_t{0});
  R = EffectiveRange(R, W, H);
  assert(R <= mo.pad || R < 2);
  R = std::min(R, mo.pad);  // never read past the margin
  const double sx = std::sin(sun.sign * sun.azimuth), sy = std::cos(sun.sign * sun.azimuth);
  if (R < 2 || !std::isfinite(sx) || !std::isfinite(sy) || std::isnan(sun.elevation)) {
    if (after_row)
      for (int32_t y = 0; y < H; ++y) after_row(y);
    return;
  }
  const HourPlan plan = PlanHour(mo, sun, R);
  const MarchScanFn scan = MarchScan();
  // Each thread's scratch on cache lines of its own.
  struct alignas(64) Slot {
    RowScratch rs;
  };
  const int n = ShadeThreadCount(threads);
  const std::unique_ptr<Slot[]> slots(new Slot[static_cast<size_t>(n)]);
  ForEachRow(n, H, [&](int32_t y, int worker) {
    RowScratch& rs = slots[static_cast<size_t>(worker)].rs;
    PlanRow(mo, plan, y, rs);
    uint8_t* row_mask = mask + static_cast<size_t>(y) * W;
    // The last block's lanes past W are dead (ends 0) and write nothing.
    for (int32_t x0 = 0; x0 < W; x0 += kLanes) MarchBlock(plan, rs, scan, x0, row_mask);
    if (after_row) after_row(y);
  });
}
