// The libFuzzer entry point of one target (VDB_FUZZ_TARGET picks the
// property); a broken promise stops the fuzzer with a crash report.
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>

#include "fuzz/properties.h"
#include "platform/memory_platform.h"
#include "terrain/graph.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // libtiff's default handlers print every complaint about a malformed file.
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  MemoryPlatform startup;
  SetPlatform(&startup);
  Inicia_SDL();  // the display format PNG heights are read in
  SetPlatform(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string why = VDB_FUZZ_TARGET(data, size);
  if (!why.empty()) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::abort();
  }
  return 0;
}
