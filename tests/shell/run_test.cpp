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

#include "run/run.h"
#include "shell_fixture.h"

namespace {

std::map<std::string, uintmax_t> SessionFiles(const fs::path& folder) {
  std::map<std::string, uintmax_t> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    files[e.path().filename().string()] = e.is_regular_file() ? e.file_size() : 0;
  return files;
}

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
  const auto files = SessionFiles(SessionFolder());
  Pump(200);
  EXPECT_EQ(SessionFiles(SessionFolder()), files);
}

}  // namespace
