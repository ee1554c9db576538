#include "support/support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

void StateTest::SetUp() {
  ResetProjectState();
  SetPlatform(&plat);
}

void StateTest::TearDown() {
  ResetProjectState();
  SetPlatform(nullptr);
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = fs::temp_directory_path() / ("vdb-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; make them writable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Cut(const std::vector<uint8_t>& bytes, size_t n) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(std::min(n, bytes.size())));
}

uint32_t Hill(int x, int y, int ox, int oy) {
  const double gx = x + ox, gy = y + oy;
  constexpr double kTwoPi = 6.283185307179586;
  double h = 1000.0 + 40.0 * (1.0 - std::cos(kTwoPi * gx / 120.0 + gy / 50.0)) + 25.0 * std::sin(kTwoPi * gy / 250.0);
  const int cx = ((x + ox) % 120 + 120) % 120, cy = ((y + oy) % 120 + 120) % 120;
  if (cx >= 30 && cx < 60 && cy < 70) h += 7.0;
  return static_cast<uint32_t>(std::lround(h));
}

std::string SectorName(int col, int row, const std::string& ext) {
  char name[8];
  std::snprintf(name, sizeof name, "%02d%02d", col % 100, row % 100);
  return name + ext;
}

std::map<std::string, Entry> Listing(const fs::path& dir) {
  std::map<std::string, Entry> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    struct stat s {};
    if (lstat(e.path().c_str(), &s) != 0) continue;
    Entry& x = out[e.path().filename().string()];
    x.size = S_ISREG(s.st_mode) ? static_cast<uintmax_t>(s.st_size) : 0;
    x.inode = s.st_ino;
    x.mtime_ns = int64_t{s.st_mtim.tv_sec} * 1000000000 + s.st_mtim.tv_nsec;
  }
  return out;
}

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& [name, entry] : Listing(dir)) out.insert(name);
  return out;
}

std::map<std::string, std::vector<uint8_t>> FolderBytes(const fs::path& dir) {
  std::map<std::string, std::vector<uint8_t>> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file()) out[e.path().filename().string()] = ReadFileBytes(e.path());
  return out;
}

int ExitCodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ProcessExit& e) {
    return e.code;
  }
  return kNoExit;
}

bool EndsWithin(int seconds, const std::function<void()>& f) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    alarm(static_cast<unsigned>(seconds));  // its default action ends the child
    ExitCodeOf(f);
    _exit(0);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status);
}

namespace {

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

}  // namespace

unsigned TestSeed() {
  const unsigned seed = EnvNumber("VDB_SEED", 20240611);
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  std::printf("seed %u (VDB_SEED), soak %u (VDB_SOAK)\n", seed, SoakFactor());
  return seed;
}

unsigned SoakFactor() { return std::max(1u, EnvNumber("VDB_SOAK", 1)); }

int StopStress(int rounds, double span, const std::function<void(int)>& start, const std::function<bool(int)>& stop) {
  const unsigned seed = TestSeed();
  std::mt19937 rng(seed);
  int stopped = 0;
  for (int k = 0; k < rounds * static_cast<int>(SoakFactor()); ++k) {
    const double wait = std::uniform_real_distribution<double>(0.0, span)(rng);
    SCOPED_TRACE("round " + std::to_string(k) + ", stop after " + std::to_string(wait) + " s, VDB_SEED=" +
                 std::to_string(seed));
    start(k);
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    if (stop(k)) {
      ++stopped;
    } else {
      // The run ended first: it is shorter than measured.
      span = std::min(span, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    if (::testing::Test::HasFatalFailure()) break;
  }
  return stopped;
}

int CountLines(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  int n = 0;
  for (std::string l; std::getline(in, l);) n += l == line;
  return n;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
