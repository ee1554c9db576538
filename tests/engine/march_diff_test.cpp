// The two engines against each other and against hand-worked values: rays
// worked by hand; the fast march against the reference, mask for mask, on
// random terrains, neighbourhoods, ranges, latitudes and awkward sun
// directions, with every vector kernel this processor has and 1 to 4
// threads (VDB_SEED replays a run, VDB_SOAK multiplies the cases); the
// encodings shadows are recorded in, the sector's warnings and elevation
// copy, and a sector-year through the run's calls on both engines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/accumulate.h"
#include "engine/march.h"
#include "engine/shade.h"
#include "solar/solar.h"
#include "support/support.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
// Neighbour bits: bit f set = matflgarea[f] (f = 0..8 without 4).
constexpr uint16_t kAll = 0x1EF;

// Heights of the 3W x 3H block of sectors, row-major, north-west corner
// first; at(x, y) in sector coordinates, -W <= x < 2W, -H <= y < 2H.
struct Field {
  int W = 0, H = 0;
  std::vector<float> v;
  Field(int w, int h, float fill = 0) : W(w), H(h), v(static_cast<size_t>(9) * w * h, fill) {}
  float& at(int x, int y) { return v[static_cast<size_t>(y + H) * 3 * W + (x + W)]; }
};

// Installs the field as the current sector: float rasters or 24-bit
// surfaces holding the heights as pixel values (whole numbers in
// 0..16777215), the presence flags, zeroed results, graph and counters.
void InstallSector(const Field& f, bool float_family, uint16_t present = kAll) {
  const int W = f.W, H = f.H;
  st.proj_w = W, st.proj_h = H, st.cu_ext = float_family ? 1 : 0;
  for (int flag = 0; flag < 9; ++flag) {
    // Cell 3c + r: c = 0 west, 1 own, 2 east; r = 0 south, 1 own, 2 north.
    const int x0 = flag / 3 * W, y0 = (2 - flag % 3) * H;
    const bool on = flag == 4 || (present >> flag & 1);
    st.matflgarea[flag] = on ? 1 : 0;
    st.AreaSurface(flag) = on && !float_family ? CreateResultSurface(W, H) : nullptr;
    st.AreaRaster(flag).reset(on && float_family ? new FloatRaster{uint32_t(W), uint32_t(H), {}} : nullptr);
    for (int y = 0; on && y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const float h = f.v[static_cast<size_t>(y0 + y) * 3 * W + x0 + x];
        if (float_family) st.AreaRaster(flag)->samples.push_back(h);
        if (!float_family) SDLPutPixel(st.AreaSurface(flag).get(), x, y, static_cast<uint32_t>(h));
      }
  }
  for (SurfacePtr* p : {&st.shoras, &st.sfsuma, &st.sfwhsinf, &st.sfwhscen, &st.sfwhssup, &st.elev2png})
    *p = CreateResultSurface(W, H);
  st.sftmp = CreateResultSurface(kGraphSide, kGraphSide);
  st.presum.assign(static_cast<size_t>(W) * H, 0);
  st.pmeswhs.assign(static_cast<size_t>(W) * H, 0);
}

// A sun for the given marching direction angle (sigma*A) and elevation.
SunPos SunToward(int sign, double a, double e) { return {.sign = sign, .azimuth = a, .elevation = e}; }


std::vector<uint32_t> Pixels(const SDL_Surface* s, int w = 0, int h = 0) {
  std::vector<uint32_t> v;
  for (int y = 0; y < (h ? h : s->h); ++y)
    for (int x = 0; x < (w ? w : s->w); ++x) v.push_back(SDLGetPixel(s, x, y));
  return v;
}

