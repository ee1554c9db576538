// The fast march. Same answer as MarchRay for every pixel, bit for bit;
// what changes is how the ray points are found and how most of them are
// settled without an arc tangent. Each part of the argument stands beside
// the code it justifies: the comparison (FloatDown), ray points (StepCol,
// PlanColumns), bounds by row (PlanBounds), the early end (RowStops), lanes
// (Block), missing neighbours (BuildMosaic) and threads (MarchMaskFast).
#include <algorithm>
#include <atomic>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/march.h"
#include "engine/kernels/march_kernel.h"
#include "engine/row_pool.h"
#include "engine/shade.h"
#include "terrain/state.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kAngleMargin = 1e-9;
constexpr int kLanes = kMarchLanes;  // pixels of a row marched together

// The comparison. A point shades when h > G and atan((h - G)/d) > E, h - G
// formed in float and d = sqrt(dx^2 + dy^2). With tl = tan(E - 1e-9) and
// th = tan(E + 1e-9), per step and row lc = max(0, d tl rounded down to
// float) and u = d th rounded up: h - G <= lc cannot shade, h - G > u
// (with h - G > 0) shades, and only between the two is the arc tangent
// evaluated. The 1e-9 radian margin is far wider than the rounding of tan,
// the product, the quotient and atan together.
//
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
// needed anyway (and 0 where d tl is not a number: d = 0 is the pixel itself).
float LowerBound(double d, double tl) {
  const float l = FloatDown(d * tl);
  return l > 0 ? l : 0.0f;
}

// Ray points. Ray point s of pixel (x, y) is X = trunc(x + fx), Y =
// trunc(y + fy) with fx = sin(sigma A) s and fy = cos(sigma A) s. Y is the
// same for every pixel of a row, so it is computed exactly once per row and
// step. For X, with off = floor(fx) and fx not whole, x + fx lies strictly
// between x + off and x + off + 1, so X is x + off where that is >= 0 and
// x + off + 1 below it; the mosaic stores column 0 a second time just
// west of it (march.h), so Row(Y)[x + off] is the sample of ray point s
// for every pixel of the row alike.
//
// Column part of ray step s, shared by every row of the hour step.
struct StepCol {
  double fx = 0;
  int32_t off = 0;  // floor(fx): lanes read Row(Y)[x + off]
  int32_t pre = 0;  // fx not whole: lanes x < pre have X = x + off + 1
  double dxa = 0, dxb = 0;  // |x - X| of lanes >= pre, < pre
  bool ambiguous = false;   // fx too close to a whole number: the exact formula
};

// Distances and bounds of step s for one value of |y - Y|.
struct StepBound {
  int32_t ady = -1;  // |y - Y| these are for
  double da = 0, db = 0;
  float lca = 0, ua = 0, lcb = 0, ub = 0;
};

struct HourPlan {
  int32_t W = 0, H = 0, R = 0;
  double sx = 0, sy = 0, E = 0, tl = 0, th = 0, px = 1;
  std::vector<StepCol> col;  // by s, 1..R-1
  // By 2s + v: |y - Y| is |floor(sy s)| (v = 0) or that plus one (v = 1)
  // for every row, so the square roots and roundings are done per hour.
  std::vector<StepBound> bound;
  // Blocks starting left of `left` have lanes that read one column further
  // east at some step (or need the exact formula there): they compare
  // against the smaller bound of those lanes.
  int32_t left = 0;
  // Steps that take the exact formula, ascending and closed by R: for
  // every block, and for the blocks left of `left`.
  std::vector<int32_t> exact, exact_left;
  bool all_present = true;  // no ray can meet a missing neighbour
  // Rows y >= yreg, when `regular`, cross row y + dy[s] at step s (see
  // PlanRegular) and share the bounds below; other rows are planned alone.
  bool regular = false;
  int32_t yreg = 0;
  std::vector<int32_t> dy;
  std::vector<ptrdiff_t> rowoff;  // by s: from Row(y) to where lane x reads, at [x]
  std::vector<float> lc, u, lcb, ub;
  std::vector<float> blc, bu;  // by block left of `left`, then s: that block's bounds
};

