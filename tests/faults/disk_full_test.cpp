// Writes that fail part way, as on a full disk: the batch driver in a child
// process whose file-size limit stops its writes, a session folder that
// cannot be created, and the ordinary writers under the same limit. Every
// failed file has its console line, the run goes on, and no file under a
// final name is ever a truncated one.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "catalogue/coords_file.h"
#include "catalogue/scan.h"
#include "faults/fault_support.h"
#include "terrain/pngfuncs.h"
#include "terrain/raster.h"

namespace {

using namespace faults;

ino_t Inode(const fs::path& p) {
  struct stat s {};
  return ::stat(p.c_str(), &s) == 0 ? s.st_ino : 0;
}

std::string ErrorLine(const std::string& name) {
  const size_t us = name.rfind('_');
  if (name.rfind("vto_package_", 0) == 0 && us != std::string::npos)
    return "console: ERROR saving package " + name.substr(us + 1, name.size() - us - 5);
  return "console: ERROR saving elev png";
}

class DiskFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BatchExe())) GTEST_SKIP() << "no batch driver at " << BatchExe();
    work = scratch.path() / "work";
    fs::create_directories(work);
    MakeGrid(work);
  }
  std::vector<std::string> Args(const std::string& session, const std::string& sectors) const {
    return {"--lon", kLon, "--lat", kLat, "--threads", "2", "--quiet",
            "--session-id", session, "--sectors", sectors, work.string()};
  }
  fs::path Session(const std::string& id) const { return work / ("Session" + id); }

  TempDir scratch;
  fs::path work;
};

// Each limit lets through exactly the files no longer than it. Half of the
// names hold a good file from an earlier run, the other half nothing: a
// failed write keeps the earlier file as it was (same file, same bytes) and
// leaves a missing one missing; a write that fits replaces the file whole.
TEST_F(DiskFullTest, EveryFileTooLargeFailsAloneAndKeepsThePreviousOne) {
  const Outcome good = RunBatch(Args("good", "0202"));
  ASSERT_EQ(good.code, 0) << good.err;
  const auto reference = FolderBytes(Session("good"));
  ASSERT_EQ(reference.size(), 17u);
  std::vector<long> sizes;
  for (const auto& [name, bytes] : reference) sizes.push_back(static_cast<long>(bytes.size()));
  std::sort(sizes.begin(), sizes.end());
  // Below every file, exactly a file's size (it fits), just below the
  // largest, and above every file.
  const std::vector<long> limits = {1024, sizes[8], sizes.back() - 1, 40960};
  for (size_t k = 0; k < limits.size(); ++k) {
    const long limit = limits[k];
    SCOPED_TRACE("RLIMIT_FSIZE " + std::to_string(limit));
    const std::string id = "limit" + std::to_string(k);
    const fs::path session = Session(id);
    fs::create_directories(session);
    std::map<std::string, ino_t> prior;
    size_t i = 0;
    for (const auto& [name, bytes] : reference)
      if (i++ % 2 == k % 2) {
        WriteFileBytes(session / name, bytes);
        prior[name] = Inode(session / name);
      }

    const Outcome o = RunBatch(Args(id, "0202"), limit);
    std::map<std::string, int> expected_lines;
    int failed = 0;
    for (const auto& [name, bytes] : reference)
      if (static_cast<long>(bytes.size()) > limit) ++expected_lines[ErrorLine(name)], ++failed;
    EXPECT_EQ(o.code, failed ? 4 : 0) << o.err;
    EXPECT_TRUE(Contains(o.err, "Work Done!")) << o.err;
    EXPECT_EQ(Contains(o.err, "Oops! It seems there was an Error during the process"), failed > 0) << o.err;
    for (const auto& [name, bytes] : reference)
      EXPECT_EQ(CountLines(o.err, ErrorLine(name)), expected_lines[ErrorLine(name)]) << name;

    EXPECT_EQ(SessionProblems(session), std::vector<std::string>{});
    for (const auto& [name, bytes] : reference) {
      SCOPED_TRACE(name + " of " + std::to_string(bytes.size()) + " bytes");
      const fs::path file = session / name;
      const bool fits = static_cast<long>(bytes.size()) <= limit, had = prior.count(name) > 0;
      if (!fits && !had) {
        EXPECT_FALSE(fs::exists(file));
        continue;
      }
      EXPECT_TRUE(ReadFileBytes(file) == bytes);
      if (had) {
        EXPECT_EQ(Inode(file) == prior[name], !fits) << "replaced whole, or kept as it was";
      }
    }
  }
}

