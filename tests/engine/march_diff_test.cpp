// The fast march against the reference, mask for mask, on random
// terrains, neighbourhoods, ranges, latitudes and awkward sun directions,
// with every vector kernel this processor has and 1 to 4 threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/march.h"
#include "solar/solar.h"
#include "sector_builder.h"
#include "support/fixtures.h"
#include "terrain/state.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kInf = std::numeric_limits<float>::infinity();

enum class Kind { Rough, Flat, Spikes, Hills, Terraces };

Field MakeTerrain(std::mt19937_64& rng, int W, int H, Kind kind, bool float_family) {
  Field f(W, H);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double amp = 1 + u(rng) * (u(rng) < 0.2 ? 20000 : 400);
  const double base = u(rng) < 0.5 ? 0 : u(rng) * 3000;
  double kx[3], ky[3], ph[3];
  for (int i = 0; i < 3; ++i) kx[i] = (u(rng) - 0.5) * 0.6, ky[i] = (u(rng) - 0.5) * 0.6, ph[i] = u(rng) * 6.28;
  for (int y = -H; y < 2 * H; ++y)
    for (int x = -W; x < 2 * W; ++x) {
      double h = base;
      if (kind == Kind::Rough) h += u(rng) * amp;
      if (kind == Kind::Spikes) h += u(rng) < 0.03 ? u(rng) * amp * 3 : u(rng) * 2;
      if (kind == Kind::Terraces) h += std::floor(u(rng) * 4) * std::floor(amp / 8);
      if (kind == Kind::Hills)
        for (int i = 0; i < 3; ++i) h += amp / 3 * (1 + std::sin(kx[i] * x + ky[i] * y + ph[i]));
      if (!float_family) {
        f.at(x, y) = static_cast<float>(std::floor(std::min(h, 16777215.0)));
        continue;
      }
      // Fractional heights, and now and then the other samples a float
      // raster may hold: NaN, infinities, negatives, -0.
      float v = static_cast<float>(h + (kind == Kind::Terraces ? 0 : u(rng)));
      const double r = u(rng);
      if (r < 0.004) v = std::numeric_limits<float>::quiet_NaN();
      else if (r < 0.006) v = -kInf;
      else if (r < 0.007) v = kInf;
      else if (r < 0.02) v = -static_cast<float>(u(rng) * amp);
      else if (r < 0.022) v = -0.0f;
      f.at(x, y) = v;
    }
  return f;
}

// Restores the default kernel however a test ends.
struct KernelReset {
  ~KernelReset() { SetMarchKernel(""); }
};

// Every kernel against the reference, each with a thread count that moves
// on from call to call (and from kernel to kernel), so that the calls
// together cover every pairing of kernel and 1 to 4 threads. Returns the
// first disagreement, or "".
std::string Disagreement(const Mosaic& mo, const SunPos& sun, int32_t R, uint64_t rotation) {
  const size_t n = static_cast<size_t>(st.proj_w) * st.proj_h;
  std::vector<uint8_t> ref(n);
  MarchMaskReference(sun, R, ref.data());
  const std::vector<std::string> kernels = MarchKernels();
  KernelReset reset;
  for (size_t k = 0; k < kernels.size(); ++k) {
    const int threads = 1 + static_cast<int>((rotation + k) % 4);
    EXPECT_TRUE(SetMarchKernel(kernels[k])) << kernels[k];
    std::vector<uint8_t> fast(n, 7);
    MarchMaskFast(mo, sun, R, fast.data(), threads);
    const size_t i = static_cast<size_t>(std::mismatch(ref.begin(), ref.end(), fast.begin()).first - ref.begin());
    if (i == n) continue;
    std::ostringstream os;
    os << std::setprecision(17) << "kernel " << kernels[k] << ", " << threads << " threads: pixel (" << i % st.proj_w << ", "
       << i / st.proj_w << ") reference " << int(ref[i]) << " fast " << int(fast[i]) << ", R " << R << ", sign "
       << sun.sign << ", azimuth " << sun.azimuth << ", elevation " << sun.elevation;
    return os.str();
  }
  return "";
}

// Every hour step of the year at a latitude, or every `stride`-th of them.
std::vector<SunPos> YearSuns(double lat_deg, int stride = 1, int first = 0) {
  std::vector<SunPos> suns;
  int k_all = 0;
  for (int m = 0; m < 12; ++m) {
    const SolarDayRec day = SolarDay(15 + kMonthStart[m], deg2rad(lat_deg));
    for (int k = 0; k < day.steps; ++k, ++k_all)
      if (k_all % stride == first % stride) suns.push_back(SunPosition(day, k));
  }
  return suns;
}

