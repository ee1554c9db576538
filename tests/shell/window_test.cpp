// The main window: its controls, the status bar, the commands with their
// refusals during a run, Cancel and closing.
#include <QAction>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
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

TEST_F(ShellTest, ControlsMenuAndStatusBarAreInPlace) {
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
  std::set<int> rule_rows;  // the three horizontal rules
  for (QFrame* f : win->findChildren<QFrame*>("-1"))
    if (f->frameShape() == QFrame::HLine && f->geometry() == QRect(6, f->y(), 738, 1)) rule_rows.insert(f->y());
  EXPECT_EQ(rule_rows, (std::set<int>{48, 148, 420}));

  auto* combo = Ctl<QComboBox>(801);
  EXPECT_EQ(combo->geometry().topLeft(), QPoint(652, 88));
  EXPECT_EQ(combo->width(), 90);
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->itemText(0), ".png");
  EXPECT_EQ(combo->itemText(1), ".tif");
  EXPECT_EQ(Sectors()->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_TRUE(Ctl<QPushButton>(201)->font().bold());

  // Every control lies inside the client area, and no single-line text is cut off.
  QWidget* client = win->centralWidget();
  for (QWidget* w : client->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    EXPECT_TRUE(client->rect().contains(w->geometry())) << w->objectName().toStdString();
  for (QWidget* w : client->findChildren<QWidget*>())
    EXPECT_LE(w->fontMetrics().horizontalAdvance(QString::fromStdString(Text(w))), w->width()) << Text(w);

  std::vector<std::pair<std::string, std::string>> items;
  for (QAction* menu : win->menuBar()->actions())
    for (QAction* a : menu->menu()->actions())
      items.emplace_back(menu->text().toStdString() + "/" + a->text().toStdString(), a->objectName().toStdString());
  const std::vector<std::pair<std::string, std::string>> menus = {
      {"&File/Selec &Dir", "40004"}, {"&File/E&xit", "40001"}, {"&View/Session &overview", "40005"}, {"&Help/&Help", "40002"}, {"&Help/&About", "40003"}};
  EXPECT_EQ(items, menus);

  auto* second_field = win->statusBar()->findChild<QLabel*>("103.1");
  ASSERT_NE(second_field, nullptr);
  EXPECT_EQ(second_field->text().toStdString(), "Session: " + MakeSessionId(std::time(nullptr)));
  auto* first_field = win->statusBar()->findChild<QLabel*>("103.0");
  ASSERT_NE(first_field, nullptr);
  EXPECT_LE(first_field->mapTo(win.get(), QPoint(first_field->width(), 0)).x(), 600);
  platform().SetStatusText("Processing sector 0312");
  EXPECT_EQ(first_field->text(), "Processing sector 0312");
}

TEST_F(ShellTest, HelpOpensThePlatformAndAboutShowsItsTexts) {
  win->Command(40002);
  EXPECT_EQ(opened, std::vector<std::string>{kPlatformAddress});
  win->Command(40003);
  ASSERT_EQ(plat->dialogs().size(), 1u);
  EXPECT_EQ(plat->dialogs()[0].title, "About");
  const std::vector<std::string> texts = {"Veltano Tessera",
                                          "Desktop Data Builder",
                                          "Version 2.1",
                                          kPlatformAddress,
                                          "This App is a helper designed to build neccesary data",
                                          "that you must upload at Veltano Tessera",
                                          "before publish your radiation maps"};
  EXPECT_EQ(plat->dialogs()[0].texts, texts);
}

TEST_F(ShellTest, FolderAndFileTypeCommands) {
  auto* combo = Ctl<QComboBox>(801);
  auto choose = [&](int index) {
    combo->setCurrentIndex(index);
    emit combo->activated(index);
  };
  const std::string kNoFiles = "There are no files to process in the directory";
  // No folder yet: the type changes, nothing is scanned or said.
  choose(1);
  EXPECT_EQ(st.admext, ".tif");
  EXPECT_TRUE(Console().empty());
  choose(0);

  TempDir dir;
  for (const char* name : {"0102.png", "0101.png", "0201.png"})
    WritePngRgb(dir / name, 120, 120, [](int, int) { return 100u; });
  picked = QString::fromStdString(dir.str());
  win->Command(201);
  ASSERT_EQ(Sectors()->count(), 3);
  EXPECT_EQ(Sectors()->item(0)->text(), "0101.png");
  EXPECT_EQ(Ctl<QLabel>(301)->text().toStdString(), dir.str());
  EXPECT_EQ(Console(), std::vector<std::string>{"Work directoy selected: " + dir.str()});
  win->Command(202);
  win->Command(203);
  EXPECT_EQ(platform().ListSelectedCount(), 0);
  choose(0);  // the current type: no rescan
  EXPECT_EQ(Console().size(), 1u);
  choose(1);  // no .tif rasters there
  EXPECT_EQ(Sectors()->count(), 0);
  EXPECT_EQ(Console().back(), "WARNING: " + kNoFiles);
  choose(0);
  EXPECT_EQ(Sectors()->count(), 3);
  picked.clear();  // cancelling the picker keeps the folder and the list
  win->Command(40004);
  EXPECT_EQ(st.szDirPath, dir.str());
  EXPECT_EQ(Sectors()->count(), 3);

  // An empty folder: the warning line, the field hints back, the warning box.
  TempDir empty;
  plat->ClearRecords();
  Ctl<QLineEdit>(401)->setText("-3.5");
  picked = QString::fromStdString(empty.str());
  win->Command(201);
  EXPECT_EQ(Console().back(), "WARNING: " + kNoFiles);
  EXPECT_EQ(Ctl<QLineEdit>(401)->text(), "Type here the Longitude");
  EXPECT_EQ(Ctl<QLineEdit>(402)->text(), "Type here the Latitude");
  ASSERT_EQ(plat->boxes().size(), 1u);
  const auto box = plat->boxes()[0];
  EXPECT_EQ(box.text, kNoFiles);
  EXPECT_EQ(box.caption, "Warning!");
  EXPECT_EQ(box.icon, BoxIcon::Warning);
  EXPECT_FALSE(box.owned);
}

TEST_F(ShellTest, CoordinatesAreCheckedWhenTheFocusMovesOn) {
  auto leave = [&](int id, const char* text, Qt::FocusReason reason) {
    Ctl<QLineEdit>(id)->setText(text);
    QFocusEvent out(QEvent::FocusOut, reason);
    QApplication::sendEvent(Ctl<QLineEdit>(id), &out);
  };
  leave(401, "-3.70379", Qt::TabFocusReason);
  EXPECT_DOUBLE_EQ(st.geoxi, -3.70379);
  leave(402, "40.4165", Qt::MouseFocusReason);
  EXPECT_DOUBLE_EQ(st.geoyi, 40.4165);
  EXPECT_EQ(st.val_lat, 1);
  // The window as a whole losing the focus is not leaving the field.
  leave(402, "95", Qt::ActiveWindowFocusReason);
  EXPECT_EQ(st.val_lat, 1);
  EXPECT_TRUE(plat->boxes().empty());
  leave(402, "95", Qt::TabFocusReason);
  EXPECT_EQ(st.val_lat, 0);
  ASSERT_EQ(plat->boxes().size(), 1u);
}

TEST_F(ShellTest, ProjectCommandsAreRefusedDuringARun) {
  TempDir dir;
  WritePngRgb(dir / "0101.png", 120, 120, [](int, int) { return 5u; });
  WritePngRgb(dir / "0102.png", 120, 120, [](int, int) { return 5u; });
  picked = QString::fromStdString(dir.str());
  win->Command(201);
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  win->run_body = [&] {  // holds the run open until released
    ++runs;
    while (!release && !st.stoprequest) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    st.working = 0;
  };
  win->Command(205);  // Cancel with no run: refused
  EXPECT_TRUE(plat->boxes().empty());
  Ctl<QPushButton>(204)->click();
  Ctl<QPushButton>(204)->click();  // pressed twice quickly
  ASSERT_TRUE(PumpUntil([&] { return runs > 0; }));

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
  win->Command(40002);  // Help still acts
  EXPECT_EQ(opened.size(), 1u);

  release = true;
  ASSERT_TRUE(PumpUntil([&] { return st.working == 0 && !win->hThread1.joinable(); }));
  EXPECT_EQ(runs, 1);
  win->Command(202);  // idle again: everything acts
  EXPECT_EQ(Sectors()->selectedItems().size(), 2);
}

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
  win->Command(204);
  ASSERT_TRUE(PumpUntil([&] { return first != -1; }));
  EXPECT_EQ(first, 1);
  go = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  win->Command(205);
  EXPECT_EQ(second, 0);  // a stopped question counts as declined
  EXPECT_FALSE(HasBox("Estimated time"));
  EXPECT_TRUE(HasBox("Process Cancelled"));
}

