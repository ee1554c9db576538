#include "terrain/graph.h"

#include <algorithm>

#include "support/support.h"
#include "terrain/raster.h"

namespace {

constexpr uint32_t kKey = 0x00FF00FF;
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

  // Sector start: the logo over the grey window.
  const auto* first_key = std::find(std::begin(grfwatmark), std::end(grfwatmark), kKey);
  const auto* first_white = std::find(std::begin(grfwatmark), std::end(grfwatmark), kWhite);
  const int ki = static_cast<int>(first_key - grfwatmark), wi = static_cast<int>(first_white - grfwatmark);
  SectorStartFrame();
  EXPECT_EQ(WindowRgb(ki % 600, ki / 600), 0xF0F0F0u);
  EXPECT_EQ(WindowRgb(wi % 600, wi / 600), 0xFFFFFFu);

  // Hour step: a red 120 x 120 graph in the corner of a black buffer; white
  // logo pixels always cover it, key pixels never do.
  st.sftmp = CreateResultSurface(600, 600);
  Pinta_Rectangulo(st.sftmp.get(), 0, 0, 120, 120, 0x0000C8);  // red 200
  HourStepFrame();
  for (int y = 0; y < 112; ++y)
    for (int x = 0; x < 600; ++x) {
      const uint32_t want = grfwatmark[y * 600 + x] == kWhite ? 0xFFFFFFu : (x < 120 ? 0xC80000u : 0u);
      ASSERT_EQ(WindowRgb(x, y), want) << x << "," << y;
    }
  EXPECT_EQ(WindowRgb(119, 119), 0xC80000u);
  EXPECT_EQ(WindowRgb(120, 119), 0u);
}

}  // namespace
