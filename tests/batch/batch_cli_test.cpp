// The veltano-batch executable end to end: its refusals and exit statuses,
// whole 3 x 3 projects of both raster types checked against the reference
// engine and with `verify`, and Ctrl-C.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <thread>

#include "catalogue/scan.h"
#include "engine/run.h"
#include "run_support.h"
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
  void MakeGrid(bool tif, int size = 120) {
    for (int c = 1; c <= 3; ++c)
      for (int r = 1; r <= 3; ++r) {
        const HeightFn f = GridHill(c, r, size);
        if (tif)
          WriteTiffFloat(work / SectorName(c, r, ".tif"), size, size,
                         [&](int x, int y) { return static_cast<float>(f(x, y)) + 0.375f; });
        else
          WritePngRgb(work / SectorName(c, r, ".png"), size, size, f);
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

  // Every output of `ids` in session `a` equals the one in session `b`.
  void ExpectSameOutputs(const std::string& a, const std::string& b, const std::vector<std::string>& ids) {
    for (const std::string& id : ids) {
      std::vector<std::string> names = {ElevationName(id)};
      for (int p = 0; p < 16; ++p) names.push_back(PackageName(id, p));
      for (const std::string& n : names) {
        const auto x = ReadFileBytes(work / a / n), y = ReadFileBytes(work / b / n);
        ASSERT_FALSE(x.empty()) << a << "/" << n;
        EXPECT_TRUE(x == y) << n << " differs between " << a << " and " << b;
      }
    }
  }

  TempDir scratch;
  fs::path work;
};

TEST_F(BatchTest, BadUsageIsRefusedBeforeAnythingRuns) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--lon", kLon, "WORK"},
      {"--lat", kLat, "WORK"},
      {"--lon", "180.5", "--lat", kLat, "WORK"},
      {"--lon", kLon, "--lat", "90.5", "WORK"},
      {"--lon", "+5", "--lat", kLat, "WORK"},
      {"--lon", "1,5", "--lat", kLat, "WORK"},
      {"--lon", "4.1.2", "--lat", kLat, "WORK"},
      {"--lon", "5-", "--lat", kLat, "WORK"},
      {"--lon", "1234567890123456", "--lat", kLat, "WORK"},
      {"--lon", "1.1234567890123456", "--lat", kLat, "WORK"},
      {"--session-id", "a b", "WORK"},
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
  // The coordinate rules accept what the coordinate fields accept.
  for (const char* lon : {"-180", "180", "-3.70379", "-", ".", "0.000000000000001"}) {
    SCOPED_TRACE(lon);
    const Outcome o = Batch({"--lon", lon, "--lat", "-90", (scratch / "missing").string()}, scratch);
    EXPECT_EQ(o.code, 2);  // refused for the missing folder, not the numbers
    EXPECT_FALSE(Contains(o.err, "usage:")) << o.err;
  }
}

TEST_F(BatchTest, RefusalsExitWithTwo) {
  {
    SCOPED_TRACE("no acceptable file");
    WriteFileBytes(work / "notes.txt", {'x'});
    const Outcome o = Run({"--lon", kLon, "--lat", kLat});
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(Contains(o.err, "There are no files to process in the directory")) << o.err;
  }
  MakeGrid(false);
  {
    SCOPED_TRACE("no coordinates anywhere");
    const Outcome o = Run({"--session-id", "x"});
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(Contains(o.err, "Longitud and Latitude must be a valid value")) << o.err;
    EXPECT_FALSE(fs::exists(work / "Sessionx"));
  }
  {
    SCOPED_TRACE("unknown sector");
    const Outcome o = Run({"--lon", kLon, "--lat", kLat, "--sectors", "0101,0909", "--session-id", "x"});
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(Contains(o.err, "unknown sector '0909'")) << o.err;
    EXPECT_FALSE(fs::exists(work / "Sessionx"));
  }
  {
    SCOPED_TRACE("a .tif name while PNG rasters are current");
    EXPECT_EQ(Run({"--lon", kLon, "--lat", kLat, "--sectors", "0101.tif"}).code, 2);
  }
  {
    SCOPED_TRACE("long-job warning without a terminal");
    TempDir big;
    for (int r = 1; r <= 2; ++r) WritePngRgb(big / SectorName(1, r, ".png"), 600, 600, [](int, int) { return 1000u; });
    const Outcome o = Batch({"--lon", kLon, "--lat", kLat, "--session-id", "x", big.str()}, scratch);
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(Contains(o.err, "Estimated time: 20.16 minutes")) << o.err;
    EXPECT_TRUE(Contains(o.err, "--yes")) << o.err;
    EXPECT_FALSE(fs::exists(big / "Sessionx"));
  }
}

