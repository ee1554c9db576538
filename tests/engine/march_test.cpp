// Hand-worked examples of the ray march on both engines, the encodings the
// shadows are recorded in, the sector's warnings and elevation copy, and a
// sector-year through the run's sequence of calls on both engines.
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
#include "sector_builder.h"
#include "solar/solar.h"
#include "support/support.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr uint16_t kAll = kAllNeighbours;

std::vector<uint32_t> Pixels(const SDL_Surface* s, int w = 0, int h = 0) {
  std::vector<uint32_t> v;
  for (int y = 0; y < (h ? h : s->h); ++y)
    for (int x = 0; x < (w ? w : s->w); ++x) v.push_back(SDLGetPixel(s, x, y));
  return v;
}

// The installed sector's mask, after checking both engines agree on it.
std::vector<uint8_t> MaskOfBoth(const SunPos& sun, int R) {
  std::vector<uint8_t> ref(static_cast<size_t>(st.proj_w) * st.proj_h), fast(ref.size());
  MarchMaskReference(sun, R, ref.data());
  Mosaic mo;
  BuildMosaic(mo, kMaxRayRange);
  MarchMaskFast(mo, sun, R, fast.data());
  EXPECT_EQ(ref, fast) << "engines disagree";
  return ref;
}

using March = StateTest;

// Obstructions on flat ground, and whether they shade one pixel.
TEST_F(March, HandWorkedRays) {
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
  const struct {
    SunPos sun;
    int W, H, px, py, ox, oy, R;
    float height;
    uint16_t present;
    bool shaded;
  } cases[] = {
      {nw, 8, 8, 5, 0, 4, 0, 2, 10, kAll, true},
      {nw, 8, 8, 5, 0, 4, -1, 2, 10, kAll, false},  // what a floor would read
      {nw, 8, 8, 5, 0, 3, -1, 3, 10, kAll, true},
      {nw, 8, 8, 5, 0, 3, -1, 3, 10, kAll & ~(1u << 5), false},
      {sw, 8, 6, 0, 5, -1, 5, 2, 10, kAll, false},  // a floor's step 1
      {sw, 8, 6, 0, 5, -1, 6, 3, 10, kAll, true},
      {sw, 8, 6, 0, 5, -1, 6, 3, 10, kAll & ~1u, false},
      {w, 8, 8, 0, 0, 0, 1, 3, 10, kAll, true},
      {w, 8, 8, 0, 0, -1, 1, 3, 10, kAll, false},
      {w, 8, 8, 0, 0, -1, 2, 3, 10, kAll, false},
      {w, 8, 8, 0, 0, -1, 2, 4, 10, kAll, true},
      // 10 up, 10 pixels due east: 45 degrees; the range is cut to the size.
      {east(44.9), 20, 12, 0, 2, 10, 2, 12, 10, kAll, true},
      {east(45.0), 20, 12, 0, 2, 10, 2, 12, 10, kAll, false},
      {east(44.9), 20, 12, 0, 2, 10, 2, 10, 10, kAll, false},  // out of range
      {east(44.9), 20, 12, 0, 2, 10, 2, 0, 10, kAll, false},   // no range at all
      {wall, 8, 8, 0, 2, -4, -1, 8, 1000, kAll, true},
      {wall, 8, 8, 0, 2, -4, -1, 8, 1000, kAll & ~(1u << 1), false},
      // Below the horizon negative samples count as 0.
      {SunToward(1, kPi / 2, -0.5), 12, 12, 0, 1, 5, 1, 12, -1, kAll, false},
      {SunToward(1, kPi / 2, -0.5), 12, 12, 0, 1, 5, 1, 12, 1, kAll, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i));
    Field f(c.W, c.H, c.height < 0 ? -50 : 0);
    f.at(c.ox, c.oy) = c.height;
    InstallSector(f, true, c.present);
    EXPECT_EQ(MaskOfBoth(c.sun, c.R)[static_cast<size_t>(c.py) * c.W + c.px] != 0, c.shaded);
  }
  // Not a number never shades and does not end the ray; as the pixel's own
  // height it leaves the pixel unshaded. A neighbour flagged present but not
  // loaded counts as missing.
  Field f(12, 12);
  f.at(3, 1) = kNaN;
  f.at(6, 1) = 100;
  InstallSector(f, true);
  EXPECT_EQ(MaskOfBoth(east(5.7), 12)[12], 1);
  f.at(0, 1) = kNaN;
  InstallSector(f, true);
  EXPECT_EQ(MaskOfBoth(east(5.7), 12)[12], 0);
  f.at(-3, 2) = 1000;
  InstallSector(f, true);
  st.sent2_tif.reset();
  EXPECT_EQ(MaskOfBoth(SunToward(-1, kPi / 2, 0.1), 12)[24], 0);
}

class Record : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    InstallSector(Field(4, 4), false);
  }
};

