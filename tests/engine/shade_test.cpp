// Recording, encodings, warnings, the elevation copy and the sector
// sequence of calls, on both engines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/accumulate.h"
#include "engine/shade.h"
#include "solar/solar.h"
#include "sector_builder.h"
#include "support/fixtures.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Pixel values of the surface's top-left w x h (all of it by default).
std::vector<uint32_t> Pixels(const SDL_Surface* s, int w = 0, int h = 0) {
  std::vector<uint32_t> v;
  for (int y = 0; y < (h ? h : s->h); ++y)
    for (int x = 0; x < (w ? w : s->w); ++x) v.push_back(SDLGetPixel(s, x, y));
  return v;
}

class Record : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    InstallSector(Field(4, 4), false);
  }
};

TEST_F(Record, HourMaskMonthFieldsAndCounts) {
  for (uint32_t b : {1u, 2u, 8u}) RecordShadow(2, 1, 0, b, 139);  // steps 0, 1 and 3
  EXPECT_EQ(SDLGetPixel(st.shoras.get(), 2, 1), 0b1011u);
  EXPECT_EQ(st.pmeswhs[1 * 4 + 2], 3);
  EXPECT_EQ(st.presum[1 * 4 + 2], 3);
  EXPECT_EQ(SDLGetPixel(st.sfsuma.get(), 2, 1), 3u);
  EXPECT_EQ(SDLGetPixel(st.sfwhsinf.get(), 2, 1), 3u);
  EXPECT_EQ(SDLGetPixel(st.shoras.get(), 1, 1), 0u);

  // April's five shadows replace only April's field: January to March stay.
  SDLPutPixel(st.sfwhsinf.get(), 1, 0, 0x7FFF);
  for (int i = 0; i < 5; ++i) RecordShadow(1, 0, 3, 1u << i, 139);
  EXPECT_EQ(SDLGetPixel(st.sfwhsinf.get(), 1, 0), 0x7FFFu | 0x28000u);
  // December goes to bits 15-19 of the third image; the others stay 0.
  RecordShadow(3, 3, 11, 1, 139);
  EXPECT_EQ(SDLGetPixel(st.sfwhssup.get(), 3, 3), 1u << 15);
  EXPECT_EQ(SDLGetPixel(st.sfwhscen.get(), 3, 3), 0u);
}

TEST_F(Record, GraphColoursOfTheAnnualShare) {
  uint32_t c = 0;
  for (auto [count, want] : {std::pair{1, 0xFF0000u}, {70, 0x00FF8Eu}, {138, 0x000000u}}) {
    ASSERT_TRUE(GraphColour(count, 139, c)) << count;
    EXPECT_EQ(c, want) << count;
  }
  EXPECT_FALSE(GraphColour(139, 139, c));
  EXPECT_FALSE(GraphColour(1, 0, c));  // no steps: nothing to divide by

  // The 139th shadow leaves the previous colour in place.
  st.presum[0] = 137;
  RecordShadow(0, 0, 11, 1, 139);
  EXPECT_EQ(SDLGetPixel(st.sftmp.get(), 0, 0), 0u);  // 138: black
  SDLPutPixel(st.sftmp.get(), 0, 0, 0x123456);
  RecordShadow(0, 0, 11, 2, 139);
  EXPECT_EQ(SDLGetPixel(st.sftmp.get(), 0, 0), 0x123456u);
  EXPECT_EQ(SDLGetPixel(st.sfsuma.get(), 0, 0), 139u);
}

TEST(Progress, PositionsOnTheEquator) {
  EXPECT_EQ(ProgressPosition(0, 1, 12, 144), 8);
  EXPECT_EQ(ProgressPosition(0, 2, 144, 144), 50);
  EXPECT_EQ(ProgressPosition(1, 2, 144, 144), 100);
  EXPECT_EQ(ProgressPosition(0, 1, 0, 144), 0);
  EXPECT_EQ(ProgressPosition(0, 1, 5, 0), 0);
  EXPECT_EQ(ProgressPosition(9999, 10000, 288, 288), 100);  // no overflow on long runs
}

// Both engines through the run's sequence of calls.
class Sector : public StateTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    st.reference_engine = GetParam();
  }
  void ShadeOnce(const Field& f, bool float_family, const std::string& name, uint8_t& flags) {
    InstallSector(f, float_family);
    sector.emplace(139);
    ShadeHour(*sector, SunToward(1, 1.0, 0.5), f.W, name, flags, 0, 1);
  }
  std::optional<SectorShading> sector;
};

// 8800, 0 and a value that is not a number raise nothing.
TEST_P(Sector, HeightWarningsOncePerSectorInPixelOrder) {
  Field f(6, 6, 100);
  f.at(3, 1) = -5;
  f.at(4, 4) = -7;
  f.at(1, 2) = 9000;
  f.at(0, 0) = 8800;
  f.at(1, 0) = 0;
  f.at(2, 0) = kNaN;
  uint8_t flags = 0;
  ShadeOnce(f, true, "0312", flags);
  ShadeHour(*sector, SunToward(1, 1.0, 0.5), 6, "0312", flags, 0, 2);
  const std::vector<std::string> want = {
      "WARNING!! Values under 0 in 0312. The app will automatically fix them to 0",
      "WARNING!! Unexpected High values of elevations in 0312. Please check if your data are in the "
      "supported format"};
  EXPECT_EQ(plat.console(), want);
  EXPECT_EQ(flags, 3);
  EXPECT_EQ(st.glbwarning, 1);
  ShadeEndSector();

  // The high value first this time; a set flag keeps its line back.
  f.at(3, 1) = 9000;
  f.at(1, 2) = -5;
  flags = 1;
  st.glbwarning = 0;
  ShadeOnce(f, true, "0313", flags);
  ASSERT_EQ(plat.console().size(), 3u);
  EXPECT_EQ(plat.console()[2].rfind("WARNING!! Unexpected High values of elevations in 0313.", 0), 0u);
  EXPECT_EQ(st.glbwarning, 1);
}

