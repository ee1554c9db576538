// Writes the seed inputs of the fuzz targets: small valid files of every
// kind the loaders accept or meet, and the texts of the coordinate entry.
// Usage: make_seeds <corpus folder>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
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

std::vector<uint8_t> Cut(const std::vector<uint8_t>& b, size_t n) {
  return std::vector<uint8_t>(b.begin(), b.begin() + static_cast<ptrdiff_t>(std::min(n, b.size())));
}

std::vector<uint8_t> Text(const std::string& t) { return std::vector<uint8_t>(t.begin(), t.end()); }

// A PNG's IHDR claiming w x h, its CRC redone, over the file's own pixels.
std::vector<uint8_t> Claiming(std::vector<uint8_t> png, uint32_t w, uint32_t h) {
  for (int k = 0; k < 4; ++k) {
    png[16 + k] = static_cast<uint8_t>(w >> (24 - 8 * k));
    png[20 + k] = static_cast<uint8_t>(h >> (24 - 8 * k));
  }
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 12; i < 29; ++i) {
    crc ^= png[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc ^= 0xFFFFFFFFu;
  for (int k = 0; k < 4; ++k) png[29 + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
  return png;
}

// Inputs that once broke or nearly broke a loader: files cut at every kind
// of place, files that are not rasters, sizes no raster has, layouts the
// program does not take.
void BadRasters() {
  const std::vector<uint8_t> png = Slurp(root / "png_loader" / "rgb8_120.png");
  for (size_t n : {size_t{7}, size_t{16}, size_t{24}, size_t{33}, size_t{40}, png.size() / 2, png.size() - 13,
                   png.size() - 12, png.size() - 1})
    Save("png_loader", "cut_" + std::to_string(n) + ".png", Cut(png, n));
  Save("png_loader", "empty.png", {});
  Save("png_loader", "html.png", Text("<!DOCTYPE html><html><body>404 Not Found</body></html>\n"));
  Save("png_loader", "zeros.png", std::vector<uint8_t>(4096, 0));
  std::vector<uint8_t> stamped = png;
  std::copy_n("TSVLP", 5, stamped.begin());
  Save("png_loader", "stamped_package.png", stamped);
  for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{100000, 100000}, {200, 100000}, {0x7FFFFFFF, 0x7FFFFFFF},
                             {21846, 1}, {20000, 20000}, {300, 300}})
    Save("png_loader", "claims_" + std::to_string(w) + "x" + std::to_string(h) + ".png", Claiming(png, w, h));

  const std::vector<uint8_t> tif = Slurp(root / "tiff_loader" / "float32.tif");
  for (size_t n : {size_t{4}, size_t{8}, tif.size() / 2, tif.size() - 1})
    Save("tiff_loader", "cut_" + std::to_string(n) + ".tif", Cut(tif, n));
  Save("tiff_loader", "text.tif", Text("1000 1001\n"));
  Save("tiff_loader", "be_directory_past_end.tif", {'M', 'M', 0, 42, 0x7F, 0xFF, 0xFF, 0xF0});
  Save("tiff_loader", "directory_at_itself.tif", {'I', 'I', 42, 0, 4, 0, 0, 0});
  Save("tiff_loader", "zero_entries.tif", {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  Save("tiff_loader", "bigtiff_magic.tif", {'I', 'I', 43, 0, 8, 0, 0, 0});
  Save("tiff_loader", "a_png.tif", png);
  Tiff("palette4.tif", 16, 8, {4, SAMPLEFORMAT_UINT, 1, PHOTOMETRIC_PALETTE});
  Tiff("bilevel_miniswhite.tif", 16, 8, {1, SAMPLEFORMAT_UINT, 1, PHOTOMETRIC_MINISWHITE});
  Tiff("grey_alpha16.tif", 16, 8, {16, SAMPLEFORMAT_UINT, 2});
  Tiff("uint12.tif", 16, 8, {12, SAMPLEFORMAT_UINT});
  Tiff("float16.tif", 16, 8, {16, SAMPLEFORMAT_IEEEFP});
  Tiff("void32.tif", 16, 8, {32, SAMPLEFORMAT_VOID});
  Tiff("complexint32.tif", 16, 8, {32, SAMPLEFORMAT_COMPLEXINT});
  Tiff("be_rgb16_lzw.tif", 16, 8, {16, SAMPLEFORMAT_UINT, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, 0, 0, true});
  // Huge claimed sizes over one short strip.
  for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{100000, 100000}, {0xFFFFFFFF, 1}, {200, 65535}}) {
    const fs::path tmp = root / ".seed.tif";
    TIFF* t = TIFFOpen(tmp.c_str(), "w");
    for (const auto& [tag, v] : {std::pair<uint32_t, uint32_t>{TIFFTAG_IMAGEWIDTH, w}, {TIFFTAG_IMAGELENGTH, h},
                                 {TIFFTAG_BITSPERSAMPLE, 32}, {TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP},
                                 {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK}, {TIFFTAG_ROWSPERSTRIP, h}})
      TIFFSetField(t, tag, v);
    std::vector<float> row(1024, 1.0f);
    TIFFWriteRawStrip(t, 0, row.data(), static_cast<tmsize_t>(row.size() * 4));
    TIFFClose(t);
    Save("tiff_loader", "claims_" + std::to_string(w) + "x" + std::to_string(h) + ".tif", Slurp(tmp));
    fs::remove(tmp);
  }
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
  Save("coords_file", "signalling_nan", Coords(1, std::numeric_limits<double>::signaling_NaN()));
  std::vector<uint8_t> payload_nan = good;
  std::fill(payload_nan.begin(), payload_nan.begin() + 8, 0xFF);
  Save("coords_file", "payload_nan", payload_nan);
  BadRasters();

  const char* texts[] = {"-3.70379", "40.4165", "90", "90.5", "-180", "+5", "5-", "1/2", "1,5", "4.1.2",
                         "Type here the Longitude", "-", ".", "1234567890123456", "1.1234567890123456",
                         "000000000000012.5", "-89.123456789", "179.999999999", "40\xc2\xb0", ("\xe2\x88\x92" "3.5")};
  int i = 0;
  for (const char* t : texts)
    for (uint8_t which : {0, 1}) {
      // Built by size, not by insert after one byte: the compiler's bounds
      // check takes the insert for an overrun.
      std::vector<uint8_t> b(1 + std::strlen(t));
      b[0] = which;
      std::memcpy(b.data() + 1, t, b.size() - 1);
      Save("checklonlat", "text_" + std::to_string(i++), b);
    }
  // Far longer than the field, and bytes that are not ASCII.
  const std::string odd[] = {std::string(10000, '9'), "0." + std::string(9998, '0'), "-" + std::string(9999, '0'),
                             std::string(9990, '0') + "1.5", std::string(10000, '-'), std::string(10000, '.'),
                             std::string(10000, '\0'), "1" + std::string(9999, ' '), "180.0000000000001",
                             "\xef\xbc\x94\xef\xbc\x95", "3.5\xc2\xa0", std::string("\xff\xfe" "1\0" "2", 5),
                             std::string(5000, '\xe4'), ""};
  for (const std::string& t : odd) {
    std::vector<uint8_t> b(1 + t.size(), static_cast<uint8_t>(i % 2));
    std::copy(t.begin(), t.end(), b.begin() + 1);
    Save("checklonlat", "text_" + std::to_string(i++), b);
  }
  return 0;
}