// A Cancel that lands while the worker is on its way to a fatal error (a
// raster that changed since the scan) must not swallow the fatal box: the
// program ends right after it, and the box says why.
TEST_F(ShellTest, FatalErrorIsShownEvenWhenACancelLandsFirst) {
  const std::string fatal = std::string("Fatal error loading data") + kFatalTail + kSupportAddress;
  std::atomic<int> exit_code{0};
  win->run_body = [&] {
    while (!st.stoprequest) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    try {
      FatalBox(fatal, "Error", true, -1);
    } catch (const ProcessExit& e) {
      exit_code = e.code;
    }
  };
  win->Command(204);
  win->Command(205);
  EXPECT_EQ(exit_code, -1);
  ASSERT_TRUE(HasBox(fatal));
  EXPECT_EQ(plat->boxes()[0].icon, BoxIcon::Error);
}

TEST(ShellDialogs, MessageBoxesCarryCaptionIconAndButtons) {
  auto box = BuildMessageBox("Estimated time: 40.32 minutes", "Warning!", BoxIcon::Warning, BoxButtons::OkCancel,
                             nullptr);
  EXPECT_EQ(box->windowTitle(), "Warning!");
  EXPECT_EQ(box->icon(), QMessageBox::Warning);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(BoxAnswer(*box), BoxResult::Cancel);  // closed without a choice
  EXPECT_EQ(BuildMessageBox("x", "Error!", BoxIcon::Error, BoxButtons::Ok, nullptr)->icon(), QMessageBox::Critical);
  EXPECT_EQ(BuildMessageBox("x", "Info", BoxIcon::Info, BoxButtons::Ok, nullptr)->icon(), QMessageBox::Information);
}

}  // namespace