// Marches the installed sector under `suns` with the reference and every
// vector kernel this processor has, each with a thread count that moves on
// from sun to sun and kernel to kernel (1 to 4); reports the first
// disagreement, with `what` to replay it, and compares no more once the
// test has failed. Returns the reference's mask of the last sun.
std::vector<uint8_t> Compare(const std::string& what, int R, const std::vector<SunPos>& suns, uint64_t rotation = 0) {
  Mosaic mo;
  BuildMosaic(mo, kMaxRayRange);
  const size_t n = static_cast<size_t>(st.proj_w) * st.proj_h;
  std::vector<uint8_t> ref(n);
  const std::vector<std::string> kernels = MarchKernels();
  for (size_t k = 0; k < suns.size(); ++k) {
    MarchMaskReference(suns[k], R, ref.data());
    for (size_t j = 0; j < kernels.size() && !testing::Test::HasFailure(); ++j) {
      const int threads = 1 + static_cast<int>((rotation + k + j) % 4);
      EXPECT_TRUE(SetMarchKernel(kernels[j])) << kernels[j];
      std::vector<uint8_t> fast(n, 7);
      MarchMaskFast(mo, suns[k], R, fast.data(), threads);
      const size_t i = static_cast<size_t>(std::mismatch(ref.begin(), ref.end(), fast.begin()).first - ref.begin());
      EXPECT_EQ(i, n) << what << ", R " << R << ", sun " << k << " (elevation " << suns[k].elevation << "), "
                      << kernels[j] << ", " << threads << " threads: pixel " << i % st.proj_w << ", " << i / st.proj_w;
    }
  }
  SetMarchKernel("");
  return ref;
}

using Engine = StateTest;

// Obstructions on flat ground, and whether they shade one pixel.
TEST_F(Engine, HandWorkedRays) {
  // (column, row) per step (-0.6, -0.8) from row 0: step 1 is trunc(4.4),
  // trunc(-0.8) = (4, 0); step 2 is (3, -1), in the northern neighbour.
  const SunPos nw = SunToward(-1, std::acos(-0.8), 0.1);
  // (-0.6, +0.8) from column 0: step 1 stays put, step 2 is (-1, H).
  const SunPos sw = SunToward(-1, std::acos(0.8), 0.1);
  // (-0.4, 0.917) from (0, 0): (0, 0), (0, 1), then (-1, 2).
  const SunPos w = SunToward(-1, std::asin(0.4), 0.1);
  auto east = [](double deg) { return SunToward(1, kPi / 2, deg2rad(deg)); };
  // From (0, 2) toward (-0.8, -0.6): the western neighbour at step 2, the
  // north-western one (a wall) at step 5.
  const SunPos wall = SunToward(-1, std::acos(-0.6), 0.05);
  const struct { SunPos sun; int W, H, px, py, ox, oy, R; float height; uint16_t present; bool shaded; } cases[] = {
      // A case and its contrast on each line. The point a floor would read
      // is the contrast on the first line and the case on the third.
      {nw, 8, 8, 5, 0, 4, 0, 2, 10, kAll, true}, {nw, 8, 8, 5, 0, 4, -1, 2, 10, kAll, false},
      {nw, 8, 8, 5, 0, 3, -1, 3, 10, kAll, true}, {nw, 8, 8, 5, 0, 3, -1, 3, 10, kAll & ~(1u << 5), false},
      {sw, 8, 6, 0, 5, -1, 5, 2, 10, kAll, false}, {sw, 8, 6, 0, 5, -1, 6, 3, 10, kAll, true},
      {sw, 8, 6, 0, 5, -1, 6, 3, 10, kAll & ~1u, false},
      {w, 8, 8, 0, 0, 0, 1, 3, 10, kAll, true}, {w, 8, 8, 0, 0, -1, 1, 3, 10, kAll, false},
      {w, 8, 8, 0, 0, -1, 2, 3, 10, kAll, false}, {w, 8, 8, 0, 0, -1, 2, 4, 10, kAll, true},
      // 10 up, 10 pixels due east: 45 degrees; the range is cut to the size;
      // out of range, then no range at all.
      {east(44.9), 20, 12, 0, 2, 10, 2, 12, 10, kAll, true}, {east(45.0), 20, 12, 0, 2, 10, 2, 12, 10, kAll, false},
      {east(44.9), 20, 12, 0, 2, 10, 2, 10, 10, kAll, false}, {east(44.9), 20, 12, 0, 2, 10, 2, 0, 10, kAll, false},
      {wall, 8, 8, 0, 2, -4, -1, 8, 1000, kAll, true}, {wall, 8, 8, 0, 2, -4, -1, 8, 1000, kAll & ~(1u << 1), false},
      // Below the horizon negative samples count as 0.
      {east(-28.6), 12, 12, 0, 1, 5, 1, 12, -1, kAll, false}, {east(-28.6), 12, 12, 0, 1, 5, 1, 12, 1, kAll, true},
  };
  for (const auto& c : cases) {
    Field f(c.W, c.H, c.height < 0 ? -50 : 0);
    f.at(c.ox, c.oy) = c.height;
    InstallSector(f, true, c.present);
    EXPECT_EQ(Compare("case", c.R, {c.sun})[static_cast<size_t>(c.py) * c.W + c.px] != 0, c.shaded) << &c - cases;
  }
  // Not a number never shades and does not end the ray; as the pixel's own
  // height it leaves the pixel unshaded. A neighbour flagged present but not
  // loaded counts as missing.
  Field f(12, 12);
  f.at(3, 1) = kNaN, f.at(6, 1) = 100;
  InstallSector(f, true);
  EXPECT_EQ(Compare("NaN", 12, {east(5.7)})[12], 1);
  f.at(0, 1) = kNaN;
  InstallSector(f, true);
  EXPECT_EQ(Compare("NaN", 12, {east(5.7)})[12], 0);
  f.at(-3, 2) = 1000;
  InstallSector(f, true);
  st.sent2_tif.reset();
  EXPECT_EQ(Compare("not loaded", 12, {SunToward(-1, kPi / 2, 0.1)})[24], 0);
}