// Eight neighbour bits onto flags 0..3 and 5..8.
uint16_t Present(uint32_t bits) { return static_cast<uint16_t>((bits & 0x0F) | (bits & 0xF0) << 1); }

struct Case {
  uint64_t seed;
  int W, H, R;
  bool float_family;
  Kind kind;
  uint16_t present;
  double lat;
};

Case RandomCase(uint64_t seed, int min_side, int max_side) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int> side(min_side, max_side);
  Case c{seed, side(rng), side(rng), 0, false, Kind::Rough, 0, 0};
  c.R = std::uniform_int_distribution<int>(1, std::min({c.W, c.H, kMaxRayRange}))(rng);
  c.float_family = rng() & 1;
  c.kind = static_cast<Kind>(rng() % 5);
  c.present = Present(static_cast<uint32_t>(rng() & 0xFF));
  if (rng() % 3 == 0) c.present = kAllNeighbours;
  const double lats[] = {0, 40, -33.9, 66, 70};
  c.lat = lats[rng() % 5];
  return c;
}

// Runs the case on the given suns; stops at the first disagreement. The
// trace carries the seed, which replays the case.
void RunCase(const Case& c, const std::vector<SunPos>& suns) {
  std::ostringstream os;
  os << "seed " << c.seed << ": " << c.W << "x" << c.H << " R " << c.R << (c.float_family ? " float" : " png")
     << " kind " << static_cast<int>(c.kind) << " present 0x" << std::hex << c.present << std::dec << " lat "
     << c.lat;
  SCOPED_TRACE(os.str());
  std::mt19937_64 rng(c.seed ^ 0x9E3779B97F4A7C15ull);
  InstallSector(MakeTerrain(rng, c.W, c.H, c.kind, c.float_family), c.float_family, c.present);
  Mosaic mo;
  BuildMosaic(mo, kMaxRayRange);
  for (size_t k = 0; k < suns.size(); ++k) {
    const std::string bad = Disagreement(mo, suns[k], c.R, c.seed + k);
    if (!bad.empty()) {
      ADD_FAILURE() << "hour step " << k << ": " << bad;
      return;
    }
  }
}

// VDB_MARCH_SOAK=n runs n times as many random cases (seeds continue
// where the default ones stop), for a longer search after engine changes.
uint64_t Soak() {
  const char* v = std::getenv("VDB_MARCH_SOAK");
  return std::max<uint64_t>(1, v ? std::strtoull(v, nullptr, 10) : 1);
}

using MarchDiff = StateTest;

TEST_F(MarchDiff, SmallTerrainsEveryHourStepOfTheYear) {
  for (uint64_t seed = 1000; seed < 1000 + 60 * Soak(); ++seed) {
    const Case c = RandomCase(seed, 6, 40);
    RunCase(c, YearSuns(c.lat));
  }
}

TEST_F(MarchDiff, EverySubsetOfMissingNeighbours) {
  // Low suns in eight directions so rays reach every side and corner.
  std::vector<SunPos> suns;
  for (int i = 0; i < 8; ++i) {
    const double a = (i + 0.37) * kPi / 4;  // direction angle sigma*A in (-pi, pi]
    const double dir = a > kPi ? a - 2 * kPi : a;
    suns.push_back(SunToward(dir < 0 ? -1 : 1, std::fabs(dir), 0.05 + 0.02 * i));
  }
  for (uint16_t bits = 0; bits < 256; ++bits)
    RunCase({5000u + bits, 12, 10, 10, (bits & 1) != 0, Kind::Rough, Present(bits), 0}, suns);
}

TEST_F(MarchDiff, AwkwardSunDirections) {
  // Directions whose offsets land on or next to whole numbers, the axes,
  // the diagonals, and elevations at and beyond the zenith and below the
  // horizon (down past -90 degrees), where the tangent bounds turn over.
  const double angles[] = {0, kPi / 2, kPi, kPi / 6, kPi / 4, kPi / 3, 2 * kPi / 3, 3 * kPi / 4, 5 * kPi / 6,
                           std::atan2(1, 2), std::atan2(2, 1), std::atan2(1, 3), std::atan2(3, 4),
                           std::nextafter(kPi / 2, 0.0), std::nextafter(kPi / 4, 4.0), 1e-13};
  std::vector<SunPos> suns;
  for (double a : angles)
    for (int sign : {1, -1})
      for (double e : {0.02, 0.3, 0.7853981633974483, 1.2, kPi / 2, 1.6, -0.1, -2.0})
        suns.push_back(SunToward(sign, a, e));
  for (uint64_t seed = 7000; seed < 7000 + 12 * Soak(); ++seed) RunCase(RandomCase(seed, 20, 36), suns);
}

