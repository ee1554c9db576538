#include "terrain/state.h"

#include "platform/platform.h"

ProjectState st;

SurfacePtr& ProjectState::AreaSurface(int flag) {
  SurfacePtr* cells[9] = {&sent1, &sent2, &sent3, &sent4, &sfdata, &sent5, &sent6, &sent7, &sent8};
  return *cells[flag];
}

FloatRasterPtr& ProjectState::AreaRaster(int flag) {
  FloatRasterPtr* cells[9] = {&sent1_tif, &sent2_tif, &sent3_tif, &sent4_tif, &sfdata_tif,
                              &sent5_tif, &sent6_tif, &sent7_tif, &sent8_tif};
  return *cells[flag];
}

void toconsole(const std::string& text) { platform().ConsoleLine(text); }

void ResetProjectState() {
  // Keep the graph window: it lives for the whole process.
  SDL_Surface* pantalla = st.pantalla;
  SurfacePtr watermark = std::move(st.watermark);
  const uint32_t* pwtmk = st.pwtmk;
  st.~ProjectState();
  new (&st) ProjectState();
  st.pantalla = pantalla;
  st.watermark = std::move(watermark);
  st.pwtmk = pwtmk;
}
