#include <tiffio.h>

#include <cmath>
#include <cstring>

#include "support/fixtures.h"
#include "terrain/raster.h"

namespace {

struct TiffSpec {
  uint16_t bits = 32;
  uint16_t format = SAMPLEFORMAT_IEEEFP;
  uint16_t spp = 1;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t compression = COMPRESSION_NONE;
  uint16_t predictor = 0;  // 0: tag not written
  uint32_t tile = 0;       // 0: strips of 8 rows
};

// Writes a w x h TIFF of the given layout; `sample(x, y)` is stored as the
// file's sample type (each of spp samples gets the same value).
void WriteTiff(const fs::path& path, uint32_t w, uint32_t h, const TiffSpec& s,
               const std::function<double(uint32_t, uint32_t)>& sample) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.spp);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, s.format);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
  if (s.predictor) TIFFSetField(t, TIFFTAG_PREDICTOR, s.predictor);
  if (s.photometric == PHOTOMETRIC_PALETTE) {
    std::vector<uint16_t> map(size_t{1} << s.bits, 0);
    TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
  }
  // Sample sizes that are not whole bytes are written as zero rows.
  const size_t bytes = s.bits / 8;
  auto put = [&](uint8_t* dst, double v) {
    const int64_t i = static_cast<int64_t>(v);
    if (s.format == SAMPLEFORMAT_IEEEFP && s.bits == 32) {
      const float f = static_cast<float>(v);
      std::memcpy(dst, &f, 4);
    } else if (s.format == SAMPLEFORMAT_IEEEFP) {
      if (s.bits == 64) std::memcpy(dst, &v, 8);  // other float sizes stay zero
    } else {
      std::memcpy(dst, &i, bytes);  // little-endian host: the low bytes
    }
  };
  if (s.tile) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
    std::vector<uint8_t> buf(size_t{s.tile} * s.tile * bytes * s.spp);
    for (uint32_t ty = 0; ty < h; ty += s.tile)
      for (uint32_t tx = 0; tx < w; tx += s.tile) {
        std::fill(buf.begin(), buf.end(), 0xAB);  // padding outside the raster
        for (uint32_t r = 0; r < s.tile && ty + r < h; ++r)
          for (uint32_t c = 0; c < s.tile && tx + c < w; ++c)
            for (uint16_t k = 0; k < s.spp; ++k)
              put(&buf[((size_t{r} * s.tile + c) * s.spp + k) * bytes], sample(tx + c, ty + r));
        ASSERT_GE(TIFFWriteTile(t, buf.data(), tx, ty, 0, 0), 0);
      }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 8);
    std::vector<uint8_t> row((size_t{w} * s.bits * s.spp + 7) / 8);
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w && s.bits % 8 == 0; ++x)
        for (uint16_t k = 0; k < s.spp; ++k) put(&row[(size_t{x} * s.spp + k) * bytes], sample(x, y));
      ASSERT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
    }
  }
  TIFFClose(t);
}

size_t OpenFileCount() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

class TiffTest : public StateTest {
 protected:
  FloatRasterPtr Load(const fs::path& p) { return Carga_Imagen_tif(p.string()); }
  TempDir dir;
};

TEST_F(TiffTest, FloatStripsLoadBitForBitWithDiagnostics) {
  const fs::path p = dir / "0101.tif";
  WriteTiffFloat(p, 600, 600, [](int x, int y) { return static_cast<float>(y * 600 + x) * 0.25f - 7.5f; });
  testing::internal::CaptureStdout();
  FloatRasterPtr r = Load(p);
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->width, 600u);
  EXPECT_EQ(r->height, 600u);
  ASSERT_EQ(r->samples.size(), 360000u);
  for (size_t i = 0; i < r->samples.size(); ++i)
    ASSERT_EQ(r->samples[i], static_cast<float>(i) * 0.25f - 7.5f) << i;
  // Element 6010: row 10, column 10.
  EXPECT_EQ(out, "Ancho/Alto: 600/600\nraw_z: 1495.000000\n");
}

