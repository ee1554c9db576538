// Ctrl-C at random moments of a batch run, many times over: the driver
// stops with 130 (or ends normally with 0 when the run was over first),
// leaves no temporary file, and every file it leaves is whole and the same
// as an uninterrupted run's; a following run in the same session folder
// makes the outputs of an uninterrupted run.
//
// VDB_FAULT_SEED, VDB_FAULT_STOPS and VDB_FAULT_HARD_STOPS choose the
// random delays and their number; the seed is printed so that a failure can
// be replayed.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <thread>

#include "faults/fault_support.h"

namespace {

using namespace faults;

// Printed by the driver once its Ctrl-C handler is in place and the run is
// about to start.
constexpr const char* kStarting = "veltano-batch: 2 sectors of 120x120";
constexpr const char* kStopped = "veltano-batch: stopped; every file written so far is complete";

// Name -> inode of every file of a folder: a file put in place anew has a
// new inode.
std::map<std::string, ino_t> Inodes(const fs::path& dir) {
  std::map<std::string, ino_t> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    struct stat s {};
    if (::stat(e.path().c_str(), &s) == 0) out[e.path().filename().string()] = s.st_ino;
  }
  return out;
}

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

class InterruptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BatchExe())) GTEST_SKIP() << "no batch driver at " << BatchExe();
    work = scratch.path() / "work";
    fs::create_directories(work);
    MakeGrid(work);
  }
  std::vector<std::string> Args(const std::string& session) const {
    // A corner and the centre: one sector with three neighbours, one with
    // all eight.
    return {"--lon", kLon, "--lat", kLat, "--threads", "2", "--session-id", session,
            "--sectors", "0101,0202", "--quiet", work.string()};
  }
  fs::path Session(const std::string& id) const { return work / ("Session" + id); }
  // Names in the work directory other than the rasters and session folders.
  std::vector<std::string> Strays() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(work)) {
      const std::string n = e.path().filename().string();
      if (n.size() == 8 && n.compare(4, 4, ".png") == 0) continue;
      if (n == "pr_data.vtd" || n.rfind("Session", 0) == 0) continue;
      out.push_back(n);
    }
    return out;
  }

  TempDir scratch;
  fs::path work;
};

