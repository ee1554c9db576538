// One sector's shading: the engine chosen for the sector, the per-step
// height checks and elevation copy, and the month and year ends.
#include "engine/shade.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/accumulate.h"
#include "engine/march.h"
#include "engine/row_pool.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

constexpr float kHighHeight = 8800.0f;
constexpr uint32_t kNoColour = 0xFFFFFFFFu;  // graph colour of an annual count that is not drawn

}  // namespace

struct SectorShading::State {
  bool reference = false;
  int32_t S_tot = 0;
  int32_t W = 0, H = 0;
  // Fast engine.
  Mosaic mosaic;
  bool elevation_written = false;
  int64_t first_low = -1, first_high = -1;  // row-major index of the first own height < 0 / > 8800
  std::vector<uint8_t> mask;                // the step's shadows
  std::vector<uint32_t> hours;              // hour mask of the month, packed into shoras at its end
  bool month_pending = false;               // counts of `month` not yet in the images
  int32_t month = 0;
  int threads = 1;                          // rows shared among this many threads
  std::vector<uint32_t> colour;             // graph colour by annual count; kNoColour: not drawn
};

namespace {

using State = SectorShading::State;

// The engine's only console lines: the two height warnings of a sector,
// each given once (warnflags bit 0: below 0, bit 1: too high).
enum class HeightWarning : uint8_t { kLow = 1, kHigh = 2 };

void Warn(HeightWarning w, const std::string& sector_id, uint8_t& warnflags) {
  const uint8_t bit = static_cast<uint8_t>(w);
  if (!(warnflags & bit))
    toconsole(w == HeightWarning::kLow
                  ? "WARNING!! Values under 0 in " + sector_id + ". The app will automatically fix them to 0"
                  : "WARNING!! Unexpected High values of elevations in " + sector_id +
                        ". Please check if your data are in the supported format");
  warnflags |= bit;
  st.glbwarning = 1;
}

// The height as the elevation image stores it: truncated toward zero, a
// value that is not a number as 0, beyond the 32-bit range saturated.
uint32_t ElevationValue(float G) {
  if (std::isnan(G)) return 0;
  if (G >= 2147483647.0f) return static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  if (G <= -2147483648.0f) return static_cast<uint32_t>(std::numeric_limits<int32_t>::min());
  return static_cast<uint32_t>(static_cast<int32_t>(G));
}

float OwnHeight(int32_t x, int32_t y) {
  float G = 0;
  HeightAt(x, y, G);
  return G;
}

// Three-byte pixels written in place, without a call per pixel.
uint8_t* Pixel3(SDL_Surface* s, int32_t x, int32_t y) {
  return static_cast<uint8_t*>(s->pixels) + static_cast<size_t>(y) * s->pitch + 3 * static_cast<size_t>(x);
}
uint32_t Get3(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16; }
void Put3(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

void ShadeHourReference(State& sh, const SunPos& sun, int32_t R, const std::string& sector_id,
                        uint8_t& warnflags, int32_t m, uint32_t b) {
  for (int32_t y = 0; y < sh.H; ++y)
    for (int32_t x = 0; x < sh.W; ++x) {
      float G = OwnHeight(x, y);
      if (G < 0) {
        G = 0;
        Warn(HeightWarning::kLow, sector_id, warnflags);
      }
      if (G > kHighHeight) Warn(HeightWarning::kHigh, sector_id, warnflags);
      SDLPutPixel(st.elev2png.get(), x, y, ElevationValue(G));
      if (MarchRay(x, y, G, sun, R)) RecordShadow(x, y, m, b, sh.S_tot);
    }
}

// Own heights of the sector, once: where the two warnings first arise.
void ScanOwnHeights(State& sh) {
  for (int32_t y = 0; y < sh.H; ++y)
    for (int32_t x = 0; x < sh.W; ++x) {
      const float G = sh.mosaic.Row(y)[x];
      const int64_t i = static_cast<int64_t>(y) * sh.W + x;
      if (G < 0 && sh.first_low < 0) sh.first_low = i;
      if (G > kHighHeight && sh.first_high < 0) sh.first_high = i;
    }
}

void WriteElevation(const State& sh) {
  for (int32_t y = 0; y < sh.H; ++y)
    for (int32_t x = 0; x < sh.W; ++x)
      SDLPutPixel(st.elev2png.get(), x, y, ElevationValue(MarchBaseHeight(sh.mosaic.Row(y)[x])));
}

// The images a finished month's counts go into.
struct MonthImages {
  SDL_Surface* packed;
  SDL_Surface* hours;
  SDL_Surface* annual;
  int q;        // shift of the month's field in `packed`
  bool bytes3;  // all three hold three-byte pixels
};

// Byte stores may alias anything: the row pointers are taken once, not
// reloaded after every pixel written.
void PackRow3(const State& sh, const MonthImages& im, int32_t y) {
  const size_t base = static_cast<size_t>(y) * sh.W;
  const int32_t* __restrict month = st.pmeswhs.data() + base;
  const int32_t* __restrict year = st.presum.data() + base;
  const uint32_t* __restrict mask = sh.hours.data() + base;
  uint8_t* __restrict hours = Pixel3(im.hours, 0, y);
  uint8_t* __restrict packed = Pixel3(im.packed, 0, y);
  uint8_t* __restrict annual = Pixel3(im.annual, 0, y);
  const int q = im.q;
  for (int32_t x = 0; x < sh.W; ++x) {
    const int32_t c = month[x];
    if (c == 0) continue;  // not shaded this month: RecordShadow never touched it
    uint8_t* h = hours + 3 * static_cast<size_t>(x);
    Put3(h, Get3(h) | mask[x]);
    uint8_t* k = packed + 3 * static_cast<size_t>(x);
    Put3(k, ReplaceField(Get3(k), q, c));
    Put3(annual + 3 * static_cast<size_t>(x), static_cast<uint32_t>(year[x]));
  }
}

void PackRow(const State& sh, const MonthImages& im, int32_t y) {
  if (im.bytes3) {
    PackRow3(sh, im, y);
    return;
  }
  for (int32_t x = 0; x < sh.W; ++x) {
    const size_t i = static_cast<size_t>(y) * sh.W + x;
    const int32_t c = st.pmeswhs[i];
    if (c == 0) continue;
    SDLPutPixel(im.hours, x, y, SDLGetPixel(im.hours, x, y) | sh.hours[i]);
    SDLPutPixel(im.packed, x, y, ReplaceField(SDLGetPixel(im.packed, x, y), im.q, c));
    SDLPutPixel(im.annual, x, y, static_cast<uint32_t>(st.presum[i]));
  }
}

// Moves the finished month's counts of the fast engine into the
// hour-mask, packed-count and annual-count images.
void PackMonth(State& sh) {
  if (!sh.month_pending) return;
  sh.month_pending = false;
  MonthImages im{MonthImage(sh.month), st.shoras.get(), st.sfsuma.get(), MonthShift(sh.month), false};
  im.bytes3 = im.hours->format->BytesPerPixel == 3 && im.packed->format->BytesPerPixel == 3 &&
              im.annual->format->BytesPerPixel == 3;
  // Rows are independent: shared out like the march's.
  ForEachRow(sh.threads, sh.H, [&](int32_t y, int) { PackRow(sh, im, y); });
}

// The fast engine knows where the warnings first arise: its console lines
// come in the order their first pixels have in the reference's row-by-row
// walk.
void WarnFast(const State& sh, const std::string& sector_id, uint8_t& warnflags) {
  const bool low = sh.first_low >= 0, high = sh.first_high >= 0;
  if (low && (!high || sh.first_low < sh.first_high)) {
    Warn(HeightWarning::kLow, sector_id, warnflags);
    if (high) Warn(HeightWarning::kHigh, sector_id, warnflags);
  } else if (high) {
    Warn(HeightWarning::kHigh, sector_id, warnflags);
    if (low) Warn(HeightWarning::kLow, sector_id, warnflags);
  }
}

// The part of the graph buffer the sector covers.
struct GraphView {
  SDL_Surface* graph;
  int32_t w, h;
  bool bytes3;
};

// Bit j set when mask byte j (0 or 1) is 1, for the first n <= 64 bytes.
uint64_t ShadedBits(const uint8_t* mask, int32_t n) {
  uint64_t bits = 0;
  int32_t j = 0;
  for (; j + 8 <= n; j += 8) {
    uint64_t v;
    std::memcpy(&v, mask + j, sizeof v);
    // Byte i's low bit moves to bit 56 + i; nothing carries into the top byte.
    bits |= ((v * 0x0102040810204080ull) >> 56) << j;
  }
  for (; j < n; ++j) bits |= static_cast<uint64_t>(mask[j]) << j;
  return bits;
}

// Adds row y of the step's mask (hour bit b) to the counts and draws its
// shaded pixels on the graph in the colour of their annual count.
void RecordRow(State& sh, const GraphView& gv, int32_t y, uint32_t b) {
  const size_t base = static_cast<size_t>(y) * sh.W;
  const uint8_t* __restrict row = sh.mask.data() + base;
  uint32_t* __restrict hours = sh.hours.data() + base;
  int32_t* __restrict month = st.pmeswhs.data() + base;
  int32_t* __restrict year = st.presum.data() + base;
  const int32_t W = sh.W;
  // The counts without a branch per pixel: a mask is 0 or 1.
  for (int32_t x = 0; x < W; ++x) {
    const uint32_t hit = row[x];
    hours[x] |= b & (0u - hit);
    month[x] += static_cast<int32_t>(hit);
    year[x] += static_cast<int32_t>(hit);
  }
  if (y >= gv.h) return;
  const uint32_t* __restrict colour = sh.colour.data();
  const size_t colours = sh.colour.size();
  uint8_t* __restrict graph = gv.bytes3 ? Pixel3(gv.graph, 0, y) : nullptr;
  // The shaded pixels by their bits, 64 at a time: a test per pixel would
  // be mispredicted at every edge of a shadow.
  for (int32_t x0 = 0; x0 < gv.w; x0 += 64) {
    for (uint64_t bits = ShadedBits(row + x0, std::min(64, gv.w - x0)); bits; bits &= bits - 1) {
      const int32_t x = x0 + __builtin_ctzll(bits);
      const size_t a = static_cast<size_t>(year[x]);
      const uint32_t c = a < colours ? colour[a] : kNoColour;
      if (c == kNoColour) continue;
      if (graph)
        Put3(graph + 3 * static_cast<size_t>(x), c);
      else
        SDLPutPixel(gv.graph, x, y, c);
    }
  }
}

void ShadeHourFast(State& sh, const SunPos& sun, int32_t R, const std::string& sector_id, uint8_t& warnflags,
                   int32_t m, uint32_t b) {
  WarnFast(sh, sector_id, warnflags);
  if (!sh.elevation_written) {
    WriteElevation(sh);
    sh.elevation_written = true;
  }

  if (sh.month_pending && m != sh.month) PackMonth(sh);
  sh.month = m;
  sh.month_pending = true;

  const int32_t reach = EffectiveRange(R, sh.W, sh.H);
  if (reach > sh.mosaic.pad) BuildMosaic(sh.mosaic, reach);

  // Each row is recorded by the thread that marched it, right after: every
  // pixel is written by exactly one thread, so the counts and the graph are
  // the same for any number of threads.
  SDL_Surface* graph = st.sftmp.get();
  const GraphView gv{graph, std::min(sh.W, graph->w), std::min(sh.H, graph->h),
                     graph->format->BytesPerPixel == 3};
  MarchMaskFast(sh.mosaic, sun, R, sh.mask.data(), sh.threads, [&](int32_t y) { RecordRow(sh, gv, y, b); });
}

// The fast engine's state: threads, the colour of every annual count, the
// mosaic with the longest margin any ray needs, and the sector's own
// heights surveyed once.
void BeginFast(State& sh, int32_t S_tot, size_t n) {
  sh.threads = ShadeThreadCount(st.shade_threads);
  // One colour per possible annual count (at most one per step of the year).
  sh.colour.assign(static_cast<size_t>(std::max(S_tot, 0)) + 2, kNoColour);
  for (size_t a = 0; a < sh.colour.size(); ++a) {
    uint32_t c;
    if (GraphColour(static_cast<int32_t>(a), S_tot, c)) sh.colour[a] = c;
  }
  BuildMosaic(sh.mosaic, kMaxRayRange);
  ScanOwnHeights(sh);
  sh.mask.assign(n, 0);
  sh.hours.assign(n, 0);
}

}  // namespace

SectorShading::SectorShading(int32_t S_tot) : state_(std::make_unique<State>()) {
  State& sh = *state_;
  sh.reference = st.reference_engine;
  sh.S_tot = S_tot;
  sh.W = st.proj_w;
  sh.H = st.proj_h;
  const size_t n = static_cast<size_t>(sh.W) * static_cast<size_t>(sh.H);
  assert(st.shoras && st.sfsuma && st.sfwhsinf && st.sfwhscen && st.sfwhssup && st.elev2png && st.sftmp);
  // The counters are indexed by pixel: never let a short one be written past.
  if (st.presum.size() != n) st.presum.assign(n, 0);
  if (st.pmeswhs.size() != n) st.pmeswhs.assign(n, 0);
  if (!sh.reference) BeginFast(sh, S_tot, n);
}

SectorShading::~SectorShading() = default;

void ShadeHour(SectorShading& sector, const SunPos& sun, int32_t R, const std::string& sector_id,
               uint8_t& warnflags, int32_t m, uint32_t b) {
  assert(m >= 0 && m < 12);
  State& sh = sector.state();
  if (sh.reference)
    ShadeHourReference(sh, sun, R, sector_id, warnflags, m, b);
  else
    ShadeHourFast(sh, sun, R, sector_id, warnflags, m, b);
}

void ShadeMonthEnd(SectorShading& sector, [[maybe_unused]] int32_t m) {
  State& sh = sector.state();
  assert(!sh.month_pending || sh.month == m);
  if (!sh.reference) PackMonth(sh);
}

void ShadeClearMonth(SectorShading& sector) {
  State& sh = sector.state();
  if (!sh.reference) PackMonth(sh);  // a month whose end was not announced keeps its counts
  if (st.shoras) Pinta_Rectangulo(st.shoras.get(), 0, 0, st.shoras->w, st.shoras->h, st.negro);
  std::fill(st.pmeswhs.begin(), st.pmeswhs.end(), 0);
  std::fill(sh.hours.begin(), sh.hours.end(), 0u);
}

void ShadeYearEnd(SectorShading& sector) {
  State& sh = sector.state();
  if (!sh.reference) PackMonth(sh);
}

void ShadeEndSector() { std::fill(st.presum.begin(), st.presum.end(), 0); }
