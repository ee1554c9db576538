#include <gtest/gtest.h>

#include <cmath>

#include "solar/solar.h"

namespace {

TEST(Solar, StepCountsAtKnownLatitudes) {
  const struct {
    double lat;
    int months[12];
    int year;
  } cases[] = {{40, {9, 10, 11, 13, 14, 14, 14, 13, 12, 11, 9, 9}, 139},
               {70, {0, 6, 11, 15, 21, 0, 0, 17, 13, 8, 3, 0}, 94},  // polar nights and days
               {0, {12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12}, 144}};
  for (const auto& c : cases) {
    for (int m = 0; m < 12; ++m)
      EXPECT_EQ(SolarDay(15 + kMonthStart[m], deg2rad(c.lat)).steps, c.months[m]) << c.lat << " month " << m;
    EXPECT_EQ(DaylightSteps(deg2rad(c.lat)), c.year) << c.lat;
  }
  EXPECT_EQ(DaylightSteps(deg2rad(-33.9)), 138);
  EXPECT_EQ(SolarDay(15 + kMonthStart[5], deg2rad(-33.9)).steps, 9);
  for (double lat : {90.5, -91.0, 500.0, double(NAN), double(INFINITY), -double(INFINITY)})
    EXPECT_EQ(DaylightSteps(deg2rad(lat)), 0) << lat;
}

// Hour, azimuth, elevation and side of the sky at latitude 40 (the noon
// elevation is 90 - 40 + declination): an odd step count (January) puts a
// step at noon, with the plus sign.
TEST(Solar, SunPositionsAtFortyInJuneAndJanuary) {
  const SolarDayRec june = SolarDay(166, deg2rad(40)), jan = SolarDay(15, deg2rad(40));
  const struct {
    const SolarDayRec& day;
    int step;
    double t, azimuth, elevation;
    int sign;
  } cases[] = {{june, 0, 5.5, 112.66, 9.35, 1},  {june, 6, 11.5, 23.02, 72.15, 1}, {june, 7, 12.5, 23.02, 72.15, -1},
               {june, 13, 18.5, 112.66, 9.35, -1}, {jan, 4, 12.0, 0.0, 28.87, 1}};
  for (const auto& c : cases) {
    const SunPos p = SunPosition(c.day, c.step);
    EXPECT_DOUBLE_EQ(p.t, c.t) << c.step;
    EXPECT_NEAR(rad2deg(p.azimuth), c.azimuth, 5e-3) << c.step;
    EXPECT_NEAR(rad2deg(p.elevation), c.elevation, 5e-3) << c.step;
    EXPECT_EQ(p.sign, c.sign) << c.step;
  }
}

}  // namespace