// The bounds of one row, by s: lc and u of lanes reading Row(Y)[x + off],
// lcb and ub of lanes reading one column further east.
struct RowBounds {
  const float *lc = nullptr, *u = nullptr, *lcb = nullptr, *ub = nullptr;
};

struct RowScratch {
  std::vector<const float*> rows;  // by s: where lane x reads, at [x]
  std::vector<float> lc, u, lcb, ub;  // by s: a row's own bounds, when not regular
  std::vector<float> blc, bu;      // by s: bounds of the block being marched, when left of `left`
  std::vector<double> stopg, stopgl;  // by s: a block (right, left of `left`) whose live lanes are all
                                      // this high stops here
  std::vector<int32_t> Y;          // by s
  RowBounds b;                     // of the row being marched
  bool regular = false;
  MarchCounts counts;              // of the row, when counting
};

std::atomic<bool> counting{false};
std::atomic<int64_t> counted_points{0}, counted_shades{0}, counted_stops{0};

StepBound MakeBound(const HourPlan& p, const StepCol& c, int32_t ady) {
  StepBound b;
  b.ady = ady;
  const double dy = ady * p.px;
  b.da = std::sqrt(c.dxa * c.dxa + dy * dy);
  b.db = std::sqrt(c.dxb * c.dxb + dy * dy);
  b.lca = LowerBound(b.da, p.tl);
  b.ua = FloatUp(b.da * p.th);
  b.lcb = LowerBound(b.db, p.tl);
  b.ub = FloatUp(b.db * p.th);
  return b;
}

StepBound BoundFor(const HourPlan& p, int32_t s, int32_t ady) {
  const StepBound* b = &p.bound[2 * static_cast<size_t>(s)];
  if (b->ady == ady) return *b;
  if (b[1].ady == ady) return b[1];
  return MakeBound(p, p.col[s], ady);  // not expected; the direct computation then
}

// The sun's direction and the tangents of the comparison's margins.
void PlanDirection(HourPlan& p, const SunPos& sun) {
  p.sx = std::sin(sun.sign * sun.azimuth);
  p.sy = std::cos(sun.sign * sun.azimuth);
  p.E = sun.elevation;
  p.px = st.xypx[0];
  const double lo = p.E - kAngleMargin, hi = p.E + kAngleMargin;
  // Beyond the zenith no arc tangent reaches E: an infinite lower bound.
  p.tl = lo <= -kHalfPi ? -std::numeric_limits<double>::infinity()
                        : (lo >= kHalfPi ? std::numeric_limits<double>::infinity() : std::tan(lo));
  p.th = hi >= kHalfPi ? std::numeric_limits<double>::infinity() : std::tan(hi);
}

// The column part of every step. Reading Row(Y)[x + off] holds as long as
// the sum x + fx, rounded to double, does not land on the other side of a
// whole number: it cannot when fx is at least `tol` away from one (the
// rounding error of a sum below 2^12 is under 2^-41). Steps with fx closer
// than that to a whole number, and (for the pixels west of -fx) steps with
// fx whole and negative, take the exact formula per pixel.
void PlanColumns(HourPlan& p) {
  const int32_t R = p.R;
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
    const bool ambiguous = c.ambiguous = frac != 0 && (frac < tol || frac > 1 - tol);
    const bool whole_west = frac == 0 && c.off < 0;
    c.pre = (frac != 0 && c.off < 0) ? std::min(-c.off, p.W) : 0;
    c.dxa = std::abs(c.off) * p.px;
    c.dxb = std::abs(c.off + 1) * p.px;
    if (ambiguous) {
      p.exact.push_back(s);
      p.exact_left.push_back(s);
    } else if (whole_west) {
      p.exact_left.push_back(s);
    }
    if (c.off < 0) p.left = std::max(p.left, std::min(-c.off, p.W));
  }
  p.exact.push_back(R);
  p.exact_left.push_back(R);
}

