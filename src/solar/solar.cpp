#include "solar/solar.h"

#include <cmath>

namespace {
constexpr double kPi = 3.141592653589793;
}

double deg2rad(double x) { return x * kPi / 180; }
double rad2deg(double x) { return x * 180 / kPi; }

SolarDayRec SolarDay(int32_t N, double phi) {
  SolarDayRec d;
  const double x = N * 6.283185307179586 / 365.25;
  d.decl = std::asin(0.3978 * std::sin(x - 1.4 + 0.0355 * std::sin(x - 0.0489)));
  d.A1 = std::cos(d.decl) * std::sin(phi);
  d.A2 = -std::cos(phi) * std::sin(d.decl);
  d.A3 = std::cos(d.decl);
  d.A4 = std::cos(d.decl) * std::cos(phi);
  d.A5 = std::sin(d.decl) * std::sin(phi);
  // Latitudes beyond the poles (they can come from the coordinates file)
  // give no day at all rather than a meaningless one.
  if (!std::isfinite(phi) || std::fabs(phi) > deg2rad(90.0)) return d;
  const double c = std::tan(phi) * (-std::tan(d.decl));
  if (!(std::fabs(c) <= 1.0)) return d;  // polar day or night
  const double omega = std::acos(c);
  d.daylen = 2 * rad2deg(omega) / 15;
  d.steps = static_cast<int32_t>(std::floor(d.daylen));
  d.t0 = (12 - d.daylen / 2) + (d.daylen - std::floor(d.daylen)) * 0.5 + 0.5;
  return d;
}

SunPos SunPosition(const SolarDayRec& day, int32_t k) {
  SunPos s;
  s.t = day.t0 + k;
  s.hour_angle = (s.t - 12) * 0.261799;
  s.sign = s.t > 12 ? -1 : 1;
  const double u = std::cos(s.hour_angle) * day.A1 + day.A2;
  const double v = std::sin(s.hour_angle) * day.A3;
  const double r = std::pow(u * u + v * v, 0.5);
  // At the zenith the direction is undefined and irrelevant: nothing can
  // rise above a sun at 90 degrees.
  // A quotient a rounding step beyond +-1 is clamped so acos stays defined.
  s.azimuth = r > 0 ? std::acos(std::fmax(-1.0, std::fmin(1.0, u / r))) : 0.0;
  s.elevation = std::asin(std::cos(s.hour_angle) * day.A4 + day.A5);
  return s;
}

int32_t DaylightSteps(double phi) {
  int32_t total = 0;
  for (int m = 0; m < 12; ++m) total += SolarDay(15 + kMonthStart[m], phi).steps;
  return total;
}
