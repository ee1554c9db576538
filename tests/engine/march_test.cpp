// Worked examples of the ray march, each checked on both engines.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/march.h"
#include "engine/shade.h"
#include "sector_builder.h"
#include "support/fixtures.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

constexpr double kPi = 3.141592653589793;

class March : public StateTest {
 protected:
  // Installs the field and returns whether pixel (x, y) is shaded, after
  // checking that both engines agree on the whole mask.
  bool Shaded(const Field& f, int x, int y, const SunPos& sun, int R, uint16_t present = kAllNeighbours,
              bool float_family = true) {
    InstallSector(f, float_family, present);
    const size_t n = static_cast<size_t>(f.W) * f.H;
    std::vector<uint8_t> ref(n), fast(n);
    MarchMaskReference(sun, R, ref.data());
    Mosaic mo;
    BuildMosaic(mo, 120);
    MarchMaskFast(mo, sun, R, fast.data());
    EXPECT_EQ(ref, fast) << "engines disagree";
    return ref[static_cast<size_t>(y) * f.W + x] != 0;
  }
  int CountShaded(const Field& f, const SunPos& sun, int R) {
    InstallSector(f, true);
    std::vector<uint8_t> ref(static_cast<size_t>(f.W) * f.H), fast(ref.size());
    MarchMaskReference(sun, R, ref.data());
    Mosaic mo;
    BuildMosaic(mo, 120);
    MarchMaskFast(mo, sun, R, fast.data());
    EXPECT_EQ(ref, fast);
    int n = 0;
    for (uint8_t v : ref) n += v;
    return n;
  }
};

// Direction (column, row) per step of (-0.6, -0.8): sigma = -1, A = acos(-0.8).
const SunPos kNorthWest = SunToward(-1, std::acos(-0.8), 0.1);
// (-0.6, +0.8).
const SunPos kSouthWest = SunToward(-1, std::acos(0.8), 0.1);

TEST_F(March, RayFromRowZeroTruncatesTowardZero) {
  // Pixel (5, 0): step 1 is trunc(4.4), trunc(-0.8) = (4, 0) in the sector;
  // step 2 is (3, -1), row H-1 of the northern neighbour.
  Field f(8, 8);
  f.at(4, 0) = 10;
  EXPECT_TRUE(Shaded(f, 5, 0, kNorthWest, 2));
  f = Field(8, 8);
  f.at(4, -1) = 10;  // what a floor would read at step 1
  EXPECT_FALSE(Shaded(f, 5, 0, kNorthWest, 2));
  f = Field(8, 8);
  f.at(3, -1) = 10;
  EXPECT_TRUE(Shaded(f, 5, 0, kNorthWest, 3));
  EXPECT_FALSE(Shaded(f, 5, 0, kNorthWest, 3, kAllNeighbours & ~(1u << 5)));
}

TEST_F(March, RayFromColumnZeroReachesTheSouthWestCorner) {
  // Pixel (0, H-1): step 1 stays on the pixel itself (trunc(-0.6) = 0),
  // step 2 is (-1, H): sent1 at (W-1, 0).
  const int H = 6;
  Field f(8, H);
  f.at(-1, H - 1) = 10;  // western neighbour: a floor's step 1
  EXPECT_FALSE(Shaded(f, 0, H - 1, kSouthWest, 2));
  f = Field(8, H);
  f.at(-1, H) = 10;
  EXPECT_TRUE(Shaded(f, 0, H - 1, kSouthWest, 3));
  EXPECT_FALSE(Shaded(f, 0, H - 1, kSouthWest, 3, kAllNeighbours & ~1u));
}

TEST_F(March, WestwardRayStaysOnColumnZeroUntilItsOffsetReachesMinusOne) {
  // Direction (-0.4, 0.917): from (0, 0) the points are (0, 0), (0, 1),
  // then (-1, 2) in the western neighbour.
  const SunPos sun = SunToward(-1, std::asin(0.4), 0.1);
  Field f(8, 8);
  f.at(0, 1) = 10;
  EXPECT_TRUE(Shaded(f, 0, 0, sun, 3));
  f = Field(8, 8);
  f.at(-1, 1) = 10;
  EXPECT_FALSE(Shaded(f, 0, 0, sun, 3));
  f = Field(8, 8);
  f.at(-1, 2) = 10;
  EXPECT_FALSE(Shaded(f, 0, 0, sun, 3));
  EXPECT_TRUE(Shaded(f, 0, 0, sun, 4));
}