// Bounds by row. |y - Y| at step s is |floor(sy s)| or one more for every
// row, so the distances and bounds of both cases are found once per hour.
void PlanBounds(HourPlan& p) {
  p.bound.resize(2 * p.col.size());
  for (int32_t s = 1; s < p.R; ++s) {
    const int32_t offy = static_cast<int32_t>(std::floor(p.sy * s));
    p.bound[2 * s] = MakeBound(p, p.col[s], std::abs(offy));
    p.bound[2 * s + 1] = MakeBound(p, p.col[s], std::abs(offy + 1));
  }
}

// Block bounds: lanes x < pre read one column further east, at the
// smaller distance; a block with lanes of both kinds at a step takes the
// smaller lc and the larger u of the two.
void BlockBounds(const HourPlan& p, const RowBounds& b, int32_t x0, float* lc, float* u) {
  for (int32_t s = 1; s < p.R; ++s) {
    const int32_t pre = p.col[s].pre;
    lc[s] = pre <= x0 ? b.lc[s] : b.lcb[s];
    u[s] = pre >= x0 + kLanes ? b.ub[s] : b.u[s];
  }
}

// Rows far enough from the southern edge share their plan. Where y + fy
// >= 0, trunc(y + fy) = y + floor(fy), as long as fy is not within `tol`
// of a whole number (the sum's rounding then cannot cross one): each
// such row crosses row y + dy[s] at step s, at the same distances.
void PlanRegular(const Mosaic& mo, HourPlan& p) {
  const size_t n = static_cast<size_t>(p.R);
  const double tol = std::max(1e-12, (p.H + p.R + 2.0) * std::ldexp(1.0, -50));
  p.regular = true;
  p.dy.assign(n, 0);
  p.rowoff.assign(n, 0);
  for (std::vector<float>* v : {&p.lc, &p.u, &p.lcb, &p.ub}) v->assign(n, 0);
  for (int32_t s = 1; s < p.R; ++s) {
    const double fy = p.sy * s, fl = std::floor(fy), frac = fy - fl;
    if (frac != 0 && (frac < tol || frac > 1 - tol)) p.regular = false;
    const int32_t dy = static_cast<int32_t>(fl);
    p.dy[s] = dy;
    p.yreg = std::max(p.yreg, -dy);
    p.rowoff[s] = static_cast<ptrdiff_t>(dy) * mo.stride + p.col[s].off;
    const StepBound b = BoundFor(p, s, std::abs(dy));
    p.lc[s] = b.lca;
    p.u[s] = b.ua;
    p.lcb[s] = b.lcb;
    p.ub[s] = b.ub;
  }
  const int32_t blocks = (p.left + kLanes - 1) / kLanes;
  p.blc.assign(static_cast<size_t>(blocks) * n, 0);
  p.bu.assign(p.blc.size(), 0);
  const RowBounds rb{p.lc.data(), p.u.data(), p.lcb.data(), p.ub.data()};
  for (int32_t k = 0; k < blocks; ++k) BlockBounds(p, rb, k * kLanes, &p.blc[k * n], &p.bu[k * n]);
}

HourPlan PlanHour(const Mosaic& mo, const SunPos& sun, int32_t R) {
  HourPlan p;
  p.W = mo.W;
  p.H = mo.H;
  p.R = R;
  for (bool f : mo.present) p.all_present = p.all_present && f;
  PlanDirection(p, sun);
  PlanColumns(p);
  PlanBounds(p);
  PlanRegular(mo, p);
  return p;
}

// Where row y's lanes read at every step, and the bounds they compare
// against.
void RowSteps(const Mosaic& mo, const HourPlan& p, int32_t y, RowScratch& rs) {
  const size_t n = static_cast<size_t>(p.R);
  rs.rows.resize(n);
  rs.Y.resize(n);
  rs.regular = p.regular && y >= p.yreg;
  if (rs.regular) {
    const float* own = mo.Row(y);
    for (int32_t s = 1; s < p.R; ++s) {
      rs.rows[s] = own + p.rowoff[s];
      rs.Y[s] = y + p.dy[s];
    }
    rs.b = RowBounds{p.lc.data(), p.u.data(), p.lcb.data(), p.ub.data()};
    return;
  }
  for (std::vector<float>* v : {&rs.lc, &rs.u, &rs.lcb, &rs.ub}) v->resize(n);
  for (int32_t s = 1; s < p.R; ++s) {
    const StepCol& c = p.col[s];
    const int32_t Y = static_cast<int32_t>(y + p.sy * s);
    rs.Y[s] = Y;
    rs.rows[s] = mo.Row(Y) + c.off;
    const StepBound b = BoundFor(p, s, std::abs(y - Y));
    rs.lc[s] = b.lca;
    rs.u[s] = b.ua;
    rs.lcb[s] = b.lcb;
    rs.ub[s] = b.ub;
  }
  rs.b = RowBounds{rs.lc.data(), rs.u.data(), rs.lcb.data(), rs.ub.data()};
}