TEST_P(Sector, ElevationImageSaturatesWithoutOverflow) {
  // The image keeps the low 24 bits of the signed 32-bit value.
  const std::pair<float, uint32_t> cases[] = {{kInf, 0xFFFFFFu}, {3e9f, 0xFFFFFFu}, {1234.9f, 1234u},
                                              {-kInf, 0u},       {kNaN, 0u},        {70000.5f, 70000u},
                                              {-5, 0u},          {9000, 9000u}};
  Field f(8, 8, 0);
  for (int i = 0; i < 8; ++i) f.at(i, 0) = cases[i].first;
  uint8_t flags = 0;
  ShadeOnce(f, true, "0001", flags);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(SDLGetPixel(st.elev2png.get(), i, 0), cases[i].second) << cases[i].first;
}

TEST_P(Sector, SmallSectorDrawsOnlyTheTopLeftOfTheGraph) {
  constexpr int kSide = kMinSectorSide;
  Field f(kSide, kSide, 3000);  // walls all round
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) f.at(x, y) = 0;
  uint8_t flags = 0;
  InstallSector(f, false);
  SectorShading one(139);
  ShadeHour(one, SunToward(1, 0.3, 0.2), kSide, "0001", flags, 0, 1);
  const std::vector<uint32_t> g = Pixels(st.sftmp.get());
  int inside = 0, outside = 0, shaded = 0;
  for (int i = 0; i < kGraphSide * kGraphSide; ++i)
    (i % kGraphSide < kSide && i / kGraphSide < kSide ? inside : outside) += g[i] != 0;
  for (int32_t a : st.presum) shaded += a > 0;
  EXPECT_GT(shaded, 0);
  EXPECT_EQ(inside, shaded);
  EXPECT_EQ(outside, 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, Sector, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& engine) {
                           return engine.param ? "Reference" : "Fast";
                         });

// Shades a sector-year at latitude 40 and returns all the run reads, in
// order: the sector's graph and annual counts after every step, hour masks
// and month counts at every month end, the images at the end. On the way it
// checks that the encodings agree: each packed field is its month's number
// of hour bits, and the annual count their sum.
std::vector<int64_t> ShadeYear(const Field& f, bool float_family, bool reference) {
  st.reference_engine = reference;
  InstallSector(f, float_family, kAllNeighbours & ~(1u << 7));
  std::vector<int64_t> t;
  auto snap = [&t](const auto& values) { t.insert(t.end(), values.begin(), values.end()); };
  const size_t n = static_cast<size_t>(f.W) * f.H;
  std::vector<std::vector<int32_t>> months;
  const double phi = deg2rad(40);
  SectorShading sector(DaylightSteps(phi));
  uint8_t flags = 0;
  for (int m = 0; m < 12; ++m) {
    const SolarDayRec day = SolarDay(15 + kMonthStart[m], phi);
    for (int k = 0; k < day.steps; ++k) {
      ShadeHour(sector, SunPosition(day, k), f.H, "0101", flags, m, 1u << k);
      snap(Pixels(st.sftmp.get(), f.W, f.H));
      snap(st.presum);
    }
    ShadeMonthEnd(sector, m);
    const std::vector<uint32_t> hours = Pixels(st.shoras.get());
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(__builtin_popcount(hours[i]), st.pmeswhs[i]);
    snap(hours);
    snap(st.pmeswhs);
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
  for (const SDL_Surface* s : {st.sfsuma.get(), st.sfwhsinf.get(), st.sfwhscen.get(), st.sfwhssup.get(),
                               st.elev2png.get(), st.sftmp.get()})
    snap(Pixels(s));
  ShadeEndSector();
  EXPECT_EQ(st.presum, std::vector<int32_t>(n, 0));
  return t;
}

using Year = StateTest;

TEST_F(Year, BothEnginesLeaveTheSameImagesAndCounters) {
  std::mt19937_64 rng(424242);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (const bool float_family : {true, false}) {
    SCOPED_TRACE(float_family ? "float rasters" : "PNG rasters");
    Field f(23, 17);
    for (int y = -17; y < 34; ++y)
      for (int x = -23; x < 46; ++x)
        f.at(x, y) = std::floor(60 * std::sin(0.3 * x) * std::cos(0.25 * y) + 80 + 10 * u(rng));
    if (float_family) f.at(5, 5) = -3;
    const std::vector<int64_t> ref = ShadeYear(f, float_family, true);
    EXPECT_TRUE(ref == ShadeYear(f, float_family, false));
  }
}

}  // namespace