TEST_F(Engine, HourMaskMonthFieldsCountsAndGraph) {
  InstallSector(Field(4, 4), false);
  for (uint32_t b : {1u, 2u, 8u}) RecordShadow(2, 1, 0, b, 139);  // steps 0, 1 and 3
  EXPECT_EQ(SDLGetPixel(st.shoras.get(), 2, 1), 0b1011u);
  EXPECT_EQ(st.pmeswhs[1 * 4 + 2] + st.presum[1 * 4 + 2], 6);
  EXPECT_EQ(SDLGetPixel(st.sfsuma.get(), 2, 1) + SDLGetPixel(st.sfwhsinf.get(), 2, 1), 6u);
  // April's five shadows replace only April's field: January to March stay;
  // December goes to bits 15-19 of the third image.
  SDLPutPixel(st.sfwhsinf.get(), 1, 0, 0x7FFF);
  for (int i = 0; i < 5; ++i) RecordShadow(1, 0, 3, 1u << i, 139);
  EXPECT_EQ(SDLGetPixel(st.sfwhsinf.get(), 1, 0), 0x7FFFu | 0x28000u);
  RecordShadow(3, 3, 11, 1, 139);
  EXPECT_EQ(SDLGetPixel(st.sfwhssup.get(), 3, 3), 1u << 15);
  EXPECT_EQ(SDLGetPixel(st.sfwhscen.get(), 3, 3), 0u);
  RecordShadow(0, 3, 4, 1, 139);  // May: the second image's first field
  EXPECT_EQ(SDLGetPixel(st.sfwhscen.get(), 0, 3), 1u);

  uint32_t c = 0;
  EXPECT_TRUE(GraphColour(1, 139, c) && c == 0xFF0000u);
  EXPECT_TRUE(GraphColour(138, 139, c) && c == 0u);
  EXPECT_FALSE(GraphColour(139, 139, c) || GraphColour(1, 0, c));
  // The 139th shadow leaves the previous colour in place.
  st.presum[0] = 138;
  SDLPutPixel(st.sftmp.get(), 0, 0, 0x123456);
  RecordShadow(0, 0, 11, 2, 139);
  EXPECT_EQ(SDLGetPixel(st.sftmp.get(), 0, 0), 0x123456u);

  EXPECT_EQ(ProgressPosition(0, 1, 12, 144), 8);
  EXPECT_EQ(ProgressPosition(1, 2, 144, 144), 100);
  EXPECT_EQ(ProgressPosition(0, 1, 5, 0), 0);
  EXPECT_EQ(ProgressPosition(9999, 10000, 288, 288), 100);  // no overflow on long runs
}