// Early end. A block stops once the greatest sample on the mosaic rows its
// rays have still to cross, minus the lowest live pixel's height, is not
// above the smallest lc those steps have: that maximum only shrinks along
// the ray. Here: the suffix maxima of the rows still to be crossed against
// the suffix minima of the lower bounds, rounded up so the test stays on
// the safe side. Lanes of blocks right of `left` read at distance |off|
// except at ambiguous steps (|off| or |off + 1|); the others at either.
void RowStops(const Mosaic& mo, const HourPlan& p, RowScratch& rs) {
  rs.stopg.resize(static_cast<size_t>(p.R));
  rs.stopgl.resize(static_cast<size_t>(p.R));
  // Rows with no sample to compare start the maximum at -FLT_MAX, not
  // -infinity: every lane (all are >= 0) stops there just the same, and
  // the sums below stay numbers.
  float sm = -FLT_MAX, lo = FLT_MAX, lol = FLT_MAX;
  const RowBounds& b = rs.b;
  for (int32_t s = p.R - 1; s >= 1; --s) {
    sm = std::max(sm, mo.RowMax(rs.Y[s]));
    const float both = std::min(b.lc[s], b.lcb[s]);
    lo = std::min(lo, p.col[s].ambiguous ? both : b.lc[s]);
    lol = std::min(lol, both);
    const double diff = static_cast<double>(sm) - static_cast<double>(lo);
    const double diffl = static_cast<double>(sm) - static_cast<double>(lol);
    rs.stopg[s] = diff + std::fabs(diff) * 1e-15;
    rs.stopgl[s] = diffl + std::fabs(diffl) * 1e-15;
  }
}

// Steps and bounds of row y.
void PlanRow(const Mosaic& mo, const HourPlan& p, int32_t y, RowScratch& rs) {
  RowSteps(mo, p, y, rs);
  RowStops(mo, p, rs);
}

// First step in [lo, hi) from which no sample can shade a lane of height
// g or more; hi if there is none. stopg does not grow with s, so the steps
// that qualify are a tail of the range. Neighbouring blocks of a row end
// near each other: the search gallops out from `hint` (the last block's
// answer) and then halves the bracket it found.
int32_t StopStep(const double* stopg, int32_t lo, int32_t hi, double g, int32_t hint) {
  if (lo >= hi) return hi;
  hint = std::clamp(hint, lo, hi - 1);
  // The answer lies in (a, b]: step a does not qualify (or a < lo), b does (or b = hi).
  int32_t a = hint, b = hint;
  if (g >= stopg[hint]) {
    for (int32_t jump = 1;; jump *= 2) {
      a = b - jump;
      if (a < lo) {
        a = lo - 1;
        break;
      }
      if (g < stopg[a]) break;
      b = a;
    }
  } else {
    for (int32_t jump = 1;; jump *= 2) {
      b = a + jump;
      if (b >= hi) {
        b = hi;
        break;
      }
      if (g >= stopg[b]) break;
      a = b;
    }
  }
  while (b - a > 1) {
    const int32_t m = a + (b - a) / 2;
    (g >= stopg[m] ? b : a) = m;
  }
  return b;
}

// Eight mask bytes (0 or 1, in memory order) from the low eight bits.
inline uint64_t MaskBytes(uint32_t bits) {
  // Byte i keeps bit i of a copy of the bits in every byte; adding 0x7F
  // sets its top bit exactly when that bit was set, and nothing carries.
  const uint64_t x = (uint64_t{bits & 0xFF} * 0x0101010101010101ull) & 0x8040201008040201ull;
  const uint64_t v = ((x + 0x7F7F7F7F7F7F7F7Full) >> 7) & 0x0101010101010101ull;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return __builtin_bswap64(v);
#else
  return v;
#endif
}

