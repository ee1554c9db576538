#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "support/support.h"

namespace {

// Only plain values cross the library's longjmp: everything is prepared
// before the jump buffer is set.
bool EncodePng(std::FILE* fp, int w, int h, const PngLayout& layout, const png_color* palette, int palette_size,
               png_bytep* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), layout.bit_depth,
               layout.colour_type, layout.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (palette_size) png_set_PLTE(png, info, palette, palette_size);
  if (!layout.trns.empty())
    png_set_tRNS(png, info, layout.trns.data(), static_cast<int>(layout.trns.size()), nullptr);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kMark[8] = {'T', 'S', 'V', 'L', 'P', 0x0A, 0x1A, 0x0A};
// An empty IEND chunk: length 0, type, CRC.
constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

// Decodes the whole image as 8-bit RGB, a package's mark read as the PNG
// signature; the reason when it cannot.
std::string Decode(std::vector<uint8_t> bytes, std::vector<uint8_t>& rgb, int& w, int& h) {
  if (bytes.size() >= 8) std::copy(kSignature, kSignature + 8, bytes.begin());
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return image.message;
  image.format = PNG_FORMAT_RGB;
  rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return image.message;
  w = static_cast<int>(image.width);
  h = static_cast<int>(image.height);
  return "";
}

}  // namespace

void WritePng(const fs::path& path, int w, int h, const PngLayout& layout,
              const std::function<uint32_t(int, int, int)>& sample) {
  const int type = layout.colour_type;  // palette indices are one channel
  const int colours = type & PNG_COLOR_MASK_COLOR ? 3 : 1, alpha = type & PNG_COLOR_MASK_ALPHA ? 1 : 0;
  const int channels = type == PNG_COLOR_TYPE_PALETTE ? 1 : colours + alpha;
  const size_t row_bytes = (static_cast<size_t>(w) * channels * layout.bit_depth + 7) / 8;
  // Samples packed big-endian, most significant bits first, as PNG stores them.
  std::vector<std::vector<png_byte>> rows(static_cast<size_t>(h), std::vector<png_byte>(row_bytes, 0));
  std::vector<png_bytep> pointers;
  for (int y = 0; y < h; ++y) {
    std::vector<png_byte>& row = rows[static_cast<size_t>(y)];
    size_t bit = 0;
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c)
        for (int k = layout.bit_depth - 1, v = static_cast<int>(sample(x, y, c)); k >= 0; --k, ++bit)
          if (v >> k & 1) row[bit / 8] |= static_cast<png_byte>(0x80u >> (bit % 8));
    pointers.push_back(row.data());
  }
  std::vector<png_color> pal;
  for (uint32_t c : layout.palette)
    pal.push_back(png_color{static_cast<png_byte>(c >> 16), static_cast<png_byte>(c >> 8), static_cast<png_byte>(c)});
  std::FILE* fp = std::fopen(path.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  const bool ok = EncodePng(fp, w, h, layout, pal.data(), static_cast<int>(pal.size()), pointers.data());
  std::fclose(fp);
  ASSERT_TRUE(ok) << "png write failed";
}

