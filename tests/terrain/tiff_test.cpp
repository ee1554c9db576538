#include <tiffio.h>

#include <cmath>

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

// Heights equal the file's samples converted to float, whatever their
// type, byte order, compression or organisation; edge tiles are padded.
TEST_F(TiffTest, EverySupportedLayoutLoadsItsSamples) {
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
      {"lzw float32 predictor 3", {32, kFloat, 1, kGrey, kLzw, 3}, -10.25, 3000.5},
      {"deflate int16 predictor 2", {16, kInt, 1, kGrey, kDeflate, 2}, -500, 4000},
      {"tiled lzw int32", {32, kInt, 1, kGrey, kLzw, 0, 32}, -9000, 9000},
      {"big-endian uint32", {32, kUint, 1, kGrey, kNone, 0, 0, true}, 0, 4294967295.0},
      {"big-endian tiled deflate int16", {16, kInt, 1, kGrey, kDeflate, 0, 16, true}, -32768, 32767},
  };
  const uint32_t w = 70, h = 45;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = [&](uint32_t x, uint32_t y) {
      const double v = c.lo + (c.hi - c.lo) * (y * w + x) / (w * h - 1);
      return c.layout.format == kFloat ? v : std::floor(v);
    };
    WriteTiff(dir / "c.tif", w, h, c.layout, value);
    FloatRasterPtr r = Load(dir / "c.tif");
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
TEST_F(TiffTest, ShortPixelDataFails) {
  WriteFileBytes(dir / "whole.tif", HandWrittenTiff());
  WriteFileBytes(dir / "cut.tif", Cut(HandWrittenTiff(), 112));
  FloatRasterPtr r = Load(dir / "whole.tif");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->samples, (std::vector<float>{10, 20, 30, 40}));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Load(dir / "cut.tif"));
  testing::internal::GetCapturedStderr();
}

}  // namespace
