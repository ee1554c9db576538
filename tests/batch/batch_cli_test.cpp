// The veltano-batch executable end to end: its refusals and exit statuses,
// and whole 3 x 3 projects of both raster types checked against the
// reference engine and with `verify`.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "catalogue/coords_file.h"
#include "catalogue/scan.h"
#include "run/run.h"
#include "support/run_support.h"
#include "support/fixtures.h"

namespace {

using namespace runtest;

constexpr const char* kLon = "6.8694";
constexpr const char* kLat = "45.9237";

fs::path BatchExe() {
  const char* bin = std::getenv("VDB_BINARY_DIR");
  // Run by hand from build/tests: the build folder is one level up.
  const fs::path build = bin ? fs::path(bin) : fs::read_symlink("/proc/self/exe").parent_path().parent_path();
  return build / "src" / "batch" / "veltano-batch";
}

struct Outcome {
  int code = -1;
  std::string out, err;
};

// Runs the driver without a terminal on standard input.
Outcome Batch(const std::vector<std::string>& args, const TempDir& scratch) {
  std::string cmd = "'" + BatchExe().string() + "'";
  for (const std::string& a : args) cmd += " '" + a + "'";
  const fs::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
  cmd += " </dev/null >'" + out.string() + "' 2>'" + err.string() + "'";
  const int status = std::system(cmd.c_str());
  Outcome o;
  o.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const auto o_bytes = ReadFileBytes(out), e_bytes = ReadFileBytes(err);
  o.out.assign(o_bytes.begin(), o_bytes.end());
  o.err.assign(e_bytes.begin(), e_bytes.end());
  return o;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BatchExe())) GTEST_SKIP() << "no batch driver at " << BatchExe();
    work = scratch.path() / "work";
    fs::create_directories(work);
  }
  // The 3 x 3 project, PNG or float TIFF (the TIFF heights carry a
  // fraction, which the engines truncate alike).
  void MakeGrid(bool tif) {
    for (int c = 1; c <= 3; ++c)
      for (int r = 1; r <= 3; ++r) {
        const HeightFn f = GridHill(c, r, 120);
        if (tif)
          WriteTiffFloat(work / SectorName(c, r, ".tif"), 120, 120,
                         [&](int x, int y) { return static_cast<float>(f(x, y)) + 0.375f; });
        else
          WritePngRgb(work / SectorName(c, r, ".png"), 120, 120, f);
      }
  }
  void WriteCoordinates() {
    ASSERT_TRUE(WriteCoordinatesFile((work / "pr_data.vtd").string(), std::atof(kLon), std::atof(kLat)));
  }
  Outcome Run(std::vector<std::string> args) {
    args.push_back(work.string());
    return Batch(args, scratch);
  }
  Outcome Verify(const std::string& session) { return Batch({"verify", (work / session).string()}, scratch); }

  TempDir scratch;
  fs::path work;
};

TEST_F(BatchTest, BadUsageIsRefusedBeforeAnythingRuns) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--lon", kLon, "WORK"},
      {"--lon", "180.5", "--lat", kLat, "WORK"},
      {"--lon", "1,5", "--lat", kLat, "WORK"},
      {"--lon", "1.1234567890123456", "--lat", kLat, "WORK"},
      {"--session-id", "../x", "WORK"},
      {"--type", "bmp", "WORK"},
      {"--engine", "slow", "WORK"},
      {"--threads", "0", "WORK"},
      {"--frobnicate", "WORK"},
      {"WORK", "OTHER"},
      {"verify"},
      {"--sectors", "0101,", "WORK"},
  };
  for (const auto& args : cases) {
    std::string label;
    for (const auto& a : args) label += a + " ";
    SCOPED_TRACE(label);
    const Outcome o = Batch(args, scratch);
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(Contains(o.err, "usage: veltano-batch")) << o.err;
  }
}