TEST_F(TiffTest, SmallRasterSkipsTheSampleDiagnostic) {
  WriteTiffFloat(dir / "s.tif", 20, 10, [](int x, int) { return static_cast<float>(x); });
  testing::internal::CaptureStdout();
  FloatRasterPtr r = Load(dir / "s.tif");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Ancho/Alto: 20/10\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->samples[19], 19.0f);
}

TEST_F(TiffTest, EverySupportedLayoutLoadsAsFloatHeights) {
  struct Case {
    const char* name;
    TiffSpec spec;
    double lo, hi;  // the pattern runs from lo (first sample) to hi (last)
  };
  constexpr uint16_t kGrey = PHOTOMETRIC_MINISBLACK;
  const Case cases[] = {
      {"int8", {8, SAMPLEFORMAT_INT}, -128, 127},
      {"uint8", {8, SAMPLEFORMAT_UINT}, 0, 255},
      {"int16", {16, SAMPLEFORMAT_INT}, -32768, 32767},
      {"uint16", {16, SAMPLEFORMAT_UINT}, 0, 65535},
      {"int32", {32, SAMPLEFORMAT_INT}, -400000, 400000},
      {"uint32", {32, SAMPLEFORMAT_UINT}, 0, 16777215},
      {"float64", {64, SAMPLEFORMAT_IEEEFP}, -430.5, 8848.25},
      {"lzw float", {32, SAMPLEFORMAT_IEEEFP, 1, kGrey, COMPRESSION_LZW}, -10.25, 3000.5},
      {"deflate int16 predictor", {16, SAMPLEFORMAT_INT, 1, kGrey, COMPRESSION_ADOBE_DEFLATE, 2}, -500, 4000},
      // Sizes that are not multiples of the tile size: edge tiles are padded.
      {"tiled float", {32, SAMPLEFORMAT_IEEEFP, 1, kGrey, COMPRESSION_NONE, 0, 16}, 0.5, 8000.5},
      {"tiled deflate uint16", {16, SAMPLEFORMAT_UINT, 1, kGrey, COMPRESSION_ADOBE_DEFLATE, 0, 32}, 0, 9000},
  };
  const uint32_t w = 70, h = 45;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = [&](uint32_t x, uint32_t y) {
      const double v = c.lo + (c.hi - c.lo) * (y * w + x) / (w * h - 1);
      return c.spec.format == SAMPLEFORMAT_IEEEFP ? v : std::floor(v);
    };
    const fs::path p = dir / "c.tif";
    WriteTiff(p, w, h, c.spec, value);
    FloatRasterPtr r = Load(p);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->width, w);
    EXPECT_EQ(r->height, h);
    ASSERT_EQ(r->samples.size(), size_t{w} * h);
    EXPECT_EQ(r->samples.back(), static_cast<float>(c.hi));
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(r->samples[y * w + x], static_cast<float>(value(x, y))) << x << "," << y;
    uint32_t cw = 0, ch = 0;
    bool opened = false;
    EXPECT_EQ(CheckTiffLayout(p.string(), cw, ch, opened), "");
    EXPECT_TRUE(opened && cw == w && ch == h);
  }
}

