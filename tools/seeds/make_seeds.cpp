// Writes the seed inputs of the fuzz targets: small valid files of every
// kind the loaders accept or meet, and the texts of the coordinate entry.
// Usage: make_seeds <corpus folder>
#include <png.h>
#include <tiffio.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path root;

void Save(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
  fs::create_directories(root / target);
  std::ofstream out(root / target / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// PNG through libpng's simplified writer; a colour map gives palette files
// of the smallest depth that holds it.
void Png(const std::string& name, int w, int h, uint32_t format, const std::vector<uint8_t>& colormap = {}) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = format;
  const size_t entries = colormap.size() / 3;
  if (entries) image.colormap_entries = static_cast<png_uint_32>(entries);
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  const size_t comp = PNG_IMAGE_SAMPLE_COMPONENT_SIZE(format);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<uint8_t>(entries ? (i / comp / 7) % entries : (i * 37 / comp / 5) % 251);
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(image, size, 0, pixels.data(), 0, entries ? colormap.data() : nullptr)) {
    std::fprintf(stderr, "png %s: %s\n", name.c_str(), image.message);
    std::exit(1);
  }
  std::vector<uint8_t> out(size);
  png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, entries ? colormap.data() : nullptr);
  out.resize(size);
  Save("png_loader", name, out);
}

// A 1-bit BMP: not a PNG, but named like one the scan hands it to the
// decoder all the same.
void Bmp(const std::string& name, int w, int h) {
  const uint32_t row = ((static_cast<uint32_t>(w) + 31) / 32) * 4, data = row * static_cast<uint32_t>(h);
  std::vector<uint8_t> b;
  auto u16 = [&](uint32_t v) { b.push_back(v & 0xFF); b.push_back(v >> 8 & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
  b.push_back('B');
  b.push_back('M');
  u32(14 + 40 + 8 + data); u16(0); u16(0); u32(14 + 40 + 8);
  u32(40); u32(static_cast<uint32_t>(w)); u32(static_cast<uint32_t>(h)); u16(1); u16(1); u32(0); u32(data);
  u32(2835); u32(2835); u32(2); u32(0);
  u32(0x00000000); u32(0x00E80300);
  for (uint32_t i = 0; i < data; ++i) b.push_back(static_cast<uint8_t>(i % 5 == 0 ? 0xF0 : 0));
  Save("png_loader", name, b);
}

struct TiffLayout {
  uint16_t bits = 32, format = SAMPLEFORMAT_IEEEFP, spp = 1, photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t compression = COMPRESSION_NONE, predictor = 0;
  uint32_t tile = 0;
  bool big = false;
};

void Tiff(const std::string& name, uint32_t w, uint32_t h, const TiffLayout& s) {
  const fs::path tmp = root / ".seed.tif";
  TIFF* t = TIFFOpen(tmp.c_str(), s.big ? "wb" : "wl");
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
    std::vector<uint16_t> map(size_t{1} << s.bits);
    for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint16_t>(i * 257);
    TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
  }
  // Sample bytes: a ramp in whatever type the bytes are read as.
  auto fill = [&](std::vector<uint8_t>& buf, uint32_t seed) {
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<uint8_t>((seed + i * 3) % 200);
    if (s.format == SAMPLEFORMAT_IEEEFP && s.bits == 32)
      for (size_t i = 0; i + 4 <= buf.size(); i += 4) {
        const float v = static_cast<float>(seed + i) * 0.5f - 20.0f;
        std::memcpy(&buf[i], &v, 4);
      }
  };
  if (s.tile) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
    std::vector<uint8_t> buf((size_t{s.tile} * s.tile * s.spp * s.bits + 7) / 8);
    for (uint32_t ty = 0; ty < h; ty += s.tile)
      for (uint32_t tx = 0; tx < w; tx += s.tile) {
        fill(buf, tx + ty);
        TIFFWriteTile(t, buf.data(), tx, ty, 0, 0);
      }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 4);
    std::vector<uint8_t> row((size_t{w} * s.bits * s.spp + 7) / 8);
    for (uint32_t y = 0; y < h; ++y) {
      fill(row, y);
      TIFFWriteScanline(t, row.data(), y, 0);
    }
  }
  TIFFClose(t);
  Save("tiff_loader", name, Slurp(tmp));
  fs::remove(tmp);
}

