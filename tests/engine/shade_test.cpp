// Recording, encodings, warnings, the elevation copy and the sector
// sequence of calls, on both engines.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/accumulate.h"
#include "engine/shade.h"
#include "engine/solar.h"
#include "sector_builder.h"
#include "support/fixtures.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

constexpr double kPi = 3.141592653589793;
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

TEST_F(Record, HourMaskAndCountsOfOneMonth) {
  for (uint32_t b : {1u, 2u, 8u}) RecordShadow(2, 1, 0, b, 139);  // steps 0, 1 and 3
  EXPECT_EQ(SDLGetPixel(st.shoras.get(), 2, 1), 0b1011u);
  EXPECT_EQ(st.pmeswhs[1 * 4 + 2], 3);
  EXPECT_EQ(st.presum[1 * 4 + 2], 3);
  EXPECT_EQ(SDLGetPixel(st.sfsuma.get(), 2, 1), 3u);
  EXPECT_EQ(SDLGetPixel(st.sfwhsinf.get(), 2, 1), 3u);
  EXPECT_EQ(SDLGetPixel(st.shoras.get(), 1, 1), 0u);
}

TEST_F(Record, AprilCountReplacesOnlyItsOwnField) {
  for (int i = 0; i < 5; ++i) RecordShadow(0, 0, 3, 1u << i, 139);
  EXPECT_EQ(SDLGetPixel(st.sfwhsinf.get(), 0, 0), 0x28000u);
  // January to March already hold counts: they stay.
  SDLPutPixel(st.sfwhsinf.get(), 1, 0, 0x7FFF);
  for (int i = 0; i < 5; ++i) RecordShadow(1, 0, 3, 1u << i, 139);
  EXPECT_EQ(SDLGetPixel(st.sfwhsinf.get(), 1, 0), 0x7FFFu | 0x28000u);
  // December goes to bits 15-19 of the third image; the others stay 0.
  st.pmeswhs.assign(16, 0);
  RecordShadow(3, 3, 11, 1, 139);
  EXPECT_EQ(SDLGetPixel(st.sfwhssup.get(), 3, 3), 1u << 15);
  EXPECT_EQ(SDLGetPixel(st.sfwhscen.get(), 3, 3), 0u);
}

