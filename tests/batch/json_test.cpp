// veltano-batch for scripts: --dry-run writes nothing, --json summaries
// parse and agree with the console, --resume completes a session.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "run/run.h"
#include "support/support.h"

namespace {


struct Outcome {
  int code = -1;
  std::string out, err;
};

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("VDB_BINARY_DIR");
    exe = (bin ? fs::path(bin) : fs::read_symlink("/proc/self/exe").parent_path().parent_path()) / "src/batch/veltano-batch";
    if (!fs::exists(exe)) GTEST_SKIP() << "no batch driver at " << exe;
    fs::create_directories(work);
    MakeProject(work, 2, 2, 120);
  }
  Outcome Batch(const std::string& args) {
    const std::string cmd = "'" + exe.string() + "' " + args + " </dev/null >'" + (scratch / "o").string() +
                            "' 2>'" + (scratch / "e").string() + "'";
    const int status = std::system(cmd.c_str());
    Outcome r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto o = ReadFileBytes(scratch / "o"), e = ReadFileBytes(scratch / "e");
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
  }
  // Python's reading of the summary: one fact per line, or a parse error.
  std::string Facts(const std::string& json, const std::string& expr) {
    const std::string cmd = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(" + expr +
                            ")' '" + (scratch / json).string() + "' >'" + (scratch / "p").string() + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    const auto b = ReadFileBytes(scratch / "p");
    return std::string(b.begin(), b.end());
  }
  std::string Args(const std::string& more) { return "--lon 6.8694 --lat 45.9237 --quiet " + more + " '" + work.string() + "'"; }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  TempDir scratch;
  fs::path exe, work = scratch.path() / "work";
};

TEST_F(ScriptTest, DryRunWritesNothing) {
  const auto before = Listing(work);
  const Outcome r = Batch(Args("--dry-run --session-id d --json '" + (scratch / "d.json").string() + "'"));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Listing(work), before);
  EXPECT_FALSE(fs::exists(scratch / "d.json"));
  EXPECT_NE(r.out.find("sector 0101: range "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("neighbours present: 0102 0201 0202; missing: none"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Sessiond (would be created)"), std::string::npos) << r.out;
  // As a real run: refused without coordinates.
  EXPECT_EQ(Batch("--dry-run '" + work.string() + "'").code, 2);
  EXPECT_EQ(Listing(work), before);
}

TEST_F(ScriptTest, SummariesParseAndAgreeWithTheConsole) {
  // A directory where package 13 of 0101 goes: one error line.
  fs::create_directories(work / "Sessionj" / PackageName("0101", 13));
  const Outcome first = Batch(Args("--session-id j --sectors 0101,0202 --json '" + (scratch / "a.json").string() + "'"));
  ASSERT_EQ(first.code, 4) << first.err;
  EXPECT_EQ(Facts("a.json", "d[\"exit_status\"], d[\"totals\"][\"errors\"], d[\"totals\"][\"done\"], "
                            "[(s[\"id\"], s[\"status\"], s[\"files\"], s[\"errors\"]) for s in d[\"sectors\"]]"),
            "4 " + std::to_string(Count(first.err, "console: ERROR")) +
                " 1 [('0101', 'error', 16, ['ERROR saving package 13']), ('0202', 'done', 17, [])]\n");

  fs::remove(work / "Sessionj" / PackageName("0101", 13));
  const Outcome again = Batch(Args("--resume --session-id j --sectors 0101,0202 --json '" + (scratch / "b.json").string() + "'"));
  ASSERT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(Count(again.err, "console: Sector 0202 already complete, skipped"), 1) << again.err;
  EXPECT_EQ(Facts("b.json", "d[\"totals\"][\"sectors\"], d[\"totals\"][\"done\"], d[\"totals\"][\"skipped\"], "
                            "d[\"totals\"][\"errors\"], [s[\"status\"] for s in d[\"sectors\"]]"),
            "2 1 1 0 ['done', 'skipped']\n");
  EXPECT_NE(again.err.find("veltano-batch: estimated "), std::string::npos) << again.err;

  const Outcome v = Batch("verify --json '" + (scratch / "v.json").string() + "' '" + (work / "Sessionj").string() + "'");
  EXPECT_EQ(v.code, 0) << v.out;
  EXPECT_EQ(Facts("v.json", "d[\"command\"], d[\"session\"], d[\"sectors\"], d[\"files\"], d[\"problems\"]"),
            "verify j 2 34 []\n");
}

}  // namespace
