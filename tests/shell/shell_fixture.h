// A main window on the recording Qt platform, for the tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QString>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "run/session.h"
#include "shell/main_window.h"
#include "shell/recording_platform.h"
#include "support/fixtures.h"
#include "terrain/graph.h"
#include "terrain/state.h"

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProjectState();
    st.sesion = MakeSessionId(std::time(nullptr));
    plat = std::make_unique<RecordingQtPlatform>();
    SetPlatform(plat.get());
    win = std::make_unique<MainWindow>(*plat);
    win->pick_directory = [this] {
      ++picks;
      return picked;
    };
    win->open_url = [this](const QUrl& url) { opened.push_back(url.toString().toStdString()); };
    win->show();
    Pump();
  }
  void TearDown() override {
    win.reset();
    Pump();
    if (!st.pantalla) {
      // A test closed the window, which shuts the graph window down.
      Inicia_SDL();
      PrepareWatermark();
    }
    SetPlatform(nullptr);
    plat.reset();
    ResetProjectState();
  }

  template <class T>
  T* Ctl(int id) const {
    return win->findChild<T*>(QString::number(id));
  }
  QListWidget* Sectors() const { return Ctl<QListWidget>(501); }

  // Serves the interface thread's queue for `ms` milliseconds.
  static void Pump(int ms = 0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      if (ms) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (std::chrono::steady_clock::now() < end);
  }
  // Serves the queue until `done` holds; false after `seconds`.
  static bool PumpUntil(const std::function<bool()>& done, double seconds = 20.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Pump();
    return true;
  }

  bool HasBox(const std::string& text) const {
    for (const auto& b : plat->boxes())
      if (b.text == text) return true;
    return false;
  }
  std::vector<std::string> Console() const {
    std::vector<std::string> lines;
    auto* console = Ctl<QListWidget>(502);
    for (int i = 0; i < console->count(); ++i) lines.push_back(console->item(i)->text().toStdString());
    return lines;
  }

  std::unique_ptr<RecordingQtPlatform> plat;
  std::unique_ptr<MainWindow> win;
  QString picked;
  int picks = 0;
  std::vector<std::string> opened;
};

// A window with a project of `n` 120 x 120 sectors in one row (heights
// `peak` at the centre pixel if given), coordinates typed in, everything
// selected.
class ShellRunTest : public ShellTest {
 protected:
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
    Ctl<QLineEdit>(401)->setText("-3.70379");
    win->CoordinateLeft(0);
    Ctl<QLineEdit>(402)->setText("40.4165");
    win->CoordinateLeft(1);
    win->Command(202);
  }
  bool RunEnded(double seconds = 240) {
    return PumpUntil([&] { return st.working == 0 && !win->hThread1.joinable(); }, seconds);
  }
  void ExpectControlsRestored() {
    EXPECT_EQ(st.working, 0);
    EXPECT_FALSE(win->hThread1.joinable());
    EXPECT_EQ(platform().ControlText(ctl::kStatusBar), "");
    EXPECT_FALSE(Ctl<QLineEdit>(401)->isReadOnly());
    EXPECT_FALSE(Ctl<QLineEdit>(402)->isReadOnly());
    EXPECT_TRUE(Ctl<QComboBox>(801)->isEnabled());
  }

  TempDir dir;
};
