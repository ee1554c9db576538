// The shared test fixtures: project state, temporary folders, rasters and
// projects on disk, folder listings, the batch driver in a child process,
// random seeds and the stop-at-a-random-moment stress skeleton.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/memory_platform.h"
#include "terrain/state.h"

namespace fs = std::filesystem;

// Resets st and installs a fresh MemoryPlatform for each test.
class StateTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  MemoryPlatform plat;
};

// A temporary directory removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// ---- Rasters
using HeightFn = std::function<uint32_t(int x, int y)>;
using FloatFn = std::function<float(int x, int y)>;

// A PNG of any colour type and bit depth. `sample(x, y, c)` is channel c of
// pixel (x, y) at the file's depth (a palette index for palette files).
struct PngLayout {
  int colour_type = 2;  // PNG_COLOR_TYPE_*
  int bit_depth = 8;
  bool interlace = false;
  std::vector<uint32_t> palette{};  // 0x00RRGGBB entries
  std::vector<uint8_t> trns{};      // tRNS alpha per palette entry
};
void WritePng(const fs::path& path, int w, int h, const PngLayout& layout,
              const std::function<uint32_t(int, int, int)>& sample);
// 8-bit RGB PNG whose pixel (x, y) has the colour value f(x, y).
void WritePngRgb(const fs::path& path, int w, int h, const HeightFn& f);

// A TIFF of any sample layout; each of `spp` samples of pixel (x, y) is
// sample(x, y) stored as the file's sample type. Sizes that are not whole
// bytes are written as zeros.
struct TiffLayout {
  uint16_t bits = 32;
  uint16_t format = 3;  // SAMPLEFORMAT_IEEEFP
  uint16_t spp = 1;
  uint16_t photometric = 1;  // PHOTOMETRIC_MINISBLACK
  uint16_t compression = 1;  // COMPRESSION_NONE
  uint16_t predictor = 0;    // 0: tag not written
  uint32_t tile = 0;         // 0: strips of 8 rows
  bool big_endian = false;
};
void WriteTiff(const fs::path& path, uint32_t w, uint32_t h, const TiffLayout& layout,
               const std::function<double(uint32_t, uint32_t)>& sample);
void WriteTiffFloat(const fs::path& path, int w, int h, const FloatFn& f);

// A PNG (or a package, signature restored) decoded independently as 8-bit
// RGB values R*65536 + G*256 + B. Fails the test on a decode error.
std::vector<uint32_t> ReadPngValues(const fs::path& path, int& w, int& h);

std::vector<uint8_t> ReadFileBytes(const fs::path& path);
void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes);
// The first n bytes.
std::vector<uint8_t> Cut(const std::vector<uint8_t>& bytes, size_t n);
// A small RGB PNG claiming w x h whose only IDAT holds a short zlib stream:
// decoders allocate the claimed size before they find the rows missing.
std::vector<uint8_t> PngClaiming(uint32_t w, uint32_t h);

// ---- Projects
// Terrain in metres around 1000: north-south ridges repeating every 120
// pixels, a gentle swell and a 7 m raised block in each 120-pixel cell.
// Rises stay small, so ray ranges stay short and runs quick, while low suns
// still shade across sector borders.
uint32_t Hill(int x, int y, int ox, int oy);
// "CCRR" + ext.
std::string SectorName(int col, int row, const std::string& ext);
// Height at pixel (gx, gy) of the whole grid, row 1 at the bottom.
using GridFn = std::function<double(int gx, int gy)>;
// Sectors 0101 .. cols/rows of `size` pixels cut from one terrain (Hill by
// default); ".png" rounds the heights, ".tif" stores them as float. With
// `lonlat`, also the coordinates file pr_data.vtd.
void MakeProject(const fs::path& work, int cols, int rows, int size, const std::string& ext = ".png",
                 const GridFn& height = nullptr, std::optional<std::pair<double, double>> lonlat = {});

// ---- Folders
struct Entry {
  uintmax_t size = 0;
  uintmax_t inode = 0;
  int64_t mtime_ns = 0;
  bool operator==(const Entry&) const = default;
};
std::map<std::string, Entry> Listing(const fs::path& dir);
// The names in a folder.
std::set<std::string> Names(const fs::path& dir);
std::map<std::string, std::vector<uint8_t>> FolderBytes(const fs::path& dir);
// Problems of a session folder, one line each: a leftover temporary file, an
// entry that is not a regular file, a file that does not start as a package
// or PNG, lacks its end chunk or does not decode whole.
std::vector<std::string> SessionProblems(const fs::path& session);
// Every package and elevation name of `ids` (link the run library).
std::set<std::string> OutputNames(const std::vector<std::string>& ids);

// ---- Processes

// veltano-batch in a child process, standard input /dev/null. `out` and
// `err` hold what it wrote so far, `code` its exit status (128 + signal when
// killed) once it ended, else -1.
class BatchChild {
 public:
  explicit BatchChild(const std::vector<std::string>& args, bool wait = false);
  ~BatchChild();
  BatchChild(const BatchChild&) = delete;
  BatchChild& operator=(const BatchChild&) = delete;
  // False when the child ended first or `seconds` passed.
  bool WaitForText(const std::string& text, double seconds) {
    return Poll(seconds, [&] { return err.find(text) != std::string::npos; });
  }
  void Interrupt(int sig = SIGINT) {
    if (pid_ > 0) kill(pid_, sig);
  }
  // `code`, or -1 after `seconds` (the child then killed).
  int Wait(double seconds = 300);
  int code = -1;
  std::string out, err;

 private:
  // Reads the child's output until `done` holds (true), or false.
  bool Poll(double seconds, const std::function<bool()>& done);
  pid_t pid_ = -1;
  int fd_[2] = {-1, -1};
};
// Runs it to its end.
inline BatchChild RunBatch(const std::vector<std::string>& args) { return BatchChild(args, true); }

// The exit code of a fatal path taken by `f`, or kNoExit.
inline constexpr int kNoExit = 1000;
int ExitCodeOf(const std::function<void()>& f);
// Runs `f` in a child process; true when it ended normally within `seconds`
// (it is killed otherwise), so that a hang fails a test instead of the run.
bool EndsWithin(int seconds, const std::function<void()>& f);

// ---- Random
// VDB_SEED or a fixed default; recorded as the test's "seed" property and
// printed, so that a failure can be replayed.
unsigned TestSeed();
// VDB_SOAK (default 1): multiplies iteration counts for a longer soak.
unsigned SoakFactor();
// Stops runs at random moments: `rounds` * SoakFactor() rounds of start(k),
// a random delay below `span` seconds, then stop(k), which stops the run,
// checks what it left and returns false when the run had ended first (the
// delays then shrink to that run's length). Returns the rounds stopped.
int StopStress(int rounds, double span, const std::function<void(int k)>& start,
               const std::function<bool(int k)>& stop);

// ---- Text
// Occurrences of `line` as a whole line of `text`.
int CountLines(const std::string& text, const std::string& line);
bool Contains(const std::string& text, const std::string& part);
