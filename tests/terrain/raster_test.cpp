#include "terrain/raster.h"

#include <png.h>

#include "support/fixtures.h"

namespace {

// A PNG of one colour type, 8 bits per channel; `channel(x, y, c)` gives
// channel c of pixel (x, y).
void WritePngOfType(const fs::path& path, int w, int h, int colour_type, int channels,
                    const std::function<uint8_t(int, int, int)>& channel) {
  std::FILE* fp = std::fopen(path.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_byte> row(static_cast<size_t>(w) * channels);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(fp);
    FAIL() << "png write failed";
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, w, h, 8, colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) row[static_cast<size_t>(x) * channels + c] = channel(x, y, c);
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(fp);
}

// A hand-made surface of any byte depth over caller-owned memory, so that
// the accessors can be checked at depths SDL would not create for us.
struct FakeSurface {
  explicit FakeSurface(int bpp, int w = 4, int h = 3, int pitch = 16) : bytes(static_cast<size_t>(pitch) * h, 0xEE) {
    format.BytesPerPixel = static_cast<Uint8>(bpp);
    surface.format = &format;
    surface.w = w;
    surface.h = h;
    surface.pitch = static_cast<Uint16>(pitch);
    surface.pixels = bytes.data();
  }
  std::vector<uint8_t> bytes;
  SDL_PixelFormat format{};
  SDL_Surface surface{};
};

class RasterTest : public StateTest {};

TEST_F(RasterTest, PngHeightsAreDisplayPixelValues) {
  struct Case {
    const char* name;
    int colour_type, channels;
    std::vector<std::vector<uint8_t>> pixels;  // channels of each pixel of one row
    std::vector<float> heights;
  };
  const Case cases[] = {
      {"rgb", PNG_COLOR_TYPE_RGB, 3, {{0, 3, 232}, {0x12, 0x34, 0x56}, {0, 0, 0}, {0, 34, 96}},
       {1000, 0x123456, 0, 8800}},
      {"rgba drops alpha", PNG_COLOR_TYPE_RGB_ALPHA, 4, {{0, 3, 232, 255}, {0x12, 0x34, 0x56, 255}}, {1000, 0x123456}},
      // Grey levels load as grey colours: level g is g * 0x010101.
      {"grey", PNG_COLOR_TYPE_GRAY, 1, {{10}, {0}, {255}}, {657930, 0, 0xFFFFFF}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path p = dir / "0101.png";
    const int w = static_cast<int>(c.pixels.size());
    WritePngOfType(p, w, 2, c.colour_type, c.channels, [&](int x, int, int ch) { return c.pixels[x][ch]; });
    SurfacePtr s = Carga_Imagen(p.string());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->w, w);
    EXPECT_EQ(s->h, 2);
    for (int x = 0; x < w; ++x) {
      EXPECT_EQ(HeightOfPixel(s.get(), nullptr, x, 1), c.heights[x]) << x;
      EXPECT_EQ(SDLGetPixel(s.get(), x, 0), static_cast<uint32_t>(c.heights[x])) << x;
    }
  }
}

TEST_F(RasterTest, MissingPngIsFatal) {
  try {
    Carga_Imagen("/nonexistent/0101.png");
    ADD_FAILURE() << "no exit";
  } catch (const ProcessExit& e) {
    EXPECT_EQ(e.code, 1);
  }
  const auto boxes = plat.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.rfind("Fatal Error Loading Data.\n We are sorry", 0), 0u);
  EXPECT_NE(boxes[0].text.find(kSupportAddress), std::string::npos);
  EXPECT_EQ(boxes[0].caption, "Error!");
  EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
  EXPECT_FALSE(boxes[0].owned);
}

TEST(PixelAccess, EveryDepthRoundTripsItsLowBytes) {
  struct Case {
    int bpp;
    uint32_t read_back;
  };
  for (const Case c : {Case{1, 0x78}, Case{2, 0x5678}, Case{3, 0x345678}, Case{4, 0x12345678}}) {
    SCOPED_TRACE(c.bpp);
    FakeSurface f(c.bpp);
    SDLPutPixel(&f.surface, 2, 1, 0x12345678);
    EXPECT_EQ(SDLGetPixel(&f.surface, 2, 1), c.read_back);
    EXPECT_EQ(SDLGetPixel(&f.surface, 1, 1), c.bpp == 4 ? 0xEEEEEEEEu : (0xEEEEEEEEu >> (32 - 8 * c.bpp)));
    EXPECT_EQ(f.bytes[16 + 3 * c.bpp], 0xEE);  // the next pixel is untouched
  }
  // Three bytes go least significant first whatever the host order.
  FakeSurface f(3);
  SDLPutPixel(&f.surface, 1, 2, 0x12345678);
  EXPECT_EQ(f.bytes[2 * 16 + 3], 0x78);
  EXPECT_EQ(f.bytes[2 * 16 + 4], 0x56);
  EXPECT_EQ(f.bytes[2 * 16 + 5], 0x34);
}

