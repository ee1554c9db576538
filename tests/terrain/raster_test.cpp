#include <png.h>

#include <cstring>

#include "support/fixtures.h"
#include "terrain/png_raster.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

// A PNG of one 8-bit colour type whose rows all hold `row` (the pixels'
// channels, interleaved).
void WritePngRows(const fs::path& path, int colour_type, int channels, const std::vector<uint8_t>& row, int h) {
  std::FILE* fp = std::fopen(path.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) FAIL() << "png write failed";
  png_init_io(png, fp);
  png_set_IHDR(png, info, static_cast<png_uint_32>(row.size() / channels), h, 8, colour_type, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < h; ++y) png_write_row(png, row.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(fp);
}

class RasterTest : public StateTest {};

TEST_F(RasterTest, PngHeightsAreDisplayPixelValues) {
  struct Case {
    const char* name;
    int colour_type, channels;
    std::vector<uint8_t> row;
    std::vector<float> heights;
  };
  const Case cases[] = {
      {"rgb", PNG_COLOR_TYPE_RGB, 3, {0, 3, 232, 0x12, 0x34, 0x56, 0, 0, 0}, {1000, 0x123456, 0}},
      {"rgba drops alpha", PNG_COLOR_TYPE_RGB_ALPHA, 4, {0, 3, 232, 255, 0x12, 0x34, 0x56, 9}, {1000, 0x123456}},
      // Grey levels load as grey colours: level g is g * 0x010101.
      {"grey", PNG_COLOR_TYPE_GRAY, 1, {10, 0, 255}, {657930, 0, 0xFFFFFF}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WritePngRows(dir / "0101.png", c.colour_type, c.channels, c.row, 2);
    SurfacePtr s = Carga_Imagen((dir / "0101.png").string());
    ASSERT_EQ(s->w, static_cast<int>(c.heights.size()));
    EXPECT_EQ(s->h, 2);
    for (int x = 0; x < s->w; ++x) EXPECT_EQ(HeightOfPixel(s.get(), nullptr, x, 1), c.heights[x]) << x;
  }
}

TEST_F(RasterTest, MissingPngIsFatal) {
  try {
    Carga_Imagen("/nonexistent/0101.png");
    ADD_FAILURE() << "no exit";
  } catch (const ProcessExit& e) {
    EXPECT_EQ(e.code, 1);
  }
  ASSERT_EQ(plat.boxes().size(), 1u);
  const auto box = plat.boxes()[0];
  EXPECT_EQ(box.text, std::string("Fatal Error Loading Data.") + kFatalTail + kSupportAddress);
  EXPECT_EQ(box.caption, "Error!");
  EXPECT_EQ(box.icon, BoxIcon::Error);
}

// A float raster's rows are its own width apart, whatever project is
// current: a neighbour or a test raster need not match proj_w.
TEST_F(RasterTest, FloatSamplesAreAddressedByTheRastersOwnWidth) {
  FloatRaster r;
  r.width = 3;
  r.height = 2;
  r.samples = {0, 1, 2, 10, 11, 12};
  for (int32_t proj_w : {0, 2, 600}) {
    st.proj_w = proj_w;
    EXPECT_EQ(TIFGetPixel(&r, 0, 1), 10.0f);
    EXPECT_EQ(TIFGetPixel(&r, 2, 1), 12.0f);
  }
}

TEST(PixelAccess, EveryDepthWritesItsLowBytesOnlyAndRectanglesFill) {
  for (int bpp = 1; bpp <= 4; ++bpp) {
    SCOPED_TRACE(bpp);
    SurfacePtr s(SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 3, 8 * bpp, 0, 0, 0, 0));
    ASSERT_EQ(s->format->BytesPerPixel, bpp);
    auto* row = static_cast<uint8_t*>(s->pixels) + 2 * s->pitch;
    std::memset(row, 0xEE, s->pitch);
    SDLPutPixel(s.get(), 1, 2, 0x12345678);
    EXPECT_EQ(SDLGetPixel(s.get(), 1, 2), 0x12345678u & (bpp == 4 ? ~0u : (1u << 8 * bpp) - 1));
    EXPECT_EQ(row[bpp], 0x78);  // least significant first whatever the host order
    EXPECT_EQ(row[bpp - 1], 0xEE);  // neighbours untouched
    EXPECT_EQ(row[2 * bpp], 0xEE);
  }
  // Result surfaces: zeroed 24-bit, odd widths padded to 4 bytes a row.
  SurfacePtr s = CreateResultSurface(121, 3);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->pitch, 364);
  EXPECT_EQ(SDLGetPixel(s.get(), 120, 2), 0u);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 121; ++x) SDLPutPixel(s.get(), x, y, static_cast<uint32_t>(y * 1000 + x));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 121; ++x) ASSERT_EQ(SDLGetPixel(s.get(), x, y), static_cast<uint32_t>(y * 1000 + x));
  EXPECT_FALSE(CreateResultSurface(0, 10));
  EXPECT_FALSE(CreateResultSurface(65536, 1));

  // Rectangle colours are 0x00BBGGRR, the top byte ignored, clipped to the surface.
  Pinta_Rectangulo(s.get(), 0, 0, 121, 3, 0x0000FF);
  Pinta_Rectangulo(s.get(), 119, 1, 100, 100, 0xABFF3300);
  EXPECT_EQ(SDLGetPixel(s.get(), 118, 1), 0xFF0000u);
  EXPECT_EQ(SDLGetPixel(s.get(), 119, 0), 0xFF0000u);
  EXPECT_EQ(SDLGetPixel(s.get(), 119, 1), 0x0033FFu);
  EXPECT_EQ(SDLGetPixel(s.get(), 120, 2), 0x0033FFu);
}

}  // namespace