TEST_F(Record, HourMaskMonthFieldsCountsAndGraph) {
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
TEST_F(March, SectorWarningsAndElevationImage) {
  for (const bool reference : {true, false}) {
    SCOPED_TRACE(reference ? "reference" : "fast");
    const auto base = static_cast<std::ptrdiff_t>(plat.console().size());
    st.glbwarning = 0;
    st.reference_engine = reference;
    const std::pair<float, uint32_t> elev[] = {{kInf, 0xFFFFFFu}, {3e9f, 0xFFFFFFu}, {1234.9f, 1234u},
                                               {-kInf, 0u},       {kNaN, 0u},        {70000.5f, 70000u},
                                               {8800, 8800u},     {0, 0u}};
    Field f(8, 8, 100);
    f.at(0, 0) = 8800, f.at(1, 0) = 0, f.at(2, 0) = kNaN;
    f.at(3, 1) = -5;
    f.at(1, 2) = 9000;
    for (const char* id : {"0312", "0313"}) {
      InstallSector(f, true);
      SectorShading sector(139);
      uint8_t flags = 0;
      for (uint32_t b : {1u, 2u}) ShadeHour(sector, SunToward(1, 1.0, 0.5), 8, id, flags, 0, b);
      EXPECT_EQ(flags, 3);
      ShadeEndSector();
      std::swap(f.at(3, 1), f.at(1, 2));  // the high value first next time
    }
    const std::string high = " Please check if your data are in the supported format";
    const std::vector<std::string> lines = plat.console();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + base, lines.end()), (std::vector<std::string>{
                                  "WARNING!! Values under 0 in 0312. The app will automatically fix them to 0",
                                  "WARNING!! Unexpected High values of elevations in 0312." + high,
                                  "WARNING!! Unexpected High values of elevations in 0313." + high,
                                  "WARNING!! Values under 0 in 0313. The app will automatically fix them to 0"}));
    EXPECT_EQ(st.glbwarning, 1);
    for (int i = 0; i < 8; ++i) f.at(i, 0) = elev[i].first;
    InstallSector(f, true);
    SectorShading sector(139);
    uint8_t flags = 3;
    ShadeHour(sector, SunToward(1, 1.0, 0.5), 8, "0001", flags, 0, 1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(SDLGetPixel(st.elev2png.get(), i, 0), elev[i].second) << elev[i].first;
    EXPECT_EQ(plat.console().size(), static_cast<size_t>(base) + 4) << "set flags keep their lines back";
  }
}

// Shades a sector-year at latitude 40 and returns all the run reads, in
// order; on the way checks that each packed field is its month's number of
// hour bits, the annual count their sum, and the graph stays in the sector.
std::vector<int64_t> ShadeYear(const Field& f, bool float_family, bool reference) {
  st.reference_engine = reference;
  InstallSector(f, float_family, kAll & ~(1u << 7));
  std::vector<int64_t> t;
  auto snap = [&t](const auto& values) { t.insert(t.end(), values.begin(), values.end()); };
  const size_t n = static_cast<size_t>(f.W) * f.H;
  std::vector<std::vector<int32_t>> months;
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
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(__builtin_popcount(hours[i]), st.pmeswhs[i]);
    snap(hours);
    months.push_back(st.pmeswhs);
    ShadeClearMonth(sector);
    EXPECT_EQ(Pixels(st.shoras.get()), std::vector<uint32_t>(n, 0u));
  }
  ShadeYearEnd(sector);
  const std::vector<uint32_t> suma = Pixels(st.sfsuma.get()), packed[3] = {
      Pixels(st.sfwhsinf.get()), Pixels(st.sfwhscen.get()), Pixels(st.sfwhssup.get())};
  for (size_t i = 0; i < n; ++i) {
    uint32_t sum = 0;
    for (int m = 0; m < 12; ++m) {
      EXPECT_EQ(static_cast<int32_t>(packed[m / 4][i] >> (5 * (m % 4)) & 31), months[m][i]) << "month " << m;
      sum += static_cast<uint32_t>(months[m][i]);
    }
    EXPECT_EQ(suma[i], sum);
  }
  EXPECT_LT(std::count(suma.begin(), suma.end(), 0u), static_cast<std::ptrdiff_t>(n)) << "no shadows at all";
  const std::vector<uint32_t> graph = Pixels(st.sftmp.get());
  for (size_t i = 0; i < graph.size(); ++i)
    if (static_cast<int>(i % kGraphSide) >= f.W || static_cast<int>(i / kGraphSide) >= f.H) {
      EXPECT_EQ(graph[i], 0u);
    }
  for (const SDL_Surface* s : {st.sfsuma.get(), st.sfwhsinf.get(), st.sfwhscen.get(), st.sfwhssup.get(),
                               st.elev2png.get()})
    snap(Pixels(s));
  ShadeEndSector();
  EXPECT_EQ(st.presum, std::vector<int32_t>(n, 0));
  return t;
}

using Year = StateTest;

TEST_F(Year, BothEnginesLeaveTheSameImagesAndCounters) {
  std::mt19937_64 rng(TestSeed());
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (const bool float_family : {true, false}) {
    SCOPED_TRACE(float_family ? "float rasters" : "PNG rasters");
    Field f(23, 17);
    for (int y = -17; y < 34; ++y)
      for (int x = -23; x < 46; ++x)
        f.at(x, y) = std::floor(60 * std::sin(0.3 * x) * std::cos(0.25 * y) + 80 + 10 * u(rng));
    if (float_family) f.at(5, 5) = -3;
    EXPECT_TRUE(ShadeYear(f, float_family, true) == ShadeYear(f, float_family, false));
  }
}

}  // namespace
