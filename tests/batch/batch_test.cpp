// veltano-batch end to end: its refusals and exit statuses, whole projects
// and `verify`, dry runs and JSON summaries, and runs stopped at random
// moments, then run again or resumed.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
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
  void SetUp() override { fs::create_directories(work); }
  fs::path Session(const std::string& id) const { return work / ("Session" + id); }
  // Python's reading of a JSON summary, printed on one line.
  std::string Facts(const std::string& json, const std::string& expr) {
    const std::string py = "import json,sys; d=json.load(open(sys.argv[1])); print(*eval(sys.argv[2]))";
    const std::string cmd = "python3 -c '" + py + "' '" + Json(json) + "' \"" + expr + "\" 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string text;
    for (int c; (c = std::fgetc(p)) != EOF;) text += static_cast<char>(c);
    EXPECT_EQ(pclose(p), 0) << text;
    return text;
  }
  std::string Json(const std::string& name) const { return (scratch / name).string(); }
  TempDir scratch;
  const fs::path work = scratch / "work";
};

// Every refusal exits with 2 and its reason before a session folder exists.
TEST_F(BatchTest, RefusalsExitWithTwoAndCreateNoSession) {
  MakeProject(work, 3, 3, 120);  // no coordinates file
  TempDir big, none;
  // 240 sectors of 600 x 600 on one thread: 10.41 minutes, past the threshold.
  MakeProject(big.path(), 1, 1, 600, ".png", [](int, int) { return 1000.0; });
  for (int k = 1; k < 240; ++k) fs::copy_file(big / "0101.png", big / SectorName(1 + k / 80, 1 + k % 80, ".png"));
  WriteFileBytes(none / "notes.txt", {'x'});
  const std::string w = work.string();
  std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--lon", kLon, "--lat", kLat, none.str()}, "There are no files to process in the directory"},
      {{w}, "Longitud and Latitude must be a valid value"},
      {{"--lon", kLon, "--lat", kLat, "--sectors", "0101,0909", w}, "unknown sector '0909'"},
      {{"--lon", kLon, "--lat", kLat, "--sectors", "0101.tif", w}, "veltano-batch"},
      // Without a terminal there is nobody to answer the long-job question.
      {{"--lon", kLon, "--lat", kLat, "--threads", "1", big.str()}, "Estimated time: 10.41 minutes"},
  };
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"--lon", kLon, w}, {"--lon", "180.5", "--lat", kLat, w}, {"--lon", "1,5", "--lat", kLat, w},
           {"--lon", "1.1234567890123456", "--lat", kLat, w}, {"--session-id", "../x", w}, {"--type", "bmp", w},
           {"--engine", "slow", w}, {"--threads", "0", w}, {"--frobnicate", w}, {w, "OTHER"}, {"verify"},
           {"--sectors", "0101,", w}})
    cases.emplace_back(args, "usage: veltano-batch");
  for (const auto& [args, says] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const BatchChild o = RunBatch(args);
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(Contains(o.err, says)) << o.err;
    EXPECT_EQ(Contains(o.err, "give --yes"), says.starts_with("Estimated")) << o.err;
  }
  for (const fs::path& dir : {work, big.path(), none.path()})
    for (const auto& [name, entry] : Listing(dir)) EXPECT_NE(name.rfind("Session", 0), 0u) << name;
}

