#include <tiffio.h>

#include <cmath>
#include <cstring>

#include "support/fixtures.h"
#include "terrain/tiff.h"

namespace {

struct TiffLayout {
  uint16_t bits = 32;
  uint16_t format = SAMPLEFORMAT_IEEEFP;
  uint16_t spp = 1;
  uint16_t compression = COMPRESSION_NONE;
  uint32_t tile = 0;  // 0: one strip
};

// Writes a w x h TIFF of the given layout; `sample(x, y)` is stored as the
// file's sample type in each of the spp samples (little-endian host).
void WriteTiff(const fs::path& path, uint32_t w, uint32_t h, const TiffLayout& s,
               const std::function<double(uint32_t, uint32_t)>& sample) {
  const size_t bytes = s.bits / 8, px = bytes * s.spp;
  std::vector<uint8_t> img(size_t{w} * h * px);
  for (size_t i = 0; i < img.size(); i += bytes) {
    const double v = sample(static_cast<uint32_t>(i / px % w), static_cast<uint32_t>(i / px / w));
    const float f = static_cast<float>(v);
    const int64_t n = static_cast<int64_t>(v);
    std::memcpy(&img[i], s.format == SAMPLEFORMAT_IEEEFP ? static_cast<const void*>(&f) : &n, bytes);
  }
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.spp);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, s.format);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
  if (!s.tile) {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    ASSERT_GE(TIFFWriteEncodedStrip(t, 0, img.data(), static_cast<tmsize_t>(img.size())), 0);
  } else {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
    std::vector<uint8_t> tile(size_t{s.tile} * s.tile * px, 0xAB);  // edge tiles keep the padding
    for (uint32_t ty = 0; ty < h; ty += s.tile)
      for (uint32_t tx = 0; tx < w; tx += s.tile) {
        for (uint32_t r = 0; r < s.tile && ty + r < h; ++r)
          for (uint32_t c = 0; c < s.tile && tx + c < w; ++c)
            std::memcpy(&tile[(size_t{r} * s.tile + c) * px], &img[((size_t{ty} + r) * w + tx + c) * px], px);
        ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, 0), 0);
      }
  }
  TIFFClose(t);
}

class TiffTest : public StateTest {
 protected:
  FloatRasterPtr Load(const fs::path& p) { return Carga_Imagen_tif(p.string()); }
  TempDir dir;
};

TEST_F(TiffTest, FloatStripsLoadBitForBitWithDiagnostics) {
  WriteTiffFloat(dir / "0101.tif", 600, 600, [](int x, int y) { return static_cast<float>(y * 600 + x) * 0.25f - 7.5f; });
  WriteTiffFloat(dir / "s.tif", 20, 10, [](int x, int) { return static_cast<float>(x); });
  testing::internal::CaptureStdout();
  FloatRasterPtr r = Load(dir / "0101.tif");
  FloatRasterPtr small = Load(dir / "s.tif");
  // Element 6010 (row 10, column 10) only where the raster has one.
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Ancho/Alto: 600/600\nraw_z: 1495.000000\nAncho/Alto: 20/10\n");
  ASSERT_TRUE(r && small);
  EXPECT_EQ(r->width, 600u);
  EXPECT_EQ(r->height, 600u);
  ASSERT_EQ(r->samples.size(), 360000u);
  for (size_t i = 0; i < r->samples.size(); ++i)
    ASSERT_EQ(r->samples[i], static_cast<float>(i) * 0.25f - 7.5f) << i;
  EXPECT_EQ(small->samples[19], 19.0f);
}

TEST_F(TiffTest, IntegerTiledAndCompressedLayoutsLoadAsFloatHeightsAndRgbFails) {
  struct Case {
    const char* name;
    TiffLayout layout;
    double lo, hi;  // the pattern runs from lo (first sample) to hi (last)
  };
  const Case cases[] = {
      {"int16", {16, SAMPLEFORMAT_INT}, -32768, 32767},
      {"uint16", {16, SAMPLEFORMAT_UINT}, 0, 65535},
      {"lzw float", {32, SAMPLEFORMAT_IEEEFP, 1, COMPRESSION_LZW}, -10.25, 3000.5},
      // Sizes that are not multiples of the tile size: edge tiles are padded.
      {"tiled float", {32, SAMPLEFORMAT_IEEEFP, 1, COMPRESSION_NONE, 16}, 0.5, 8000.5},
      {"tiled deflate int16", {16, SAMPLEFORMAT_INT, 1, COMPRESSION_ADOBE_DEFLATE, 32}, -500, 9000},
  };
  const uint32_t w = 70, h = 45;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = [&](uint32_t x, uint32_t y) {
      const double v = c.lo + (c.hi - c.lo) * (y * w + x) / (w * h - 1);
      return c.layout.format == SAMPLEFORMAT_IEEEFP ? v : std::floor(v);
    };
    WriteTiff(dir / "c.tif", w, h, c.layout, value);
    FloatRasterPtr r = Load(dir / "c.tif");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->width, w);
    EXPECT_EQ(r->height, h);
    ASSERT_EQ(r->samples.size(), size_t{w} * h);
    EXPECT_EQ(r->samples.back(), static_cast<float>(c.hi));
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(r->samples[y * w + x], static_cast<float>(value(x, y))) << x << "," << y;
  }
  // Three samples a pixel hold no single height.
  WriteTiff(dir / "rgb.tif", 16, 4, {8, SAMPLEFORMAT_UINT, 3}, [](uint32_t, uint32_t) { return 0.0; });
  EXPECT_FALSE(Load(dir / "rgb.tif"));
}

// A 2 x 2 8-bit grey TIFF written by hand, with one private tag libtiff
// does not know (65000) among the standard ones.
std::vector<uint8_t> TiffWithUnknownTag() {
  std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto u16 = [&](uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const uint32_t entries[][2] = {{256, 2}, {257, 2}, {258, 8},   {259, 1},  {262, 1},
                                 {273, 122}, {278, 2}, {279, 4}, {65000, 7}};
  u16(9);
  for (const auto& [tag, value] : entries) {
    u16(tag);
    u16(tag == 273 || tag == 279 ? 4 : 3);  // LONG offsets and counts, SHORT otherwise
    u32(1);
    u32(value);
  }
  u32(0);
  for (uint8_t v : {10, 20, 30, 40}) b.push_back(v);
  return b;
}

// Warnings go to libtiff's own handler, which prints them: the program adds
// no handler that would hide them.
TEST_F(TiffTest, LibraryWarningsReachStandardError) {
  WriteFileBytes(dir / "w.tif", TiffWithUnknownTag());
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  FloatRasterPtr r = Load(dir / "w.tif");
  testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->samples, (std::vector<float>{10, 20, 30, 40}));
  EXPECT_NE(err.find("65000"), std::string::npos) << err;
}

TEST_F(TiffTest, TruncatedFileFails) {
  WriteTiffFloat(dir / "whole.tif", 120, 120, [](int x, int) { return static_cast<float>(x); });
  const std::vector<uint8_t> whole = ReadFileBytes(dir / "whole.tif");
  WriteFileBytes(dir / "cut.tif", std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Load(dir / "cut.tif"));
  testing::internal::GetCapturedStderr();
}

}  // namespace