inline int CellColumn(int32_t X, int32_t W) { return X < 0 ? 0 : (X < W ? 1 : 2); }
inline int CellRow(int32_t Y, int32_t H) { return Y >= H ? 0 : (Y >= 0 ? 1 : 2); }

// Lanes. A row is marched in blocks of sixteen consecutive pixels, step by
// step; one vector comparison against the step's lc settles the block
// unless some lane rises above it, and lanes above the upper bound u with
// a finite sample are shaded in the vector too. That loop (the scan of
// march_kernel.h, in the widest version the processor runs) holds nothing
// else: a lane that is shaded, ended or never in the race holds the
// height +infinity, which no sample minus it exceeds. Everything else
// happens only when the scan stops: at a lane between the bounds or on an
// infinite sample, at a step for the exact formula, or where the block
// can end early. Blocks left of `left` compare, at each step, against the
// bounds of the lanes that read one column further east where any of
// theirs do (the smaller lc, the larger u of the two kinds).
//
// One block of lanes x0 .. x0+15 of row y.
class Block {
 public:
  Block(const Mosaic& mo, const HourPlan& p, RowScratch& rs, int32_t y, int32_t x0)
      : mo_(mo), p_(p), rs_(rs), y_(y), x0_(x0) {
    std::memcpy(g_, mo.Lanes(y) + x0, sizeof g_);
  }

  // Marches the block and writes its lanes' mask bytes; returns the step
  // it ended at, for the next block's search.
  int32_t March(MarchScanFn scan, uint8_t* mask, int32_t hint) {
    stop_ = hint;
    const int32_t end = Run(scan, hint);
    const int n = std::min(kLanes, p_.W - x0_);
    if (n == kLanes) {
      const uint64_t bytes[2] = {MaskBytes(shaded_ & 0xFF), MaskBytes(shaded_ >> 8)};
      std::memcpy(mask + x0_, bytes, sizeof bytes);
    } else {
      for (int j = 0; j < n; ++j) mask[x0_ + j] = static_cast<uint8_t>(shaded_ >> j & 1);
    }
    if (counting.load(std::memory_order_relaxed)) {
      rs_.counts.points += static_cast<int64_t>(std::max(end - 1, 0)) * n;
      rs_.counts.shades += __builtin_popcount(shaded_);
      rs_.counts.stops += stops_;
    }
    return stop_;
  }

 private:
  int32_t Run(MarchScanFn scan, int32_t hint) {
    Survey();
    if (!live_) return 0;
    const bool left = x0_ < p_.left;
    MarchScanArgs args{rs_.rows.data(), rs_.b.lc, rs_.b.u, x0_, g_};
    if (left && rs_.regular) {
      const size_t at = static_cast<size_t>(x0_ / kLanes) * static_cast<size_t>(p_.R);
      args.lc = p_.blc.data() + at;
      args.u = p_.bu.data() + at;
    } else if (left) {
      rs_.blc.resize(static_cast<size_t>(p_.R));
      rs_.bu.resize(static_cast<size_t>(p_.R));
      BlockBounds(p_, rs_.b, x0_, rs_.blc.data(), rs_.bu.data());
      args.lc = rs_.blc.data();
      args.u = rs_.bu.data();
    }
    const int32_t* exact = left ? p_.exact_left.data() : p_.exact.data();
    const double* stopg = left ? rs_.stopgl.data() : rs_.stopg.data();
    stop_ = StopStep(stopg, 1, p_.R, gmin_, hint);
    for (int32_t s = 1;; ++s) {
      const int32_t end = std::min(stop_, *exact);
      uint32_t cand = 0, sure = 0;
      s = scan(args, s, end, &cand, &sure);
      shaded_ |= sure;
      if (cand) {
        Resolve(s, cand);
        ++stops_;
      } else if (s == end) {
        if (s >= stop_) return s;
        ExactStep(s);  // s is *exact
        ++exact;
        ++stops_;
      }
      if (sure || lowest_gone_) {
        lowest_gone_ = false;
        const float before = gmin_;
        Survey();
        if (!live_) return s;
        if (gmin_ != before) stop_ = StopStep(stopg, s + 1, stop_, gmin_, stop_);
      }
      if (!live_) return s;
    }
  }

