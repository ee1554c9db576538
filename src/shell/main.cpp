// veltano-builder: the desktop program.
#include <QApplication>
#include <clocale>
#include <cstdio>
#include <ctime>

#include "platform/platform.h"
#include "run/session.h"
#include "shell/main_window.h"
#include "shell/qt_platform.h"
#include "terrain/graph.h"
#include "terrain/state.h"

int main(int /*argc*/, char** argv) {
  std::printf("iniciando\n");
  // The program takes no arguments: Qt does not get to read any either.
  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  // Qt adopts the desktop's locale; keep "3.5" reading and printing as 3.5.
  std::setlocale(LC_NUMERIC, "C");

  QtPlatform plat;
  SetPlatform(&plat);

  Inicia_SDL();
  PrepareWatermark();
  st.prmaxheight.assign(1, HeightRecord{});
  st.sesion = MakeSessionId(std::time(nullptr));

  MainWindow window(plat);
  window.show();
  const int code = app.exec();
  SetPlatform(nullptr);
  return code;
}
