// The main window with a worker thread, on a Qt platform that records its
// boxes and dialogs instead of showing them: whole runs to their dialog,
// the commands refused during a run, Cancel and closing at any moment, and
// the boxes a worker needs while a Cancel comes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <clocale>

#include "run/run.h"
#include "shell/main_window.h"
#include "shell/qt_platform.h"
#include "support/support.h"
#include "terrain/graph.h"

namespace {

// Records the boxes and dialogs (all shown on the interface thread) and
// answers every box OK; ending the process throws ProcessExit.
using Box = std::pair<std::string, BoxIcon>;

class RecordingQtPlatform : public QtPlatform {
 public:
  std::vector<Box> boxes;
  std::vector<std::string> dialogs;  // the title, then every label and edit, a line each
  int ExecDialog(QDialog& dialog) override {
    std::string& text = dialogs.emplace_back(dialog.windowTitle().toStdString());
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (auto* label = qobject_cast<QLabel*>(w)) (text += '\n') += label->text().toStdString();
      if (auto* edit = qobject_cast<QLineEdit*>(w)) (text += '\n') += edit->text().toStdString();
    }
    return 0;
  }
  void Clear() { boxes.clear(), dialogs.clear(); }
  std::atomic<int> exit_code{0};
  [[noreturn]] void ExitProcess(int code) override { throw ProcessExit(exit_code = code); }

 protected:
  BoxResult ShowBox(const std::string& text, const std::string&, BoxIcon icon, BoxButtons, bool) override {
    boxes.emplace_back(text, icon);
    return BoxResult::Ok;
  }
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;  // the window needs an application, for the whole program
    static char name[] = "test_shell", *argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    [[maybe_unused]] static const QApplication* app = new QApplication(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // Qt takes the locale from the environment
    ResetProjectState();
    SetPlatform(&plat);
    win = std::make_unique<MainWindow>(plat);
    win->pick_directory = [this] { return ++picks, QString::fromStdString(dir.str()); };
    win->show();
    QTest::qWait(0);
  }
  void TearDown() override {
    win.reset();
    QTest::qWait(0);
    if (!st.pantalla) {  // a test closed the window, which shuts the graph window down
      Inicia_SDL();
      PrepareWatermark();
    }
    SetPlatform(nullptr);
    ResetProjectState();
  }
  template <class T = QWidget>
  T* Ctl(int id) const { return win->findChild<T*>(QString::number(id)); }
  int Progress() const { return Ctl<QProgressBar>(ctl::kProgress)->value(); }
  QListWidget* Console() const { return Ctl<QListWidget>(ctl::kConsole); }
  // Serves the interface thread's queue until `done` holds (false after 4 minutes), then once more.
  static bool PumpUntil(const std::function<bool()>& done) {
    const bool ok = QTest::qWaitFor(done, 240000);
    QApplication::processEvents();
    return ok;
  }
  bool RunEnded() { return PumpUntil([&] { return st.working == 0 && !win->hThread1.joinable(); }); }
  // `n` 120 x 120 sectors in one row with saved coordinates, all selected.
  void OpenProject(int n) {
    MakeProject(dir.path(), n, 1, 120, ".png", nullptr, {{-3.70379, 40.4165}});
    win->Command(201);
    win->Command(202);
  }
  void ChooseType(int index) {
    Ctl<QComboBox>(ctl::kFileType)->setCurrentIndex(index);
    emit Ctl<QComboBox>(ctl::kFileType)->activated(index);
  }
  void Process() { Ctl<QPushButton>(204)->click(); }
  void Cancel() { Ctl<QPushButton>(205)->click(); }

  TempDir dir;
  int picks = 0;
  RecordingQtPlatform plat;
  std::unique_ptr<MainWindow> win;
};

