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

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "faults/fault_support.h"

namespace {

using namespace faults;

// Printed by the driver once its Ctrl-C handler is in place and the run is
// about to start.
constexpr const char* kStarting = "veltano-batch: 2 sectors of 120x120";
constexpr const char* kStopped = "veltano-batch: stopped; every file written so far is complete";

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
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

TEST(InterruptTest, RandomCtrlCLeavesOnlyWholeFilesAndARerunCompletes) {
  if (!fs::exists(BatchExe())) GTEST_SKIP() << "no batch driver at " << BatchExe();
  TempDir scratch;
  const fs::path work = scratch.path() / "work";
  fs::create_directories(work);
  MakeGrid(work);
  // A corner and the centre: one sector with three neighbours, one with all
  // eight.
  auto args = [&](const std::string& id) {
    return std::vector<std::string>{"--lon", kLon, "--lat", kLat, "--threads", "2", "--session-id", id,
                                    "--sectors", "0101,0202", "--quiet", work.string()};
  };
  auto session = [&](const std::string& id) { return work / ("Session" + id); };
  const unsigned seed = EnvNumber("VDB_FAULT_SEED", 20240611);
  const unsigned stops = EnvNumber("VDB_FAULT_STOPS", 30);
  const unsigned hard = EnvNumber("VDB_FAULT_HARD_STOPS", 6);
  std::printf("Ctrl-C stress: seed %u, %u stops, %u double stops\n", seed, stops, hard);

  // The uninterrupted run, timed from the point where stops start.
  double span = 0;
  {
    BatchChild ref(args("ref"));
    ASSERT_TRUE(ref.WaitForText(kStarting, 120)) << ref.err();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ref.Wait(), 0) << ref.err();
    span = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const auto reference = FolderBytes(session("ref"));
  ASSERT_EQ(reference.size(), 34u);
  const auto coordinates = ReadFileBytes(work / "pr_data.vtd");

  std::mt19937 rng(seed);
  auto delay = [&] { return std::uniform_real_distribution<double>(0.0, span)(rng); };
  // A second Ctrl-C (the last `hard` rounds) ends the process at once: a
  // file being written is then left under its hidden temporary name only,
  // never truncated under its final name.
  int stopped = 0;
  for (unsigned k = 0; k < stops + hard; ++k) {
    const bool twice = k >= stops;
    const std::string id = twice ? "hard" : "stop";
    const double wait = delay();
    SCOPED_TRACE("stop " + std::to_string(k) + " after " + std::to_string(wait) + " s (seed " +
                 std::to_string(seed) + ")");
    BatchChild child(args(id));
    ASSERT_TRUE(child.WaitForText(kStarting, 120)) << child.err();
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    child.Interrupt();
    if (twice) {
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
      child.Interrupt();
    }
    const int code = child.Wait();
    const std::string err = child.err();
    ASSERT_TRUE(code == 130 || code == 0) << "exit " << code << "\n" << err;
    // A run that ended first shows the run to be shorter than measured (the
    // first run is often the slowest): the delays shrink to it.
    if (code == 0)
      span = std::min(span, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    ExpectSubsetOf(session(id), reference);
    if (twice) continue;

    stopped += code == 130;
    EXPECT_TRUE(Contains(err, code == 130 ? kStopped : "Work Done!")) << err;
    EXPECT_FALSE(Contains(err, "console: ERROR")) << err;
    ASSERT_EQ(SessionProblems(session(id)), std::vector<std::string>{});
    if (fs::exists(work / "pr_data.vtd")) {
      EXPECT_EQ(ReadFileBytes(work / "pr_data.vtd"), coordinates);
    }

    // Now and then, and after the last stop: a following run into the same
    // folder gives the uninterrupted run's outputs.
    if (k % 10 == 9 || k + 1 == stops) {
      const Outcome rerun = RunBatch(args(id));
      ASSERT_EQ(rerun.code, 0) << rerun.err;
      EXPECT_TRUE(FolderBytes(session(id)) == reference);
      fs::remove_all(session(id));
    }
  }
  if (hard > 0) {
    for (const std::string& p : SessionProblems(session("hard")))
      ASSERT_TRUE(Contains(p, "temporary file left behind")) << p;
    const Outcome rerun = RunBatch(args("hard"));
    ASSERT_EQ(rerun.code, 0) << rerun.err;
    for (const auto& [name, bytes] : reference) EXPECT_TRUE(ReadFileBytes(session("hard") / name) == bytes) << name;
  }
  std::printf("Ctrl-C stress: %d of %u stopped with 130\n", stopped, stops);
  // The delays really fell within the run.
  EXPECT_GE(stopped, static_cast<int>(stops) / 3);
}

}  // namespace