TEST_F(BatchTest, PngProjectMatchesTheReferenceEngineAndVerifies) {
  MakeGrid(false);
  WriteCoordinates();
  const Outcome fast = Run({"--session-id", "fast", "--quiet"});
  ASSERT_EQ(fast.code, 0) << fast.err;
  EXPECT_TRUE(Contains(fast.err, "Work Done!")) << fast.err;
  EXPECT_TRUE(Contains(fast.err, "No Errors logged during the process")) << fast.err;
  EXPECT_TRUE(Contains(fast.err, "Results have been stored in: " + (work / "Sessionfast").string())) << fast.err;
  EXPECT_FALSE(Contains(fast.err, "elapsed")) << "--quiet shows no progress";

  // The centre, with all eight neighbours (the TIFF case takes a corner).
  const Outcome ref = Run({"--session-id", "ref", "--engine", "reference", "--threads", "1", "--sectors", "0202.png"});
  ASSERT_EQ(ref.code, 0) << ref.err;
  EXPECT_TRUE(Contains(ref.err, "100%")) << ref.err;
  ExpectSameOutputs("Sessionfast", "Sessionref", {"0202"});

  const Outcome v = Verify("Sessionfast");
  EXPECT_EQ(v.code, 0) << v.out;
  EXPECT_TRUE(Contains(v.out, "9 sectors, 153 files checked, 0 problems")) << v.out;
  EXPECT_EQ(Verify("Sessionref").code, 0);
}

TEST_F(BatchTest, TifProjectMatchesTheReferenceEngineAndVerifies) {
  MakeGrid(true);
  // Coordinates from the command line; the run writes the file verify reads.
  const Outcome fast = Run({"--type", "tif", "--lon", kLon, "--lat", kLat, "--session-id", "fast", "--quiet"});
  ASSERT_EQ(fast.code, 0) << fast.err;
  double lon = 0, lat = 0;
  ASSERT_TRUE(ReadCoordinatesFile((work / "pr_data.vtd").string(), lon, lat));
  EXPECT_EQ(lat, 45.9237);

  // A corner: three neighbours, five missing.
  const Outcome ref = Run({"--type", "tif", "--session-id", "ref", "--engine", "reference", "--sectors", "0303"});
  ASSERT_EQ(ref.code, 0) << ref.err;
  ExpectSameOutputs("Sessionfast", "Sessionref", {"0303"});
  const Outcome v = Verify("Sessionfast");
  EXPECT_EQ(v.code, 0) << v.out;
  EXPECT_TRUE(Contains(v.out, "9 sectors, 153 files checked, 0 problems")) << v.out;
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

TEST_F(BatchTest, CtrlCStopsCleanlyWith130) {
  MakeGrid(false);
  WriteCoordinates();
  const fs::path session = work / "Sessionint";
  const fs::path err = scratch / "int-stderr.txt";
  const std::string exe = BatchExe().string(), dir = work.string();
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 0);
    dup2(null, 1);
    dup2(e, 2);
    execl(exe.c_str(), exe.c_str(), "--engine", "reference", "--session-id", "int", dir.c_str(), nullptr);
    _exit(127);
  }
  // Interrupt once the first package is on disk, in the middle of the job.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int status = 0;
  bool exited = false;
  while (!fs::exists(session / PackageName("0101", 0)) && std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_FALSE(exited) << "the run ended before it could be interrupted";
  kill(pid, SIGINT);
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      FAIL() << "no exit after Ctrl-C";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  const auto bytes = ReadFileBytes(err);
  EXPECT_TRUE(Contains(std::string(bytes.begin(), bytes.end()), "stopped"));

  // Whatever was written is whole; the rest is simply missing.
  EXPECT_FALSE(fs::exists(session / "0303.png"));
  for (const auto& [name, e] : Listing(session)) {
    ASSERT_NE(name[0], '.') << "unfinished file " << name;
    int w = 0, h = 0;
    ReadPngValues(session / name, w, h);
    EXPECT_EQ(w, 120) << name;
  }
}

}  // namespace
