#include <gtest/gtest.h>

#include <cmath>

#include "solar/solar.h"

namespace {

int Steps(double lat_deg, int m) { return SolarDay(15 + kMonthStart[m], deg2rad(lat_deg)).steps; }

TEST(Solar, StepCountsAtKnownLatitudes) {
  const struct {
    double lat;
    int months[12];
    int year;
  } cases[] = {{40, {9, 10, 11, 13, 14, 14, 14, 13, 12, 11, 9, 9}, 139},
               {70, {0, 6, 11, 15, 21, 0, 0, 17, 13, 8, 3, 0}, 94},  // polar nights and days
               {0, {12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12}, 144}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lat);
    for (int m = 0; m < 12; ++m) EXPECT_EQ(Steps(c.lat, m), c.months[m]) << "month " << m;
    EXPECT_EQ(DaylightSteps(deg2rad(c.lat)), c.year);
  }
  EXPECT_DOUBLE_EQ(SolarDay(15, 0.0).t0, 6.5);
  EXPECT_EQ(DaylightSteps(deg2rad(-33.9)), 138);
  EXPECT_EQ(Steps(-33.9, 5), 9);
  EXPECT_DOUBLE_EQ(SolarDay(166, deg2rad(-33.9)).t0, 8.0);
  for (double lat : {90.5, -91.0, 500.0, double(NAN), double(INFINITY), -double(INFINITY)})
    EXPECT_EQ(DaylightSteps(deg2rad(lat)), 0) << lat;
}

TEST(Solar, SunPositionsAtFortyInJuneAndJanuary) {
  const SolarDayRec d = SolarDay(166, deg2rad(40));
  EXPECT_NEAR(rad2deg(d.decl), 23.308, 5e-4);
  ASSERT_EQ(d.steps, 14);
  EXPECT_DOUBLE_EQ(d.t0, 5.5);
  const SunPos first = SunPosition(d, 0), before = SunPosition(d, 6), after = SunPosition(d, 7),
               last = SunPosition(d, 13);
  EXPECT_EQ(first.sign, 1);
  EXPECT_NEAR(rad2deg(first.azimuth), 112.66, 5e-3);
  EXPECT_NEAR(rad2deg(first.elevation), 9.35, 5e-3);
  EXPECT_DOUBLE_EQ(before.t, 11.5);
  EXPECT_EQ(before.sign, 1);
  EXPECT_NEAR(rad2deg(before.azimuth), 23.02, 5e-3);
  EXPECT_EQ(after.sign, -1);
  EXPECT_NEAR(rad2deg(after.elevation), 72.15, 5e-3);
  EXPECT_DOUBLE_EQ(last.t, 18.5);
  EXPECT_EQ(last.sign, -1);
  EXPECT_NEAR(rad2deg(last.azimuth), 112.66, 5e-3);

  // January: an odd step count puts a step at noon, with the plus sign.
  const SolarDayRec jan = SolarDay(15, deg2rad(40));
  EXPECT_NEAR(rad2deg(jan.decl), -21.134, 5e-4);
  ASSERT_EQ(jan.steps, 9);
  EXPECT_DOUBLE_EQ(SunPosition(jan, 4).t, 12.0);
  EXPECT_EQ(SunPosition(jan, 4).sign, 1);
}

}  // namespace
