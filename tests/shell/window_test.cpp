// The main window: its controls, the status bar, the commands with their
// refusals during a run, Cancel and closing.
#include <QAction>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <atomic>
#include <set>

#include "shell/dialogs.h"
#include "shell_fixture.h"

namespace {

struct Expected {
  int id;
  const char* text;
  QRect rect;
};

std::string Text(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
  if (auto* b = qobject_cast<QPushButton*>(w)) return b->text().toStdString();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
  return "";
}

TEST_F(ShellTest, ControlsHaveTheirIdsTextsAndPlaces) {
  EXPECT_EQ(win->windowTitle(), "veltano data builder");
  const std::string manual = std::string("the Tessera manual at ") + kPlatformAddress;
  const Expected table[] = {
      {201, "Select Directory", {8, 8, 128, 28}},
      {301, "  Work directory", {144, 8, 600, 28}},
      {302, "Coordinates of the project", {8, 56, 300, 24}},
      {302, "Select type of file", {386, 56, 300, 24}},
      {302, "To know more about supported formats, download", {386, 88, 258, 16}},
      {302, manual.c_str(), {386, 105, 258, 16}},
      {302, "Longitude: ", {8, 88, 68, 18}},
      {401, "Type here the Longitude", {84, 88, 290, 18}},
      {302, "Latitude: ", {8, 118, 60, 18}},
      {402, "Type here the Latitude", {84, 118, 292, 18}},
      {302, "Files to process ", {8, 156, 110, 18}},
      {202, "Select All", {554, 160, 90, 22}},
      {203, "Deselect", {652, 160, 90, 22}},
      {501, "", {8, 192, 734, 180}},
      {204, "Process", {652, 378, 90, 22}},
      {205, "Cancel", {554, 378, 90, 22}},
      {601, "", {8, 406, 736, 8}},
      {302, "Console ", {8, 432, 100, 18}},
      {502, "", {8, 452, 734, 80}},
  };
  for (const Expected& e : table) {
    SCOPED_TRACE(std::to_string(e.id) + " " + e.text);
    QWidget* found = nullptr;
    for (QWidget* w : win->findChildren<QWidget*>(QString::number(e.id)))
      if (Text(w) == e.text) found = w;
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->geometry(), e.rect);
    EXPECT_TRUE(found->isVisible());
  }
  std::set<int> rule_rows;
  for (QFrame* f : win->findChildren<QFrame*>("-1")) {
    if (f->frameShape() != QFrame::HLine) continue;
    EXPECT_EQ(f->x(), 6);
    EXPECT_EQ(f->width(), 738);
    EXPECT_EQ(f->height(), 1);
    rule_rows.insert(f->y());
  }
  EXPECT_EQ(rule_rows, (std::set<int>{48, 148, 420}));

  auto* combo = Ctl<QComboBox>(801);
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(combo->geometry().topLeft(), QPoint(652, 88));
  EXPECT_EQ(combo->width(), 90);
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->itemText(0), ".png");
  EXPECT_EQ(combo->itemText(1), ".tif");
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_TRUE(combo->isEnabled());

  auto* sectors = Sectors();
  EXPECT_TRUE(sectors->isSortingEnabled());
  EXPECT_EQ(sectors->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_TRUE(sectors->isWrapping());
  EXPECT_EQ(Ctl<QListWidget>(502)->selectionMode(), QAbstractItemView::NoSelection);
  EXPECT_EQ(Ctl<QProgressBar>(601)->value(), 0);

  // Fonts: the layout's Arial faces by size and weight.
  EXPECT_TRUE(Ctl<QPushButton>(201)->font().bold());
  EXPECT_FALSE(Ctl<QLineEdit>(401)->font().bold());
  EXPECT_GT(Ctl<QLineEdit>(401)->font().pixelSize(), Ctl<QLabel>(301)->font().pixelSize());
}

TEST_F(ShellTest, EveryControlIsFullyVisible) {
  QWidget* client = win->centralWidget();
  ASSERT_GE(client->width(), kClientWidth);
  ASSERT_GE(client->height(), kClientHeight);
  for (QWidget* w : client->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    SCOPED_TRACE(w->objectName().toStdString());
    EXPECT_TRUE(client->rect().contains(w->geometry())) << w->geometry().x() << "," << w->geometry().y();
  }
  // Single-line texts are not cut off.
  for (QWidget* w : client->findChildren<QWidget*>()) {
    const std::string text = Text(w);
    if (text.empty()) continue;
    SCOPED_TRACE(text);
    EXPECT_LE(w->fontMetrics().horizontalAdvance(QString::fromStdString(text)), w->width());
  }
}

