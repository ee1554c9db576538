// Drives the desktop program for the README screenshot: opens the given
// project, selects every sector, starts the run and, after a few hour
// steps, saves the main window and the graph window as images.
//
//   shell_screenshot_driver PROJECT MAIN.png GRAPH.bmp [PROGRESS]
//
// PROGRESS is the progress-bar position to wait for (default 6).
#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "run/session.h"
#include "shell/main_window.h"
#include "shell/qt_platform.h"
#include "terrain/graph.h"
#include "terrain/state.h"

namespace {

// Nobody is there to press OK: boxes are printed and answered OK, dialogs
// are not shown.
class UnattendedPlatform : public QtPlatform {
 public:
  int ExecDialog(QDialog&) override { return 0; }

 protected:
  BoxResult ShowBox(const std::string& text, const std::string&, BoxIcon, BoxButtons, bool) override {
    std::fprintf(stderr, "box: %s\n", text.c_str());
    return BoxResult::Ok;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s PROJECT MAIN.png GRAPH.bmp [PROGRESS]\n", argv[0]);
    return 2;
  }
  const QString project = QString::fromLocal8Bit(argv[1]);
  const int target = argc > 4 ? std::atoi(argv[4]) : 6;

  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  UnattendedPlatform plat;
  SetPlatform(&plat);
  Inicia_SDL();
  PrepareWatermark();
  st.sesion = MakeSessionId(std::time(nullptr));

  MainWindow win(plat);
  win.pick_directory = [&] { return project; };
  win.move(0, 0);
  win.show();
  app.processEvents();

  win.Command(201);
  if (st.val_long != 1 || st.val_lat != 1) {
    win.findChild<QLineEdit*>("401")->setText("-3.70379");
    win.CoordinateLeft(0);
    win.findChild<QLineEdit*>("402")->setText("40.4165");
    win.CoordinateLeft(1);
  }
  win.Command(202);
  win.Command(204);

  auto* progress = win.findChild<QProgressBar*>("601");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  while (st.working && progress->value() < target && std::chrono::steady_clock::now() < deadline) {
    app.processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  app.processEvents();
  int status = 0;
  if (!win.grab().save(QString::fromLocal8Bit(argv[2]))) status = 1;
  if (!st.pantalla || SDL_SaveBMP(st.pantalla, argv[3]) != 0) status = 1;

  win.close();  // stops the run
  SetPlatform(nullptr);
  return status;
}
