// Cancel pressed at random moments of a run, many times over: once Cancel
// returns nothing in the session folder changes any more, the controls are
// back, every buffer is released (once: the sanitized build checks), the
// files left are whole and those of an uninterrupted run, and a following
// run completes the outputs.
//
// VDB_FAULT_SEED and VDB_FAULT_CANCELS choose the random delays and their
// number; the seed is printed so that a failure can be replayed.

#include <sys/stat.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include "engine/run.h"
#include "shell_fixture.h"

namespace {

unsigned EnvNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

struct FileState {
  uintmax_t size = 0;
  ino_t inode = 0;
  int64_t mtime_ns = 0;
  bool operator==(const FileState&) const = default;
};

// Every entry of a folder with what would show a change to it.
std::map<std::string, FileState> Snapshot(const fs::path& dir) {
  std::map<std::string, FileState> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    struct stat s {};
    if (::stat(e.path().c_str(), &s) != 0) continue;
    out[e.path().filename().string()] = {static_cast<uintmax_t>(s.st_size), s.st_ino,
                                         static_cast<int64_t>(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec};
  }
  return out;
}

std::map<std::string, std::vector<uint8_t>> Contents(const fs::path& dir) {
  std::map<std::string, std::vector<uint8_t>> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) out[e.path().filename().string()] = ReadFileBytes(e.path());
  return out;
}

class CancelStressTest : public ShellTest {
 protected:
  // Two 120 x 120 sectors in a row with valid coordinates, all selected.
  void MakeProject() {
    for (int c = 1; c <= 2; ++c) {
      char name[32];
      std::snprintf(name, sizeof name, "%02d01.png", c);
      WritePngRgb(dir / name, 120, 120, [c](int x, int y) {
        const int gx = x + 120 * (c - 1);
        return static_cast<uint32_t>(1000 + (gx * 7 + y * 3) % 40 + ((gx / 20 + y / 20) % 2) * 6);
      });
    }
    picked = QString::fromStdString(dir.str());
    win->Command(201);
    ASSERT_EQ(Sectors()->count(), 2);
    Ctl<QLineEdit>(401)->setText("6.8694");
    win->CoordinateLeft(0);
    Ctl<QLineEdit>(402)->setText("45.9237");
    win->CoordinateLeft(1);
    win->Command(202);
  }
  bool RunEnded(double seconds = 240) {
    return PumpUntil([&] { return st.working == 0 && !win->hThread1.joinable(); }, seconds);
  }
  fs::path Session() const { return SessionFolder(); }
  void ExpectIdleAndReleased() {
    EXPECT_EQ(st.working, 0);
    EXPECT_FALSE(win->hThread1.joinable());
    EXPECT_EQ(platform().ControlText(ctl::kStatusBar), "");
    EXPECT_FALSE(Ctl<QLineEdit>(401)->isReadOnly());
    EXPECT_FALSE(Ctl<QLineEdit>(402)->isReadOnly());
    EXPECT_TRUE(Ctl<QComboBox>(801)->isEnabled());
    EXPECT_FALSE(st.shoras || st.sfsuma || st.sfwhsinf || st.sfwhscen || st.sfwhssup || st.elev2png || st.sftmp);
    EXPECT_FALSE(st.sfdata || st.sent7);
    EXPECT_TRUE(st.presum.empty() && st.pmeswhs.empty());
  }

  TempDir dir;
};

TEST_F(CancelStressTest, RandomCancelsLeaveNothingBehindAndARerunCompletes) {
  const unsigned seed = EnvNumber("VDB_FAULT_SEED", 20240611);
  const unsigned cancels = EnvNumber("VDB_FAULT_CANCELS", 20);
  std::printf("Cancel stress: seed %u, %u cancels (VDB_FAULT_SEED, VDB_FAULT_CANCELS)\n", seed, cancels);
  RecordProperty("seed", static_cast<int>(seed));
  st.shade_threads = 2;
  MakeProject();

  // The uninterrupted run, timed.
  st.sesion = "ref";
  const auto start = std::chrono::steady_clock::now();
  Ctl<QPushButton>(204)->click();
  ASSERT_TRUE(RunEnded());
  const double whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("Cancel stress: an uninterrupted run takes %.2f s\n", whole);
  const auto reference = Contents(Session());
  ASSERT_EQ(reference.size(), 34u);
  ASSERT_EQ(plat->dialogs().size(), 1u);

  st.sesion = "cx";
  std::mt19937 rng(seed);
  // Within the run: a run that ended first shows the run to be shorter
  // than measured, and the delays shrink to it.
  double span = whole;
  auto delay = [&] { return std::uniform_real_distribution<double>(0.0, span)(rng); };
  int cancelled = 0, finished = 0;
  double longest = 0;  // from Cancel pressed to Cancel returned
  for (unsigned k = 0; k < cancels; ++k) {
    const int wait_ms = static_cast<int>(delay() * 1000);
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
      // Cancel has returned: from here on nothing may touch the folder.
      const auto after = Snapshot(Session());
      Pump(150);
      EXPECT_EQ(Snapshot(Session()), after);
      ASSERT_EQ(plat->boxes().size(), 1u);
      EXPECT_EQ(plat->boxes()[0].text, "Process Cancelled");
    } else {
      ++finished;
      ASSERT_TRUE(RunEnded());
      span = std::min(span, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
      EXPECT_EQ(plat->dialogs().size(), 1u);
    }
    ExpectIdleAndReleased();
    // What is there is whole: the uninterrupted run's file, byte for byte.
    for (const auto& [name, bytes] : Contents(Session())) {
      ASSERT_TRUE(reference.count(name)) << "unexpected file " << name;
      ASSERT_TRUE(bytes == reference.at(name)) << name << " differs from the uninterrupted run's";
    }
  }
  std::printf("Cancel stress: %d cancelled, %d finished first; Cancel returned within %.3f s\n", cancelled, finished,
              longest);
  RecordProperty("cancelled", cancelled);
  EXPECT_GE(cancelled, static_cast<int>(cancels) / 3);

  // A following run into the same folder completes the outputs.
  plat->ClearRecords();
  Ctl<QPushButton>(204)->click();
  ASSERT_TRUE(RunEnded());
  ASSERT_EQ(plat->dialogs().size(), 1u);
  EXPECT_EQ(plat->dialogs()[0].texts.back(), "No Errors logged during the process");
  EXPECT_TRUE(Contents(Session()) == reference);
  ExpectIdleAndReleased();
}

}  // namespace
