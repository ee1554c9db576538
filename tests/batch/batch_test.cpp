// veltano-batch end to end: its refusals and exit statuses, whole projects
// against the reference engine and `verify`, and Ctrl-C at random moments.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "run/run.h"
#include "support/support.h"

namespace {

constexpr const char* kLon = "6.8694";
constexpr const char* kLat = "45.9237";
constexpr std::pair<double, double> kLonLat = {6.8694, 45.9237};
// A low terrain: short rays keep the runs quick, even under the sanitizers.
double Low(int x, int y) { return 1000 + (Hill(x, y, 0, 0) - 1000.0) / 4; }

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BatchExe())) GTEST_SKIP() << "no batch driver at " << BatchExe();
    work = scratch / "work";
    fs::create_directories(work);
  }
  fs::path Session(const std::string& id) const { return work / ("Session" + id); }
  TempDir scratch;
  fs::path work;
};

// Every refusal exits with 2 and its reason before a session folder exists.
TEST_F(BatchTest, RefusalsExitWithTwoAndCreateNoSession) {
  MakeProject(work, 3, 3, 120);  // no coordinates file
  TempDir big, none;
  // 240 sectors of 600 x 600 on one thread: 10.41 minutes, past the threshold.
  MakeProject(big.path(), 1, 1, 600, ".png", [](int, int) { return 1000.0; });
  for (int k = 1; k < 240; ++k) fs::copy_file(big / "0101.png", big / SectorName(1 + k / 80, 1 + k % 80, ".png"));
  WriteFileBytes(none / "notes.txt", {'x'});
  const std::string w = work.string(), usage = "usage: veltano-batch";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, usage},
      {{"--lon", kLon, w}, usage},
      {{"--lon", "180.5", "--lat", kLat, w}, usage},
      {{"--lon", "1,5", "--lat", kLat, w}, usage},
      {{"--lon", "1.1234567890123456", "--lat", kLat, w}, usage},
      {{"--session-id", "../x", w}, usage},
      {{"--type", "bmp", w}, usage},
      {{"--engine", "slow", w}, usage},
      {{"--threads", "0", w}, usage},
      {{"--frobnicate", w}, usage},
      {{w, "OTHER"}, usage},
      {{"verify"}, usage},
      {{"--sectors", "0101,", w}, usage},
      {{"--lon", kLon, "--lat", kLat, none.str()}, "There are no files to process in the directory"},
      {{w}, "Longitud and Latitude must be a valid value"},
      {{"--lon", kLon, "--lat", kLat, "--sectors", "0101,0909", w}, "unknown sector '0909'"},
      {{"--lon", kLon, "--lat", kLat, "--sectors", "0101.tif", w}, "veltano-batch"},
      // Without a terminal there is nobody to answer the long-job question.
      {{"--lon", kLon, "--lat", kLat, "--threads", "1", big.str()}, "Estimated time: 10.41 minutes"},
  };
  for (const auto& [args, says] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Outcome o = RunBatch(args);
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(Contains(o.err, says)) << o.err;
    EXPECT_EQ(Contains(o.err, "give --yes"), says.starts_with("Estimated")) << o.err;
  }
  for (const fs::path& dir : {work, big.path(), none.path()})
    for (const auto& [name, entry] : Listing(dir)) EXPECT_NE(name.rfind("Session", 0), 0u) << name;
}

// Both raster types, coordinates from the file or from the command line (the
// run then writes the file verify reads): every output, and `verify` passes.
// The engines' byte identity is the run tests' (the same code runs here).
TEST_F(BatchTest, ProjectsOfBothTypesRunAndVerify) {
  for (const std::string ext : {".png", ".tif"}) {
    SCOPED_TRACE(ext);
    fs::remove_all(work);
    fs::create_directories(work);
    MakeProject(work, 3, 3, 120, ext, [](int x, int y) { return Low(x, y) + 0.375; },
                ext == ".png" ? std::optional(kLonLat) : std::nullopt);
    std::vector<std::string> args = {"--type", ext.substr(1), "--session-id", "s", "--quiet", work.string()};
    if (ext == ".tif") args.insert(args.begin(), {"--lon", kLon, "--lat", kLat});
    const Outcome f = RunBatch(args);
    ASSERT_EQ(f.code, 0) << f.err;
    EXPECT_TRUE(Contains(f.err, "No Errors logged during the process")) << f.err;
    EXPECT_TRUE(Contains(f.err, "Results have been stored in: " + Session("s").string())) << f.err;
    EXPECT_FALSE(Contains(f.err, "elapsed")) << "--quiet shows no progress";
    EXPECT_EQ(FolderBytes(Session("s")).size(), 153u);
    EXPECT_EQ(SessionProblems(Session("s")), std::vector<std::string>{});
    EXPECT_EQ(RunBatch({"verify", Session("s").string()}).code, 0);
  }
}