TEST_F(InterruptTest, RandomCtrlCLeavesOnlyWholeFilesAndARerunCompletes) {
  const unsigned seed = EnvNumber("VDB_FAULT_SEED", 20240611);
  const unsigned stops = EnvNumber("VDB_FAULT_STOPS", 30);
  std::printf("Ctrl-C stress: seed %u, %u stops (VDB_FAULT_SEED, VDB_FAULT_STOPS)\n", seed, stops);
  RecordProperty("seed", static_cast<int>(seed));

  // The uninterrupted run, timed from the point where stops start.
  std::chrono::duration<double> whole{};
  {
    BatchChild ref(Args("ref"));
    ASSERT_TRUE(ref.WaitForText(kStarting, 120)) << ref.err();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ref.Wait(), 0) << ref.err();
    whole = std::chrono::steady_clock::now() - start;
  }
  const auto reference = FolderBytes(Session("ref"));
  ASSERT_EQ(reference.size(), 34u);
  const auto coordinates = ReadFileBytes(work / "pr_data.vtd");

  std::mt19937 rng(seed);
  // Within the run: a run that ended first shows the run to be shorter
  // than measured (the first run is often the slowest), and the delays
  // shrink to it.
  double span = whole.count();
  auto delay = [&] { return std::uniform_real_distribution<double>(0.0, span)(rng); };
  int stopped = 0, finished = 0, after_report = 0, with_files = 0, files_written = 0;
  for (unsigned k = 0; k < stops; ++k) {
    const double wait = delay();
    SCOPED_TRACE("stop " + std::to_string(k) + " after " + std::to_string(wait) + " s (seed " +
                 std::to_string(seed) + ")");
    const auto before = Inodes(Session("stop"));
    BatchChild child(Args("stop"));
    ASSERT_TRUE(child.WaitForText(kStarting, 120)) << child.err();
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    child.Interrupt();
    const int code = child.Wait();
    const std::chrono::duration<double> ran = std::chrono::steady_clock::now() - started;
    if (code == 0) span = std::min(span, ran.count());
    const std::string err = child.err();
    ASSERT_TRUE(code == 130 || code == 0) << "exit " << code << "\n" << err;
    if (code == 130) {
      ++stopped;
      EXPECT_TRUE(Contains(err, kStopped)) << err;
      // A Ctrl-C after the completion report still ends with 130; the run
      // was whole then.
      if (Contains(err, "Work Done!")) {
        ++after_report;
        EXPECT_EQ(FolderBytes(Session("stop")).size(), reference.size());
      }
    } else {
      ++finished;
      EXPECT_TRUE(Contains(err, "Work Done!")) << err;
    }
    EXPECT_FALSE(Contains(err, "console: ERROR")) << err;

    // Whatever is there is whole and exactly the uninterrupted run's file;
    // nothing half-written, under any name.
    ASSERT_EQ(SessionProblems(Session("stop")), std::vector<std::string>{});
    const auto now = FolderBytes(Session("stop"));
    for (const auto& [name, bytes] : now) {
      ASSERT_TRUE(reference.count(name)) << "unexpected file " << name;
      ASSERT_TRUE(bytes == reference.at(name)) << name << " differs from the uninterrupted run's";
    }
    int written = 0;
    for (const auto& [name, ino] : Inodes(Session("stop"))) written += !before.count(name) || before.at(name) != ino;
    files_written += written;
    if (written) ++with_files;
    EXPECT_EQ(Strays(), std::vector<std::string>{});
    if (fs::exists(work / "pr_data.vtd")) {
      EXPECT_EQ(ReadFileBytes(work / "pr_data.vtd"), coordinates);
    }

    // Now and then, and after the last stop: a following run into the same
    // folder gives the uninterrupted run's outputs.
    if (k % 10 == 9 || k + 1 == stops) {
      const Outcome rerun = RunBatch(Args("stop"));
      ASSERT_EQ(rerun.code, 0) << rerun.err;
      EXPECT_TRUE(FolderBytes(Session("stop")) == reference);
      EXPECT_EQ(SessionProblems(Session("stop")), std::vector<std::string>{});
      // Start the next stops from an empty folder again.
      fs::remove_all(Session("stop"));
    }
  }
  // A second Ctrl-C ends the process at once, wherever it is: a file being
  // written is then left under its hidden temporary name only, never as a
  // truncated file under its final name.
  const unsigned hard = EnvNumber("VDB_FAULT_HARD_STOPS", 6);
  int leftovers = 0;
  for (unsigned k = 0; k < hard; ++k) {
    const double wait = delay();
    const int gap_us = static_cast<int>(rng() % 2000);
    SCOPED_TRACE("double Ctrl-C " + std::to_string(k) + " after " + std::to_string(wait) + " s (seed " +
                 std::to_string(seed) + ")");
    BatchChild child(Args("hard"));
    ASSERT_TRUE(child.WaitForText(kStarting, 120)) << child.err();
    std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    child.Interrupt();
    std::this_thread::sleep_for(std::chrono::microseconds(gap_us));
    child.Interrupt();
    const int code = child.Wait();
    ASSERT_TRUE(code == 130 || code == 0) << "exit " << code << "\n" << child.err();
    for (const auto& [name, bytes] : FolderBytes(Session("hard"))) {
      if (name[0] == '.') continue;
      ASSERT_TRUE(reference.count(name)) << "unexpected file " << name;
      ASSERT_TRUE(bytes == reference.at(name)) << name << " differs from the uninterrupted run's";
    }
  }
  if (hard > 0) {
    for (const std::string& p : SessionProblems(Session("hard"))) {
      ASSERT_TRUE(Contains(p, "temporary file left behind")) << p;
      ++leftovers;
    }
    const Outcome rerun = RunBatch(Args("hard"));
    ASSERT_EQ(rerun.code, 0) << rerun.err;
    for (const auto& [name, bytes] : reference) EXPECT_TRUE(ReadFileBytes(Session("hard") / name) == bytes) << name;
  }
  std::printf("Ctrl-C stress: %u double Ctrl-C, %d temporary files left under hidden names\n", hard, leftovers);

  std::printf(
      "Ctrl-C stress: %d stopped (130, %d of them after the completion report), %d finished first (0); "
      "%d runs put %d files on disk before ending\n",
      stopped, after_report, finished, with_files, files_written);
  RecordProperty("stopped", stopped);
  RecordProperty("finished", finished);
  // The delays really fell within the run.
  EXPECT_GE(stopped, static_cast<int>(stops) / 3);
}

}  // namespace
