#include "hardening/corpus.h"

#include <png.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/memory_platform.h"

namespace corpus {

namespace {

std::atomic<int> tried{0};

// Prints the total once every test has run.
class TallyPrinter : public ::testing::Environment {
 public:
  void TearDown() override { std::printf("bad inputs tried: %d\n", tried.load()); }
};
[[maybe_unused]] ::testing::Environment* const printer = ::testing::AddGlobalTestEnvironment(new TallyPrinter);

void PutBE32(std::vector<uint8_t>& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

void Chunk(std::vector<uint8_t>& b, const char* type, const std::vector<uint8_t>& data) {
  PutBE32(b, static_cast<uint32_t>(data.size()));
  const size_t start = b.size();
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), data.begin(), data.end());
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = start; i < b.size(); ++i) {
    crc ^= b[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  PutBE32(b, crc ^ 0xFFFFFFFFu);
}

// n-byte values of a TIFF held in memory, in the file's byte order.
uint32_t Get(const std::vector<uint8_t>& b, size_t at, int n) {
  uint32_t v = 0;
  for (int k = 0; k < n; ++k) v |= uint32_t{b.at(at + static_cast<size_t>(k))} << 8 * (b[0] == 'M' ? n - 1 - k : k);
  return v;
}
void Set(std::vector<uint8_t>& b, size_t at, int n, uint32_t v) {
  for (int k = 0; k < n; ++k) b.at(at + static_cast<size_t>(k)) = static_cast<uint8_t>(v >> 8 * (b[0] == 'M' ? n - 1 - k : k));
}

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

}  // namespace

void Tried(int n) { tried += n; }

void WritePng(const fs::path& path, int w, int h, const PngLayout& layout,
              const std::function<uint32_t(int, int, int)>& sample) {
  const int type = layout.colour_type;  // palette indices are one channel
  const int channels = type == PNG_COLOR_TYPE_PALETTE ? 1 : (type & PNG_COLOR_MASK_COLOR ? 3 : 1) + (type & PNG_COLOR_MASK_ALPHA ? 1 : 0);
  const size_t row_bytes = (static_cast<size_t>(w) * channels * layout.bit_depth + 7) / 8;
  // Samples packed big-endian, most significant bits first, as PNG stores them.
  std::vector<std::vector<png_byte>> rows(static_cast<size_t>(h), std::vector<png_byte>(row_bytes, 0));
  std::vector<png_bytep> pointers;
  for (int y = 0; y < h; ++y) {
    std::vector<png_byte>& row = rows[static_cast<size_t>(y)];
    size_t bit = 0;
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c)
        for (int k = layout.bit_depth - 1; k >= 0; --k, ++bit)
          if (sample(x, y, c) >> k & 1u) row[bit / 8] |= static_cast<png_byte>(0x80u >> (bit % 8));
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

// Swaps the pixel region [8, directory) with the directory and the values
// that follow it; every offset into either region moves with it.
std::vector<uint8_t> DirectoryFirst(const std::vector<uint8_t>& in, size_t& data_start) {
  static const int kTypeSize[] = {1, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  const size_t ifd = Get(in, 4, 4), tail = in.size() - ifd;
  data_start = 8 + tail;
  auto moved = [&](uint32_t off) { return static_cast<uint32_t>(off >= ifd ? off - ifd + 8 : off + tail); };
  std::vector<uint8_t> out(in.begin(), in.begin() + 8);
  out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(ifd), in.end());
  out.insert(out.end(), in.begin() + 8, in.begin() + static_cast<ptrdiff_t>(ifd));
  Set(out, 4, 4, 8);
  for (uint32_t i = 0, n = Get(out, 8, 2); i < n; ++i) {
    const size_t e = 10 + 12 * size_t{i};
    const uint32_t tag = Get(out, e, 2), count = Get(out, e + 4, 4);
    const int size = kTypeSize[std::min<uint32_t>(Get(out, e + 2, 2), 13)];
    const bool inline_value = uint64_t{count} * size <= 4;
    if (!inline_value) Set(out, e + 8, 4, moved(Get(out, e + 8, 4)));
    if (tag != TIFFTAG_STRIPOFFSETS && tag != TIFFTAG_TILEOFFSETS) continue;
    const size_t at = inline_value ? e + 8 : Get(out, e + 8, 4);
    for (size_t k = 0; k < count; ++k) Set(out, at + k * size, size, moved(Get(out, at + k * size, size)));
  }
  return out;
}

std::vector<uint8_t> Cut(const std::vector<uint8_t>& bytes, size_t n) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(std::min(n, bytes.size())));
}

std::vector<uint8_t> PngClaiming(uint32_t w, uint32_t h) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> ihdr;
  PutBE32(ihdr, w);
  PutBE32(ihdr, h);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  Chunk(b, "IHDR", ihdr);
  // zlib header, one final stored block of 16 zero bytes (filter byte and
  // the start of row 0), Adler-32 of those bytes.
  std::vector<uint8_t> idat = {0x78, 0x01, 0x01, 16, 0, static_cast<uint8_t>(~16u), 0xFF};
  idat.insert(idat.end(), 16, 0);
  PutBE32(idat, (16u << 16) | 1u);
  Chunk(b, "IDAT", idat);
  Chunk(b, "IEND", {});
  return b;
}

int ExitCodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ProcessExit& e) {
    return e.code;
  }
  return kNoExit;
}

bool EndsWithin(int seconds, const std::function<void()>& f) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    alarm(static_cast<unsigned>(seconds));  // its default action ends the child
    ExitCodeOf(f);
    _exit(0);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status);
}

size_t OpenFiles() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace corpus