TEST_F(BatchTest, LoggedErrorsExitWithFour) {
  MakeProject(work, 2, 2, 120, ".png", nullptr, kLonLat);
  fs::create_directories(Session("err") / PackageName("0101", 13));
  const Outcome o = RunBatch({"--session-id", "err", "--sectors", "0101", work.string()});
  EXPECT_EQ(o.code, 4) << o.err;
  EXPECT_TRUE(Contains(o.err, "console: ERROR saving package 13")) << o.err;
  EXPECT_TRUE(Contains(o.err, "Oops! It seems there was an Error during the process")) << o.err;
  EXPECT_EQ(RunBatch({"verify", Session("err").string()}).code, 4);
}

// Every file of `session` is one of the uninterrupted run's, byte for byte
// (hidden temporary names aside).
void ExpectSubsetOf(const fs::path& session, const std::map<std::string, std::vector<uint8_t>>& reference) {
  for (const auto& [name, bytes] : FolderBytes(session)) {
    if (name[0] == '.') continue;
    ASSERT_TRUE(reference.count(name)) << "unexpected file " << name;
    ASSERT_TRUE(bytes == reference.at(name)) << name << " differs from the uninterrupted run's";
  }
}

// Ctrl-C stops the run with 130 (or it ends with 0 when it was over first),
// leaving only whole files, each the uninterrupted run's; a second Ctrl-C
// ends it at once, leaving at most hidden temporaries. A following run in
// the same folder makes the uninterrupted run's outputs.
TEST_F(BatchTest, RandomCtrlCLeavesOnlyWholeFilesAndARerunCompletes) {
  // Printed once the Ctrl-C handler is in place and the run starts.
  const std::string starting = "veltano-batch: 2 sectors of 120x120";
  MakeProject(work, 3, 3, 120, ".png", Low, kLonLat);
  auto args = [&](const std::string& id) {
    return std::vector<std::string>{"--threads", "2", "--session-id", id, "--sectors", "0101,0202", "--quiet",
                                    work.string()};
  };
  double span = 0;
  {
    BatchChild ref(args("ref"));
    ASSERT_TRUE(ref.WaitForText(starting, 120)) << ref.err();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ref.Wait(), 0) << ref.err();
    span = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const auto reference = FolderBytes(Session("ref"));
  ASSERT_EQ(reference.size(), 34u);
  const auto coordinates = ReadFileBytes(work / "pr_data.vtd");
  auto twice = [](int k) { return k % 6 == 5; };
  auto id = [&](int k) { return twice(k) ? "hard" : "stop"; };
  std::unique_ptr<BatchChild> child;
  auto start = [&](int k) {
    child = std::make_unique<BatchChild>(args(id(k)));
    ASSERT_TRUE(child->WaitForText(starting, 120)) << child->err();
  };
  auto stop = [&](int k) {
    child->Interrupt();
    if (twice(k)) {
      std::this_thread::sleep_for(std::chrono::microseconds(k * 337 % 2000));
      child->Interrupt();
    }
    const int code = child->Wait();
    const std::string err = child->err();
    EXPECT_TRUE(code == 130 || code == 0) << "exit " << code << "\n" << err;
    ExpectSubsetOf(Session(id(k)), reference);
    if (twice(k)) return code == 130;
    EXPECT_TRUE(Contains(err, code == 130 ? "veltano-batch: stopped; every file written so far is complete"
                                          : "Work Done!")) << err;
    EXPECT_FALSE(Contains(err, "console: ERROR")) << err;
    EXPECT_EQ(SessionProblems(Session(id(k))), std::vector<std::string>{});
    EXPECT_EQ(ReadFileBytes(work / "pr_data.vtd"), coordinates);
    if (k % 8 == 7) {  // now and then, a following run completes the folder
      EXPECT_EQ(RunBatch(args("stop")).code, 0);
      EXPECT_TRUE(FolderBytes(Session("stop")) == reference);
      fs::remove_all(Session("stop"));
    }
    return code == 130;
  };
  EXPECT_GE(StopStress(15, span, start, stop), 5);
  for (const std::string& p : SessionProblems(Session("hard")))
    EXPECT_TRUE(Contains(p, "temporary file left behind")) << p;
  for (const std::string s : {"stop", "hard"}) {
    const Outcome rerun = RunBatch(args(s));
    ASSERT_EQ(rerun.code, 0) << rerun.err;
    for (const auto& [name, bytes] : reference) EXPECT_TRUE(ReadFileBytes(Session(s) / name) == bytes) << name;
  }
}

}  // namespace