// Warnings once per sector in pixel order (8800, 0 and NaN raise none) and
// the elevation image's low 24 bits of the saturated 32-bit value, on both
// engines.
TEST_F(Engine, SectorWarningsAndElevationImage) {
  for (const bool reference : {true, false}) {
    SCOPED_TRACE(reference ? "reference" : "fast");
    const auto base = static_cast<std::ptrdiff_t>(plat.console().size());
    st.glbwarning = 0, st.reference_engine = reference;
    Field f(8, 8, 100);
    f.at(0, 0) = 8800, f.at(1, 0) = 0, f.at(2, 0) = kNaN, f.at(3, 1) = -5, f.at(1, 2) = 9000;
    for (const char* id : {"0312", "0313"}) {
      InstallSector(f, true);
      SectorShading sector(139);
      uint8_t flags = 0;
      for (uint32_t b : {1u, 2u}) ShadeHour(sector, SunToward(1, 1.0, 0.5), 8, id, flags, 0, b);
      EXPECT_EQ(flags, 3);
      ShadeEndSector();
      std::swap(f.at(3, 1), f.at(1, 2));  // the high value first next time
    }
    const std::string fix = ". The app will automatically fix them to 0",
                      check = ". Please check if your data are in the supported format";
    const std::vector<std::string> lines = plat.console();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + base, lines.end()), (std::vector<std::string>{
        "WARNING!! Values under 0 in 0312" + fix, "WARNING!! Unexpected High values of elevations in 0312" + check,
        "WARNING!! Unexpected High values of elevations in 0313" + check, "WARNING!! Values under 0 in 0313" + fix}));
    EXPECT_EQ(st.glbwarning, 1);
    std::ranges::copy(std::vector<float>{kInf, 3e9f, 1234.9f, -kInf, kNaN, 70000.5f, 8800, 0}, &f.at(0, 0));
    InstallSector(f, true);
    SectorShading sector(139);
    uint8_t flags = 3;
    ShadeHour(sector, SunToward(1, 1.0, 0.5), 8, "0001", flags, 0, 1);
    EXPECT_EQ(Pixels(st.elev2png.get(), 8, 1), (std::vector<uint32_t>{0xFFFFFF, 0xFFFFFF, 1234, 0, 0, 70000, 8800, 0}));
    EXPECT_EQ(plat.console().size(), static_cast<size_t>(base) + 4) << "set flags keep their lines back";
  }
}

// Noise, rare spikes, terraces or smooth waves; float rasters get fractional
// heights and now and then NaN, infinities, -0 and negatives.
Field MakeTerrain(uint64_t seed, int W, int H, bool float_family) {
  std::mt19937_64 rng(seed);
  Field f(W, H);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int kind = static_cast<int>(rng() % 4);
  const double amp = 1 + u(rng) * (u(rng) < 0.2 ? 20000 : 400), base = u(rng) < 0.5 ? 0 : u(rng) * 3000;
  const double kx = u(rng) - 0.5, ky = u(rng) - 0.5;
  const float specials[] = {kNaN, -kInf, kInf, -0.0f};
  for (size_t i = 0; i < f.v.size(); ++i) {
    const double r = u(rng), x = static_cast<double>(i % (3 * W)), y = static_cast<double>(i / (3 * W));
    const double shapes[] = {r * amp, r < 0.03 ? u(rng) * amp * 3 : r * 2, std::floor(r * 4) * std::floor(amp / 8),
                             amp * (1 + std::sin(kx * x + ky * y))};
    const double h = base + shapes[kind];
    f.v[i] = !float_family ? static_cast<float>(std::floor(std::min(h, 16777215.0)))
             : r < 0.01    ? specials[rng() % 4]
                           : static_cast<float>(r < 0.03 ? -u(rng) * amp : h + u(rng));
  }
  return f;
}

