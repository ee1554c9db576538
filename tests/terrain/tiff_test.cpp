#include <tiffio.h>

#include <cmath>
#include <cstring>

#include "support/support.h"
#include "terrain/tiff.h"

namespace {

constexpr uint16_t kNone = COMPRESSION_NONE, kLzw = COMPRESSION_LZW, kDeflate = COMPRESSION_ADOBE_DEFLATE;
constexpr uint16_t kGrey = PHOTOMETRIC_MINISBLACK, kInt = SAMPLEFORMAT_INT, kUint = SAMPLEFORMAT_UINT,
                   kFloat = SAMPLEFORMAT_IEEEFP;

class TiffTest : public StateTest {
 protected:
  FloatRasterPtr Load(const fs::path& p) { return Carga_Imagen_tif(p.string()); }
  TempDir dir;
};

TEST_F(TiffTest, FloatStripsLoadBitForBit) {
  WriteTiffFloat(dir / "0101.tif", 600, 600, [](int x, int y) { return static_cast<float>(y * 600 + x) * 0.25f - 7.5f; });
  WriteTiffFloat(dir / "s.tif", 20, 10, [](int x, int) { return static_cast<float>(x); });
  testing::internal::CaptureStdout();
  FloatRasterPtr r = Load(dir / "0101.tif");
  FloatRasterPtr small = Load(dir / "s.tif");
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(r && small);
  EXPECT_EQ(r->width, 600u);
  EXPECT_EQ(r->height, 600u);
  ASSERT_EQ(r->samples.size(), 360000u);
  for (size_t i = 0; i < r->samples.size(); ++i)
    ASSERT_EQ(r->samples[i], static_cast<float>(i) * 0.25f - 7.5f) << i;
  EXPECT_EQ(small->samples[19], 19.0f);
}

// Heights equal the file's samples converted to float, whatever their
// type, byte order, compression or organisation; edge tiles are padded.
TEST_F(TiffTest, EverySupportedLayoutLoadsItsSamples) {
  struct Case {
    const char* name;
    TiffLayout layout;
    double lo, hi;  // the samples run from lo (first pixel) to hi (last)
  };
  const Case cases[] = {
      {"int8", {8, kInt}, -128, 127},
      {"uint8", {8, kUint}, 0, 255},
      {"int16", {16, kInt}, -32768, 32767},
      {"uint16", {16, kUint}, 0, 65535},
      {"int32", {32, kInt}, -2147483648.0, 2147483647.0},
      {"uint32", {32, kUint}, 0, 4294967295.0},
      {"float64", {64, kFloat}, -1e-3, 1e30},
      {"lzw float32 predictor 3", {32, kFloat, 1, kGrey, kLzw, 3}, -10.25, 3000.5},
      {"deflate int16 predictor 2", {16, kInt, 1, kGrey, kDeflate, 2}, -500, 4000},
      {"tiled float32", {32, kFloat, 1, kGrey, kNone, 0, 16}, 0.5, 8000.5},
      {"tiled lzw int32", {32, kInt, 1, kGrey, kLzw, 0, 32}, -9000, 9000},
      {"big-endian uint32", {32, kUint, 1, kGrey, kNone, 0, 0, true}, 0, 4294967295.0},
      {"big-endian tiled deflate int16", {16, kInt, 1, kGrey, kDeflate, 0, 16, true}, -32768, 32767},
  };
  const uint32_t w = 70, h = 45;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = [&](uint32_t x, uint32_t y) {
      const double v = c.lo + (c.hi - c.lo) * (y * w + x) / (w * h - 1);
      return c.layout.format == kFloat ? v : std::floor(v);
    };
    WriteTiff(dir / "c.tif", w, h, c.layout, value);
    FloatRasterPtr r = Load(dir / "c.tif");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->width * 1000 + r->height, w * 1000 + h);
    ASSERT_EQ(r->samples.size(), size_t{w} * h);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(r->samples[y * w + x], static_cast<float>(value(x, y))) << x << "," << y;
  }
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
TEST_F(TiffTest, LibraryWarningsReachStandardErrorAndShortDataFails) {
  WriteFileBytes(dir / "w.tif", TiffWithUnknownTag());
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  FloatRasterPtr r = Load(dir / "w.tif");
  testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->samples, (std::vector<float>{10, 20, 30, 40}));
  EXPECT_NE(err.find("65000"), std::string::npos) << err;
  // Cut in the pixel data with the tags whole: the load fails.
  std::vector<uint8_t> cut = TiffWithUnknownTag();
  cut.resize(cut.size() - 2);
  WriteFileBytes(dir / "cut.tif", cut);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Load(dir / "cut.tif"));
  testing::internal::GetCapturedStderr();
}

}  // namespace
