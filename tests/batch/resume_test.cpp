// A batch run stopped by Ctrl-C or killed at random moments, or cut short
// by a full disk, then completed with --resume: the session folder is byte
// for byte that of an uninterrupted run, the leftover temporary files
// removed and reported.

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "support/support.h"

namespace {

constexpr const char* kLon = "6.8694";
constexpr const char* kLat = "45.9237";

TEST(ResumeFaultTest, KilledOrFullDiskThenResumedIsByteIdentical) {
  if (!fs::exists(BatchExe())) GTEST_SKIP() << "no batch driver at " << BatchExe();
  TempDir scratch;
  const fs::path work = scratch.path() / "work";
  fs::create_directories(work);
  MakeProject(work, 3, 3, 120);
  auto args = [&](const std::string& id, bool resume) {
    std::vector<std::string> a{"--lon", kLon, "--lat", kLat, "--session-id", id, "--sectors", "0101,0202,0303",
                               "--quiet", work.string()};
    if (resume) a.insert(a.begin(), "--resume");
    return a;
  };
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunBatch(args("ref", false)).code, 0);
  const double span = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto reference = FolderBytes(work / "Sessionref");
  ASSERT_EQ(reference.size(), 3u * 17);

  std::mt19937 rng(TestSeed());
  for (int k = 0; k < 4; ++k) {
    const std::string id = std::string(1, static_cast<char>('a' + k));
    const double wait = std::uniform_real_distribution<double>(0.0, span)(rng);
    SCOPED_TRACE(testing::Message() << "stopped after " << wait << " s");
    if (k < 3) {
      BatchChild child(args(id, false));
      std::this_thread::sleep_for(std::chrono::duration<double>(wait));
      child.Interrupt(k == 0 ? SIGINT : SIGKILL);  // Ctrl-C, then kills
      child.Wait();
    } else {
      // A full disk: every file above 2 KiB fails.
      EXPECT_EQ(RunBatch(args(id, false), 2048).code, 4);
    }
    // What a kill during a write leaves, whether or not this one did.
    fs::create_directories(work / ("Session" + id));
    WriteFileBytes(work / ("Session" + id) / ".vto_package_0202_3.vtp.tmp-1-1", {1, 2, 3});
    const Outcome resumed = RunBatch(args(id, true));
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    EXPECT_EQ(CountLines(resumed.err, "console: Removed leftover temporary file .vto_package_0202_3.vtp.tmp-1-1"), 1);
    EXPECT_TRUE(FolderBytes(work / ("Session" + id)) == reference);
    EXPECT_EQ(SessionProblems(work / ("Session" + id)), std::vector<std::string>{});
  }
}

}  // namespace