// Shades a sector-year at latitude 40 and returns all the run reads, in
// order: per step the graph and counts, per month the hour bits (each
// pixel's as many as its month's count), then the images. The graph must
// stay within the sector and the counts be cleared at the sector's end.
// The fast engine's rows are recorded as their threads hand them over:
// each once, and final by then, or the two engines' records part.
std::vector<int64_t> ShadeYear(const Field& f, bool float_family, bool reference) {
  st.reference_engine = reference, st.shade_threads = 3;  // rows recorded as their threads finish them
  InstallSector(f, float_family, kAll & ~(1u << 7));
  std::vector<int64_t> t;
  auto snap = [&t](const auto& values) { t.insert(t.end(), values.begin(), values.end()); };
  SectorShading sector(DaylightSteps(deg2rad(40)));
  uint8_t flags = 0;
  for (int m = 0; m < 12; ++m) {
    const SolarDayRec day = SolarDay(15 + kMonthStart[m], deg2rad(40));
    for (int k = 0; k < day.steps; ++k) {
      ShadeHour(sector, SunPosition(day, k), f.H, "0101", flags, m, 1u << k);
      snap(Pixels(st.sftmp.get(), f.W, f.H));
      snap(st.presum);
    }
    ShadeMonthEnd(sector, m);
    const std::vector<uint32_t> hours = Pixels(st.shoras.get());
    for (size_t i = 0; i < hours.size(); ++i) EXPECT_EQ(__builtin_popcount(hours[i]), st.pmeswhs[i]);
    snap(hours);
    ShadeClearMonth(sector);
  }
  ShadeYearEnd(sector);
  const std::vector<uint32_t> graph = Pixels(st.sftmp.get()), inside = Pixels(st.sftmp.get(), f.W, f.H);
  EXPECT_EQ(std::ranges::count(graph, 0u) - std::ranges::count(inside, 0u), std::ssize(graph) - std::ssize(inside));
  for (const SurfacePtr* s : {&st.sfsuma, &st.sfwhsinf, &st.sfwhscen, &st.sfwhssup, &st.elev2png})
    snap(Pixels(s->get()));
  ShadeEndSector();
  EXPECT_EQ(st.presum, std::vector<int32_t>(st.presum.size(), 0));
  return t;
}


TEST_F(Engine, BothEnginesLeaveTheSameImagesAndCounters) {
  for (const bool float_family : {true, false}) {
    SCOPED_TRACE(float_family ? "float rasters" : "PNG rasters");
    Field f = MakeTerrain(TestSeed(), 23, 17, float_family);
    f.at(5, 5) = 3000;  // a shadow whatever the terrain
    const std::vector<int64_t> ref = ShadeYear(f, float_family, true);
    EXPECT_LT(std::count(ref.end() - 5 * 23 * 17, ref.end() - 4 * 23 * 17, 0), 23 * 17) << "no shadows at all";
    EXPECT_TRUE(ref == ShadeYear(f, float_family, false));
  }
}



// Every `stride`-th hour step of the year at a latitude.
std::vector<SunPos> YearSuns(double lat_deg, int stride) {
  std::vector<SunPos> suns;
  for (int m = 0, k_all = 0; m < 12; ++m) {
    const SolarDayRec day = SolarDay(15 + kMonthStart[m], deg2rad(lat_deg));
    for (int k = 0; k < day.steps; ++k, ++k_all)
      if (k_all % stride == 0) suns.push_back(SunPosition(day, k));
  }
  return suns;
}

// Directions whose offsets land on or next to whole numbers, the axes and
// diagonals, elevations at and past the zenith and below the horizon.
std::vector<SunPos> AwkwardSuns() {
  std::vector<SunPos> suns;
  for (double a : {0.0, kPi / 2, kPi, kPi / 6, kPi / 4, 2 * kPi / 3, std::atan2(1, 2), std::atan2(3, 4),
                   std::nextafter(kPi / 2, 0.0), std::nextafter(kPi / 4, 4.0), 1e-13})
    for (int sign : {1, -1})
      for (double e : {0.02, 0.7853981633974483, kPi / 2, 1.6, -0.1, -2.0}) suns.push_back(SunToward(sign, a, e));
  return suns;
}

// Eight neighbour bits onto flags 0..3 and 5..8.
uint16_t Present(uint32_t bits) { return static_cast<uint16_t>((bits & 0x0F) | (bits & 0xF0) << 1); }

void RunCase(uint64_t seed, int W, int H, int R, bool float_family, uint16_t present, const std::vector<SunPos>& suns) {
  InstallSector(MakeTerrain(seed, W, H, float_family), float_family, present);
  Compare("VDB_SEED case " + std::to_string(seed) + ", present " + std::to_string(present), R, suns, seed);
}


