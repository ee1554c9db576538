#include "catalogue/heights.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "catalogue/neighbours.h"
#include "solar/solar.h"
#include "platform/platform.h"
#include "terrain/raster.h"

namespace {

// ESRA clear-sky beam model (Kasten-Young air mass), day 0 of the year, Linke turbidity 3.
constexpr double kSolarConstant = 1367;
constexpr double kScaleHeight = 8434.5;
constexpr double kLinke = 3.0;
constexpr double kLeftOutShare = 0.1;

int32_t ClampToInt32(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// A height as a whole number: PNG pixel values as they are, TIFF samples
// truncated toward zero. Samples that are not numbers read as 0 and huge
// ones saturate, so no conversion is undefined.
int32_t IntHeight(const SDL_Surface* surface, const FloatRaster* raster, int32_t x, int32_t y) {
  if (st.cu_ext != 1) return static_cast<int32_t>(SDLGetPixel(surface, x, y));
  const float v = TIFGetPixel(raster, x, y);
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0f) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// hmax / tan g truncated toward zero. A quotient that is not finite or
// is far out of range saturates at a value that the limits turn into 120;
// a not-a-number (0 / 0) counts as out of range too.
int64_t RangeOf(int32_t hmax, double g) {
  constexpr double kHuge = 1e12;
  const double q = hmax / std::tan(g);
  if (std::isnan(q) || q >= kHuge) return static_cast<int64_t>(kHuge);
  if (q <= -kHuge) return -static_cast<int64_t>(kHuge);
  return static_cast<int64_t>(q);
}

// The height record of a sector, or null when its name is not listed.
const HeightRecord* RecordOf(const std::string& col, int32_t row) {
  const int idx = platform().ListFindExact(NeighbourName(col, row, st.admext));
  if (idx < 0 || static_cast<size_t>(idx) >= st.prmaxheight.size()) return nullptr;
  return &st.prmaxheight[static_cast<size_t>(idx)];
}

// Direct irradiance on a horizontal surface of a sun at elevation gamma
// (radians) whose sine is s, at pressure ratio p.
double HorizontalBeam(double gamma, double s, double p) {
  const double eps = 1 + 0.03344 * std::cos(0.0 - 0.048869);
  // Refraction correction of the elevation.
  const double gt = gamma + 0.061359 * (0.1594 + 1.123 * gamma + 0.065656 * gamma * gamma) /
                                (1 + 28.9344 * gamma + 277.3971 * gamma * gamma);
  // Relative optical air mass.
  const double m = p / (std::sin(gt) + 0.50572 * std::pow(rad2deg(gt) + 6.07995, -1.6364));
  // Rayleigh optical thickness.
  const double dr = m <= 20 ? 1 / (6.6296 + 1.7513 * m - 0.1202 * m * m + 0.0065 * m * m * m -
                                   0.00013 * m * m * m * m)
                            : 1 / (10.4 + 0.718 * m);
  const double beam = kSolarConstant * eps * std::exp(-0.8662 * kLinke * m * dr);
  return beam * s;
}

// Elevation of the reference day's step at which the early and late steps,
// paired from both ends of the day, pass a tenth of its irradiance. False
// when the day has no such step.
bool ReferenceElevation(double z, double& g) {
  const SolarDayRec day = SolarDay(0, deg2rad(st.geoyi));
  const int32_t k = day.steps;
  if (k <= 0) return false;
  const double p = std::exp(-z / kScaleHeight);
  std::vector<double> gamma(static_cast<size_t>(k)), e(static_cast<size_t>(k));
  double total = 0;
  for (int32_t i = 0; i < k; ++i) {
    const SunPos sun = SunPosition(day, i);
    const double s = std::cos(sun.hour_angle) * day.A4 + day.A5;
    gamma[i] = std::asin(s);
    e[i] = HorizontalBeam(gamma[i], s, p);
    total = total + e[i];
  }
  double acc = 0;
  for (int32_t i = 0; i < k; ++i) {
    if (e[i] + acc + e[k - 1 - i] > kLeftOutShare * total) {
      g = gamma[i];
      return true;
    }
    acc = acc + e[i] + e[k - 1 - i];
  }
  return false;
}

// Whether a step of a neighbour at (x, y) of its own raster, at distance b,
// reaches past the edges that face the centre. `cell` is the flag index.
bool ReachesCentre(int cell, int64_t x, int64_t y, int64_t b) {
  const int64_t w = st.proj_w, h = st.proj_h;
  const int colpos = CellColumn(cell), rowpos = CellRow(cell);
  // Left neighbours face the centre with their right edge, right ones with
  // their left edge; lower ones (previous row) with their top edge, upper
  // ones with their bottom edge.
  const bool xok = colpos == 0 ? x + b > w : colpos == 2 ? x - b < 0 : true;
  const bool yok = rowpos == 0 ? y - b < 0 : rowpos == 2 ? y + b > h : true;
  return xok && yok;
}

}  // namespace

void SearchMaxH(HeightRecord& record, const SDL_Surface* surface, const FloatRaster* raster) {
  // Differences are taken in 64 bits: TIFF heights may span the whole
  // 32-bit range.
  int64_t prev = IntHeight(surface, raster, 0, 0);
  int64_t count = 0, sum = 0, hmax = 0;
  int32_t bx = 0, by = 0;
  for (int32_t y = 0; y < st.proj_h; ++y) {
    for (int32_t x = 0; x < st.proj_w; ++x) {
      const int64_t h = IntHeight(surface, raster, x, y);
      const int64_t d = h - prev;
      if (d > 3) {
        ++count;
        sum += d;
        if (d > hmax) {
          hmax = d;
          bx = x;
          by = y;
        }
      }
      prev = h;
    }
  }
  // Without any step the mean has no divisor; nothing but the diagnostic
  // line reads it.
  const int32_t mean = count ? ClampToInt32(sum / count) : 0;
  std::printf("hmax: %d en x: %d, y: %d Media de alturas: %d\n", ClampToInt32(hmax), bx, by, mean);
  record.hmax = ClampToInt32(hmax);
  record.x = bx;
  record.y = by;
  record.mean = mean;
}

void LoadHeight(const std::string& col, int32_t row, const SDL_Surface* surface, const FloatRaster* raster) {
  const int idx = platform().ListFindExact(NeighbourName(col, row, st.admext));
  if (idx < 0 || static_cast<size_t>(idx) >= st.prmaxheight.size()) return;
  HeightRecord& slot = st.prmaxheight[static_cast<size_t>(idx)];
  if (slot.hmax != 0) return;  // computed once per scan
  if (st.cu_ext == 1 ? raster == nullptr : surface == nullptr) return;
  HeightRecord rec;
  SearchMaxH(rec, surface, raster);
  if (rec.hmax == 0) rec.hmax = 1;
  slot = rec;
}

int32_t SelecRango() {
  const SDL_Surface* centre = st.sfdata.get();
  const FloatRaster* centre_tif = st.sfdata_tif.get();
  const bool have_centre = st.cu_ext == 1 ? centre_tif != nullptr : centre != nullptr;
  const double z = have_centre ? IntHeight(centre, centre_tif, 0, 0) : 0;

  double g = 0;
  int64_t r = kMaxRayRange;
  if (ReferenceElevation(z, g)) {
    const HeightRecord* c = RecordOf(CellColumnCode(kCentreCell), CellRowNumber(kCentreCell));
    r = RangeOf(c ? c->hmax : 0, g);
    for (int cell : kNeighbourCells) {
      if (st.matflgarea[cell] != 1) continue;
      const HeightRecord* n = RecordOf(CellColumnCode(cell), CellRowNumber(cell));
      if (!n) continue;
      const int64_t b = RangeOf(n->hmax, g);
      if (ReachesCentre(cell, n->x, n->y, b) && b > r) r = b;
    }
  }
  std::printf("Rango Calculado= %d\n", ClampToInt32(r));

  if (r > st.proj_w) r = st.proj_w;
  if (r > st.proj_h) r = st.proj_h;
  if (r > kMaxRayRange || r < 1) r = kMaxRayRange;
  std::printf("Rango Final= %d\n", static_cast<int32_t>(r));
  return static_cast<int32_t>(r);
}
