// The PNG raster path of the scan: the header read, then, for a header in
// the project's size range or no readable header at all, the decoder and
// the conversion to the display format.
#include <SDL.h>

#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "terrain/graph.h"
#include "terrain/png_raster.h"
#include "terrain/raster.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  MemoryPlatform startup;
  SetPlatform(&startup);
  Inicia_SDL();  // the display format heights are read in
  SetPlatform(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("0101.png");
  fuzz::WriteAll(path, data, size);
  fuzz::Session session;

  uint32_t w = 0, h = 0;
  const bool header = ReadPngSize(path, w, h);
  VDB_FUZZ_CHECK(header == (w != 0 && h != 0));
  if (header && (w < 120 || w > 600 || h < 120 || h > 600)) return 0;

  try {
    SurfacePtr s = Carga_Imagen(path);
    VDB_FUZZ_CHECK(s != nullptr);
    VDB_FUZZ_CHECK(s->format->BytesPerPixel == st.pantalla->format->BytesPerPixel);
    if (header) VDB_FUZZ_CHECK(static_cast<uint32_t>(s->w) == w && static_cast<uint32_t>(s->h) == h);
    uint32_t sum = 0;
    for (int y = 0; y < s->h; y += 7)
      for (int x = 0; x < s->w; x += 7) sum += SDLGetPixel(s.get(), x, y);
    volatile uint32_t sink = sum;
    (void)sink;
  } catch (const ProcessExit& e) {
    // The only way out is the fatal box with exit code 1.
    VDB_FUZZ_CHECK(e.code == 1);
    VDB_FUZZ_CHECK(session.plat.boxes().size() == 1);
  }
  return 0;
}