// The portable and SSE2 kernels are always there, unknown names refused,
// AVX-512 (little gain, possible clock cost) never the default.
TEST_F(Engine, RandomSectorsAgreeWithTheReference) {
  ASSERT_EQ(MarchKernels().front(), "scalar");
#if defined(__x86_64__)
  ASSERT_EQ(MarchKernels().at(1), "sse2");
#endif
  EXPECT_NE(MarchKernelName(), "avx512");
  EXPECT_FALSE(SetMarchKernel("mmx"));
  const uint64_t first = TestSeed();
  const double lats[] = {0, 40, -33.9, 66, 70};
  for (uint64_t seed = first; seed < first + 70 * static_cast<uint64_t>(SoakFactor()); ++seed) {
    std::mt19937_64 rng(seed);
    const bool awkward = seed % 7 == 0, big = seed % 23 == 0;
    const int W = big ? 130 : 6 + static_cast<int>(rng() % 35), H = big ? 170 : 6 + static_cast<int>(rng() % 35);
    const int R = 1 + static_cast<int>(rng() % static_cast<uint64_t>(std::min({W, H, kMaxRayRange})));
    const uint16_t present = rng() % 3 == 0 ? kAll : Present(static_cast<uint32_t>(rng() & 0xFF));
    const bool float_family = rng() & 1;
    RunCase(seed, W, H, R, float_family, present, awkward ? AwkwardSuns() : YearSuns(lats[rng() % 5], big ? 9 : 1));
  }
  // A full-size sector without its eastern neighbour, at full range.
  RunCase(first, kMaxSectorSide, kMaxSectorSide, kMaxRayRange, true, kAll & ~(1u << 7), YearSuns(40, 70));
}

TEST_F(Engine, EverySubsetOfMissingNeighbours) {
  // Low suns in eight directions so rays reach every side and corner.
  std::vector<SunPos> suns;
  for (int i = 0; i < 8; ++i)
    suns.push_back(SunToward(i < 4 ? 1 : -1, (i < 4 ? i + 0.37 : 7.63 - i) * kPi / 4, 0.05 + 0.02 * i));
  for (uint16_t bits = 0; bits < 256; ++bits)
    RunCase(TestSeed() + bits, 12, 10, 10, (bits & 1) != 0, Present(bits), suns);
}

// Every pixel of a flat sector gets one sample, at a step of its own, some
// ulps around the height at which atan(h/d) reaches the elevation: where
// the cheap bounds give way to the arc tangent. Rays due east and due west
// (whole steps), and westward ones whose first columns read one column
// further east than the rest, past the last block's end, on either
// raster family, with and without the western neighbours.
TEST_F(Engine, HeightsAtTheElevationBoundary) {
  const int W = 37, H = 12, R = 12;
  for (const SunPos& sun : {SunToward(1, kPi / 2, 0.01), SunToward(-1, kPi / 2, 0.7853981633974483),
                            SunToward(-1, 1.2, 1.3), SunToward(-1, 2.2, 0.3), SunToward(-1, 0.9, 1.55)})
    for (const bool float_family : {true, false}) {
      const double sx = std::sin(sun.sign * sun.azimuth), sy = std::cos(sun.sign * sun.azimuth);
      Field f(W, H);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const int s = 1 + (7 * x + 3 * y) % (R - 1), ulps = (x + y) % 5 - 2;
          const int X = static_cast<int>(x + sx * s), Y = static_cast<int>(y + sy * s);
          float h = static_cast<float>(std::hypot(x - X, y - Y) * std::tan(sun.elevation));
          for (int k = ulps; float_family && k != 0; k += k < 0 ? 1 : -1) h = std::nextafter(h, k < 0 ? -kInf : kInf);
          f.at(X, Y) = float_family ? h : std::max(0.0f, std::round(h) + static_cast<float>(ulps));
        }
      for (const uint16_t present : {kAll, Present(0xF8)}) {
        InstallSector(f, float_family, present);
        Compare("elevation " + std::to_string(sun.elevation), R, {sun}, static_cast<uint64_t>(present));
      }
    }
}

}  // namespace
