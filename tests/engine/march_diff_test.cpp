// The production march against the reference, mask for mask, on random
// terrains, neighbourhoods, ranges, latitudes and awkward sun directions,
// with every vector kernel this processor has and 1 to 4 threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/march.h"
#include "engine/solar.h"
#include "sector_builder.h"
#include "support/fixtures.h"
#include "terrain/state.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

enum class Kind { Rough, Flat, Spikes, Hills, Terraces };
constexpr Kind kKinds[] = {Kind::Rough, Kind::Flat, Kind::Spikes, Kind::Hills, Kind::Terraces};

Field MakeTerrain(std::mt19937_64& rng, int W, int H, Kind kind, bool float_family) {
  Field f(W, H);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double amp = 1 + u(rng) * (u(rng) < 0.2 ? 20000 : 400);
  const double base = u(rng) < 0.5 ? 0 : u(rng) * 3000;
  double kx[3], ky[3], ph[3];
  for (int i = 0; i < 3; ++i) {
    kx[i] = (u(rng) - 0.5) * 0.6;
    ky[i] = (u(rng) - 0.5) * 0.6;
    ph[i] = u(rng) * 6.28;
  }
  for (int y = -H; y < 2 * H; ++y)
    for (int x = -W; x < 2 * W; ++x) {
      double h = base;
      switch (kind) {
        case Kind::Rough: h += u(rng) * amp; break;
        case Kind::Flat: break;
        case Kind::Spikes: h += u(rng) < 0.03 ? u(rng) * amp * 3 : u(rng) * 2; break;
        case Kind::Hills:
          for (int i = 0; i < 3; ++i) h += amp / 3 * (1 + std::sin(kx[i] * x + ky[i] * y + ph[i]));
          break;
        case Kind::Terraces: h += std::floor(u(rng) * 4) * std::floor(amp / 8); break;
      }
      if (!float_family) {
        f.at(x, y) = static_cast<float>(std::floor(std::min(h, 16777215.0)));
        continue;
      }
      // Fractional heights, and now and then the samples a float raster
      // may hold besides ordinary heights.
      float v = static_cast<float>(h + (kind == Kind::Terraces ? 0 : u(rng)));
      const double r = u(rng);
      if (r < 0.004) v = kNaN;
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
  KernelReset() = default;
  KernelReset(const KernelReset&) = delete;
  KernelReset& operator=(const KernelReset&) = delete;
  ~KernelReset() { SetMarchKernel(""); }
};

// First pixel where the production engine (with the given kernel and
// threads) disagrees with the reference mask, or "" if none.
std::string Disagreement(const Mosaic& mo, const SunPos& sun, int32_t R, const std::vector<uint8_t>& ref,
                         const std::string& kernel, int threads) {
  KernelReset reset;
  EXPECT_TRUE(SetMarchKernel(kernel)) << kernel;
  const size_t n = static_cast<size_t>(st.proj_w) * st.proj_h;
  std::vector<uint8_t> fast(n, 7);
  MarchMaskFast(mo, sun, R, fast.data(), threads);
  for (size_t i = 0; i < n; ++i)
    if (ref[i] != fast[i]) {
      std::ostringstream os;
      os.precision(17);
      os << "kernel " << kernel << ", " << threads << " threads: pixel (" << i % st.proj_w << ", "
         << i / st.proj_w << ") reference " << int(ref[i]) << " fast " << int(fast[i]) << ", R " << R
         << ", sign " << sun.sign << ", azimuth " << sun.azimuth << ", elevation " << sun.elevation;
      return os.str();
    }
  return "";
}

// Every kernel, each with a thread count that moves on from case to case
// (and from kernel to kernel), so that the cases together cover every
// pairing of kernel and 1 to 4 threads.
std::string Disagreement(const Mosaic& mo, const SunPos& sun, int32_t R, uint64_t rotation) {
  const size_t n = static_cast<size_t>(st.proj_w) * st.proj_h;
  std::vector<uint8_t> ref(n);
  MarchMaskReference(sun, R, ref.data());
  const std::vector<std::string> kernels = MarchKernels();
  for (size_t k = 0; k < kernels.size(); ++k) {
    const int threads = 1 + static_cast<int>((rotation + k) % 4);
    const std::string bad = Disagreement(mo, sun, R, ref, kernels[k], threads);
    if (!bad.empty()) return bad;
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

struct Case {
  uint64_t seed;
  int W, H, R;
  bool float_family;
  Kind kind;
  uint16_t present;
  double lat;
};

std::string Describe(const Case& c) {
  std::ostringstream os;
  os << "seed " << c.seed << ": " << c.W << "x" << c.H << " R " << c.R << (c.float_family ? " float" : " png")
     << " kind " << static_cast<int>(c.kind) << " present 0x" << std::hex << c.present << std::dec << " lat "
     << c.lat;
  return os.str();
}

Case RandomCase(uint64_t seed, int min_side, int max_side) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int> side(min_side, max_side);
  Case c{};
  c.seed = seed;
  c.W = side(rng);
  c.H = side(rng);
  std::uniform_int_distribution<int> range(1, std::min({c.W, c.H, 120}));
  c.R = range(rng);
  c.float_family = rng() & 1;
  c.kind = kKinds[rng() % 5];
  const uint16_t bits = static_cast<uint16_t>(rng() & 0xFF);
  // Eight neighbour bits onto flags 0..3 and 5..8.
  c.present = static_cast<uint16_t>((bits & 0x0F) | (bits & 0xF0) << 1);
  if (rng() % 3 == 0) c.present = kAllNeighbours;
  const double lats[] = {0, 40, -33.9, 66, 70};
  c.lat = lats[rng() % 5];
  return c;
}

// Runs the case on the given suns; stops at the first disagreement.
void RunCase(const Case& c, const std::vector<SunPos>& suns) {
  SCOPED_TRACE(Describe(c));
  std::mt19937_64 rng(c.seed ^ 0x9E3779B97F4A7C15ull);
  InstallSector(MakeTerrain(rng, c.W, c.H, c.kind, c.float_family), c.float_family, c.present);
  Mosaic mo;
  BuildMosaic(mo, 120);
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
  const long n = v ? std::strtol(v, nullptr, 10) : 1;
  return n > 1 ? static_cast<uint64_t>(n) : 1;
}

class MarchDiff : public StateTest {};

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
  for (uint16_t bits = 0; bits < 256; ++bits) {
    Case c{};
    c.seed = 5000 + bits;
    c.W = 12;
    c.H = 10;
    c.R = 10;
    c.float_family = bits & 1;
    c.kind = Kind::Rough;
    c.present = static_cast<uint16_t>((bits & 0x0F) | (bits & 0xF0) << 1);
    RunCase(c, suns);
  }
}

TEST_F(MarchDiff, AwkwardSunDirections) {
  // Directions whose offsets land on or next to whole numbers, the axes,
  // the diagonals, and elevations at and beyond the zenith and below the
  // horizon (down past -90 degrees), where the tangent bounds turn over.
  std::vector<double> angles = {0, kPi / 2, kPi, kPi / 6, kPi / 4, kPi / 3, 2 * kPi / 3, 3 * kPi / 4, 5 * kPi / 6,
                                std::atan2(1, 2), std::atan2(2, 1), std::atan2(1, 3), std::atan2(3, 4),
                                std::nextafter(kPi / 2, 0.0), std::nextafter(kPi / 4, 4.0), 1e-13};
  std::vector<SunPos> suns;
  const double elevations[] = {0.02, 0.3, 0.7853981633974483, 1.2, kPi / 2, 1.6, -0.1, -2.0};
  for (double a : angles)
    for (int sign : {1, -1})
      for (double e : elevations) suns.push_back(SunToward(sign, a, e));
  for (uint64_t seed = 7000; seed < 7000 + 12 * Soak(); ++seed) {
    Case c = RandomCase(seed, 20, 36);
    RunCase(c, suns);
  }
}

TEST_F(MarchDiff, SectorsOfProjectSizes) {
  // 120 x 120 and a non-square sector over every fifth hour step.
  for (uint64_t seed = 9000; seed < 9000 + 4 * Soak(); ++seed) {
    Case c = RandomCase(seed, 120, 120);
    if (seed % 4 >= 2) {
      c.W = 130;
      c.H = 170;
    }
    if (seed % 2 == 0) c.R = 120;
    RunCase(c, YearSuns(c.lat, 5, static_cast<int>(seed)));
  }
}

TEST_F(MarchDiff, FullSizeSector) {
  Case c = RandomCase(9100, 600, 600);
  c.R = 120;
  c.kind = Kind::Hills;
  c.lat = 40;
  c.present = kAllNeighbours & ~(1u << 7);  // no eastern neighbour
  RunCase(c, YearSuns(40, static_cast<int>(std::max<uint64_t>(1, 70 / Soak())), 3));
}

// Obstructions placed at and around the exact height at which
// atan((h - G)/d) reaches the elevation, where the cheap bounds give way
// to the arc tangent.
TEST_F(MarchDiff, HeightsAtTheElevationBoundary) {
  const int W = 40, H = 8;
  for (double e : {0.01, 0.3, 0.7853981633974483, 1.3, 1.55}) {
    for (int dist : {1, 3, 10, 37}) {
      Field f(W, H, 0.0f);
      const float G = 0.0f;  // so that h - G is the candidate difference itself
      const float exact = static_cast<float>(dist * std::tan(e));
      // Each row tests one candidate height, ulps around the boundary.
      for (int y = 0; y < H; ++y) {
        float diff = exact;
        for (int k = 0; k < y - 4; ++k) diff = std::nextafter(diff, kInf);
        for (int k = 0; k < 4 - y; ++k) diff = std::nextafter(diff, -kInf);
        f.at(dist, y) = G + diff;
      }
      InstallSector(f, true);
      Mosaic mo;
      BuildMosaic(mo, 120);
      const SunPos east = SunToward(1, kPi / 2, e);
      SCOPED_TRACE("elevation " + std::to_string(e) + " distance " + std::to_string(dist));
      for (uint64_t rotation = 0; rotation < 4; ++rotation) EXPECT_EQ(Disagreement(mo, east, W, rotation), "");
    }
  }
}

// The kernels this build offers: the portable one everywhere, the SSE2
// baseline and whatever wider ones the processor runs on x86-64.
TEST(MarchKernels, PortableAndBaselineAlwaysThereUnknownRefused) {
  KernelReset reset;
  const std::vector<std::string> k = MarchKernels();
  ASSERT_FALSE(k.empty());
  EXPECT_EQ(k.front(), "scalar");
#if defined(__x86_64__)
  ASSERT_GE(k.size(), 2u);
  EXPECT_EQ(k[1], "sse2");
#endif
  const std::string before = MarchKernelName();
  EXPECT_FALSE(SetMarchKernel("mmx"));
  EXPECT_EQ(MarchKernelName(), before);
  for (const std::string& name : k) {
    EXPECT_TRUE(SetMarchKernel(name));
    EXPECT_EQ(MarchKernelName(), name);
  }
  EXPECT_TRUE(SetMarchKernel(""));
  EXPECT_EQ(MarchKernelName(), before);
  EXPECT_NE(before, "avx512");  // little gain, possible clock cost: never the default
}

// Rows shared out among threads: each row's mask, and what the per-row
// callback sees, is the same for every thread count and every kernel.
TEST_F(MarchDiff, SameMasksAndRowsForAnyThreadCount) {
  Case c = RandomCase(9200, 150, 150);
  c.W = 157;
  c.H = 211;
  c.R = 90;
  c.kind = Kind::Hills;
  std::mt19937_64 rng(c.seed);
  InstallSector(MakeTerrain(rng, c.W, c.H, c.kind, c.float_family), c.float_family, c.present);
  Mosaic mo;
  BuildMosaic(mo, 120);
  const size_t n = static_cast<size_t>(c.W) * c.H;
  KernelReset reset;
  for (const SunPos& sun : YearSuns(c.lat, 17)) {
    std::vector<uint8_t> first;
    for (const std::string& kernel : MarchKernels()) {
      ASSERT_TRUE(SetMarchKernel(kernel));
      for (int threads : {1, 2, 3, 4, 7}) {
        std::vector<uint8_t> mask(n, 9);
        std::vector<int> seen(static_cast<size_t>(c.H), 0);
        std::vector<uint8_t> copy(n, 9);
        MarchMaskFast(mo, sun, c.R, mask.data(), threads, [&](int32_t y) {
          ++seen[static_cast<size_t>(y)];
          const size_t row = static_cast<size_t>(y) * c.W;
          std::copy(mask.begin() + row, mask.begin() + row + c.W, copy.begin() + row);
        });
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), c.H) << kernel << " " << threads;
        EXPECT_EQ(copy, mask) << kernel << " " << threads;  // each row final when handed over
        if (first.empty()) first = mask;
        ASSERT_EQ(mask, first) << kernel << " " << threads;
      }
    }
  }
}

}  // namespace
