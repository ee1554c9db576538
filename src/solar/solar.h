// The sun's path on the 15th of each month at the project latitude.
// Angles in radians, times in hours of local solar time (12.0 = noon).
#pragma once

#include <cstdint>

double deg2rad(double x);
double rad2deg(double x);

// Days of a non-leap year before the first of each month.
inline constexpr int32_t kMonthStart[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

struct SolarDayRec {
  double decl = 0;     // declination
  double daylen = 0;   // day length, hours
  int32_t steps = 0;   // whole hour steps evaluated, 0..24
  double t0 = 0;       // time of the first step
  double A1 = 0, A2 = 0, A3 = 0, A4 = 0, A5 = 0;
};

struct SunPos {
  double t = 0;           // the step's time
  double hour_angle = 0;
  int32_t sign = 1;       // +1 morning (and noon), -1 afternoon
  double azimuth = 0;     // 0..pi from the +row (south) direction
  double elevation = 0;
};

// Day of the year N, latitude phi in radians. A polar day or night, or a
// latitude that is not a finite value within -90..90 degrees, has no steps.
SolarDayRec SolarDay(int32_t N, double phi);
// Sun of step k (0 <= k < day.steps).
SunPos SunPosition(const SolarDayRec& day, int32_t k);
// Sum of the steps of the twelve representative days.
int32_t DaylightSteps(double phi);