TEST(PixelAccess, UnknownDepthReadsZeroAndWritesNothing) {
  for (int bpp : {0, 5}) {
    SCOPED_TRACE(bpp);
    FakeSurface f(bpp);
    EXPECT_EQ(SDLGetPixel(&f.surface, 1, 1), 0u);
    SDLPutPixel(&f.surface, 1, 1, 0x12345678);
    for (uint8_t b : f.bytes) ASSERT_EQ(b, 0xEE);
  }
}

TEST(PixelAccess, OddWidthRowsFollowThePitch) {
  SurfacePtr s = CreateResultSurface(121, 3);
  ASSERT_TRUE(s);
  ASSERT_EQ(s->format->BytesPerPixel, 3);
  EXPECT_EQ(s->pitch, 364);  // 363 bytes padded to a multiple of 4
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 121; ++x) SDLPutPixel(s.get(), x, y, static_cast<uint32_t>(y * 1000 + x));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 121; ++x) ASSERT_EQ(SDLGetPixel(s.get(), x, y), static_cast<uint32_t>(y * 1000 + x));
}

TEST(ResultSurface, IsZeroed24BitWithRedHighAndSizeChecked) {
  SurfacePtr s = CreateResultSurface(7, 5);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->format->BitsPerPixel, 24);
  EXPECT_EQ(s->format->Rmask, 0x00FF0000u);
  EXPECT_EQ(s->format->Bmask, 0x000000FFu);
  EXPECT_EQ(s->format->Amask, 0u);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(SDLGetPixel(s.get(), x, y), 0u);
  EXPECT_FALSE(CreateResultSurface(0, 10));
  EXPECT_FALSE(CreateResultSurface(10, -1));
  EXPECT_FALSE(CreateResultSurface(65536, 1));
}

TEST(Rectangle, ColourArgumentHasRedInTheLowByte) {
  SurfacePtr s = CreateResultSurface(9, 4);
  Pinta_Rectangulo(s.get(), 0, 0, 9, 4, 0x0000FF);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) ASSERT_EQ(SDLGetPixel(s.get(), x, y), 0xFF0000u);
  // Blue 0xFF, green 0x33, red 0; the top byte is ignored and the
  // rectangle is clipped to the surface.
  Pinta_Rectangulo(s.get(), 6, 2, 100, 100, 0xABFF3300);
  EXPECT_EQ(SDLGetPixel(s.get(), 6, 2), 0x0033FFu);
  EXPECT_EQ(SDLGetPixel(s.get(), 8, 3), 0x0033FFu);
  EXPECT_EQ(SDLGetPixel(s.get(), 5, 2), 0xFF0000u);
  EXPECT_EQ(SDLGetPixel(s.get(), 6, 1), 0xFF0000u);
  Pinta_Rectangulo(s.get(), 0, 0, 9, 4, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) ASSERT_EQ(SDLGetPixel(s.get(), x, y), 0u);
}

TEST_F(RasterTest, TiffSamplesUseTheProjectWidthAsStride) {
  FloatRaster r;
  r.width = 200;
  r.height = 3;
  for (int i = 0; i < 600; ++i) r.samples.push_back(static_cast<float>(i));
  st.proj_w = 200;
  EXPECT_EQ(TIFGetPixel(&r, 5, 2), 405.0f);
  st.cu_ext = 1;
  EXPECT_EQ(HeightOfPixel(nullptr, &r, 199, 1), 399.0f);
}

TEST(PngSize, ReadsTheHeaderOnly) {
  TempDir dir;
  WritePngRgb(dir / "s.png", 131, 77, [](int, int) { return 0u; });
  uint32_t w = 1, h = 1;
  ASSERT_TRUE(ReadPngSize((dir / "s.png").string(), w, h));
  EXPECT_EQ(w, 131u);
  EXPECT_EQ(h, 77u);
  // A stamped package, a file cut inside IHDR, a zero width: not a PNG.
  const std::vector<uint8_t> bytes = ReadFileBytes(dir / "s.png");
  for (auto damage : {+[](std::vector<uint8_t>& b) { std::copy_n("TSVLP", 5, b.begin()); },
                      +[](std::vector<uint8_t>& b) { b.resize(20); },
                      +[](std::vector<uint8_t>& b) { std::fill_n(b.begin() + 16, 4, 0); }}) {
    std::vector<uint8_t> b = bytes;
    damage(b);
    WriteFileBytes(dir / "d.png", b);
    EXPECT_FALSE(ReadPngSize((dir / "d.png").string(), w, h));
    EXPECT_EQ(w, 0u);
  }
  EXPECT_FALSE(ReadPngSize((dir / "missing.png").string(), w, h));
}

}  // namespace