TEST_F(MarchDiff, SectorsOfProjectSizes) {
  // The smallest sector and a non-square one over every fifth hour step.
  for (uint64_t seed = 9000; seed < 9000 + 4 * Soak(); ++seed) {
    Case c = RandomCase(seed, kMinSectorSide, kMinSectorSide);
    if (seed % 4 >= 2) c.W = 130, c.H = 170;
    if (seed % 2 == 0) c.R = kMaxRayRange;
    RunCase(c, YearSuns(c.lat, 5, static_cast<int>(seed)));
  }
  // A full-size sector without its eastern neighbour.
  Case c = RandomCase(9100, kMaxSectorSide, kMaxSectorSide);
  c.R = kMaxRayRange, c.kind = Kind::Hills, c.lat = 40, c.present = kAllNeighbours & ~(1u << 7);
  RunCase(c, YearSuns(40, static_cast<int>(std::max<uint64_t>(1, 70 / Soak())), 3));
}

// Obstructions placed at and around the exact height at which
// atan((h - G)/d) reaches the elevation (G = 0), where the cheap bounds
// give way to the arc tangent.
TEST_F(MarchDiff, HeightsAtTheElevationBoundary) {
  const int W = 40, H = 8;
  for (double e : {0.01, 0.3, 0.7853981633974483, 1.3, 1.55}) {
    for (int dist : {1, 3, 10, 37}) {
      SCOPED_TRACE("elevation " + std::to_string(e) + " distance " + std::to_string(dist));
      Field f(W, H, 0.0f);
      // Each row tests one candidate height, ulps around the boundary.
      for (int y = 0; y < H; ++y) {
        float diff = static_cast<float>(dist * std::tan(e));
        for (int k = 0; k < std::abs(y - 4); ++k) diff = std::nextafter(diff, y > 4 ? kInf : -kInf);
        f.at(dist, y) = diff;
      }
      InstallSector(f, true);
      Mosaic mo;
      BuildMosaic(mo, kMaxRayRange);
      for (uint64_t rotation = 0; rotation < 4; ++rotation)
        EXPECT_EQ(Disagreement(mo, SunToward(1, kPi / 2, e), W, rotation), "");
    }
  }
}

// The kernels this build offers: the portable one everywhere, the SSE2
// baseline and whatever wider ones the processor runs on x86-64 (so the
// tests above reach them all).
TEST(MarchKernels, PortableAndBaselineAlwaysThereUnknownRefused) {
  KernelReset reset;
  const std::vector<std::string> k = MarchKernels();
  ASSERT_FALSE(k.empty());
  EXPECT_EQ(k.front(), "scalar");
#if defined(__x86_64__)
  EXPECT_TRUE(k.size() >= 2 && k[1] == "sse2");
#endif
  const std::string before = MarchKernelName();
  EXPECT_NE(before, "avx512");  // little gain, possible clock cost: never the default
  EXPECT_FALSE(SetMarchKernel("mmx"));
  EXPECT_EQ(MarchKernelName(), before);
  EXPECT_TRUE(SetMarchKernel(k.back()) && MarchKernelName() == k.back());
  EXPECT_TRUE(SetMarchKernel("") && MarchKernelName() == before);
}

// Rows shared out among threads: each row's mask, and what the per-row
// callback sees, is the same for every thread count and every kernel.
TEST_F(MarchDiff, SameMasksAndRowsForAnyThreadCount) {
  const int W = 157, H = 211, R = 90;
  const Case c = RandomCase(9200, 150, 150);
  std::mt19937_64 rng(c.seed);
  InstallSector(MakeTerrain(rng, W, H, Kind::Hills, c.float_family), c.float_family, c.present);
  Mosaic mo;
  BuildMosaic(mo, kMaxRayRange);
  const size_t n = static_cast<size_t>(W) * H;
  KernelReset reset;
  for (const SunPos& sun : YearSuns(c.lat, 17)) {
    std::vector<uint8_t> first;
    for (const std::string& kernel : MarchKernels()) {
      ASSERT_TRUE(SetMarchKernel(kernel));
      for (int threads : {1, 2, 3, 4, 7}) {
        SCOPED_TRACE(kernel + " " + std::to_string(threads));
        std::vector<uint8_t> mask(n, 9), copy(n, 9);
        std::vector<int> seen(H, 0);
        MarchMaskFast(mo, sun, R, mask.data(), threads, [&](int32_t y) {
          ++seen[static_cast<size_t>(y)];
          std::copy_n(mask.begin() + static_cast<size_t>(y) * W, W, copy.begin() + static_cast<size_t>(y) * W);
        });
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), H);
        EXPECT_EQ(copy, mask);  // each row final when handed over
        if (first.empty()) first = mask;
        ASSERT_EQ(mask, first);
      }
    }
  }
}

}  // namespace