TEST_F(ShellTest, MenuHoldsTheFourCommands) {
  std::vector<std::pair<std::string, std::string>> items;
  for (QAction* menu : win->menuBar()->actions())
    for (QAction* a : menu->menu()->actions())
      items.emplace_back(menu->text().toStdString() + "/" + a->text().toStdString(), a->objectName().toStdString());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"&File/Selec &Dir", "40004"}, {"&File/E&xit", "40001"}, {"&Help/&Help", "40002"}, {"&Help/&About", "40003"}};
  EXPECT_EQ(items, expected);
}

TEST_F(ShellTest, StatusBarShowsTheSession) {
  auto* part1 = win->statusBar()->findChild<QLabel*>("103.1");
  ASSERT_NE(part1, nullptr);
  EXPECT_EQ(part1->text().toStdString(), "Session: " + MakeSessionId(std::time(nullptr)));
  EXPECT_TRUE(part1->text().contains(QRegularExpression("^Session: \\d{6}$")));
  auto* part0 = win->statusBar()->findChild<QLabel*>("103.0");
  ASSERT_NE(part0, nullptr);
  EXPECT_TRUE(part0->text().isEmpty());
  EXPECT_LE(part0->mapTo(win.get(), QPoint(part0->width(), 0)).x(), 600);
  platform().SetStatusText("Processing sector 0312");
  EXPECT_EQ(part0->text(), "Processing sector 0312");
  EXPECT_EQ(platform().ControlText(ctl::kStatusBar), "Processing sector 0312");
}

TEST_F(ShellTest, HelpOpensThePlatformAndAboutShowsItsTexts) {
  win->Command(40002);
  EXPECT_EQ(opened, std::vector<std::string>{kPlatformAddress});
  win->Command(40003);
  const auto dialogs = plat->dialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "About");
  const std::vector<std::string> texts = {"Veltano Tessera",
                                          "Desktop Data Builder",
                                          "Version 2.1",
                                          kPlatformAddress,
                                          "This App is a helper designed to build neccesary data",
                                          "that you must upload at Veltano Tessera",
                                          "before publish your radiation maps"};
  EXPECT_EQ(dialogs[0].texts, texts);
}

TEST_F(ShellTest, PickedFolderFillsTheSortedList) {
  TempDir dir;
  for (const char* name : {"0102.png", "0101.png", "0201.png"})
    WritePngRgb(dir / name, 120, 120, [](int, int) { return 100u; });
  picked = QString::fromStdString(dir.str());
  win->Command(201);
  ASSERT_EQ(Sectors()->count(), 3);
  EXPECT_EQ(Sectors()->item(0)->text(), "0101.png");
  EXPECT_EQ(Sectors()->item(2)->text(), "0201.png");
  EXPECT_EQ(Ctl<QLabel>(301)->text().toStdString(), dir.str());
  EXPECT_EQ(Console().front(), "Work directoy selected: " + dir.str());

  win->Command(202);
  EXPECT_EQ(platform().ListSelectedIndices(), (std::vector<int>{0, 1, 2}));
  win->Command(203);
  EXPECT_EQ(platform().ListSelectedCount(), 0);
  EXPECT_EQ(platform().ListFindExact("0201.PNG"), 2);

  // Cancelling the picker keeps the folder and the list.
  picked.clear();
  win->Command(40004);
  EXPECT_EQ(picks, 2);
  EXPECT_EQ(st.szDirPath, dir.str());
  EXPECT_EQ(Sectors()->count(), 3);
}

TEST_F(ShellTest, EmptyFolderWarnsAndResetsTheFields) {
  TempDir dir;
  Ctl<QLineEdit>(401)->setText("-3.5");
  Ctl<QLineEdit>(402)->setText("40.25");
  picked = QString::fromStdString(dir.str());
  win->Command(201);
  EXPECT_EQ(Console().back(), "WARNING: There are no files to process in the directory");
  EXPECT_EQ(Ctl<QLineEdit>(401)->text(), "Type here the Longitude");
  EXPECT_EQ(Ctl<QLineEdit>(402)->text(), "Type here the Latitude");
  ASSERT_EQ(plat->boxes().size(), 1u);
  const auto box = plat->boxes()[0];
  EXPECT_EQ(box.text, "There are no files to process in the directory");
  EXPECT_EQ(box.caption, "Warning!");
  EXPECT_EQ(box.icon, BoxIcon::Warning);
  EXPECT_FALSE(box.owned);
}

