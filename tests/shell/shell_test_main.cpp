// Test main of the desktop program: a QApplication on the offscreen
// platform and the graph window on SDL's dummy driver.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>
#include <cstdlib>

#include "platform/memory_platform.h"
#include "terrain/graph.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  MemoryPlatform startup;
  SetPlatform(&startup);
  Inicia_SDL();
  PrepareWatermark();
  SetPlatform(nullptr);
  return RUN_ALL_TESTS();
}
