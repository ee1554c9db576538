// The main window with a worker thread: whole runs to their dialog, the
// commands refused during a run, Cancel and closing at any moment, and the
// boxes a worker needs while a Cancel comes.
#include <QProgressBar>
#include <algorithm>
#include <atomic>
#include <fstream>

#include "run/run.h"
#include "shell_fixture.h"

namespace {

bool Has(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(start); });
}

TEST_F(ShellTest, RunWithErrorsAndWarningsReachesWorkDone) {
  OpenProject(1, [](int x, int y) { return x == 60 && y == 60 ? 9000.0 : 1000 + (x * 7 + y * 3) % 40; });
  std::ofstream(SessionFolder()) << "in the way";  // nothing can be saved
  Process();
  ASSERT_TRUE(RunEnded());
  ASSERT_EQ(plat.dialogs().size(), 1u);
  const auto done = plat.dialogs()[0];
  EXPECT_EQ(done.title, "Work Done!");
  EXPECT_TRUE(Has(done.texts, dir.str() + "/Sessiont"));
  EXPECT_TRUE(Has(done.texts, "Oops! It seems there was an Error during the process"));
  EXPECT_TRUE(Has(done.texts, "There were some Warnings during the process"));
  EXPECT_FALSE(Has(done.texts, "No Errors logged"));
  for (const char* line : {"ERROR saving package 0", "ERROR saving elev png",
                           "WARNING!! Unexpected High values of elevations in 0101"})
    EXPECT_TRUE(Has(Console(), line)) << line;
  ExpectControlsRestored();
}

TEST_F(ShellTest, ProjectCommandsAreRefusedDuringARun) {
  OpenProject(2);
  win->Command(203);
  int picks = 0;
  win->pick_directory = [&] { return ++picks, QString::fromStdString(dir.str()); };
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  win->run_body = [&] {  // holds the run open until released
    ++runs;
    while (!release && !st.stoprequest) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    st.working = 0;
  };
  Cancel();  // no run: nothing to cancel
  EXPECT_TRUE(plat.boxes().empty());
  Process();
  Process();  // pressed twice quickly
  ASSERT_TRUE(PumpUntil([&] { return runs > 0; }));
  for (int command : {201, 40004, 202, 204}) win->Command(command);
  auto* combo = Ctl<QComboBox>(ctl::kFileType);
  combo->setCurrentIndex(1);
  emit combo->activated(1);
  EXPECT_EQ(picks, 0);
  EXPECT_EQ(Sectors()->selectedItems().size(), 0);
  EXPECT_EQ(st.cu_ext, 0);
  EXPECT_EQ(combo->currentIndex(), 0);  // shows the type still in use
  release = true;
  ASSERT_TRUE(RunEnded());
  EXPECT_EQ(runs, 1);
  win->Command(202);  // idle again: the commands act
  EXPECT_EQ(Sectors()->selectedItems().size(), 2);
}

TEST_F(ShellTest, FileTypeChangeRescansOnlyOnARealChange) {
  auto choose = [&](int index) {
    Ctl<QComboBox>(ctl::kFileType)->setCurrentIndex(index);
    emit Ctl<QComboBox>(ctl::kFileType)->activated(index);
  };
  choose(1);  // no folder yet: the type changes, nothing is scanned or said
  EXPECT_EQ(st.admext, ".tif");
  EXPECT_TRUE(Console().empty());
  choose(0);
  OpenProject(3);
  choose(0);  // the type in use: the list and its selection stay, nothing is said
  EXPECT_EQ(Sectors()->selectedItems().size(), 3);
  EXPECT_EQ(Console(), std::vector<std::string>{"Work directoy selected: " + dir.str()});
  choose(1);  // no .tif rasters there
  EXPECT_EQ(Sectors()->count(), 0);
  EXPECT_EQ(Console().back(), "WARNING: There are no files to process in the directory");
  choose(0);
  EXPECT_EQ(Sectors()->count(), 3);
}

