// Worked examples of the ray march, each checked on both engines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/march.h"
#include "engine/shade.h"
#include "sector_builder.h"
#include "support/fixtures.h"
#include "terrain/state.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

class March : public StateTest {
 protected:
  // The installed sector's mask, after checking both engines agree on it.
  std::vector<uint8_t> Run(const SunPos& sun, int R) {
    std::vector<uint8_t> ref(static_cast<size_t>(st.proj_w) * st.proj_h), fast(ref.size());
    MarchMaskReference(sun, R, ref.data());
    Mosaic mo;
    BuildMosaic(mo, kMaxRayRange);
    MarchMaskFast(mo, sun, R, fast.data());
    EXPECT_EQ(ref, fast) << "engines disagree";
    return ref;
  }
  std::vector<uint8_t> Mask(const Field& f, const SunPos& sun, int R, uint16_t present = kAllNeighbours) {
    InstallSector(f, true, present);
    return Run(sun, R);
  }
  bool Shaded(const Field& f, int x, int y, const SunPos& sun, int R, uint16_t present = kAllNeighbours) {
    return Mask(f, sun, R, present)[static_cast<size_t>(y) * f.W + x] != 0;
  }
  int Count(const Field& f, const SunPos& sun, int R) {
    const std::vector<uint8_t> m = Mask(f, sun, R);
    return static_cast<int>(std::count_if(m.begin(), m.end(), [](uint8_t v) { return v != 0; }));
  }
};

// One obstruction of height 10 on flat ground, and whether it shades a pixel.
TEST_F(March, RayPointsNearColumnAndRowZeroAndTheFortyFiveDegreeObstruction) {
  // (column, row) per step (-0.6, -0.8) from row 0: step 1 is trunc(4.4),
  // trunc(-0.8) = (4, 0); step 2 is (3, -1), in the northern neighbour.
  const SunPos north_west = SunToward(-1, std::acos(-0.8), 0.1);
  // (-0.6, +0.8) from column 0: step 1 stays put, step 2 is (-1, H).
  const SunPos south_west = SunToward(-1, std::acos(0.8), 0.1);
  // (-0.4, 0.917) from (0, 0): (0, 0), (0, 1), then (-1, 2).
  const SunPos west = SunToward(-1, std::asin(0.4), 0.1);
  auto east = [](double deg) { return SunToward(1, kPi / 2, deg2rad(deg)); };
  const struct {
    SunPos sun;
    int W, H, px, py, ox, oy, R;
    uint16_t present;
    bool shaded;
  } cases[] = {
      {north_west, 8, 8, 5, 0, 4, 0, 2, kAllNeighbours, true},
      {north_west, 8, 8, 5, 0, 4, -1, 2, kAllNeighbours, false},  // what a floor would read
      {north_west, 8, 8, 5, 0, 3, -1, 3, kAllNeighbours, true},
      {north_west, 8, 8, 5, 0, 3, -1, 3, kAllNeighbours & ~(1u << 5), false},
      {south_west, 8, 6, 0, 5, -1, 5, 2, kAllNeighbours, false},  // a floor's step 1
      {south_west, 8, 6, 0, 5, -1, 6, 3, kAllNeighbours, true},
      {south_west, 8, 6, 0, 5, -1, 6, 3, kAllNeighbours & ~1u, false},
      {west, 8, 8, 0, 0, 0, 1, 3, kAllNeighbours, true},
      {west, 8, 8, 0, 0, -1, 1, 3, kAllNeighbours, false},
      {west, 8, 8, 0, 0, -1, 2, 3, kAllNeighbours, false},
      {west, 8, 8, 0, 0, -1, 2, 4, kAllNeighbours, true},
      // 10 up, 10 pixels due east: 45 degrees; at least R rows, as the range
      // is cut to the raster size.
      {east(44.9), 20, 12, 0, 2, 10, 2, 12, kAllNeighbours, true},
      {east(45.0), 20, 12, 0, 2, 10, 2, 12, kAllNeighbours, false},
      {east(45.1), 20, 12, 0, 2, 10, 2, 12, kAllNeighbours, false},
      {east(44.9), 20, 12, 0, 2, 10, 2, 10, kAllNeighbours, false},  // out of range
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i));
    Field f(c.W, c.H);
    f.at(c.ox, c.oy) = 10;
    EXPECT_EQ(Shaded(f, c.px, c.py, c.sun, c.R, c.present), c.shaded);
  }
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
  EXPECT_EQ(Run(sun, 8)[2 * 8], 0);
}

TEST_F(March, WhatNeverShades) {
  const SunPos low = SunToward(1, 1.0, 0.01);
  Field pit(10, 10, 5000);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) pit.at(x, y) = 0;
  EXPECT_GT(Count(pit, low, 10), 0);
  for (int R : {1, 0, -3}) EXPECT_EQ(Count(pit, low, R), 0) << "range " << R;

  const Field flat(12, 9, 500);
  for (double a : {0.0, 0.7, kPi / 2, 2.5, kPi}) EXPECT_EQ(Count(flat, SunToward(-1, a, 1e-9), 9), 0) << a;

  // Not a number never shades but does not end the ray; as the pixel's own
  // height it leaves the pixel unshaded.
  const SunPos east = SunToward(1, kPi / 2, 0.1);
  Field f(12, 12);
  f.at(3, 1) = kNaN;
  f.at(6, 1) = 100;
  EXPECT_TRUE(Shaded(f, 0, 1, east, 12));
  f.at(0, 1) = kNaN;
  EXPECT_FALSE(Shaded(f, 0, 1, east, 12));

  // Negative samples count as 0, even for a sun below the horizon.
  const SunPos below = SunToward(1, kPi / 2, -0.5);
  Field neg(12, 12, -50);
  neg.at(0, 1) = -80;
  EXPECT_FALSE(Shaded(neg, 0, 1, below, 12));
  neg.at(5, 1) = 1;
  EXPECT_TRUE(Shaded(neg, 0, 1, below, 12));
}

}  // namespace