TEST_F(ShellTest, FileTypeChangeRescansOnlyWhenTheTypeChanges) {
  auto* combo = Ctl<QComboBox>(801);
  auto choose = [&](int index) {
    combo->setCurrentIndex(index);
    emit combo->activated(index);
  };
  // No folder yet: the type changes, nothing is scanned or said.
  choose(1);
  EXPECT_EQ(st.admext, ".tif");
  EXPECT_TRUE(Console().empty());
  choose(0);

  TempDir dir;
  WritePngRgb(dir / "0101.png", 120, 120, [](int, int) { return 5u; });
  picked = QString::fromStdString(dir.str());
  win->Command(201);
  ASSERT_EQ(Sectors()->count(), 1);
  const size_t lines = Console().size();

  choose(0);  // the current type: no rescan
  EXPECT_EQ(Sectors()->count(), 1);
  EXPECT_EQ(Console().size(), lines);

  choose(1);  // no .tif rasters there
  EXPECT_EQ(st.cu_ext, 1);
  EXPECT_EQ(Sectors()->count(), 0);
  EXPECT_EQ(Console().back(), "WARNING: There are no files to process in the directory");
  EXPECT_TRUE(HasBox("There are no files to process in the directory"));

  choose(0);
  EXPECT_EQ(Sectors()->count(), 1);
}

TEST_F(ShellTest, CoordinatesAreCheckedWhenTheFocusMovesOn) {
  auto leave = [&](int id, const char* text, Qt::FocusReason reason = Qt::TabFocusReason) {
    auto* edit = Ctl<QLineEdit>(id);
    edit->setText(text);
    QFocusEvent out(QEvent::FocusOut, reason);
    QApplication::sendEvent(edit, &out);
  };
  leave(401, "-3.70379");
  EXPECT_DOUBLE_EQ(st.geoxi, -3.70379);
  EXPECT_EQ(st.val_long, 1);
  leave(402, "40.4165", Qt::MouseFocusReason);
  EXPECT_DOUBLE_EQ(st.geoyi, 40.4165);
  EXPECT_EQ(st.val_lat, 1);

  // The window as a whole losing the focus is not leaving the field.
  leave(402, "95", Qt::ActiveWindowFocusReason);
  EXPECT_EQ(st.val_lat, 1);
  EXPECT_TRUE(plat->boxes().empty());

  leave(402, "95");
  EXPECT_EQ(st.geoyi, 0.0);
  EXPECT_EQ(st.val_lat, 0);
  ASSERT_EQ(plat->boxes().size(), 1u);
  EXPECT_EQ(plat->boxes()[0].caption, "Info");
}

// A worker body that holds the run open until released or stopped.
struct HeldRun {
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  std::atomic<bool> started{false};
  std::function<void()> Body() {
    return [this] {
      ++runs;
      started = true;
      while (!release && !st.stoprequest) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      st.working = 0;
    };
  }
};

TEST_F(ShellTest, ProjectCommandsAreRefusedDuringARun) {
  TempDir dir;
  WritePngRgb(dir / "0101.png", 120, 120, [](int, int) { return 5u; });
  WritePngRgb(dir / "0102.png", 120, 120, [](int, int) { return 5u; });
  picked = QString::fromStdString(dir.str());
  win->Command(201);
  HeldRun held;
  win->run_body = held.Body();

  Ctl<QPushButton>(204)->click();
  Ctl<QPushButton>(204)->click();  // pressed twice quickly
  ASSERT_TRUE(PumpUntil([&] { return held.started.load(); }));
  EXPECT_EQ(st.working, 1);

  win->Command(201);
  win->Command(40004);
  EXPECT_EQ(picks, 1);
  win->Command(202);
  EXPECT_EQ(Sectors()->selectedItems().size(), 0);
  auto* combo = Ctl<QComboBox>(801);
  combo->setCurrentIndex(1);
  emit combo->activated(1);
  EXPECT_EQ(st.cu_ext, 0);
  EXPECT_EQ(combo->currentIndex(), 0);  // shows the type still in use
  win->Command(204);
  // Help and About still act.
  win->Command(40002);
  EXPECT_EQ(opened.size(), 1u);

  held.release = true;
  ASSERT_TRUE(PumpUntil([&] { return st.working == 0 && !win->hThread1.joinable(); }));
  EXPECT_EQ(held.runs, 1);

  // Idle again: everything acts.
  win->Command(202);
  EXPECT_EQ(Sectors()->selectedItems().size(), 2);
  held.release = false;
  held.started = false;
  win->Command(204);
  ASSERT_TRUE(PumpUntil([&] { return held.started.load(); }));
  EXPECT_EQ(held.runs, 2);
  win->Command(205);
  EXPECT_EQ(st.working, 0);
  EXPECT_FALSE(win->hThread1.joinable());
}

