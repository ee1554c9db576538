// Whole runs driven from the main window: to the completion dialog, and
// stopped by Cancel or by closing the window.
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include "engine/run.h"
#include "shell_fixture.h"

namespace {

class ShellRunTest : public ShellTest {
 protected:
  // A project of `n` 120 x 120 sectors in one row, coordinates typed in,
  // everything selected.
  void MakeProject(int n, uint32_t peak = 0) {
    for (int c = 1; c <= n; ++c) {
      char name[32];
      std::snprintf(name, sizeof name, "%02d01.png", c);
      WritePngRgb(dir / name, 120, 120, [&](int x, int y) {
        if (peak && x == 60 && y == 60) return peak;
        return static_cast<uint32_t>(1000 + (x * 7 + y * 3) % 40);
      });
    }
    picked = QString::fromStdString(dir.str());
    win->Command(201);
    ASSERT_EQ(Sectors()->count(), n);
    Enter(401, "-3.70379");
    Enter(402, "40.4165");
    win->Command(202);
  }
  void Enter(int id, const char* text) {
    Ctl<QLineEdit>(id)->setText(text);
    win->CoordinateLeft(id == 401 ? 0 : 1);
  }
  bool RunEnded(double seconds = 240) {
    return PumpUntil([&] { return st.working == 0 && !win->hThread1.joinable(); }, seconds);
  }
  std::map<std::string, uintmax_t> SessionFiles() const {
    std::map<std::string, uintmax_t> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(SessionFolder(), ec))
      files[e.path().filename().string()] = e.is_regular_file() ? e.file_size() : 0;
    return files;
  }
  void ExpectControlsRestored() {
    EXPECT_EQ(platform().ControlText(ctl::kStatusBar), "");
    EXPECT_FALSE(Ctl<QLineEdit>(401)->isReadOnly());
    EXPECT_FALSE(Ctl<QLineEdit>(402)->isReadOnly());
    EXPECT_TRUE(Ctl<QComboBox>(801)->isEnabled());
  }
  TempDir dir;
};

const std::vector<std::string> kDoneHead = {"Selected Data have been processed", "Results have been stored in:",
                                            "What's next?",
                                            "To finish building you radiation map you must upload the results",
                                            "to your project in the web page of the veltano open platform"};

TEST_F(ShellRunTest, CompletionDialogReportsErrorsAndWarnings) {
  MakeProject(1, 9000);
  // A file where the session folder should be: nothing can be saved.
  std::ofstream(dir / ("Session" + st.sesion)) << "in the way";
  Ctl<QPushButton>(204)->click();
  ASSERT_TRUE(RunEnded());
  ASSERT_EQ(plat->dialogs().size(), 1u);
  std::vector<std::string> expected = kDoneHead;
  expected.insert(expected.end(), {dir.str() + "/Session" + st.sesion,
                                   "Oops! It seems there was an Error during the process",
                                   "Review the console log. Some results may be omited or corrupted",
                                   "This could throw an error when you upload the results",
                                   "There were some Warnings during the process",
                                   "Please review the console to check them out"});
  EXPECT_EQ(plat->dialogs()[0].title, "Work Done!");
  EXPECT_EQ(plat->dialogs()[0].texts, expected);
  const auto lines = Console();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ERROR saving package 0"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ERROR saving elev png"), lines.end());
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("WARNING!! Unexpected High values of elevations in 0101");
  }));
}

TEST_F(ShellRunTest, CancelLeavesNoNewFileAndANewRunCompletes) {
  MakeProject(3);
  Ctl<QPushButton>(204)->click();
  // Well into the run: some hour steps shaded.
  ASSERT_TRUE(PumpUntil([&] { return Ctl<QProgressBar>(601)->value() >= 5 || st.working == 0; }, 240));
  ASSERT_EQ(st.working, 1) << "the run ended before it could be cancelled";
  EXPECT_TRUE(Ctl<QLineEdit>(401)->isReadOnly());
  win->Command(205);
  // Nothing from the stopped run reaches the files or the window afterwards.
  const auto after_cancel = SessionFiles();
  const int progress = Ctl<QProgressBar>(601)->value();
  const size_t lines = Console().size();
  Pump(400);
  EXPECT_EQ(SessionFiles(), after_cancel);
  EXPECT_EQ(Ctl<QProgressBar>(601)->value(), progress);
  EXPECT_EQ(Console().size(), lines);
  EXPECT_EQ(st.working, 0);
  ExpectControlsRestored();
  ASSERT_EQ(plat->boxes().size(), 1u);
  EXPECT_EQ(plat->boxes()[0].text, "Process Cancelled");
  EXPECT_EQ(plat->boxes()[0].caption, "Info");
  EXPECT_EQ(plat->boxes()[0].icon, BoxIcon::Info);
  EXPECT_TRUE(plat->boxes()[0].owned);
  EXPECT_TRUE(plat->dialogs().empty());
  EXPECT_EQ(st.sftmp, nullptr);
  EXPECT_TRUE(st.presum.empty());

  // A new run works from a clean start, to the completion dialog.
  plat->ClearRecords();
  Ctl<QPushButton>(204)->click();
  ASSERT_TRUE(RunEnded());
  ASSERT_EQ(plat->dialogs().size(), 1u);
  std::vector<std::string> expected = kDoneHead;
  expected.insert(expected.end(), {dir.str() + "/Session" + st.sesion, "No Errors logged during the process"});
  EXPECT_EQ(plat->dialogs()[0].texts, expected);
  const auto files = SessionFiles();
  EXPECT_EQ(files.size(), 51u);
  EXPECT_TRUE(files.count("vto_package_0101_15.vtp"));
  EXPECT_TRUE(files.count("0301.png"));
  EXPECT_EQ(Ctl<QProgressBar>(601)->value(), 100);
  ExpectControlsRestored();
  EXPECT_TRUE(plat->boxes().empty());
}

TEST_F(ShellRunTest, ClosingDuringARunCancelsThenEnds) {
  MakeProject(2);
  Ctl<QPushButton>(204)->click();
  ASSERT_TRUE(PumpUntil([&] { return Ctl<QProgressBar>(601)->value() >= 2 || st.working == 0; }, 240));
  ASSERT_EQ(st.working, 1);
  win->Command(40001);  // File/Exit posts the close
  Pump(20);
  EXPECT_FALSE(win->isVisible());
  EXPECT_EQ(st.working, 0);
  EXPECT_FALSE(win->hThread1.joinable());
  ASSERT_EQ(plat->boxes().size(), 1u);
  EXPECT_EQ(plat->boxes()[0].text, "Process Cancelled");
  EXPECT_EQ(st.pantalla, nullptr);  // the graph window is gone
  const auto files = SessionFiles();
  Pump(200);
  EXPECT_EQ(SessionFiles(), files);
}

}  // namespace