TEST_F(TiffTest, UnsupportedLayoutsFailAndSayWhy) {
  struct Case {
    const char* name;
    TiffSpec spec;
  };
  const Case cases[] = {
      {"rgb", {8, SAMPLEFORMAT_UINT, 3, PHOTOMETRIC_RGB}},
      {"grey and alpha", {16, SAMPLEFORMAT_UINT, 2}},
      {"palette", {8, SAMPLEFORMAT_UINT, 1, PHOTOMETRIC_PALETTE}},
      {"12-bit", {12, SAMPLEFORMAT_UINT}},
      {"bilevel", {1, SAMPLEFORMAT_UINT}},
      {"16-bit float", {16, SAMPLEFORMAT_IEEEFP}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path p = dir / "u.tif";
    WriteTiff(p, 16, 4, c.spec, [](uint32_t, uint32_t) { return 0.0; });
    EXPECT_FALSE(Load(p));
    uint32_t w = 0, h = 0;
    bool opened = false;
    EXPECT_EQ(CheckTiffLayout(p.string(), w, h, opened), "unsupported TIFF sample layout");
    EXPECT_TRUE(opened);
    EXPECT_EQ(w, 16u);
  }
}

// A float32 TIFF laid out by hand, directory first and one strip after it,
// so that cutting the file short removes pixel rows but keeps the tags.
std::vector<uint8_t> HandMadeFloatTiff(uint32_t w, uint32_t h) {
  std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto put = [&](uint32_t v, int n) {
    for (int k = 0; k < n; ++k) f.push_back(static_cast<uint8_t>(v >> (8 * k)));
  };
  // Tag, type (3 short, 4 long), value; one value each.
  const uint32_t tags[][3] = {{256, 4, w}, {257, 4, h}, {258, 3, 32}, {259, 3, 1}, {262, 3, 1},
                              {273, 4, 8 + 2 + 10 * 12 + 4}, {277, 3, 1}, {278, 4, h}, {279, 4, w * h * 4}, {339, 3, 3}};
  put(10, 2);
  for (const auto& t : tags) {
    put(t[0], 2);
    put(t[1], 2);
    put(1, 4);
    put(t[2], 4);  // a short sits in the low half, little-endian
  }
  put(0, 4);
  for (uint32_t i = 0; i < w * h; ++i) {
    const float v = static_cast<float>(i);
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    put(bits, 4);
  }
  return f;
}

TEST_F(TiffTest, TruncatedFileFailsAndLeavesNothingOpen) {
  const std::vector<uint8_t> whole = HandMadeFloatTiff(120, 120);
  WriteFileBytes(dir / "whole.tif", whole);
  FloatRasterPtr r = Load(dir / "whole.tif");
  ASSERT_TRUE(r);  // the hand-made layout itself is sound
  EXPECT_EQ(r->samples[14399], 14399.0f);

  // Cut in the middle of the pixel rows: the tags read, a row does not.
  WriteFileBytes(dir / "cut.tif", std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2));
  // Cut inside the header.
  WriteFileBytes(dir / "head.tif", std::vector<uint8_t>(whole.begin(), whole.begin() + 6));
  const size_t before = OpenFileCount();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(Load(dir / "cut.tif"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Ancho/Alto: 120/120\n");
  EXPECT_FALSE(Load(dir / "head.tif"));
  EXPECT_EQ(OpenFileCount(), before);
}

TEST_F(TiffTest, UnreadableOrOversizedFilesFail) {
  WriteFileBytes(dir / "x.tif", {'n', 'o', 't', ' ', 'a', ' ', 't', 'i', 'f', 'f'});
  WriteTiff(dir / "wide.tif", 70000, 1, TiffSpec{8, SAMPLEFORMAT_UINT}, [](uint32_t, uint32_t) { return 1.0; });
  struct Case {
    const char* name;
    const char* reason;
    bool opened;
    uint32_t width;
  };
  for (const Case& c : {Case{"x.tif", "cannot be opened", false, 0}, Case{"missing.tif", "cannot be opened", false, 0},
                        Case{"wide.tif", "invalid TIFF image size", true, 70000}}) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Load(dir / c.name));
    uint32_t w = 1, h = 1;
    bool opened = !c.opened;
    EXPECT_EQ(CheckTiffLayout((dir / c.name).string(), w, h, opened), c.reason);
    EXPECT_EQ(opened, c.opened);
    EXPECT_EQ(w, c.width);
  }
}

}  // namespace
