#include "sector_builder.h"

#include <gtest/gtest.h>

#include "terrain/raster.h"
#include "terrain/state.h"

void InstallSector(const Field& f, bool float_family, uint16_t present) {
  const int W = f.W, H = f.H;
  st.proj_w = W;
  st.proj_h = H;
  st.cu_ext = float_family ? 1 : 0;
  for (int flag = 0; flag < 9; ++flag) {
    // Cell 3c + r: c = 0 west, 1 own, 2 east; r = 0 south, 1 own, 2 north.
    const int c = flag / 3, r = flag % 3;
    const int x0 = c * W, y0 = (2 - r) * H;
    const bool on = flag == 4 || (present >> flag & 1);
    st.matflgarea[flag] = on ? 1 : 0;
    st.AreaSurface(flag).reset();
    st.AreaRaster(flag).reset();
    if (!on) continue;
    auto height = [&](int x, int y) { return f.v[static_cast<size_t>(y0 + y) * 3 * W + x0 + x]; };
    if (float_family) {
      auto raster = std::make_unique<FloatRaster>();
      raster->width = static_cast<uint32_t>(W);
      raster->height = static_cast<uint32_t>(H);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) raster->samples.push_back(height(x, y));
      st.AreaRaster(flag) = std::move(raster);
      continue;
    }
    st.AreaSurface(flag) = CreateResultSurface(W, H);
    ASSERT_TRUE(st.AreaSurface(flag));
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) SDLPutPixel(st.AreaSurface(flag).get(), x, y, static_cast<uint32_t>(height(x, y)));
  }
  for (SurfacePtr* p : {&st.shoras, &st.sfsuma, &st.sfwhsinf, &st.sfwhscen, &st.sfwhssup, &st.elev2png})
    *p = CreateResultSurface(W, H);
  st.sftmp = CreateResultSurface(kGraphSide, kGraphSide);
  st.presum.assign(static_cast<size_t>(W) * H, 0);
  st.pmeswhs.assign(static_cast<size_t>(W) * H, 0);
}

SunPos SunToward(int sign, double azimuth, double elevation) {
  SunPos s;
  s.sign = sign;
  s.azimuth = azimuth;
  s.elevation = elevation;
  return s;
}
