// veltano-bench: times the shading of one 600 x 600 sector-year (all eight
// neighbours, R = 120, latitude 40, 139 hour steps) on a synthetic
// terrain: the reference engine, the fast engine on one thread and on
// N threads, in the same run.
//
//   veltano-bench [--threads N] [--kernel NAME] [--family png|tif] [--terrain hills|rough|flat]
//                 [--ref-stride K] [--stride K]
//   veltano-bench --make-project DIR
//
// --terrain: rolling hills (the default), rough ground that shades most
// pixels within a few steps, or a flat plain. Beside the fast engine's
// nominal rate (R - 1 ray points for every pixel-step) the run prints
// what the march did per pixel-step: ray points actually read, lanes
// shaded and stops of the vector scan for work lane by lane.
//
// --threads N: the fast engine's second timing (0, the default: one
// thread per hardware thread). --kernel forces the march's vector kernel
// (scalar, sse2, avx2, avx512). --ref-stride K times the reference on every
// K-th hour step only and scales its time to the whole year (a note line
// says so); the default of 3 keeps the run well under two minutes, 1 times
// the full year, 0 leaves the reference out. The engines' annual counts
// over the same steps must agree. --stride K shades only every K-th hour
// step with the fast engine (for profiling; its times are then not
// those of a year, and the comparison with the reference is left out).
//
// --make-project DIR writes the same hills as a 3 x 3 project of 600 x 600
// PNG sectors 0101 .. 0303 (0202 in the centre) into DIR, for timing the
// batch driver end to end.
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/march.h"
#include "engine/row_pool.h"
#include "engine/shade.h"
#include "solar/solar.h"
#include "platform/memory_platform.h"
#include "terrain/graph.h"
#include "terrain/pngfuncs.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

constexpr int32_t kSide = kMaxSectorSide;
constexpr int32_t kRange = kMaxRayRange;
constexpr double kLatitude = 40.0;
constexpr uint64_t kSeed = 20240615;

