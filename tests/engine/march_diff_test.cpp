// The fast march against the reference, mask for mask, on random terrains,
// neighbourhoods, ranges, latitudes and awkward sun directions, with every
// vector kernel this processor has and 1 to 4 threads. VDB_SEED replays a
// run, VDB_SOAK multiplies the number of cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/march.h"
#include "sector_builder.h"
#include "solar/solar.h"
#include "support/support.h"
#include "terrain/state.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kInf = std::numeric_limits<float>::infinity();

// Smooth hills, rough noise, rare spikes or terraces; float rasters get
// fractional heights and now and then NaN, infinities, negatives and -0.
Field MakeTerrain(std::mt19937_64& rng, int W, int H, bool float_family) {
  Field f(W, H);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int kind = static_cast<int>(rng() % 4);
  const double amp = 1 + u(rng) * (u(rng) < 0.2 ? 20000 : 400), base = u(rng) < 0.5 ? 0 : u(rng) * 3000;
  const double kx = u(rng) - 0.5, ky = u(rng) - 0.5;
  for (float& v : f.v) {
    const size_t i = static_cast<size_t>(&v - f.v.data());
    const double x = static_cast<double>(i % (3 * W)), y = static_cast<double>(i / (3 * W));
    double h = base + (kind == 0 ? u(rng) * amp : kind == 1 ? (u(rng) < 0.03 ? u(rng) * amp * 3 : u(rng) * 2)
                       : kind == 2 ? std::floor(u(rng) * 4) * std::floor(amp / 8)
                                   : amp * (1 + std::sin(kx * x + ky * y)));
    if (!float_family) {
      v = static_cast<float>(std::floor(std::min(h, 16777215.0)));
      continue;
    }
    const double r = u(rng);
    v = r < 0.004 ? std::numeric_limits<float>::quiet_NaN() : r < 0.006 ? -kInf : r < 0.007 ? kInf
        : r < 0.02 ? -static_cast<float>(u(rng) * amp) : r < 0.022 ? -0.0f : static_cast<float>(h + u(rng));
  }
  return f;
}

struct KernelReset {
  ~KernelReset() { SetMarchKernel(""); }
};

// Every kernel against the reference, each with a thread count that moves
// on from call to call, so the calls together pair every kernel with 1 to
// 4 threads. Returns the first disagreement, or "".
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
    os.precision(17);
    os << kernels[k] << ", " << threads << " threads: pixel (" << i % st.proj_w << ", " << i / st.proj_w
       << ") reference " << int(ref[i]) << " fast " << int(fast[i]) << ", R " << R << ", sign " << sun.sign
       << ", azimuth " << sun.azimuth << ", elevation " << sun.elevation;
    return os.str();
  }
  return "";
}

// Every `stride`-th hour step of the year at a latitude.
std::vector<SunPos> YearSuns(double lat_deg, int stride) {
  std::vector<SunPos> suns;
  for (int m = 0, k_all = 0; m < 12; ++m) {
    const SolarDayRec day = SolarDay(15 + kMonthStart[m], deg2rad(lat_deg));
    for (int k = 0; k < day.steps; ++k, ++k_all)
      if (k_all % stride == 0) suns.push_back(SunPosition(day, k));
  }
  return suns;
}

// Directions whose offsets land on or next to whole numbers, the axes and
// diagonals, elevations at and past the zenith and below the horizon.
std::vector<SunPos> AwkwardSuns() {
  std::vector<SunPos> suns;
  for (double a : {0.0, kPi / 2, kPi, kPi / 6, kPi / 4, 2 * kPi / 3, std::atan2(1, 2), std::atan2(3, 4),
                   std::nextafter(kPi / 2, 0.0), std::nextafter(kPi / 4, 4.0), 1e-13})
    for (int sign : {1, -1})
      for (double e : {0.02, 0.7853981633974483, kPi / 2, 1.6, -0.1, -2.0}) suns.push_back(SunToward(sign, a, e));
  return suns;
}

// Eight neighbour bits onto flags 0..3 and 5..8.
uint16_t Present(uint32_t bits) { return static_cast<uint16_t>((bits & 0x0F) | (bits & 0xF0) << 1); }

// Installs a random case from `seed` and marches it under `suns`; stops at
// the first disagreement, naming the seed that replays it.
void RunCase(uint64_t seed, int W, int H, int R, bool float_family, uint16_t present, const std::vector<SunPos>& suns) {
  std::ostringstream os;
  os << "VDB_SEED case " << seed << ": " << W << "x" << H << " R " << R << (float_family ? " float" : " png")
     << " present 0x" << std::hex << present;
  SCOPED_TRACE(os.str());
  std::mt19937_64 rng(seed);
  InstallSector(MakeTerrain(rng, W, H, float_family), float_family, present);
  Mosaic mo;
  BuildMosaic(mo, kMaxRayRange);
  for (size_t k = 0; k < suns.size(); ++k) {
    const std::string bad = Disagreement(mo, suns[k], R, seed + k);
    if (!bad.empty()) return void(ADD_FAILURE() << "sun " << k << ": " << bad);
  }
}

