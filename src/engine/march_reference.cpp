// The reference march: the ray formula read point by point from the nine
// rasters, kept simple so it can serve as the oracle of the fast engine.
#include <algorithm>
#include <cmath>

#include "engine/march.h"
#include "engine/shade.h"
#include "terrain/raster.h"
#include "terrain/state.h"

int32_t EffectiveRange(int32_t R, int32_t W, int32_t H) { return std::min({R, W, H}); }

bool HeightAt(int32_t X, int32_t Y, float& h) {
  const int32_t W = st.proj_w, H = st.proj_h;
  // Neighbourhood cell 3c + r, as mapped in catalogue/neighbours.h: c = 0
  // west (X < 0), 1 own columns, 2 east (X >= W); r = 0 south (Y >= H), 1
  // own rows, 2 north (Y < 0).
  const int c = X < 0 ? 0 : (X < W ? 1 : 2);
  const int r = Y >= H ? 0 : (Y >= 0 ? 1 : 2);
  const int flag = 3 * c + r;
  const int32_t rx = X < 0 ? X + W : (X < W ? X : X - W);
  const int32_t ry = Y < 0 ? Y + H : (Y < H ? Y : Y - H);
  // A neighbour flagged present but not loaded counts as missing rather
  // than being read through a null handle.
  if (flag != 4 && !st.matflgarea[flag]) return false;
  if (st.cu_ext == 1) {
    const FloatRaster* raster = st.AreaRaster(flag).get();
    if (!raster) return false;
    h = TIFGetPixel(raster, rx, ry);
  } else {
    const SDL_Surface* surface = st.AreaSurface(flag).get();
    if (!surface) return false;
    h = static_cast<float>(SDLGetPixel(surface, rx, ry));
  }
  return true;
}

bool MarchRay(int32_t x, int32_t y, float G, const SunPos& sun, int32_t R) {
  const double sx = std::sin(sun.sign * sun.azimuth);
  const double sy = std::cos(sun.sign * sun.azimuth);
  // A direction that is not a number has no ray points (and converting it
  // to a pixel index would be undefined).
  if (!std::isfinite(sx) || !std::isfinite(sy)) return false;
  R = EffectiveRange(R, st.proj_w, st.proj_h);
  for (int32_t s = 1; s < R; ++s) {
    const int32_t X = static_cast<int32_t>(x + sx * s);  // truncation toward zero
    const int32_t Y = static_cast<int32_t>(y + sy * s);
    float h;
    if (!HeightAt(X, Y, h)) return false;  // a missing neighbour ends the ray unshaded
    if (h > G) {
      const double dx = std::abs(x - X) * st.xypx[0];
      const double dy = std::abs(y - Y) * st.xypx[0];
      const double d = std::sqrt(dx * dx + dy * dy);
      if (std::atan((h - G) / d) > sun.elevation) return true;
    }
  }
  return false;
}

void MarchMaskReference(const SunPos& sun, int32_t R, uint8_t* mask) {
  const int32_t W = st.proj_w, H = st.proj_h;
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      float G = 0;
      HeightAt(x, y, G);
      mask[static_cast<size_t>(y) * W + x] = MarchRay(x, y, MarchBaseHeight(G), sun, R) ? 1 : 0;
    }
}