// A plain file where the session folder should be: nothing can be saved,
// every file says so, and the run still goes through every sector.
TEST_F(DiskFullTest, SessionFolderThatCannotBeCreated) {
  const fs::path blocker = Session("blk");
  std::ofstream(blocker) << "in the way";
  const Outcome o = RunBatch(Args("blk", "0101,0202"));
  EXPECT_EQ(o.code, 4) << o.err;
  for (int p = 0; p < 16; ++p)
    EXPECT_EQ(CountLines(o.err, "console: ERROR saving package " + std::to_string(p)), 2) << p;
  EXPECT_EQ(CountLines(o.err, "console: ERROR saving elev png"), 2);
  EXPECT_TRUE(Contains(o.err, "Review the console log. Some results may be omited or corrupted")) << o.err;
  const auto bytes = ReadFileBytes(blocker);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "in the way");
}

// The process's file-size limit, lowered for the life of the object.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(long bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit low = saved_;
    low.rlim_cur = static_cast<rlim_t>(bytes);
    setrlimit(RLIMIT_FSIZE, &low);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t old_handler_;
};

class WriterLimitTest : public StateTest {
 protected:
  TempDir dir;
};

// The writers used for what the background writer does not take, the
// coordinates file among them (without it the next run would be refused):
// a write that stops part way (in the middle of the image, or only at the
// close that flushes the last buffer) leaves the earlier file untouched.
TEST_F(WriterLimitTest, OrdinaryWritersKeepThePreviousFile) {
  TempDir elsewhere;  // the folder below must hold only images
  const std::string coords = (elsewhere / "pr_data.vtd").string();
  ASSERT_TRUE(WriteCoordinatesFile(coords, -3.5, 40.25));
  SurfacePtr s = CreateResultSurface(120, 120);
  std::mt19937 rng(8);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 120; ++x) SDLPutPixel(s.get(), x, y, rng() & 0xFFFFFF);
  const fs::path pkg = dir / "vto_package_0101_7.vtp", png = dir / "0101.png";
  ASSERT_TRUE(save_package(pkg.string(), s.get(), 7));
  ASSERT_EQ(png_save_surface(png.string(), s.get()), 0);
  const auto pkg_bytes = ReadFileBytes(pkg), png_bytes = ReadFileBytes(png);
  ASSERT_GT(png_bytes.size(), 40000u);

  for (long limit : {0L, 4097L, static_cast<long>(png_bytes.size()) - 1}) {
    SCOPED_TRACE(limit);
    SDLPutPixel(s.get(), 0, 0, static_cast<uint32_t>(limit));
    {
      FileSizeLimit lim(limit);
      EXPECT_FALSE(save_package(pkg.string(), s.get(), 7));
      EXPECT_EQ(png_save_surface(png.string(), s.get()), -1);
      if (limit < 16) {
        EXPECT_FALSE(WriteCoordinatesFile(coords, 1, 2));
      }
    }
    double lon = 0, lat = 0;
    ASSERT_TRUE(ReadCoordinatesFile(coords, lon, lat));
    EXPECT_EQ(lon, -3.5);
    EXPECT_TRUE(ReadFileBytes(pkg) == pkg_bytes);
    EXPECT_TRUE(ReadFileBytes(png) == png_bytes);
    EXPECT_EQ(SessionProblems(dir.path()), std::vector<std::string>{});
  }
  EXPECT_EQ(plat.console().size(), 3u);
  EXPECT_EQ(plat.console()[0], "ERROR saving package 7");
  EXPECT_EQ(st.finderror, 1);
}

}  // namespace
