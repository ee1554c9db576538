#include "terrain/graph.h"

#include <csignal>
#include <string>

#include "platform/platform.h"
#include "terrain/raster.h"
#include "terrain/state.h"

void Inicia_SDL() {
  if (SDL_Init(SDL_INIT_VIDEO) == -1) {
    platform().MessageBox("Fatal Error. SDL", "Error!", BoxIcon::Error, BoxButtons::Ok, false);
    FatalBox(std::string("Fatal Error. Initializing graph environment.") + kFatalTail + kSupportAddress,
             "Error!", false, 1);
  }
  // SDL turns these into quit events that nobody reads; keep the program
  // stoppable from a terminal or by a time limit.
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  st.pantalla = SDL_SetVideoMode(600, 600, 24, SDL_HWSURFACE | SDL_ANYFORMAT | SDL_DOUBLEBUF);
  if (!st.pantalla)
    FatalBox(std::string("Fatal Error. Graph Output Failed.") + kFatalTail + kSupportAddress, "Error!",
             false, 1);
  SDL_WM_SetCaption("Graph Output", nullptr);
}

void vuelcagrafico(SDL_Surface* surface, int32_t x, int32_t y, int32_t w, int32_t h, int32_t stride,
                   const uint32_t* pixels) {
  const uint16_t w16 = static_cast<uint16_t>(w), h16 = static_cast<uint16_t>(h);
  const uint16_t stride16 = static_cast<uint16_t>(stride);
  for (int i = 0; i < h16; ++i) {
    for (int j = 0; j < w16; ++j) {
      const uint32_t v = *pixels++;
      if (v != 0 && x + j >= 0 && y + i >= 0) SDLPutPixel(surface, x + j, y + i, v);
    }
    pixels += stride16 - w16;
  }
}

void SectorStartFrame() {
  SDL_UpperBlit(st.watermark.get(), nullptr, st.pantalla, nullptr);
  SDL_Flip(st.pantalla);
}

void HourStepFrame() {
  SDL_UpperBlit(st.sftmp.get(), nullptr, st.pantalla, nullptr);
  SDL_UpperBlit(st.watermark.get(), nullptr, st.pantalla, nullptr);
  SDL_Flip(st.pantalla);
}

void CloseGraph() {
  st.watermark.reset();
  SDL_Quit();
  st.pantalla = nullptr;
}