TEST_F(ShellTest, CancelStopsTheWorkerAndRestoresTheControls) {
  std::atomic<bool> posted{false};
  win->run_body = [&] {
    platform().SetStatusText("Processing sector 0101");
    platform().SetReadOnly(ctl::kLongitude, true);
    platform().SetReadOnly(ctl::kLatitude, true);
    platform().SetEnabled(ctl::kFileType, false);
    platform().SetProgress(40);
    posted = true;
    while (!st.stoprequest) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Even a worker that speaks after the stop does not reach the window.
    platform().ConsoleLine("late line");
    platform().SetStatusText("late status");
    st.working = 0;
  };
  win->Command(205);  // not running: refused
  EXPECT_TRUE(plat->boxes().empty());

  win->Command(204);
  while (!posted) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // The updates are still queued when Cancel arrives.
  win->Command(205);
  Pump(50);
  EXPECT_EQ(st.working, 0);
  EXPECT_FALSE(win->hThread1.joinable());
  EXPECT_EQ(platform().ControlText(ctl::kStatusBar), "");
  EXPECT_FALSE(Ctl<QLineEdit>(401)->isReadOnly());
  EXPECT_FALSE(Ctl<QLineEdit>(402)->isReadOnly());
  EXPECT_TRUE(Ctl<QComboBox>(801)->isEnabled());
  EXPECT_TRUE(Console().empty());
  ASSERT_EQ(plat->boxes().size(), 1u);
  const auto box = plat->boxes()[0];
  EXPECT_EQ(box.text, "Process Cancelled");
  EXPECT_EQ(box.caption, "Info");
  EXPECT_EQ(box.icon, BoxIcon::Info);
  EXPECT_TRUE(box.owned);
}

TEST_F(ShellTest, CancelNeverWaitsOnAWorkerThatWaitsOnABox) {
  std::atomic<bool> asking{false};
  std::atomic<int> answer{-1};
  win->run_body = [&] {
    asking = true;
    const BoxResult r = platform().MessageBox("Estimated time", "Warning!", BoxIcon::Warning,
                                              BoxButtons::OkCancel, true);
    answer = r == BoxResult::Ok ? 1 : 0;
    st.working = 0;
  };
  win->Command(204);
  while (!asking) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  win->Command(205);
  EXPECT_EQ(answer, 0);  // a stopped question counts as declined
  EXPECT_FALSE(HasBox("Estimated time"));
  EXPECT_TRUE(HasBox("Process Cancelled"));
}

TEST_F(ShellTest, WorkerReachesTheWindowThroughTheInterfaceThread) {
  for (const char* name : {"0103.png", "0101.png", "0102.png"}) Sectors()->addItem(name);
  Sectors()->item(0)->setSelected(true);
  Sectors()->item(2)->setSelected(true);
  Ctl<QLineEdit>(401)->setText("-3.5");
  std::vector<int> selected;
  std::string text, lon;
  int found = 0;
  BoxResult reply = BoxResult::Cancel;
  win->run_body = [&] {
    selected = platform().ListSelectedIndices();
    text = platform().ListText(selected.back());
    found = platform().ListFindExact("0102.PNG");
    lon = platform().ControlText(ctl::kLongitude);
    platform().ConsoleLine("ERROR saving package 13");
    platform().SetProgress(100);
    reply = platform().MessageBox("Proceed?", "Warning!", BoxIcon::Warning, BoxButtons::OkCancel, true);
    platform().CompletionDialog({"/data/Session160404", false, true});
    st.working = 0;
  };
  win->Command(204);
  ASSERT_TRUE(PumpUntil([&] { return st.working == 0 && !win->hThread1.joinable(); }));
  EXPECT_EQ(selected, (std::vector<int>{0, 2}));
  EXPECT_EQ(text, "0103.png");
  EXPECT_EQ(found, 1);
  EXPECT_EQ(lon, "-3.5");
  EXPECT_EQ(reply, BoxResult::Ok);
  EXPECT_EQ(Console(), std::vector<std::string>{"ERROR saving package 13"});
  EXPECT_EQ(Ctl<QProgressBar>(601)->value(), 100);
  ASSERT_EQ(plat->dialogs().size(), 1u);
  EXPECT_EQ(plat->dialogs()[0].title, "Work Done!");
}