std::vector<uint8_t> Coords(double lon, double lat) {
  std::vector<uint8_t> b(16);
  std::memcpy(b.data(), &lon, 8);
  std::memcpy(b.data() + 8, &lat, 8);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
    return 2;
  }
  root = argv[1];
  TIFFSetWarningHandler(nullptr);

  Png("rgb8_120.png", 120, 120, PNG_FORMAT_RGB);
  Png("rgba8_120.png", 120, 120, PNG_FORMAT_RGBA);
  Png("grey8_120.png", 120, 120, PNG_FORMAT_GRAY);
  Png("greyalpha8_120.png", 120, 120, PNG_FORMAT_GA);
  Png("rgb16_120.png", 120, 120, PNG_FORMAT_LINEAR_RGB);
  Png("grey16_120.png", 120, 120, PNG_FORMAT_LINEAR_Y);
  Png("palette1_120.png", 120, 120, PNG_FORMAT_RGB_COLORMAP, {0, 0, 0, 0, 3, 232});
  Png("palette4_120.png", 120, 120, PNG_FORMAT_RGB_COLORMAP,
      {0, 0, 0, 0, 3, 232, 0, 34, 96, 1, 2, 3, 9, 9, 9, 200, 100, 50, 7, 7, 7, 0, 0, 1});
  Png("rgb8_small.png", 16, 16, PNG_FORMAT_RGB);
  Bmp("bmp1_120.png", 120, 120);

  Tiff("float32.tif", 16, 8, {});
  Tiff("float64.tif", 16, 8, {64});
  Tiff("int8.tif", 16, 8, {8, SAMPLEFORMAT_INT});
  Tiff("uint8.tif", 16, 8, {8, SAMPLEFORMAT_UINT});
  Tiff("int16.tif", 16, 8, {16, SAMPLEFORMAT_INT});
  Tiff("uint16.tif", 16, 8, {16, SAMPLEFORMAT_UINT});
  Tiff("int32.tif", 16, 8, {32, SAMPLEFORMAT_INT});
  Tiff("uint32.tif", 16, 8, {32, SAMPLEFORMAT_UINT});
  Tiff("lzw_float32.tif", 16, 8, {32, SAMPLEFORMAT_IEEEFP, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW});
  Tiff("deflate_int16_pred2.tif", 16, 8, {16, SAMPLEFORMAT_INT, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, 2});
  Tiff("deflate_float32_pred3.tif", 16, 8, {32, SAMPLEFORMAT_IEEEFP, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, 3});
  Tiff("packbits_uint8.tif", 16, 8, {8, SAMPLEFORMAT_UINT, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS});
  Tiff("tiled_float32.tif", 40, 20, {32, SAMPLEFORMAT_IEEEFP, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 0, 16});
  Tiff("tiled_lzw_uint16.tif", 40, 20, {16, SAMPLEFORMAT_UINT, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 0, 16});
  Tiff("be_float32.tif", 16, 8, {32, SAMPLEFORMAT_IEEEFP, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 0, 0, true});
  Tiff("be_int16_lzw.tif", 16, 8, {16, SAMPLEFORMAT_INT, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 0, 0, true});
  Tiff("rgb8.tif", 16, 8, {8, SAMPLEFORMAT_UINT, 3, PHOTOMETRIC_RGB});
  Tiff("palette8.tif", 16, 8, {8, SAMPLEFORMAT_UINT, 1, PHOTOMETRIC_PALETTE});
  Tiff("bilevel.tif", 16, 8, {1, SAMPLEFORMAT_UINT});
  Tiff("deflate_float32_120.tif", 120, 120, {32, SAMPLEFORMAT_IEEEFP, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, 3});

  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const std::vector<uint8_t> good = Coords(-3.70379, 40.4165);
  Save("coords_file", "good", good);
  Save("coords_file", "empty", {});
  Save("coords_file", "8_bytes", std::vector<uint8_t>(good.begin(), good.begin() + 8));
  Save("coords_file", "15_bytes", std::vector<uint8_t>(good.begin(), good.begin() + 15));
  std::vector<uint8_t> longer = good;
  longer.push_back(0x42);
  Save("coords_file", "17_bytes", longer);
  Save("coords_file", "nan", Coords(nan, 1));
  Save("coords_file", "inf", Coords(1, -inf));
  Save("coords_file", "huge", Coords(DBL_MAX, -DBL_MAX));
  Save("coords_file", "tiny", Coords(-0.0, 4.9e-324));

  const char* texts[] = {"-3.70379", "40.4165", "90", "90.5", "-180", "+5", "5-", "1/2", "1,5", "4.1.2",
                         "Type here the Longitude", "-", ".", "1234567890123456", "1.1234567890123456",
                         "000000000000012.5", "-89.123456789", "179.999999999", "40\xc2\xb0", ("\xe2\x88\x92" "3.5")};
  int i = 0;
  for (const char* t : texts)
    for (uint8_t which : {0, 1}) {
      std::vector<uint8_t> b = {which};
      b.insert(b.end(), t, t + std::strlen(t));
      Save("checklonlat", "text_" + std::to_string(i++), b);
    }
  return 0;
}
