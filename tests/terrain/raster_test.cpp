#include <png.h>
#include <sys/resource.h>

#include "support/support.h"
#include "terrain/png_raster.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

using RasterTest = StateTest;

// The height of each kind of PNG is the display value of the colour the
// decoder makes of it: grey levels of any depth scaled to 8 bits become
// grey colours, 16-bit samples keep their high byte, alpha is dropped,
// palette indices give their entry's colour.
TEST_F(RasterTest, EveryColourTypeAndDepthLoadsAsColourValues) {
  struct Case {
    const char* name;
    PngLayout layout;
    std::vector<std::vector<uint32_t>> pixels;  // channels of the 4 pixels of each row
    std::vector<uint32_t> heights;
  };
  constexpr int kGrey = PNG_COLOR_TYPE_GRAY, kGreyA = PNG_COLOR_TYPE_GRAY_ALPHA, kRgb = PNG_COLOR_TYPE_RGB,
                kRgba = PNG_COLOR_TYPE_RGB_ALPHA, kPal = PNG_COLOR_TYPE_PALETTE;
  std::vector<uint32_t> pal256(256);
  for (uint32_t i = 0; i < 256; ++i) pal256[i] = i * 0x010203u & 0xFFFFFFu;
  const uint32_t g = 0x010101, p = 0x010203;
  const std::vector<std::vector<uint32_t>> rgb8 = {{0, 3, 232}, {0x12, 0x34, 0x56}, {0, 34, 96}, {255, 255, 255}};
  const Case cases[] = {
      {"grey 2", {kGrey, 2}, {{0}, {1}, {2}, {3}}, {0, 85 * g, 170 * g, 255 * g}},
      {"grey 16", {kGrey, 16}, {{0}, {0x01FF}, {0x8000}, {0xFFFF}}, {0, 1 * g, 0x80 * g, 255 * g}},
      {"grey+alpha 16", {kGreyA, 16}, {{0x0AFF, 0xFFFF}, {0x1400, 0}, {0, 0x8000}, {0xFFFF, 0xFFFF}},
       {10 * g, 20 * g, 0, 255 * g}},
      {"rgb 8", {kRgb, 8}, rgb8, {1000, 0x123456, 8800, 0xFFFFFF}},
      {"rgba 8", {kRgba, 8}, {{0, 3, 232, 0}, {0x12, 0x34, 0x56, 128}, {0, 0, 0, 255}, {1, 2, 3, 7}},
       {1000, 0x123456, 0, p}},
      // Transparency changes how the decoder stores pixels, not their colour.
      {"palette 8 + tRNS", {kPal, 8, false, pal256, {0, 128, 255}}, {{0}, {1}, {200}, {3}},
       {0, p, 200 * p & 0xFFFFFF, 3 * p}},
      {"rgb 8 interlaced", {kRgb, 8, true}, rgb8, {1000, 0x123456, 8800, 0xFFFFFF}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WritePng(dir / "0101.png", 4, 3, c.layout, [&](int x, int, int ch) { return c.pixels[x][ch]; });
    SurfacePtr s = Carga_Imagen((dir / "0101.png").string());
    ASSERT_TRUE(s);
    for (int x = 0; x < 4; ++x)
      for (int y = 0; y < 3; ++y) EXPECT_EQ(HeightOfPixel(s.get(), nullptr, x, y), float(c.heights[x])) << x;
  }
  // Sizes no raster has fail with the load box, without the claimed
  // gigabytes ever being taken.
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{100000, 100000}, {21846, 2}, {0x7FFFFFFF, 1}}) {
    WriteFileBytes(dir / "big.png", PngClaiming(w, h));
    EXPECT_EQ(ExitCodeOf([&] { Carga_Imagen((dir / "big.png").string()); }), 1) << w << " x " << h;
  }
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);
}

TEST(PixelAccess, ResultSurfacesRectanglesAndFloatRows) {
  // Result surfaces: zeroed 24-bit, odd widths padded to 4 bytes a row.
  SurfacePtr s = CreateResultSurface(121, 3);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->pitch, 364);
  EXPECT_EQ(SDLGetPixel(s.get(), 120, 2), 0u);
  EXPECT_FALSE(CreateResultSurface(0, 10));
  EXPECT_FALSE(CreateResultSurface(65536, 1));
  // Rectangle colours are 0x00BBGGRR, the top byte ignored, clipped to the surface.
  Pinta_Rectangulo(s.get(), 0, 0, 121, 3, 0x0000FF);
  Pinta_Rectangulo(s.get(), 119, 1, 100, 100, 0xABFF3300);
  EXPECT_EQ(std::vector<uint32_t>({SDLGetPixel(s.get(), 118, 1), SDLGetPixel(s.get(), 119, 0),
                                   SDLGetPixel(s.get(), 119, 1), SDLGetPixel(s.get(), 120, 2)}),
            std::vector<uint32_t>({0xFF0000u, 0xFF0000u, 0x0033FFu, 0x0033FFu}));
  // A neighbour or a test raster need not match the project's width.
  FloatRaster r{3, 2, {0, 1, 2, 10, 11, 12}};
  st.proj_w = 2;
  EXPECT_EQ(TIFGetPixel(&r, 0, 1) + TIFGetPixel(&r, 2, 1), 22.0f);
}

}  // namespace