using MarchDiff = StateTest;

TEST_F(MarchDiff, RandomSectorsAgreeWithTheReference) {
  const uint64_t first = TestSeed();
  const double lats[] = {0, 40, -33.9, 66, 70};
  for (uint64_t seed = first; seed < first + 70 * static_cast<uint64_t>(SoakFactor()); ++seed) {
    std::mt19937_64 rng(seed);
    const bool awkward = seed % 7 == 0, big = seed % 23 == 0;
    const int W = big ? 130 : 6 + static_cast<int>(rng() % 35), H = big ? 170 : 6 + static_cast<int>(rng() % 35);
    const int R = 1 + static_cast<int>(rng() % static_cast<uint64_t>(std::min({W, H, kMaxRayRange})));
    const uint16_t present = rng() % 3 == 0 ? kAllNeighbours : Present(static_cast<uint32_t>(rng() & 0xFF));
    const bool float_family = rng() & 1;
    RunCase(seed, W, H, R, float_family, present, awkward ? AwkwardSuns() : YearSuns(lats[rng() % 5], big ? 9 : 1));
  }
  // A full-size sector without its eastern neighbour, at full range.
  RunCase(first, kMaxSectorSide, kMaxSectorSide, kMaxRayRange, true, kAllNeighbours & ~(1u << 7), YearSuns(40, 70));
}

TEST_F(MarchDiff, EverySubsetOfMissingNeighbours) {
  // Low suns in eight directions so rays reach every side and corner.
  std::vector<SunPos> suns;
  for (int i = 0; i < 8; ++i) {
    const double a = (i + 0.37) * kPi / 4, dir = a > kPi ? a - 2 * kPi : a;
    suns.push_back(SunToward(dir < 0 ? -1 : 1, std::fabs(dir), 0.05 + 0.02 * i));
  }
  const uint64_t first = TestSeed();
  for (uint16_t bits = 0; bits < 256; ++bits)
    RunCase(first + bits, 12, 10, 10, (bits & 1) != 0, Present(bits), suns);
}

// Obstructions ulps around the height at which atan((h - G)/d) reaches the
// elevation, where the cheap bounds give way to the arc tangent.
TEST_F(MarchDiff, HeightsAtTheElevationBoundary) {
  for (double e : {0.01, 0.7853981633974483, 1.3, 1.55})
    for (int dist : {1, 10, 37}) {
      SCOPED_TRACE("elevation " + std::to_string(e) + " distance " + std::to_string(dist));
      Field f(40, 8);
      for (int y = 0; y < 8; ++y) {
        float diff = static_cast<float>(dist * std::tan(e));
        for (int k = 0; k < std::abs(y - 4); ++k) diff = std::nextafter(diff, y > 4 ? kInf : -kInf);
        f.at(dist, y) = diff;
      }
      InstallSector(f, true);
      Mosaic mo;
      BuildMosaic(mo, kMaxRayRange);
      for (uint64_t rotation = 0; rotation < 4; ++rotation)
        EXPECT_EQ(Disagreement(mo, SunToward(1, kPi / 2, e), 40, rotation), "");
    }
}

// Rows shared out among threads: every row handed over once and final
// when handed over, the same masks for every thread count and kernel;
// the portable and SSE2 kernels are always there, unknown names refused.
TEST_F(MarchDiff, SameMasksAndRowsForAnyThreadCount) {
  const int W = 157, H = 211;
  std::mt19937_64 rng(TestSeed());
  InstallSector(MakeTerrain(rng, W, H, false), false);
  Mosaic mo;
  BuildMosaic(mo, kMaxRayRange);
  KernelReset reset;
  const std::vector<std::string> kernels = MarchKernels();
  ASSERT_EQ(kernels.front(), "scalar");
#if defined(__x86_64__)
  ASSERT_TRUE(kernels.size() >= 2 && kernels[1] == "sse2");
#endif
  EXPECT_NE(MarchKernelName(), "avx512");  // little gain, possible clock cost: never the default
  EXPECT_FALSE(SetMarchKernel("mmx"));
  for (const SunPos& sun : YearSuns(-33.9, 17)) {
    std::vector<uint8_t> first;
    for (const std::string& kernel : kernels) {
      ASSERT_TRUE(SetMarchKernel(kernel) && MarchKernelName() == kernel);
      for (int threads : {1, 2, 3, 4, 7}) {
        SCOPED_TRACE(kernel + " " + std::to_string(threads));
        std::vector<uint8_t> mask(static_cast<size_t>(W) * H, 9), copy(mask.size(), 9);
        std::vector<int> seen(H, 0);
        MarchMaskFast(mo, sun, 90, mask.data(), threads, [&](int32_t y) {
          ++seen[static_cast<size_t>(y)];
          std::copy_n(mask.begin() + static_cast<ptrdiff_t>(y) * W, W, copy.begin() + static_cast<ptrdiff_t>(y) * W);
        });
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), H);
        EXPECT_EQ(copy, mask);
        if (first.empty()) first = mask;
        ASSERT_EQ(mask, first);
      }
    }
  }
}

}  // namespace