TEST_F(March, MissingNeighbourEndsTheRayBeforeAPresentOne) {
  // From (0, 2) toward (-0.8, -0.6) the ray enters the western neighbour at
  // step 2 and the north-western one at step 5, where a wall stands.
  const SunPos sun = SunToward(-1, std::acos(-0.6), 0.05);
  Field f(8, 8);
  for (int y = -8; y < 0; ++y)
    for (int x = -8; x < 0; ++x) f.at(x, y) = 1000;
  EXPECT_TRUE(Shaded(f, 0, 2, sun, 8));
  EXPECT_FALSE(Shaded(f, 0, 2, sun, 8, kAllNeighbours & ~(1u << 1)));
  // A neighbour flagged present but not loaded counts as missing too.
  InstallSector(f, true);
  st.sent2_tif.reset();
  std::vector<uint8_t> ref(64), fast(64);
  MarchMaskReference(sun, 8, ref.data());
  Mosaic mo;
  BuildMosaic(mo, 120);
  MarchMaskFast(mo, sun, 8, fast.data());
  EXPECT_EQ(ref[2 * 8], 0);
  EXPECT_EQ(ref, fast);
}

TEST_F(March, FortyFiveDegreeObstruction) {
  // 10 units up, 10 pixel steps due east: atan(10/10) is 45 degrees.
  Field f(20, 12);  // at least R rows: the range is cut to the raster size
  f.at(10, 2) = 10;
  auto east = [](double deg) { return SunToward(1, kPi / 2, deg2rad(deg)); };
  EXPECT_TRUE(Shaded(f, 0, 2, east(44.9), 12));
  EXPECT_FALSE(Shaded(f, 0, 2, east(45.0), 12));
  EXPECT_FALSE(Shaded(f, 0, 2, east(45.1), 12));
  EXPECT_FALSE(Shaded(f, 0, 2, east(44.9), 10));  // the range stops short of it
}

TEST_F(March, RangeOfOneOrLessNeverShades) {
  Field f(10, 10);
  for (float& v : f.v) v = 5000;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) f.at(x, y) = 0;
  const SunPos low = SunToward(1, 1.0, 0.01);
  EXPECT_GT(CountShaded(f, low, 10), 0);
  for (int R : {1, 0, -3}) EXPECT_EQ(CountShaded(f, low, R), 0) << R;
}

TEST_F(March, SameHeightNeverShades) {
  Field f(12, 9, 500);
  for (double a : {0.0, 0.7, kPi / 2, 2.5, kPi})
    EXPECT_EQ(CountShaded(f, SunToward(-1, a, 1e-9), 9), 0) << a;
}

TEST_F(March, NotANumberNeverShadesButDoesNotEndTheRay) {
  const SunPos east = SunToward(1, kPi / 2, 0.1);
  Field f(12, 12);
  f.at(3, 1) = std::numeric_limits<float>::quiet_NaN();
  f.at(6, 1) = 100;
  EXPECT_TRUE(Shaded(f, 0, 1, east, 12));
  f.at(0, 1) = std::numeric_limits<float>::quiet_NaN();  // the pixel itself
  EXPECT_FALSE(Shaded(f, 0, 1, east, 12));
}

TEST_F(March, NegativeSamplesAlongTheRayNeverShade) {
  const SunPos east = SunToward(1, kPi / 2, -0.5);  // even a sun below the horizon
  Field f(12, 12, -50);
  f.at(0, 1) = -80;  // the pixel counts as 0, its neighbours stay below it
  EXPECT_FALSE(Shaded(f, 0, 1, east, 12));
  f.at(5, 1) = 1;
  EXPECT_TRUE(Shaded(f, 0, 1, east, 12));
}

// The mosaic's layout is what lets one column offset serve a whole row: a
// west-going ray truncates toward zero, so column 0 is stored twice.
TEST_F(March, MosaicStoresColumnZeroTwiceAndMissingCellsAsInfinity) {
  Field f(6, 5);
  for (int y = -5; y < 10; ++y)
    for (int x = -6; x < 12; ++x) f.at(x, y) = static_cast<float>(100 * (x + 6) + y + 5);
  InstallSector(f, true, kAllNeighbours & ~(1u << 2));  // no north-western neighbour
  Mosaic mo;
  BuildMosaic(mo, 4);
  ASSERT_EQ(mo.pad, 4);
  for (int Y = -4; Y < 9; ++Y) {
    EXPECT_EQ(mo.Row(Y)[0], mo.Row(Y)[-1]) << Y;
    for (int X = 0; X < 10; ++X) EXPECT_EQ(mo.Row(Y)[X], f.at(X, Y)) << X << "," << Y;
    for (int X = -3; X < 0; ++X) {
      const float want = Y < 0 ? std::numeric_limits<float>::infinity() : f.at(X, Y);
      EXPECT_EQ(mo.Row(Y)[X - 1], want) << X << "," << Y;
    }
  }
  // Row maxima leave the missing cells out.
  EXPECT_EQ(mo.RowMax(-1), f.at(9, -1));
}

}  // namespace
