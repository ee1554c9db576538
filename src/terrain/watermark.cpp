#include <cstring>

#include "platform/platform.h"
#include "terrain/graph.h"
#include "terrain/raster.h"
#include "terrain/state.h"

// Placeholder picture: all key colour until the logo is drawn.
const uint32_t grfwatmark[600 * 112] = {};

void PrepareWatermark() {
  SDL_FillRect(st.pantalla, nullptr, SDL_MapRGB(st.pantalla->format, 240, 240, 240));
  st.pwtmk = grfwatmark;
  st.watermark.reset(SDL_CreateRGBSurface(SDL_HWSURFACE, 600, 112, 24, 0, 0, 0, 0));
  if (!st.watermark)
    FatalBox(std::string("Fatal error creating watermark") + kFatalTail + kSupportAddress, "Error", false, -1);
  std::printf("Creada watermark\n");
  SDL_SetColorKey(st.watermark.get(), SDL_SRCCOLORKEY | SDL_RLEACCEL, SDL_MapRGB(st.watermark->format, 255, 0, 255));
  vuelcagrafico(st.watermark.get(), 0, 0, 600, 112, 600, st.pwtmk);
  SDL_Flip(st.pantalla);
}