void WriteTiff(const fs::path& path, uint32_t w, uint32_t h, const TiffLayout& s,
               const std::function<double(uint32_t, uint32_t)>& sample) {
  TIFF* t = TIFFOpen(path.c_str(), s.big_endian ? "wb" : "wl");
  ASSERT_NE(t, nullptr);
  for (const auto& [tag, v] : {std::pair<uint32_t, uint32_t>{TIFFTAG_IMAGEWIDTH, w}, {TIFFTAG_IMAGELENGTH, h},
                                {TIFFTAG_SAMPLESPERPIXEL, s.spp}, {TIFFTAG_BITSPERSAMPLE, s.bits},
                                {TIFFTAG_SAMPLEFORMAT, s.format}, {TIFFTAG_PHOTOMETRIC, s.photometric},
                                {TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG}, {TIFFTAG_COMPRESSION, s.compression}})
    TIFFSetField(t, tag, v);
  if (s.predictor) TIFFSetField(t, TIFFTAG_PREDICTOR, s.predictor);
  if (s.photometric == PHOTOMETRIC_PALETTE) {
    std::vector<uint16_t> map(size_t{1} << s.bits);
    TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
  }
  // A block of cols x rows pixels from (x0, y0), zero outside the image, in
  // host order: libtiff swaps the samples for a big-endian file.
  auto block = [&](uint32_t x0, uint32_t y0, uint32_t cols, uint32_t rows) {
    std::vector<uint8_t> buf((size_t{cols} * rows * s.spp * s.bits + 7) / 8);
    const size_t n = s.bits % 8 ? 0 : s.bits / 8;
    for (uint32_t r = 0; r < rows && y0 + r < h && n; ++r)
      for (uint32_t c = 0; c < cols && x0 + c < w; ++c)
        for (size_t k = 0; k < s.spp; ++k) {
          const double v = sample(x0 + c, y0 + r);
          const float f = static_cast<float>(v);
          const int64_t i = static_cast<int64_t>(v);
          const void* from = s.format != SAMPLEFORMAT_IEEEFP ? static_cast<const void*>(&i)
                             : n == 4                       ? static_cast<const void*>(&f)
                                                            : static_cast<const void*>(&v);
          std::memcpy(&buf[((size_t{r} * cols + c) * s.spp + k) * n], from, n);
        }
    return buf;
  };
  if (s.tile) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
    for (uint32_t y = 0; y < h; y += s.tile)
      for (uint32_t x = 0; x < w; x += s.tile)
        ASSERT_GE(TIFFWriteTile(t, block(x, y, s.tile, s.tile).data(), x, y, 0, 0), 0);
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 8);
    for (uint32_t y = 0; y < h; ++y) ASSERT_GE(TIFFWriteScanline(t, block(0, y, w, 1).data(), y, 0), 0);
  }
  TIFFClose(t);
}

std::vector<uint8_t> PngClaiming(uint32_t w, uint32_t h) {
  TempDir t;
  WritePngRgb(t / "row.png", 16, 1, [](int, int) { return 0u; });  // one row of 16 pixels
  std::vector<uint8_t> b = ReadFileBytes(t / "row.png");
  auto put = [&](size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  put(16, w);  // IHDR's width and height, then its CRC over type and data
  put(20, h);
  put(29, static_cast<uint32_t>(crc32(0, &b[12], 17)));
  return b;
}

void WritePngRgb(const fs::path& path, int w, int h, const HeightFn& f) {
  WritePng(path, w, h, PngLayout{}, [&](int x, int y, int c) { return f(x, y) >> (16 - 8 * c) & 0xFFu; });
}

void WriteTiffFloat(const fs::path& path, int w, int h, const FloatFn& f) {
  WriteTiff(path, static_cast<uint32_t>(w), static_cast<uint32_t>(h), TiffLayout{},
            [&](uint32_t x, uint32_t y) { return static_cast<double>(f(static_cast<int>(x), static_cast<int>(y))); });
}

std::vector<uint32_t> ReadPngValues(const fs::path& path, int& w, int& h) {
  std::vector<uint32_t> out;
  std::vector<uint8_t> rgb;
  const std::string why = Decode(ReadFileBytes(path), rgb, w, h);
  if (!why.empty()) {
    ADD_FAILURE() << "cannot decode " << path << ": " << why;
    return out;
  }
  out.resize(rgb.size() / 3);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint32_t>(rgb[i * 3]) << 16 | static_cast<uint32_t>(rgb[i * 3 + 1]) << 8 | rgb[i * 3 + 2];
  return out;
}

namespace {

// The first problem of one entry of a session folder, or "".
std::string EntryProblem(const fs::directory_entry& e) {
  const std::string name = e.path().filename().string();
  if (name[0] == '.') return "temporary file left behind";
  if (!e.is_regular_file()) return "not a regular file";
  const std::vector<uint8_t> bytes = ReadFileBytes(e.path());
  const bool package = name.ends_with(".vtp");
  const uint8_t* head = package ? kMark : kSignature;
  if (bytes.size() < 8 + 25 + 12 || !std::equal(head, head + 8, bytes.begin()))
    return std::string("does not start as a ") + (package ? "package" : "PNG");
  if (!std::equal(kEnd, kEnd + 12, bytes.end() - 12)) return "no end chunk (truncated)";
  std::vector<uint8_t> rgb;
  int w = 0, h = 0;
  const std::string why = Decode(bytes, rgb, w, h);
  return why.empty() ? "" : "does not decode: " + why;
}

}  // namespace

std::vector<std::string> SessionProblems(const fs::path& session) {
  std::vector<std::string> problems;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(session, ec))
    if (const std::string p = EntryProblem(e); !p.empty()) problems.push_back(e.path().filename().string() + ": " + p);
  return problems;
}