TEST_F(ShellTest, ClosingDuringARunCancelsFirst) {
  HeldRun held;
  win->run_body = held.Body();
  win->Command(204);
  ASSERT_TRUE(PumpUntil([&] { return held.started.load(); }));
  win->Command(40001);  // File/Exit posts the close
  Pump(20);
  EXPECT_FALSE(win->isVisible());
  EXPECT_EQ(st.working, 0);
  EXPECT_FALSE(win->hThread1.joinable());
  ASSERT_EQ(plat->boxes().size(), 1u);
  EXPECT_EQ(plat->boxes()[0].text, "Process Cancelled");
  EXPECT_EQ(st.pantalla, nullptr);  // the graph window is gone
  EXPECT_EQ(st.watermark, nullptr);
}

TEST(ShellDialogs, CompletionReportsFolderErrorsAndWarnings) {
  QtPlatform plat;
  plat.SetAutoAnswer(true);
  auto clean = BuildCompletionDialog({"/data/Session160404", false, false}, nullptr);
  plat.ExecDialog(*clean);
  auto both = BuildCompletionDialog({"/data/Session160404", true, true}, nullptr);
  plat.ExecDialog(*both);
  const auto shown = plat.dialogs();
  ASSERT_EQ(shown.size(), 2u);
  const std::vector<std::string> head = {
      "Selected Data have been processed", "Results have been stored in:", "What's next?",
      "To finish building you radiation map you must upload the results",
      "to your project in the web page of the veltano open platform", "/data/Session160404"};
  std::vector<std::string> expected = head;
  expected.push_back("No Errors logged during the process");
  EXPECT_EQ(shown[0].title, "Work Done!");
  EXPECT_EQ(shown[0].texts, expected);
  expected = head;
  for (const char* line : {"Oops! It seems there was an Error during the process",
                           "Review the console log. Some results may be omited or corrupted",
                           "This could throw an error when you upload the results",
                           "There were some Warnings during the process",
                           "Please review the console to check them out"})
    expected.push_back(line);
  EXPECT_EQ(shown[1].texts, expected);

  // Pixel-placed parts, and everything inside the dialog.
  EXPECT_EQ(both->findChild<QLineEdit*>()->geometry(), QRect(8, 60, 340, 26));
  EXPECT_EQ(both->findChild<QLabel*>("305")->geometry(), QRect(8, 208, 340, 26));
  for (QWidget* w : both->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    EXPECT_TRUE(both->rect().contains(w->geometry())) << w->objectName().toStdString();
  for (QLabel* l : both->findChildren<QLabel*>())
    EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width()) << l->text().toStdString();
  EXPECT_TRUE(both->findChild<QLabel*>("703")->font().bold());
}

TEST(ShellDialogs, AboutHasItsDefaultOkButton) {
  auto about = BuildAboutDialog(nullptr);
  auto* ok = about->findChild<QPushButton*>("1");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "&OK");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(ok->geometry(), DialogRect(60, 132, 40, 14));
  for (QWidget* w : about->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    EXPECT_TRUE(about->rect().contains(w->geometry()));
}

TEST(ShellDialogs, MessageBoxesCarryCaptionIconAndButtons) {
  auto box = BuildMessageBox("There are no files to process in the directory", "Warning!", BoxIcon::Warning,
                             BoxButtons::Ok, nullptr);
  EXPECT_EQ(box->windowTitle(), "Warning!");
  EXPECT_EQ(box->icon(), QMessageBox::Warning);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
  auto question = BuildMessageBox("Estimated time: 40.32 minutes", "Warning!", BoxIcon::Warning,
                                  BoxButtons::OkCancel, nullptr);
  EXPECT_EQ(question->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(BoxAnswer(*question), BoxResult::Cancel);  // closed without a choice
  EXPECT_EQ(BuildMessageBox("x", "Error!", BoxIcon::Error, BoxButtons::Ok, nullptr)->icon(), QMessageBox::Critical);
  EXPECT_EQ(BuildMessageBox("x", "Info", BoxIcon::Info, BoxButtons::Ok, nullptr)->icon(), QMessageBox::Information);
}

}  // namespace