// Cancel at random moments: once it returns nothing in the session folder
// or the window changes any more, the controls are back, every buffer is
// released, and the files left are whole, each the uninterrupted run's; a
// following run completes them.
TEST_F(ShellTest, RandomCancelsLeaveNothingBehindAndARerunCompletes) {
  st.shade_threads = 2;
  OpenProject(2);
  st.sesion = "ref";
  const auto t0 = std::chrono::steady_clock::now();
  Process();
  ASSERT_TRUE(RunEnded());
  const double span = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const auto reference = FolderBytes(SessionFolder());
  ASSERT_EQ(reference.size(), 34u);
  st.sesion = "cx";
  auto start = [&](int) {
    plat.Clear();
    Process();
  };
  auto stop = [&](int) {
    const bool running = st.working;
    if (running) {
      Cancel();
      const auto files = Listing(SessionFolder());
      const int progress = Ctl<QProgressBar>(ctl::kProgress)->value();
      const size_t lines = Console().size();
      Pump(0.15);
      EXPECT_EQ(Listing(SessionFolder()), files);
      EXPECT_EQ(Ctl<QProgressBar>(ctl::kProgress)->value(), progress);
      EXPECT_EQ(Console().size(), lines);
      EXPECT_EQ(plat.boxes().size(), 1u);
      EXPECT_TRUE(plat.boxes()[0].text == "Process Cancelled" && plat.boxes()[0].icon == BoxIcon::Info);
      EXPECT_TRUE(plat.dialogs().empty());
    } else {
      EXPECT_TRUE(RunEnded());
      EXPECT_EQ(plat.dialogs().size(), 1u);
    }
    ExpectControlsRestored();
    EXPECT_FALSE(st.shoras || st.sfsuma || st.sfwhsinf || st.sfwhscen || st.sfwhssup || st.elev2png || st.sftmp);
    EXPECT_FALSE(st.sfdata || st.sent7 || !st.presum.empty() || !st.pmeswhs.empty());
    for (const auto& [name, bytes] : FolderBytes(SessionFolder()))
      EXPECT_TRUE(reference.count(name) && bytes == reference.at(name)) << name << " is not the uninterrupted run's";
    return running;
  };
  EXPECT_GE(StopStress(12, span, start, stop), 4);
  plat.Clear();
  Process();
  ASSERT_TRUE(RunEnded());
  ASSERT_EQ(plat.dialogs().size(), 1u);
  EXPECT_EQ(plat.dialogs()[0].texts.back(), "No Errors logged during the process");
  EXPECT_EQ(Ctl<QProgressBar>(ctl::kProgress)->value(), 100);
  EXPECT_TRUE(FolderBytes(SessionFolder()) == reference);
}

TEST_F(ShellTest, ClosingDuringARunCancelsThenEnds) {
  OpenProject(2);
  Process();
  ASSERT_TRUE(PumpUntil([&] { return Ctl<QProgressBar>(ctl::kProgress)->value() >= 2 || st.working == 0; }));
  ASSERT_EQ(st.working, 1);
  win->Command(40001);  // File/Exit
  Pump(0.02);
  EXPECT_FALSE(win->isVisible());
  EXPECT_TRUE(st.working == 0 && !win->hThread1.joinable());
  ASSERT_EQ(plat.boxes().size(), 1u);
  EXPECT_EQ(plat.boxes()[0].text, "Process Cancelled");
  EXPECT_EQ(st.pantalla, nullptr);  // the graph window is gone
  const auto files = Listing(SessionFolder());
  Pump(0.2);
  EXPECT_EQ(Listing(SessionFolder()), files);
}

// A worker's question never holds up a Cancel: the stopped question counts
// as declined.
TEST_F(ShellTest, WorkerQuestionsAreAnsweredAndNeverDeadlockACancel) {
  std::atomic<int> first{-1}, second{-1};
  std::atomic<bool> go{false};
  win->run_body = [&] {
    auto ask = [](const char* text) {
      return platform().MessageBox(text, "Warning!", BoxIcon::Warning, BoxButtons::OkCancel, true) == BoxResult::Ok;
    };
    first = ask("Proceed?");
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    second = ask("Estimated time");  // nobody serves the queue until Cancel
    st.working = 0;
  };
  Process();
  ASSERT_TRUE(PumpUntil([&] { return first != -1; }));
  EXPECT_EQ(first, 1);
  go = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  Cancel();
  EXPECT_EQ(second, 0);
  ASSERT_EQ(plat.boxes().size(), 2u);
  EXPECT_EQ(plat.boxes()[1].text, "Process Cancelled");
}

// A Cancel that lands while the worker is on its way to a fatal error must
// not swallow the fatal box: the program ends right after it.
TEST_F(ShellTest, FatalErrorIsShownEvenWhenACancelLandsFirst) {
  std::atomic<int> exit_code{0};
  win->run_body = [&] {
    while (!st.stoprequest) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    try {
      FatalBox("Fatal error loading data", "Error", true, -1);
    } catch (const ProcessExit& e) {
      exit_code = e.code;
    }
  };
  Process();
  Cancel();
  EXPECT_EQ(exit_code, -1);
  ASSERT_FALSE(plat.boxes().empty());
  EXPECT_EQ(plat.boxes()[0].text, "Fatal error loading data");
  EXPECT_EQ(plat.boxes()[0].icon, BoxIcon::Error);
}

}  // namespace