  // The live lanes and the lowest of their heights.
  void Survey() {
#if defined(__SSE2__)
    const __m128 inf = _mm_set1_ps(kInf);
    const __m128 a = _mm_loadu_ps(g_), b = _mm_loadu_ps(g_ + 4), c = _mm_loadu_ps(g_ + 8), d = _mm_loadu_ps(g_ + 12);
    live_ = static_cast<uint32_t>(_mm_movemask_ps(_mm_cmplt_ps(a, inf)) | _mm_movemask_ps(_mm_cmplt_ps(b, inf)) << 4 |
                                  _mm_movemask_ps(_mm_cmplt_ps(c, inf)) << 8 | _mm_movemask_ps(_mm_cmplt_ps(d, inf)) << 12);
    __m128 m = _mm_min_ps(_mm_min_ps(a, b), _mm_min_ps(c, d));
    m = _mm_min_ps(m, _mm_movehl_ps(m, m));
    m = _mm_min_ss(m, _mm_shuffle_ps(m, m, 1));
    gmin_ = _mm_cvtss_f32(m);
#else
    live_ = 0;
    gmin_ = kInf;
    for (int j = 0; j < kLanes; ++j) {
      if (g_[j] < kInf) live_ |= 1u << j;
      gmin_ = std::min(gmin_, g_[j]);
    }
#endif
  }

  // Lane j leaves the race, shaded or not.
  void End(int j, bool shaded) {
    if (shaded) shaded_ |= 1u << j;
    if (g_[j] <= gmin_) lowest_gone_ = true;
    g_[j] = kInf;
    live_ &= ~(1u << j);
  }

  // The lanes the scan found above the lower bound at step s.
  void Resolve(int32_t s, uint32_t cand) {
    const StepCol& c = p_.col[s];
    const int32_t Y = rs_.Y[s];
    const StepBound b = BoundFor(p_, s, std::abs(y_ - Y));
    const int r = CellRow(Y, p_.H);
    const float* h = rs_.rows[s];
    while (cand) {
      const int j = __builtin_ctz(cand);
      cand &= cand - 1;
      const int32_t x = x0_ + j;
      const bool east = x < c.pre;  // reads column x + off + 1
      const int32_t X = x + c.off + (east ? 1 : 0);
      if (!p_.all_present && !mo_.present[3 * CellColumn(X, p_.W) + r]) {
        End(j, false);
        continue;
      }
      const float diff = h[x] - g_[j];
      const float lcx = east ? b.lcb : b.lca;
      const float u = east ? b.ub : b.ua;
      const double d = east ? b.db : b.da;
      if (diff > lcx && (diff > u || std::atan(diff / d) > p_.E)) End(j, true);
    }
  }

  // Step s by the formula itself, lane by lane.
  void ExactStep(int32_t s) {
    const StepCol& c = p_.col[s];
    const int32_t Y = rs_.Y[s];
    const int r = CellRow(Y, p_.H);
    const float* row = mo_.Row(Y);
    const double dy = std::abs(y_ - Y) * p_.px;
    for (uint32_t live = live_; live; live &= live - 1) {
      const int j = __builtin_ctz(live);
      const int32_t x = x0_ + j;
      const int32_t X = static_cast<int32_t>(x + c.fx);
      if (!mo_.present[3 * CellColumn(X, p_.W) + r]) {
        End(j, false);
        continue;
      }
      const float h = row[X >= 0 ? X : X - 1];
      const float G = g_[j];
      if (h > G) {
        const double dx = std::abs(x - X) * p_.px;
        const double d = std::sqrt(dx * dx + dy * dy);
        if (std::atan((h - G) / d) > p_.E) End(j, true);
      }
    }
  }

