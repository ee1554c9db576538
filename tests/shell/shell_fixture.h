// A main window on a Qt platform that records its boxes and dialogs instead
// of showing them, and a project to run in it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "shell/main_window.h"
#include "shell/qt_platform.h"
#include "support/support.h"
#include "terrain/graph.h"

// OK/Cancel boxes get `answer`; ending the process throws ProcessExit.
class RecordingQtPlatform : public QtPlatform {
 public:
  struct Box {
    std::string text;
    BoxIcon icon;
  };
  struct Dialog {
    std::string title;
    std::vector<std::string> texts;  // every label and edit, in creation order
  };
  std::vector<Box> boxes() const { return Get(boxes_); }
  std::vector<Dialog> dialogs() const { return Get(dialogs_); }
  void Clear() {
    std::lock_guard lk(mu_);
    boxes_.clear(), dialogs_.clear();
  }
  int ExecDialog(QDialog& dialog) override {
    Dialog shown{dialog.windowTitle().toStdString(), {}};
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (auto* label = qobject_cast<QLabel*>(w)) shown.texts.push_back(label->text().toStdString());
      if (auto* edit = qobject_cast<QLineEdit*>(w)) shown.texts.push_back(edit->text().toStdString());
    }
    std::lock_guard lk(mu_);
    dialogs_.push_back(std::move(shown));
    return 0;
  }
  [[noreturn]] void ExitProcess(int code) override { throw ProcessExit(code); }
  std::atomic<BoxResult> answer{BoxResult::Ok};

 protected:
  BoxResult ShowBox(const std::string& text, const std::string&, BoxIcon icon, BoxButtons buttons, bool) override {
    std::lock_guard lk(mu_);
    boxes_.push_back({text, icon});
    return buttons == BoxButtons::OkCancel ? answer.load() : BoxResult::Ok;
  }

 private:
  template <class T>
  T Get(const T& v) const {
    std::lock_guard lk(mu_);
    return v;
  }
  mutable std::mutex mu_;
  std::vector<Box> boxes_;
  std::vector<Dialog> dialogs_;
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProjectState();
    st.sesion = "t";
    SetPlatform(&plat);
    win = std::make_unique<MainWindow>(plat);
    win->pick_directory = [this] { return QString::fromStdString(dir.str()); };
    win->open_url = [](const QUrl&) {};
    win->show();
    Pump();
  }
  void TearDown() override {
    win.reset();
    Pump();
    if (!st.pantalla) {  // a test closed the window, which shuts the graph window down
      Inicia_SDL();
      PrepareWatermark();
    }
    SetPlatform(nullptr);
    ResetProjectState();
  }
  template <class T = QWidget>
  T* Ctl(int id) const {
    return win->findChild<T*>(QString::number(id));
  }
  QListWidget* Sectors() const { return Ctl<QListWidget>(ctl::kSectorList); }
  std::vector<std::string> Console() const {
    std::vector<std::string> lines;
    for (int i = 0; i < Ctl<QListWidget>(ctl::kConsole)->count(); ++i)
      lines.push_back(Ctl<QListWidget>(ctl::kConsole)->item(i)->text().toStdString());
    return lines;
  }
  // Serves the interface thread's queue for `ms` milliseconds, or until
  // `done` holds (false after `seconds`).
  static bool PumpUntil(const std::function<bool()>& done, double seconds = 240) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      if (done()) break;
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    return true;
  }
  static void Pump(double seconds = 0) { PumpUntil([] { return false; }, seconds); }
  bool RunEnded() { return PumpUntil([&] { return st.working == 0 && !win->hThread1.joinable(); }); }
  // `n` 120 x 120 sectors in one row, coordinates typed in, all selected.
  void OpenProject(int n, const GridFn& height = nullptr) {
    MakeProject(dir.path(), n, 1, 120, ".png", height);
    win->Command(201);
    ASSERT_EQ(Sectors()->count(), n);
    Ctl<QLineEdit>(ctl::kLongitude)->setText("-3.70379");
    win->CoordinateLeft(0);
    Ctl<QLineEdit>(ctl::kLatitude)->setText("40.4165");
    win->CoordinateLeft(1);
    win->Command(202);
  }
  void Process() { Ctl<QPushButton>(204)->click(); }
  void Cancel() { Ctl<QPushButton>(205)->click(); }
  void ExpectControlsRestored() {
    EXPECT_EQ(st.working, 0);
    EXPECT_FALSE(win->hThread1.joinable());
    EXPECT_EQ(platform().ControlText(ctl::kStatusBar), "");
    EXPECT_FALSE(Ctl<QLineEdit>(ctl::kLongitude)->isReadOnly() || Ctl<QLineEdit>(ctl::kLatitude)->isReadOnly());
    EXPECT_TRUE(Ctl<QComboBox>(ctl::kFileType)->isEnabled());
  }

  TempDir dir;
  RecordingQtPlatform plat;
  std::unique_ptr<MainWindow> win;
};
