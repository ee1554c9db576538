#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/memory_platform.h"
#include "terrain/graph.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  // The graph window fixes the display format that PNG heights rely on.
  MemoryPlatform startup;
  SetPlatform(&startup);
  Inicia_SDL();
  PrepareWatermark();
  SetPlatform(nullptr);
  return RUN_ALL_TESTS();
}
