#include "terrain/graph.h"

#include "support/support.h"
#include "terrain/raster.h"

namespace {

constexpr uint32_t kWhite = 0x00FFFFFF;

// Colour of a window pixel, whatever byte depth the display gives it.
uint32_t WindowRgb(int x, int y) {
  Uint8 r, g, b;
  SDL_GetRGB(SDLGetPixel(st.pantalla, x, y), st.pantalla->format, &r, &g, &b);
  return uint32_t{r} << 16 | uint32_t{g} << 8 | b;
}

using GraphTest = StateTest;

TEST_F(GraphTest, WatermarkIsALogoInTwoColoursWithTheKeyTransparent) {
  PrepareWatermark();
  ASSERT_TRUE(st.watermark);
  EXPECT_EQ(WindowRgb(300, 50), 0xF0F0F0u);  // before any run: plain grey

  // The logo's white pixels cover what is under them, key pixels never do.
  auto expect_logo_over = [](const std::function<uint32_t(int x)>& under) {
    for (int i = 0; i < 600 * 112; ++i)
      ASSERT_EQ(WindowRgb(i % 600, i / 600), grfwatmark[i] == kWhite ? 0xFFFFFFu : under(i % 600)) << i;
  };
  SectorStartFrame();
  expect_logo_over([](int) { return 0xF0F0F0u; });
  // Hour step: a red 120 x 120 graph in the corner of a black buffer.
  st.sftmp = CreateResultSurface(600, 600);
  Pinta_Rectangulo(st.sftmp.get(), 0, 0, 120, 120, 0x0000C8);  // red 200
  HourStepFrame();
  expect_logo_over([](int x) { return x < 120 ? 0xC80000u : 0u; });
  EXPECT_EQ(WindowRgb(119, 119), 0xC80000u);
  EXPECT_EQ(WindowRgb(120, 119), 0u);
}

}  // namespace