TEST_F(Record, GraphColoursOfTheAnnualShare) {
  uint32_t c = 0;
  ASSERT_TRUE(GraphColour(1, 139, c));
  EXPECT_EQ(c, 0xFF0000u);
  ASSERT_TRUE(GraphColour(70, 139, c));
  EXPECT_EQ(c, 0x00FF8Eu);
  ASSERT_TRUE(GraphColour(138, 139, c));
  EXPECT_EQ(c, 0x000000u);
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

TEST(ColourRamp, ThirtyThreeRunsFromBlackToRed) {
  int runs = 1;
  for (int i = 1; i < 100; ++i) runs += kColourRamp[i] != kColourRamp[i - 1];
  EXPECT_EQ(runs, 33);
  EXPECT_EQ(kColourRamp[0], 0x000000u);
  EXPECT_EQ(kColourRamp[3], 0x1D001Cu);
  EXPECT_EQ(kColourRamp[49], 0x00FF8Eu);
  EXPECT_EQ(kColourRamp[95], 0xFF2400u);
  EXPECT_EQ(kColourRamp[96], 0xFF0000u);
  EXPECT_EQ(kColourRamp[99], 0xFF0000u);
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
  InstallSector(f, true);
  ShadeBeginSector(139);
  uint8_t flags = 0;
  const SunPos sun = SunToward(1, 1.0, 0.5);
  ShadeHour(sun, 6, "0312", flags, 0, 1);
  ShadeHour(sun, 6, "0312", flags, 0, 2);
  const std::vector<std::string> want = {
      "WARNING!! Values under 0 in 0312. The app will automatically fix them to 0",
      "WARNING!! Unexpected High values of elevations in 0312. Please check if your data are in the "
      "supported format"};
  EXPECT_EQ(plat.console(), want);
  EXPECT_EQ(flags, 3);
  EXPECT_EQ(st.glbwarning, 1);
  EXPECT_EQ(SDLGetPixel(st.elev2png.get(), 3, 1), 0u);
  EXPECT_EQ(SDLGetPixel(st.elev2png.get(), 1, 2), 9000u);
  EXPECT_EQ(SDLGetPixel(st.elev2png.get(), 0, 0), 8800u);
  EXPECT_EQ(SDLGetPixel(st.elev2png.get(), 2, 0), 0u);
  ShadeEndSector();

  // The high value first this time; a set flag keeps its line back.
  f.at(3, 1) = 9000;
  f.at(1, 2) = -5;
  InstallSector(f, true);
  ShadeBeginSector(139);
  flags = 1;
  st.glbwarning = 0;
  ShadeHour(sun, 6, "0313", flags, 0, 1);
  ASSERT_EQ(plat.console().size(), 3u);
  EXPECT_EQ(plat.console()[2].rfind("WARNING!! Unexpected High values of elevations in 0313.", 0), 0u);
  EXPECT_EQ(st.glbwarning, 1);
}

TEST_P(Sector, ElevationImageSaturatesWithoutOverflow) {
  Field f(6, 6, 0);
  f.at(0, 0) = kInf;
  f.at(1, 0) = 3e9f;
  f.at(2, 0) = 1234.9f;
  f.at(3, 0) = -kInf;
  f.at(4, 0) = kNaN;
  f.at(5, 0) = 70000.5f;
  InstallSector(f, true);
  ShadeBeginSector(139);
  uint8_t flags = 0;
  ShadeHour(SunToward(1, 1.0, 0.5), 6, "0001", flags, 0, 1);
  // The image keeps the low 24 bits of the signed 32-bit value.
  EXPECT_EQ(SDLGetPixel(st.elev2png.get(), 0, 0), 0xFFFFFFu);
  EXPECT_EQ(SDLGetPixel(st.elev2png.get(), 1, 0), 0xFFFFFFu);
  EXPECT_EQ(SDLGetPixel(st.elev2png.get(), 2, 0), 1234u);
  EXPECT_EQ(SDLGetPixel(st.elev2png.get(), 3, 0), 0u);
  EXPECT_EQ(SDLGetPixel(st.elev2png.get(), 4, 0), 0u);
  EXPECT_EQ(SDLGetPixel(st.elev2png.get(), 5, 0), 70000u);
}

TEST_P(Sector, SmallSectorDrawsOnlyTheTopLeftOfTheGraph) {
  Field f(120, 120, 0);
  for (float& v : f.v) v = 3000;  // walls all round
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 120; ++x) f.at(x, y) = 0;
  InstallSector(f, false);
  ShadeBeginSector(139);
  uint8_t flags = 0;
  ShadeHour(SunToward(1, 0.3, 0.2), 120, "0001", flags, 0, 1);
  const std::vector<uint32_t> g = Pixels(st.sftmp.get());
  int inside = 0, outside = 0;
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 600; ++x) (x < 120 && y < 120 ? inside : outside) += g[y * 600 + x] != 0;
  int shaded = 0;
  for (int32_t a : st.presum) shaded += a > 0;
  EXPECT_GT(shaded, 0);
  EXPECT_EQ(inside, shaded);
  EXPECT_EQ(outside, 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, Sector, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& engine) {
                           return engine.param ? "Reference" : "Fast";
                         });

// What a sector-year leaves behind, snapshot at the points the run reads it.
struct YearTrace {
  std::vector<std::vector<uint32_t>> graph;   // the sector's part of sftmp after every step
  std::vector<uint32_t> whole_graph;          // all of sftmp at the end
  std::vector<std::vector<int32_t>> presum;   // after every step
  std::vector<std::vector<uint32_t>> shoras;  // at every month end
  std::vector<int32_t> month_counts;          // pmeswhs at every month end, all months
  std::vector<uint32_t> suma, inf, cen, sup, elev;
  std::vector<int32_t> presum_after;          // after ShadeEndSector
};