// Closing the window then cancels the run and ends.
TEST_F(ShellTest, ProjectCommandsAreRefusedDuringARun) {
  OpenProject(2);
  win->Command(203);
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  win->run_body = [&] {  // holds the run open until released
    ++runs;
    while (!release && !st.stoprequest) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    st.working = 0;
  };
  Cancel();  // no run: nothing to cancel
  Process();
  Process();  // pressed twice quickly
  ASSERT_TRUE(PumpUntil([&] { return runs > 0; }));
  for (int command : {201, 40004, 202, 204}) win->Command(command);
  ChooseType(1);
  // The opening's pick only, no selection, and the combo box shows the type still in use.
  EXPECT_EQ(std::make_tuple(picks, Ctl<QListWidget>(ctl::kSectorList)->selectedItems().size(), st.cu_ext,
                            Ctl<QComboBox>(ctl::kFileType)->currentIndex()), std::make_tuple(1, 0, 0, 0));
  win->Command(40001);  // File/Exit
  QTest::qWait(20);
  EXPECT_TRUE(st.working == 0 && !win->hThread1.joinable() && !win->isVisible() && !st.pantalla);
  release = true;  // had the close not cancelled it
  ASSERT_TRUE(RunEnded());
  EXPECT_TRUE(runs == 1 && (plat.boxes == std::vector<Box>{{"Process Cancelled", BoxIcon::Info}}));
  ChooseType(1);  // idle again: the commands act; no .tif rasters there
  EXPECT_EQ(Ctl<QListWidget>(ctl::kSectorList)->count(), 0);
  EXPECT_EQ(Console()->item(Console()->count() - 1)->text(), "WARNING: There are no files to process in the directory");
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
  st.sesion = "cx";
  auto stop = [&](int) {
    const bool running = st.working;
    if (running) {
      Cancel();
      const auto files = Listing(SessionFolder());
      const auto [progress, lines] = std::pair(Progress(), Console()->count());
      QTest::qWait(150);
      EXPECT_TRUE(Listing(SessionFolder()) == files && Progress() == progress && Console()->count() == lines);
      EXPECT_TRUE((plat.boxes == std::vector<Box>{{"Process Cancelled", BoxIcon::Info}}));
    }
    EXPECT_TRUE(RunEnded());
    EXPECT_EQ(plat.dialogs.size(), running ? 0u : 1u);
    EXPECT_TRUE(platform().ControlText(ctl::kStatusBar).empty() && Ctl<QComboBox>(ctl::kFileType)->isEnabled() &&
                !Ctl<QLineEdit>(ctl::kLongitude)->isReadOnly() && !Ctl<QLineEdit>(ctl::kLatitude)->isReadOnly());
    EXPECT_FALSE(st.shoras || st.sfsuma || st.sfwhsinf || st.sfwhscen || st.sfwhssup || st.elev2png || st.sftmp);
    EXPECT_FALSE(st.sfdata || st.sent7 || !st.presum.empty() || !st.pmeswhs.empty());
    for (const auto& [name, bytes] : FolderBytes(SessionFolder()))
      EXPECT_TRUE(reference.count(name) && bytes == reference.at(name)) << name << " is not the uninterrupted run's";
    plat.Clear();
    return running;
  };
  plat.Clear();
  auto start = [&](int) {  // until the run has locked the coordinates, so that their release shows
    Process();
    PumpUntil([&] { return Ctl<QLineEdit>(ctl::kLongitude)->isReadOnly() || !st.working; });
  };
  EXPECT_GE(StopStress(12, span, start, stop), 4);
  Process();
  ASSERT_TRUE(RunEnded());
  EXPECT_TRUE(plat.dialogs.size() == 1 && plat.dialogs[0].starts_with("Work Done!\n") &&
              plat.dialogs[0].ends_with("/Sessioncx\nNo Errors logged during the process"))
      << ::testing::PrintToString(plat.dialogs);
  EXPECT_EQ(Progress(), 100);
  EXPECT_TRUE(FolderBytes(SessionFolder()) == reference);
}

// A worker's question is answered while the queue is served; one that waits
// when a Cancel comes counts as declined, and never holds the Cancel up.
// A fatal error on the way out is still shown: the program ends right after.
TEST_F(ShellTest, WorkerBoxesDuringACancel) {
  std::atomic<int> first{-1}, second{-1};
  std::atomic<bool> go{false};
  win->run_body = [&] {
    auto ask = [](const char* text) {
      return platform().MessageBox(text, "Warning!", BoxIcon::Warning, BoxButtons::OkCancel, true) == BoxResult::Ok;
    };
    first = ask("Proceed?");
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    second = ask("Estimated time");  // nobody serves the queue until Cancel
    EXPECT_THROW(FatalBox("Fatal error loading data", "Error", true, -1), ProcessExit);
  };
  Process();
  ASSERT_TRUE(PumpUntil([&] { return first != -1; }));
  go = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  Cancel();
  EXPECT_EQ(std::make_tuple(first.load(), second.load(), plat.exit_code.load()), std::make_tuple(1, 0, -1));
  EXPECT_TRUE((plat.boxes == std::vector<Box>{{"Proceed?", BoxIcon::Warning},
                                              {"Fatal error loading data", BoxIcon::Error},
                                              {"Process Cancelled", BoxIcon::Info}}));
}

}  // namespace