struct Options {
  int threads = 0;
  std::string kernel;
  bool float_family = false;
  std::string terrain = "hills";
  int ref_stride = 3;
  int stride = 1;  // fast engine: every stride-th hour step only (profiling)
  std::string project;
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--threads" && has_value) {
      o.threads = std::atoi(argv[++i]);
      if (o.threads < 0) return false;
    } else if (a == "--stride" && has_value) {
      o.stride = std::atoi(argv[++i]);
      if (o.stride < 1) return false;
    } else if (a == "--kernel" && has_value) {
      o.kernel = argv[++i];
    } else if (a == "--make-project" && has_value) {
      o.project = argv[++i];
    } else if (a == "--family" && has_value) {
      const std::string f = argv[++i];
      if (f != "png" && f != "tif") return false;
      o.float_family = f == "tif";
    } else if (a == "--terrain" && has_value) {
      o.terrain = argv[++i];
      if (o.terrain != "hills" && o.terrain != "rough" && o.terrain != "flat") return false;
    } else if (a == "--ref-stride" && has_value) {
      o.ref_stride = std::atoi(argv[++i]);
      if (o.ref_stride < 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

double Unit(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1.0p-53; }

// Rolling hills over the 3 x 3 block of sectors: a few long waves in
// random directions, whole metres, all above 0.
std::vector<float> Hills(int32_t side) {
  std::mt19937_64 rng(kSeed);
  struct Wave {
    double kx, ky, phase, amp;
  };
  std::vector<Wave> waves;
  for (int i = 0; i < 6; ++i) {
    const double dir = Unit(rng) * 6.283185307179586;
    const double length = 120 + Unit(rng) * 380;  // pixels
    const double k = 6.283185307179586 / length;
    waves.push_back({k * std::cos(dir), k * std::sin(dir), Unit(rng) * 6.283185307179586,
                     12 + Unit(rng) * 28});
  }
  const int32_t n = 3 * side;
  std::vector<float> field(static_cast<size_t>(n) * n);
  for (int32_t y = 0; y < n; ++y)
    for (int32_t x = 0; x < n; ++x) {
      double h = 400;
      for (const Wave& w : waves) h += w.amp * std::sin(w.kx * x + w.ky * y + w.phase);
      field[static_cast<size_t>(y) * n + x] = static_cast<float>(std::floor(h));
    }
  return field;
}

// Rough ground: the hills with steep noise of up to 300 m from pixel to
// pixel; or a plain at one height.
std::vector<float> Terrain(const std::string& kind, int32_t side) {
  if (kind == "flat") return std::vector<float>(static_cast<size_t>(9) * side * side, 400.0f);
  std::vector<float> field = Hills(side);
  if (kind == "rough") {
    std::mt19937_64 rng(kSeed + 1);
    for (float& h : field) h += static_cast<float>(std::floor(Unit(rng) * 300));
  }
  return field;
}

// The sector (the centre of the field), its eight neighbours and zeroed
// result buffers, as the surroundings loader would leave them.
bool InstallSector(const std::vector<float>& field, int32_t side, bool float_family) {
  st.proj_w = side;
  st.proj_h = side;
  st.cu_ext = float_family ? 1 : 0;
  const int32_t n = 3 * side;
  for (int flag = 0; flag < 9; ++flag) {
    const int c = flag / 3, r = flag % 3;  // c: west..east; r: south, own, north
    const int32_t x0 = c * side, y0 = (2 - r) * side;
    st.matflgarea[flag] = 1;
    if (float_family) {
      auto raster = std::make_unique<FloatRaster>();
      raster->width = raster->height = static_cast<uint32_t>(side);
      raster->samples.resize(static_cast<size_t>(side) * side);
      for (int32_t y = 0; y < side; ++y)
        for (int32_t x = 0; x < side; ++x)
          raster->samples[static_cast<size_t>(y) * side + x] = field[static_cast<size_t>(y0 + y) * n + x0 + x];
      st.AreaRaster(flag) = std::move(raster);
    } else {
      SurfacePtr s = CreateResultSurface(side, side);
      if (!s) return false;
      for (int32_t y = 0; y < side; ++y)
        for (int32_t x = 0; x < side; ++x)
          SDLPutPixel(s.get(), x, y, static_cast<uint32_t>(field[static_cast<size_t>(y0 + y) * n + x0 + x]));
      st.AreaSurface(flag) = std::move(s);
    }
  }
  for (SurfacePtr* p : {&st.shoras, &st.sfsuma, &st.sfwhsinf, &st.sfwhscen, &st.sfwhssup, &st.elev2png}) {
    *p = CreateResultSurface(side, side);
    if (!*p) return false;
  }
  st.sftmp = CreateResultSurface(kGraphSide, kGraphSide);
  st.presum.assign(static_cast<size_t>(side) * side, 0);
  st.pmeswhs.assign(static_cast<size_t>(side) * side, 0);
  return st.sftmp != nullptr;
}

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Timing {
  double seconds = 0;
  double cpu = 0;
  int32_t steps = 0;          // hour steps shaded
  int64_t shaded = 0;         // pixel-steps shaded
  std::vector<int32_t> year;  // annual counts
  MarchCounts counts;         // of the fast engine's run on several threads
};

// One sector-year through the run's sequence of calls, timing only the
// shading itself; every `stride`-th hour step when stride > 1; with the
// fast engine's counts when `count`.
Timing ShadeYear(bool reference, int stride, int threads = 1, bool count = false) {
  st.reference_engine = reference;
  st.shade_threads = threads;
  const double phi = deg2rad(kLatitude);
  const int32_t S_tot = DaylightSteps(phi);
  Timing t;
  uint8_t warnflags = 0;
  int32_t k_all = 0;
  SetMarchCounting(count);
  TakeMarchCounts();
  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = CpuSeconds();
  SectorShading sector(S_tot);
  for (int32_t m = 0; m < 12; ++m) {
    const SolarDayRec day = SolarDay(15 + kMonthStart[m], phi);
    uint32_t b = 1;
    for (int32_t k = 0; k < day.steps; ++k, ++k_all, b <<= 1) {
      if (k_all % stride != 0) continue;
      ShadeHour(sector, SunPosition(day, k), kRange, "bench", warnflags, m, b);
      ++t.steps;
    }
    ShadeMonthEnd(sector, m);
    ShadeClearMonth(sector);
  }
  ShadeYearEnd(sector);
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.cpu = CpuSeconds() - cpu_start;
  SetMarchCounting(false);
  t.counts = TakeMarchCounts();
  t.year = st.presum;
  for (int32_t a : st.presum) t.shaded += a;
  ShadeEndSector();
  return t;
}

void PrintEngine(const char* name, int threads, double seconds, int32_t steps) {
  const double points = static_cast<double>(kSide) * kSide * (kRange - 1) * steps;
  std::printf("engine %s threads %d: %.3f s, %.3f Gpts/s\n", name, threads, seconds,
              points / seconds / 1e9);
}

// The hills as nine PNG sectors, named by column code and row number (rows
// grow north), as the directory scan expects them.
int MakeProject(const std::string& dir) {
  mkdir(dir.c_str(), 0777);
  const std::vector<float> field = Hills(kSide);
  const int32_t n = 3 * kSide;
  SurfacePtr s = CreateResultSurface(kSide, kSide);
  if (!s) return 1;
  for (int c = 1; c <= 3; ++c)
    for (int r = 1; r <= 3; ++r) {
      const int32_t x0 = (c - 1) * kSide, y0 = (3 - r) * kSide;
      for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x)
          SDLPutPixel(s.get(), x, y, static_cast<uint32_t>(field[static_cast<size_t>(y0 + y) * n + x0 + x]));
      char name[32];
      std::snprintf(name, sizeof name, "/%02d%02d.png", c, r);
      if (png_save_surface(dir + name, s.get()) < 0) {
        std::fprintf(stderr, "veltano-bench: cannot write %s%s\n", dir.c_str(), name);
        return 1;
      }
    }
  std::printf("3 x 3 project of %dx%d PNG sectors in %s; centre sector 0202\n", kSide, kSide, dir.c_str());
  return 0;
}

void PrintSetup(const Options& opt, int32_t S_tot) {
  std::printf("sector %dx%d, all eight neighbours, R %d, latitude %.1f, %d hour steps, %s rasters, %s\n", kSide,
              kSide, kRange, kLatitude, S_tot, opt.float_family ? "float" : "PNG", opt.terrain.c_str());
  std::printf("fast kernel %s (available:", MarchKernelName().c_str());
  for (const std::string& k : MarchKernels()) std::printf(" %s", k.c_str());
  std::printf(")\n");
}

// The reference's year, scaled from every ref_stride-th step, checked
// against the fast engine's counts over the same steps; false when they
// differ.
bool TimeReference(const Options& opt, const Timing& one, int threads, int32_t S_tot, Timing& ref) {
  ref = ShadeYear(true, opt.ref_stride);
  ref.seconds = ref.seconds * S_tot / ref.steps;
  ref.cpu = ref.cpu * S_tot / ref.steps;
  if (opt.ref_stride > 1)
    std::printf("note: reference timed on %d of %d hour steps (one in %d), time scaled to the year\n",
                ref.steps, S_tot, opt.ref_stride);
  const bool same =
      opt.ref_stride > 1 ? ShadeYear(false, opt.ref_stride, threads).year == ref.year : one.year == ref.year;
  if (!same) std::printf("error: the engines' annual counts differ\n");
  return same;
}

// Times both engines on the installed sector; 1 when their counts differ.
int TimeEngines(Options opt, int threads) {
  const int32_t S_tot = DaylightSteps(deg2rad(kLatitude));
  PrintSetup(opt, S_tot);
  const Timing one = ShadeYear(false, opt.stride, 1);
  const Timing all = ShadeYear(false, opt.stride, threads, true);
  if (opt.stride > 1) std::printf("note: fast engine timed on one hour step in %d, not scaled\n", opt.stride);
  std::printf("shaded: %.1f %% of pixel-steps\n",
              100.0 * static_cast<double>(one.shaded) / (static_cast<double>(kSide) * kSide * S_tot));
  if (all.year != one.year) {
    std::printf("error: the annual counts differ between 1 and %d threads\n", threads);
    return 1;
  }
  Timing ref;
  if (opt.stride > 1) opt.ref_stride = 0;
  if (opt.ref_stride > 0) {
    if (!TimeReference(opt, one, threads, S_tot, ref)) return 1;
    PrintEngine("reference", 1, ref.seconds, S_tot);
  }
  PrintEngine("fast", 1, one.seconds, S_tot);
  PrintEngine("fast", threads, all.seconds, S_tot);
  const double pixel_steps = static_cast<double>(kSide) * kSide * all.steps;
  std::printf("per pixel-step: %.2f ray points read (nominal %d), %.4f shaded, %.4f scan stops\n",
              static_cast<double>(all.counts.points) / pixel_steps, kRange - 1,
              static_cast<double>(all.counts.shades) / pixel_steps,
              static_cast<double>(all.counts.stops) / pixel_steps);
  // Processor time as well: on a shared machine it is the steadier figure.
  std::printf("processor time: fast 1 thread %.3f s, %d threads %.3f s\n", one.cpu, threads, all.cpu);
  if (opt.ref_stride > 0)
    std::printf("speed-up over the reference: %.1fx on 1 thread, %.1fx on %d threads (processor time 1 thread: %.1fx)\n",
                ref.seconds / one.seconds, ref.seconds / all.seconds, threads, ref.cpu / one.cpu);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!ParseOptions(argc, argv, opt)) {
    std::fprintf(stderr,
                 "usage: veltano-bench [--threads N] [--kernel NAME] [--family png|tif] [--terrain hills|rough|flat]\n"
                 "                     [--ref-stride K] [--stride K]\n"
                 "       veltano-bench --make-project DIR\n");
    return 2;
  }
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  MemoryPlatform plat;
  SetPlatform(&plat);
  Inicia_SDL();
  if (!opt.project.empty()) {
    const int rc = MakeProject(opt.project);
    CloseGraph();
    return rc;
  }
  if (!opt.kernel.empty() && !SetMarchKernel(opt.kernel)) {
    std::fprintf(stderr, "veltano-bench: kernel %s not available here\n", opt.kernel.c_str());
    return 2;
  }
  if (!InstallSector(Terrain(opt.terrain, kSide), kSide, opt.float_family)) {
    std::fprintf(stderr, "veltano-bench: cannot create the sector's buffers\n");
    return 1;
  }
  const int rc = TimeEngines(opt, ShadeThreadCount(opt.threads));
  CloseGraph();
  return rc;
}