YearTrace ShadeYear(const Field& f, bool float_family, uint16_t present, double lat, int R, bool reference) {
  st.reference_engine = reference;
  InstallSector(f, float_family, present);
  YearTrace t;
  const double phi = deg2rad(lat);
  const int32_t S_tot = DaylightSteps(phi);
  ShadeBeginSector(S_tot);
  uint8_t flags = 0;
  for (int m = 0; m < 12; ++m) {
    const SolarDayRec day = SolarDay(15 + kMonthStart[m], phi);
    uint32_t b = 1;
    for (int k = 0; k < day.steps; ++k, b <<= 1) {
      ShadeHour(SunPosition(day, k), R, "0101", flags, m, b);
      t.graph.push_back(Pixels(st.sftmp.get(), f.W, f.H));
      t.presum.push_back(st.presum);
    }
    ShadeMonthEnd(m);
    t.shoras.push_back(Pixels(st.shoras.get()));
    t.month_counts.insert(t.month_counts.end(), st.pmeswhs.begin(), st.pmeswhs.end());
    ShadeClearMonth();
    EXPECT_EQ(Pixels(st.shoras.get()), std::vector<uint32_t>(st.presum.size(), 0u));
  }
  ShadeYearEnd();
  t.suma = Pixels(st.sfsuma.get());
  t.inf = Pixels(st.sfwhsinf.get());
  t.cen = Pixels(st.sfwhscen.get());
  t.sup = Pixels(st.sfwhssup.get());
  t.elev = Pixels(st.elev2png.get());
  t.whole_graph = Pixels(st.sftmp.get());
  ShadeEndSector();
  t.presum_after = st.presum;
  return t;
}

class Year : public StateTest {};

TEST_F(Year, BothEnginesLeaveTheSameImagesAndCounters) {
  std::mt19937_64 rng(424242);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (int variant = 0; variant < 2; ++variant) {
    const bool float_family = variant == 0;
    SCOPED_TRACE(float_family ? "float rasters" : "PNG rasters");
    Field f(23, 17);
    for (int y = -17; y < 34; ++y)
      for (int x = -23; x < 46; ++x)
        f.at(x, y) = std::floor(60 * std::sin(0.3 * x) * std::cos(0.25 * y) + 80 + 10 * u(rng));
    if (float_family) f.at(5, 5) = -3;
    const uint16_t present = kAllNeighbours & ~(1u << 7);
    const YearTrace ref = ShadeYear(f, float_family, present, 40, 17, true);
    const YearTrace fast = ShadeYear(f, float_family, present, 40, 17, false);
    ASSERT_EQ(ref.graph.size(), 139u);
    EXPECT_TRUE(ref.graph == fast.graph);
    EXPECT_TRUE(ref.whole_graph == fast.whole_graph);
    EXPECT_TRUE(ref.presum == fast.presum);
    EXPECT_TRUE(ref.shoras == fast.shoras);
    EXPECT_EQ(ref.month_counts, fast.month_counts);
    EXPECT_EQ(ref.suma, fast.suma);
    EXPECT_EQ(ref.inf, fast.inf);
    EXPECT_EQ(ref.cen, fast.cen);
    EXPECT_EQ(ref.sup, fast.sup);
    EXPECT_EQ(ref.elev, fast.elev);
    EXPECT_EQ(fast.presum_after, std::vector<int32_t>(23 * 17, 0));

    // The encodings agree with one another: the annual count is the sum of
    // the twelve packed fields, each the month's number of hour bits.
    const size_t n = ref.suma.size();
    int64_t total = 0;
    for (size_t i = 0; i < n; ++i) {
      int32_t sum = 0;
      for (int m = 0; m < 12; ++m) {
        const uint32_t packed = m < 4 ? ref.inf[i] : (m < 8 ? ref.cen[i] : ref.sup[i]);
        const int32_t c = static_cast<int32_t>(packed >> (5 * (m % 4)) & 31);
        EXPECT_EQ(c, __builtin_popcount(ref.shoras[m][i]));
        EXPECT_EQ(c, ref.month_counts[m * n + i]);
        sum += c;
      }
      EXPECT_EQ(static_cast<uint32_t>(sum), ref.suma[i]);
      total += sum;
    }
    EXPECT_GT(total, 0);
  }
}

}  // namespace