// A dry run writes nothing and says what the run would do. The run then
// takes its coordinates from the command line, makes every output, and
// `verify` passes and says so in JSON. A run with an error, on the
// coordinates that run wrote, exits with 4 (verify too); --resume makes the
// sector with a damaged file again and skips the whole one. The JSON
// summaries agree with the console.
TEST_F(BatchTest, DryRunRunErrorsAndResume) {
  MakeProject(work, 2, 2, 120, ".tif", [](int x, int y) { return Low(x, y) + 0.375; });
  const auto before = Listing(work);
  std::vector<std::string> args = {"--dry-run", "--type", "tif", "--lon", kLon, "--lat", kLat, "--session-id", "d",
                                   "--quiet", "--json", Json("d.json"), work.string()};
  const BatchChild dry = RunBatch(args);
  EXPECT_EQ(dry.code, 0) << dry.err;
  for (const char* says : {"sector 0101: range ", "neighbours present: 0102 0201 0202; missing: none",
                           "Sessiond (would be created)"})
    EXPECT_TRUE(Contains(dry.out, says)) << dry.out;
  EXPECT_EQ(RunBatch({"--dry-run", "--type", "tif", work.string()}).code, 2);  // refused without coordinates
  EXPECT_EQ(Listing(work), before);
  EXPECT_FALSE(fs::exists(Json("d.json")));
  args.erase(args.begin());
  const BatchChild f = RunBatch(args);
  ASSERT_EQ(f.code, 0) << f.err;
  EXPECT_TRUE(Contains(f.err, "No Errors logged during the process")) << f.err;
  EXPECT_TRUE(Contains(f.err, "Results have been stored in: " + Session("d").string())) << f.err;
  EXPECT_FALSE(Contains(f.err, "elapsed")) << "--quiet shows no progress";
  EXPECT_EQ(SessionProblems(Session("d")), std::vector<std::string>{});
  EXPECT_EQ(RunBatch({"verify", "--json", Json("v.json"), Session("d").string()}).code, 0);
  EXPECT_EQ(Facts("v.json", "d['command'], d['session'], d['sectors'], d['files'], d['problems']"),
            "verify d 4 68 []\n");

  fs::create_directories(Session("j") / PackageName("0101", 13));
  args = {"--type", "tif", "--session-id", "j", "--sectors", "0101,0202", "--json", Json("a.json"), work.string()};
  const BatchChild o = RunBatch(args);
  EXPECT_EQ(o.code, 4) << o.err;
  EXPECT_EQ(CountLines(o.err, "console: ERROR saving package 13"), 1) << o.err;
  EXPECT_TRUE(Contains(o.err, "Oops! It seems there was an Error during the process")) << o.err;
  EXPECT_EQ(Facts("a.json", "d['exit_status'], d['totals']['errors'], d['totals']['done'], "
                            "[(s['id'], s['status'], s['files'], s['errors']) for s in d['sectors']]"),
            "4 1 1 [('0101', 'error', 16, ['ERROR saving package 13']), ('0202', 'done', 17, [])]\n");
  EXPECT_EQ(RunBatch({"verify", Session("j").string()}).code, 4);
  fs::remove(Session("j") / PackageName("0101", 13));
  WriteFileBytes(Session("j") / PackageName("0101", 13), {1, 2, 3});
  args.insert(args.begin(), "--resume");
  args.end()[-2] = Json("b.json");
  const BatchChild again = RunBatch(args);
  ASSERT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(CountLines(again.err, "console: Sector 0202 already complete, skipped"), 1) << again.err;
  EXPECT_TRUE(Contains(again.err, "veltano-batch: estimated ")) << again.err;
  EXPECT_EQ(Facts("b.json", "d['totals']['sectors'], d['totals']['done'], d['totals']['skipped'], "
                            "d['totals']['errors'], [s['status'] for s in d['sectors']]"),
            "2 1 1 0 ['done', 'skipped']\n");
}

// Ctrl-C stops the run with 130 (or it ends with 0 when it was over first),
// leaving only whole files, each the uninterrupted run's; a second Ctrl-C
// or a kill ends it at once, leaving at most hidden temporaries. A rerun in
// the same folder, or --resume after the hard stops, makes the uninterrupted
// run's folder, the leftover temporaries removed and reported.
TEST_F(BatchTest, RandomCtrlCLeavesOnlyWholeFilesAndARerunCompletes) {
  MakeProject(work, 3, 3, 120, ".png", Low, kLonLat);
  auto args = [&](const std::string& id, const char* more = "--quiet") {
    return std::vector<std::string>{more, "--threads", "2", "--session-id", id, "--sectors", "0101,0202",
                                    work.string()};
  };
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(RunBatch(args("ref")).code, 0);
  const double span = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  const auto reference = FolderBytes(Session("ref"));
  ASSERT_EQ(reference.size(), 34u);
  auto id = [](int k) { return k % 5 >= 3 ? "hard" : "stop"; };  // 3: Ctrl-C twice, 4: killed
  std::unique_ptr<BatchChild> child;
  auto start = [&](int k) {
    child = std::make_unique<BatchChild>(args(id(k)));
    // Printed once the Ctrl-C handler is in place and the run starts.
    ASSERT_TRUE(child->WaitForText("veltano-batch: 2 sectors of 120x120", 120)) << child->err;
  };
  auto stop = [&](int k) {
    child->Interrupt(k % 5 == 4 ? SIGKILL : SIGINT);
    if (k % 5 == 3) {
      std::this_thread::sleep_for(std::chrono::microseconds(k * 337 % 2000));
      child->Interrupt();
    }
    const int code = child->Wait();
    EXPECT_TRUE(code == 0 || code == (k % 5 == 4 ? 137 : 130)) << "exit " << code << "\n" << child->err;
    for (const auto& [name, bytes] : FolderBytes(Session(id(k))))
      EXPECT_TRUE(name[0] == '.' || (reference.count(name) && bytes == reference.at(name))) << name << " is not whole";
    if (k % 5 >= 3) return code != 0;
    const std::string& err = child->err;
    EXPECT_TRUE(Contains(err, code ? "veltano-batch: stopped; every file written so far is complete" : "Work Done!"))
        << err;
    EXPECT_FALSE(Contains(err, "console: ERROR")) << err;
    EXPECT_EQ(SessionProblems(Session(id(k))), std::vector<std::string>{});
    return code != 0;
  };
  EXPECT_GE(StopStress(15, span, start, stop), 5);
  // What a kill during a write leaves, whether or not one did.
  const std::string leftover = ".vto_package_0202_3.vtp.tmp-1-1";
  fs::create_directories(Session("hard"));
  WriteFileBytes(Session("hard") / leftover, {1, 2, 3});
  for (const std::string s : {"stop", "hard"}) {
    const BatchChild rerun = RunBatch(args(s, s == "hard" ? "--resume" : "--quiet"));
    ASSERT_EQ(rerun.code, 0) << rerun.err;
    EXPECT_EQ(CountLines(rerun.err, "console: Removed leftover temporary file " + leftover), s == "hard");
    EXPECT_TRUE(FolderBytes(Session(s)) == reference);
  }
}

}  // namespace
