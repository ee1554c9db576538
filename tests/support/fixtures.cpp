#include "support/fixtures.h"

#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>

void StateTest::SetUp() {
  ResetProjectState();
  SetPlatform(&plat);
}

void StateTest::TearDown() {
  ResetProjectState();
  SetPlatform(nullptr);
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = fs::temp_directory_path() /
          ("vdb-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; make them writable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void WritePngRgb(const fs::path& path, int w, int h, const HeightFn& f) {
  FILE* fp = std::fopen(path.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(fp);
    FAIL() << "png write failed";
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_byte> row(static_cast<size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t v = f(x, y);
      row[x * 3 + 0] = static_cast<png_byte>(v >> 16);
      row[x * 3 + 1] = static_cast<png_byte>(v >> 8);
      row[x * 3 + 2] = static_cast<png_byte>(v);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(fp);
}

void WriteTiffFloat(const fs::path& path, int w, int h, const FloatFn& f) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16);
  std::vector<float> row(w);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) row[x] = f(x, y);
    ASSERT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
  }
  TIFFClose(t);
}

std::vector<uint32_t> ReadPngValues(const fs::path& path, int& w, int& h) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  static const uint8_t sig[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  if (bytes.size() >= 8) std::copy(sig, sig + 8, bytes.begin());
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint32_t> out;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    ADD_FAILURE() << "cannot decode " << path << ": " << image.message;
    return out;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    ADD_FAILURE() << "cannot decode " << path << ": " << image.message;
    return out;
  }
  w = static_cast<int>(image.width);
  h = static_cast<int>(image.height);
  out.resize(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint32_t>(rgb[i * 3]) << 16 | static_cast<uint32_t>(rgb[i * 3 + 1]) << 8 | rgb[i * 3 + 2];
  return out;
}

std::vector<uint8_t> ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