TEST_F(BatchTest, RefusalsExitWithTwoAndCreateNoSession) {
  WriteFileBytes(work / "notes.txt", {'x'});
  const Outcome none = Run({"--lon", kLon, "--lat", kLat});
  EXPECT_EQ(none.code, 2);
  EXPECT_TRUE(Contains(none.err, "There are no files to process in the directory")) << none.err;

  MakeGrid(false);
  TempDir big;
  // 240 sectors of 600 x 600 on one thread: 10.41 minutes.
  WritePngRgb(big / "0101.png", 600, 600, [](int, int) { return 1000u; });
  for (int k = 1; k < 240; ++k) fs::copy_file(big / "0101.png", big / SectorName(1 + k / 80, 1 + k % 80, ".png"));
  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string dir;
    std::vector<std::string> says;
  };
  const std::vector<Case> cases = {
      {"no coordinates anywhere", {}, work.string(), {"Longitud and Latitude must be a valid value"}},
      {"unknown sector", {"--lon", kLon, "--lat", kLat, "--sectors", "0101,0909"}, work.string(),
       {"unknown sector '0909'"}},
      {"a .tif name while PNG rasters are current", {"--lon", kLon, "--lat", kLat, "--sectors", "0101.tif"},
       work.string(), {}},
      {"long-job warning without a terminal", {"--lon", kLon, "--lat", kLat, "--threads", "1"}, big.str(),
       {"Estimated time: 10.41 minutes", "--yes"}},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.label);
    c.args.insert(c.args.end(), {"--session-id", "x", c.dir});
    const Outcome o = Batch(c.args, scratch);
    EXPECT_EQ(o.code, 2);
    for (const std::string& s : c.says) EXPECT_TRUE(Contains(o.err, s)) << o.err;
    EXPECT_FALSE(fs::exists(fs::path(c.dir) / "Sessionx"));
  }
}

// Fast engine on the whole grid; the reference engine on one sector (the
// centre with all eight neighbours for PNG, a corner with three for TIFF)
// must give the same bytes; `verify` passes the session.
TEST_F(BatchTest, ProjectMatchesTheReferenceEngineAndVerifies) {
  for (const bool tif : {false, true}) {
    SCOPED_TRACE(tif ? "tif" : "png");
    fs::remove_all(work);
    fs::create_directories(work);
    MakeGrid(tif);
    std::vector<std::string> args = {"--session-id", "fast", "--quiet"};
    if (tif)  // coordinates from the command line: the run writes the file verify reads
      args.insert(args.end(), {"--type", "tif", "--lon", kLon, "--lat", kLat});
    else
      WriteCoordinates();
    const Outcome fast = Run(args);
    ASSERT_EQ(fast.code, 0) << fast.err;
    EXPECT_TRUE(Contains(fast.err, "No Errors logged during the process")) << fast.err;
    EXPECT_TRUE(Contains(fast.err, "Results have been stored in: " + (work / "Sessionfast").string())) << fast.err;
    EXPECT_FALSE(Contains(fast.err, "elapsed")) << "--quiet shows no progress";

    const std::string id = tif ? "0303" : "0202";
    const Outcome ref = Run({"--type", tif ? "tif" : "png", "--session-id", "ref", "--engine", "reference",
                             "--threads", "1", "--sectors", id});
    ASSERT_EQ(ref.code, 0) << ref.err;
    EXPECT_TRUE(Contains(ref.err, "100%")) << ref.err;
    std::vector<std::string> names = {ElevationName(id)};
    for (int p = 0; p < 16; ++p) names.push_back(PackageName(id, p));
    for (const std::string& n : names) {
      const auto x = ReadFileBytes(work / "Sessionfast" / n);
      ASSERT_FALSE(x.empty()) << n;
      EXPECT_TRUE(x == ReadFileBytes(work / "Sessionref" / n)) << n << " differs from the reference engine's";
    }

    const Outcome v = Verify("Sessionfast");
    EXPECT_EQ(v.code, 0) << v.out;
    EXPECT_TRUE(Contains(v.out, "9 sectors, 153 files checked, 0 problems")) << v.out;
  }
}

TEST_F(BatchTest, LoggedErrorsExitWithFour) {
  MakeGrid(false);
  WriteCoordinates();
  fs::create_directories(work / "Sessionerr" / PackageName("0101", 13));
  const Outcome o = Run({"--session-id", "err", "--sectors", "0101"});
  EXPECT_EQ(o.code, 4) << o.err;
  EXPECT_TRUE(Contains(o.err, "console: ERROR saving package 13")) << o.err;
  EXPECT_TRUE(Contains(o.err, "Oops! It seems there was an Error during the process")) << o.err;
  const Outcome v = Verify("Sessionerr");
  EXPECT_EQ(v.code, 4);
  EXPECT_TRUE(Contains(v.out, "vto_package_0101_13.vtp: missing")) << v.out;
}

}  // namespace
