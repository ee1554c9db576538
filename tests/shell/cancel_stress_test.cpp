// Cancel pressed at random moments of a run, many times over: once Cancel
// returns nothing in the session folder or the window changes any more,
// "Process Cancelled" is shown, the controls are back, every buffer is
// released (once: the sanitized build checks), the files left are whole
// and those of an uninterrupted run, and a following run completes them.
//
// VDB_FAULT_SEED and VDB_FAULT_CANCELS choose the random delays and their
// number; the seed is printed so that a failure can be replayed.

#include <sys/stat.h>

#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>

#include "run/run.h"
#include "shell_fixture.h"

namespace {

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

// Every entry of a folder with its size, inode and modification time, or
// with its contents: what would show a change to it.
std::map<std::string, std::vector<int64_t>> Snapshot(const fs::path& dir) {
  std::map<std::string, std::vector<int64_t>> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    struct stat s {};
    if (::stat(e.path().c_str(), &s) == 0)
      out[e.path().filename().string()] = {s.st_size, static_cast<int64_t>(s.st_ino),
                                           s.st_mtim.tv_sec * 1000000000 + s.st_mtim.tv_nsec};
  }
  return out;
}
std::map<std::string, std::vector<uint8_t>> Contents(const fs::path& dir) {
  std::map<std::string, std::vector<uint8_t>> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) out[e.path().filename().string()] = ReadFileBytes(e.path());
  return out;
}

using CancelStressTest = ShellRunTest;

TEST_F(CancelStressTest, RandomCancelsLeaveNothingBehindAndARerunCompletes) {
  const unsigned seed = EnvNumber("VDB_FAULT_SEED", 20240611);
  const unsigned cancels = EnvNumber("VDB_FAULT_CANCELS", 20);
  std::printf("Cancel stress: seed %u, %u cancels (VDB_FAULT_SEED, VDB_FAULT_CANCELS)\n", seed, cancels);
  RecordProperty("seed", static_cast<int>(seed));
  st.shade_threads = 2;
  MakeProject(2);

  // The uninterrupted run, timed.
  st.sesion = "ref";
  const auto start = std::chrono::steady_clock::now();
  Ctl<QPushButton>(204)->click();
  ASSERT_TRUE(RunEnded());
  const double whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("Cancel stress: an uninterrupted run takes %.2f s\n", whole);
  const auto reference = Contents(SessionFolder());
  ASSERT_EQ(reference.size(), 34u);
  ASSERT_EQ(plat->dialogs().size(), 1u);

  st.sesion = "cx";
  std::mt19937 rng(seed);
  // A run that ended first shows the run to be shorter than measured: the
  // delays shrink to it.
  double span = whole;
  int cancelled = 0;
  double longest = 0;  // from Cancel pressed to Cancel returned
  for (unsigned k = 0; k < cancels; ++k) {
    const int wait_ms = static_cast<int>(std::uniform_real_distribution<double>(0.0, span)(rng) * 1000);
    SCOPED_TRACE("cancel " + std::to_string(k) + " after " + std::to_string(wait_ms) + " ms (seed " +
                 std::to_string(seed) + ")");
    plat->ClearRecords();
    const auto started = std::chrono::steady_clock::now();
    Ctl<QPushButton>(204)->click();
    Pump(wait_ms);
    if (st.working) {
      ++cancelled;
      const auto pressed = std::chrono::steady_clock::now();
      Ctl<QPushButton>(205)->click();
      longest = std::max(longest, std::chrono::duration<double>(std::chrono::steady_clock::now() - pressed).count());
      // Cancel has returned: from here on nothing may touch the folder or the window.
      const auto after = Snapshot(SessionFolder());
      const int progress = Ctl<QProgressBar>(601)->value();
      const size_t lines = Console().size();
      Pump(150);
      EXPECT_EQ(Snapshot(SessionFolder()), after);
      EXPECT_EQ(Ctl<QProgressBar>(601)->value(), progress);
      EXPECT_EQ(Console().size(), lines);
      ASSERT_EQ(plat->boxes().size(), 1u);
      const auto box = plat->boxes()[0];
      EXPECT_EQ(box.text, "Process Cancelled");
      EXPECT_EQ(box.caption, "Info");
      EXPECT_EQ(box.icon, BoxIcon::Info);
      EXPECT_TRUE(box.owned);
      EXPECT_TRUE(plat->dialogs().empty());
    } else {
      ASSERT_TRUE(RunEnded());
      span = std::min(span, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
      EXPECT_EQ(plat->dialogs().size(), 1u);
    }
    ExpectControlsRestored();
    EXPECT_FALSE(st.shoras || st.sfsuma || st.sfwhsinf || st.sfwhscen || st.sfwhssup || st.elev2png || st.sftmp);
    EXPECT_FALSE(st.sfdata || st.sent7);
    EXPECT_TRUE(st.presum.empty() && st.pmeswhs.empty());
    // What is there is whole: the uninterrupted run's file, byte for byte.
    for (const auto& [name, bytes] : Contents(SessionFolder())) {
      ASSERT_TRUE(reference.count(name)) << "unexpected file " << name;
      ASSERT_TRUE(bytes == reference.at(name)) << name << " differs from the uninterrupted run's";
    }
  }
  std::printf("Cancel stress: %d cancelled, %d finished first; Cancel returned within %.3f s\n", cancelled,
              static_cast<int>(cancels) - cancelled, longest);
  RecordProperty("cancelled", cancelled);
  EXPECT_GE(cancelled, static_cast<int>(cancels) / 3);

  // A following run into the same folder completes the outputs.
  plat->ClearRecords();
  Ctl<QPushButton>(204)->click();
  ASSERT_TRUE(RunEnded());
  ASSERT_EQ(plat->dialogs().size(), 1u);
  EXPECT_EQ(plat->dialogs()[0].texts.back(), "No Errors logged during the process");
  EXPECT_EQ(Ctl<QProgressBar>(601)->value(), 100);
  EXPECT_TRUE(Contents(SessionFolder()) == reference);
  ExpectControlsRestored();
}

}  // namespace