  const Mosaic& mo_;
  const HourPlan& p_;
  RowScratch& rs_;
  const int32_t y_, x0_;
  float g_[kLanes];
  uint32_t live_ = 0, shaded_ = 0;
  float gmin_ = kInf;
  int32_t stop_ = 0, stops_ = 0;
  bool lowest_gone_ = false;
};

// Adds a row's counts to the totals.
void FlushCounts(MarchCounts& c) {
  counted_points.fetch_add(c.points, std::memory_order_relaxed);
  counted_shades.fetch_add(c.shades, std::memory_order_relaxed);
  counted_stops.fetch_add(c.stops, std::memory_order_relaxed);
  c = MarchCounts{};
}

}  // namespace

void SetMarchCounting(bool on) { counting.store(on); }

MarchCounts TakeMarchCounts() {
  return {counted_points.exchange(0), counted_shades.exchange(0), counted_stops.exchange(0)};
}

// Missing neighbours hold +infinity in the mosaic: a ray that reaches one
// always stops to look, finds the cell missing and ends unshaded there.
// X and Y are monotonic in s, so every later point of that ray would have
// been past the missing cell too or in a cell it can only reach through it.
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
  mo.cells.assign(static_cast<size_t>(mo.stride) * rows + 2 * kLanes, kInf);
  mo.rowmax.assign(static_cast<size_t>(rows), -kInf);
  for (int32_t Y = -mo.pad; Y < mo.H + mo.pad; ++Y) {
    float* row = mo.Row(Y);
    float mx = -kInf;
    for (int32_t i = -mo.pad; i < mo.W + mo.pad; ++i) {
      float h;
      if (!HeightAt(i >= 0 ? i : i + 1, Y, h)) continue;  // missing: stays +infinity
      row[i] = h;
      if (h > mx) mx = h;  // NaN never compares greater
    }
    mo.rowmax[static_cast<size_t>(Y + mo.pad)] = mx;
  }
  // Nothing rises above a height that is not a number or is infinite: such
  // lanes, and those past the row's end, are out of the race from the start.
  mo.lanes_stride = (mo.W + kLanes - 1) / kLanes * kLanes;
  mo.lanes.assign(static_cast<size_t>(mo.lanes_stride) * mo.H, kInf);
  for (int32_t y = 0; y < mo.H; ++y)
    for (int32_t x = 0; x < mo.W; ++x) {
      const float G = MarchBaseHeight(mo.Row(y)[x]);
      mo.lanes[static_cast<size_t>(y) * mo.lanes_stride + x] = G == G ? G : kInf;
    }
}

void MarchMaskFast(const Mosaic& mo, const SunPos& sun, int32_t R, uint8_t* mask, int threads,
                   const std::function<void(int32_t y)>& after_row) {
  const int32_t W = mo.W, H = mo.H;
  R = EffectiveRange(R, W, H);
  assert(R <= mo.pad || R < 2);
  R = std::min(R, mo.pad);  // never read past the margin
  const double sx = std::sin(sun.sign * sun.azimuth), sy = std::cos(sun.sign * sun.azimuth);
  const int n = ShadeThreadCount(threads);
  if (R < 2 || !std::isfinite(sx) || !std::isfinite(sy) || std::isnan(sun.elevation)) {
    std::fill(mask, mask + static_cast<size_t>(W) * H, uint8_t{0});
    if (after_row)
      for (int32_t y = 0; y < H; ++y) after_row(y);
    return;
  }
  const HourPlan plan = PlanHour(mo, sun, R);
  const MarchScanFn scan = MarchScan();
  // Each row's mask is written by its own march only, so rows are shared
  // out between threads with the same masks for any thread count.
  ForEachRow(n, H, [&](int32_t y, int) {
    // Each thread plans its rows in scratch of its own, kept between steps.
    thread_local RowScratch rs;
    PlanRow(mo, plan, y, rs);
    uint8_t* row_mask = mask + static_cast<size_t>(y) * W;
    int32_t hint = R / 2;
    for (int32_t x0 = 0; x0 < W; x0 += kLanes) hint = Block(mo, plan, rs, y, x0).March(scan, row_mask, hint);
    if (counting.load(std::memory_order_relaxed)) FlushCounts(rs.counts);
    if (after_row) after_row(y);
  });
}
