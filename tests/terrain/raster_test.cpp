// Raster loading (PNG and TIFF), pixel access and the graph window.
#include <png.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <cmath>

#include "support/support.h"
#include "terrain/graph.h"
#include "terrain/png_raster.h"
#include "terrain/raster.h"
#include "terrain/state.h"
#include "terrain/tiff.h"

namespace {

class RasterTest : public StateTest {
 protected:
  TempDir dir;
};

// The height of each kind of PNG is the display value of the colour the
// decoder makes of it: grey levels of any depth scaled to 8 bits become
// grey colours, 16-bit samples keep their high byte, alpha is dropped,
// palette indices give their entry's colour.
TEST_F(RasterTest, EveryColourTypeAndDepthLoadsAsColourValues) {
  constexpr int kGrey = PNG_COLOR_TYPE_GRAY, kGreyA = PNG_COLOR_TYPE_GRAY_ALPHA, kRgb = PNG_COLOR_TYPE_RGB,
                kRgba = PNG_COLOR_TYPE_RGB_ALPHA, kPal = PNG_COLOR_TYPE_PALETTE;
  std::vector<uint32_t> pal256(256);
  for (uint32_t i = 0; i < 256; ++i) pal256[i] = i * 0x010203u & 0xFFFFFFu;
  const uint32_t g = 0x010101, p = 0x010203;
  const std::vector<std::vector<uint32_t>> rgb8 = {{0, 3, 232}, {0x12, 0x34, 0x56}, {0, 34, 96}, {255, 255, 255}};
  const struct {
    const char* name;
    PngLayout layout;
    std::vector<std::vector<uint32_t>> pixels;  // channels of the 4 pixels of each row
    std::vector<uint32_t> heights;
  } cases[] = {
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
  for (const auto& c : cases) {
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

constexpr uint16_t kLzw = COMPRESSION_LZW, kDeflate = COMPRESSION_ADOBE_DEFLATE;
constexpr uint16_t kMinIsBlack = PHOTOMETRIC_MINISBLACK, kInt = SAMPLEFORMAT_INT, kUint = SAMPLEFORMAT_UINT,
                   kFloat = SAMPLEFORMAT_IEEEFP;

// Heights equal the file's samples converted to float, whatever their
// type, byte order, compression or organisation; edge tiles are padded.
TEST_F(RasterTest, TiffEverySupportedLayoutLoadsItsSamples) {
  const struct {
    const char* name;
    TiffLayout layout;
    double lo, hi;  // the samples run from lo (first pixel) to hi (last)
  } cases[] = {
      {"float32", {32, kFloat}, -7.5, 1e6},
      {"int8", {8, kInt}, -128, 127},
      {"uint8", {8, kUint}, 0, 255},
      {"int16", {16, kInt}, -32768, 32767},
      {"uint16", {16, kUint}, 0, 65535},
      {"int32", {32, kInt}, -2147483648.0, 2147483647.0},
      {"uint32", {32, kUint}, 0, 4294967295.0},
      {"float64", {64, kFloat}, -1e-3, 1e30},
      {"lzw float32 predictor 3", {32, kFloat, 1, kMinIsBlack, kLzw, 3}, -10.25, 3000.5},
      {"deflate int16 predictor 2", {16, kInt, 1, kMinIsBlack, kDeflate, 2}, -500, 4000},
      {"big-endian tiled lzw int32", {32, kInt, 1, kMinIsBlack, kLzw, 0, 32, true}, -9000, 9000},
      {"big-endian tiled deflate int16", {16, kInt, 1, kMinIsBlack, kDeflate, 0, 16, true}, -32768, 32767},
  };
  const uint32_t w = 70, h = 45;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = [&](uint32_t x, uint32_t y) {
      const double v = c.lo + (c.hi - c.lo) * (y * w + x) / (w * h - 1);
      return c.layout.format == kFloat ? v : std::floor(v);
    };
    WriteTiff(dir / "c.tif", w, h, c.layout, value);
    FloatRasterPtr r = Carga_Imagen_tif((dir / "c.tif").string());
    ASSERT_TRUE(r && r->width == w && r->height == h && r->samples.size() == size_t{w} * h);
    for (uint32_t i = 0; i < w * h; ++i) ASSERT_EQ(r->samples[i], float(value(i % w, i / w))) << i;
  }
}

// A 2 x 2 8-bit grey TIFF written by hand, its directory before its
// pixels: tag, type (3 SHORT, 4 LONG), value.
std::vector<uint8_t> HandWrittenTiff() {
  std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0, 8, 0};
  const uint32_t entries[][3] = {{256, 3, 2}, {257, 3, 2},   {258, 3, 8}, {259, 3, 1},
                                 {262, 3, 1}, {273, 4, 110}, {278, 3, 2}, {279, 4, 4}};
  for (const auto& [tag, type, value] : entries)
    for (const auto& [v, bytes] : {std::pair{tag, 2}, {type, 2}, {1u, 4}, {value, 4}})
      for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> 8 * i));
  for (uint8_t v : {0, 0, 0, 0, 10, 20, 30, 40}) b.push_back(v);
  return b;
}

// Cut in the pixel data with the tags whole, the load fails.
TEST_F(RasterTest, TiffShortPixelDataFails) {
  WriteFileBytes(dir / "whole.tif", HandWrittenTiff());
  WriteFileBytes(dir / "cut.tif", Cut(HandWrittenTiff(), 112));
  FloatRasterPtr r = Carga_Imagen_tif((dir / "whole.tif").string());
  ASSERT_TRUE(r && r->samples == std::vector<float>({10, 20, 30, 40}));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Carga_Imagen_tif((dir / "cut.tif").string()));
  testing::internal::GetCapturedStderr();
}

constexpr uint32_t kWhite = 0x00FFFFFF;

// Colour of a window pixel, whatever byte depth the display gives it.
uint32_t WindowRgb(int x, int y) {
  Uint8 r, g, b;
  SDL_GetRGB(SDLGetPixel(st.pantalla, x, y), st.pantalla->format, &r, &g, &b);
  return uint32_t{r} << 16 | uint32_t{g} << 8 | b;
}

TEST_F(RasterTest, WatermarkIsALogoInTwoColoursWithTheKeyTransparent) {
  PrepareWatermark();
  ASSERT_TRUE(st.watermark && WindowRgb(300, 50) == 0xF0F0F0u);  // before any run: plain grey

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
