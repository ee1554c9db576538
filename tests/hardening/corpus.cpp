#include "hardening/corpus.h"

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <csignal>
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

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return c ^ 0xFFFFFFFFu;
}

void PutBE32(std::vector<uint8_t>& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

void Chunk(std::vector<uint8_t>& b, const char* type, const std::vector<uint8_t>& data) {
  PutBE32(b, static_cast<uint32_t>(data.size()));
  const size_t start = b.size();
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), data.begin(), data.end());
  PutBE32(b, Crc32(b.data() + start, b.size() - start));
}

// Byte-order aware access to a TIFF held in memory.
struct TiffBytes {
  std::vector<uint8_t>& b;
  bool big;
  uint32_t Get(size_t at, int n) const {
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) {
      const uint32_t byte = b.at(at + static_cast<size_t>(k));
      v |= big ? byte << (8 * (n - 1 - k)) : byte << (8 * k);
    }
    return v;
  }
  void Set(size_t at, int n, uint32_t v) {
    for (int k = 0; k < n; ++k) b.at(at + static_cast<size_t>(k)) = static_cast<uint8_t>(big ? v >> (8 * (n - 1 - k)) : v >> (8 * k));
  }
};

int TypeSize(uint32_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;   // byte, ascii, sbyte, undefined
    case 3: case 8: return 2;                   // short, sshort
    case 4: case 9: case 11: case 13: return 4; // long, slong, float, ifd
    case 5: case 10: case 12: return 8;         // rational, srational, double
    default: return 1;
  }
}

}  // namespace

void Tried(int n) { tried += n; }
int TriedSoFar() { return tried.load(); }

int Channels(int colour_type) {
  switch (colour_type) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;  // palette index
  }
}

namespace {

// Only plain values cross the library's longjmp: everything is prepared
// before the jump buffer is set.
bool EncodePng(std::FILE* fp, int w, int h, const PngSpec& spec, const png_color* palette, int palette_size,
               png_bytep* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), spec.bit_depth,
               spec.colour_type, spec.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (palette_size) png_set_PLTE(png, info, palette, palette_size);
  if (!spec.trns.empty())
    png_set_tRNS(png, info, spec.trns.data(), static_cast<int>(spec.trns.size()), nullptr);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

void WritePng(const fs::path& path, int w, int h, const PngSpec& spec,
              const std::function<uint32_t(int, int, int)>& sample) {
  const int channels = Channels(spec.colour_type);
  const size_t row_bytes = (static_cast<size_t>(w) * channels * spec.bit_depth + 7) / 8;
  // Samples packed big-endian, most significant bits first, as PNG stores them.
  std::vector<std::vector<png_byte>> rows(static_cast<size_t>(h), std::vector<png_byte>(row_bytes, 0));
  std::vector<png_bytep> pointers;
  for (int y = 0; y < h; ++y) {
    std::vector<png_byte>& row = rows[static_cast<size_t>(y)];
    size_t bit = 0;
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        const uint32_t v = sample(x, y, c);
        for (int k = spec.bit_depth - 1; k >= 0; --k, ++bit)
          if (v >> k & 1u) row[bit / 8] |= static_cast<png_byte>(0x80u >> (bit % 8));
      }
    pointers.push_back(row.data());
  }
  std::vector<png_color> pal;
  for (uint32_t c : spec.palette)
    pal.push_back(png_color{static_cast<png_byte>(c >> 16), static_cast<png_byte>(c >> 8), static_cast<png_byte>(c)});
  std::FILE* fp = std::fopen(path.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  const bool ok = EncodePng(fp, w, h, spec, pal.data(), static_cast<int>(pal.size()), pointers.data());
  std::fclose(fp);
  ASSERT_TRUE(ok) << "png write failed";
}

void WriteTiff(const fs::path& path, uint32_t w, uint32_t h, const TiffSpec& s,
               const std::function<double(uint32_t, uint32_t)>& sample) {
  TIFF* t = TIFFOpen(path.c_str(), s.big_endian ? "wb" : "wl");
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
    std::vector<uint16_t> map(size_t{1} << s.bits);
    for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint16_t>(i * 257);
    TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
  }
  // Samples are handed to libtiff in host order (little-endian here); it
  // swaps them for a big-endian file.
  auto put_bits = [&](std::vector<uint8_t>& buf, size_t index, double v) {
    if (s.format == SAMPLEFORMAT_IEEEFP && s.bits == 32) {
      const float f = static_cast<float>(v);
      std::memcpy(&buf[index * 4], &f, 4);
    } else if (s.format == SAMPLEFORMAT_IEEEFP && s.bits == 64) {
      std::memcpy(&buf[index * 8], &v, 8);
    } else if (s.bits % 8 == 0) {
      const int64_t i = static_cast<int64_t>(v);
      std::memcpy(&buf[index * (s.bits / 8)], &i, s.bits / 8);
    } else if (static_cast<int64_t>(v) & 1) {  // 1-bit and other packed sizes: the low bit
      const size_t bit = index * s.bits + (s.bits - 1);
      buf[bit / 8] |= static_cast<uint8_t>(0x80u >> (bit % 8));
    }
  };
  // libtiff 4.5 swaps the caller's samples into the file's order and then
  // lets the floating-point predictor, which already writes that order,
  // swap them again; handing it swapped samples gives a correct file.
  const bool preswap = s.big_endian && s.predictor == PREDICTOR_FLOATINGPOINT && s.bits % 8 == 0;
  auto swapped = [&](std::vector<uint8_t>& buf) {
    const size_t n = s.bits / 8;
    if (preswap)
      for (size_t i = 0; i + n <= buf.size(); i += n) std::reverse(buf.begin() + static_cast<ptrdiff_t>(i), buf.begin() + static_cast<ptrdiff_t>(i + n));
    return buf.data();
  };
  if (s.tile) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
    std::vector<uint8_t> buf((size_t{s.tile} * s.tile * s.spp * s.bits + 7) / 8);
    for (uint32_t ty = 0; ty < h; ty += s.tile)
      for (uint32_t tx = 0; tx < w; tx += s.tile) {
        std::fill(buf.begin(), buf.end(), 0);
        for (uint32_t r = 0; r < s.tile && ty + r < h; ++r)
          for (uint32_t c = 0; c < s.tile && tx + c < w; ++c)
            for (uint16_t k = 0; k < s.spp; ++k)
              put_bits(buf, (size_t{r} * s.tile + c) * s.spp + k, sample(tx + c, ty + r));
        ASSERT_GE(TIFFWriteTile(t, swapped(buf), tx, ty, 0, 0), 0);
      }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 8);
    std::vector<uint8_t> row((size_t{w} * s.bits * s.spp + 7) / 8);
    for (uint32_t y = 0; y < h; ++y) {
      std::fill(row.begin(), row.end(), 0);
      for (uint32_t x = 0; x < w; ++x)
        for (uint16_t k = 0; k < s.spp; ++k) put_bits(row, size_t{x} * s.spp + k, sample(x, y));
      ASSERT_GE(TIFFWriteScanline(t, swapped(row), y, 0), 0);
    }
  }
  TIFFClose(t);
}

// libtiff writes the pixel data first and the directory, with the values
// that do not fit in it, last. Swapping the two regions puts the directory
// in front; every offset into either region is moved with it.
std::vector<uint8_t> DirectoryFirst(const std::vector<uint8_t>& tiff) {
  std::vector<uint8_t> in = tiff;
  TiffBytes src{in, in.at(0) == 'M'};
  const size_t ifd = src.Get(4, 4), end = in.size();
  auto moved = [&](uint32_t off) {
    return static_cast<uint32_t>(off >= ifd ? off - ifd + 8 : off + (end - ifd));
  };
  std::vector<uint8_t> out(in.size());
  auto o = std::copy_n(in.begin(), 8, out.begin());
  o = std::copy(in.begin() + static_cast<ptrdiff_t>(ifd), in.end(), o);
  std::copy(in.begin() + 8, in.begin() + static_cast<ptrdiff_t>(ifd), o);
  TiffBytes dst{out, src.big};
  dst.Set(4, 4, 8);
  const uint32_t n = dst.Get(8, 2);
  for (uint32_t i = 0; i < n; ++i) {
    const size_t e = 8 + 2 + 12 * size_t{i};
    const uint32_t tag = dst.Get(e, 2), type = dst.Get(e + 2, 2), count = dst.Get(e + 4, 4);
    const int size = TypeSize(type);
    const bool inline_value = uint64_t{count} * size <= 4;
    if (!inline_value) dst.Set(e + 8, 4, moved(dst.Get(e + 8, 4)));
    if (tag != TIFFTAG_STRIPOFFSETS && tag != TIFFTAG_TILEOFFSETS) continue;
    const size_t at = inline_value ? e + 8 : dst.Get(e + 8, 4);
    for (uint32_t k = 0; k < count; ++k) {
      const size_t p = at + size_t{k} * size;
      dst.Set(p, size, moved(dst.Get(p, size)));
    }
  }
  return out;
}

size_t FirstDataByte(const std::vector<uint8_t>& tiff) {
  std::vector<uint8_t> copy = tiff;
  TiffBytes b{copy, copy.at(0) == 'M'};
  const uint32_t ifd = b.Get(4, 4), n = b.Get(ifd, 2);
  size_t first = copy.size();
  for (uint32_t i = 0; i < n; ++i) {
    const size_t e = ifd + 2 + 12 * size_t{i};
    const uint32_t tag = b.Get(e, 2), type = b.Get(e + 2, 2), count = b.Get(e + 4, 4);
    if (tag != TIFFTAG_STRIPOFFSETS && tag != TIFFTAG_TILEOFFSETS) continue;
    const int size = TypeSize(type);
    const size_t at = uint64_t{count} * size <= 4 ? e + 8 : b.Get(e + 8, 4);
    for (uint32_t k = 0; k < count; ++k) first = std::min<size_t>(first, b.Get(at + size_t{k} * size, size));
  }
  return first;
}

std::vector<uint8_t> Cut(const std::vector<uint8_t>& bytes, size_t n) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(std::min(n, bytes.size())));
}

std::vector<uint8_t> PngHeader(uint32_t w, uint32_t h) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  PutBE32(b, w);
  PutBE32(b, h);
  return b;
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

std::vector<std::string> Snapshot(const fs::path& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    std::error_code size_ec;
    const auto size = e.is_regular_file(size_ec) ? e.file_size(size_ec) : 0;
    out.push_back(e.path().filename().string() + ":" + std::to_string(size));
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool EndsWithin(int seconds, const std::function<void()>& f) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    ExitCodeOf(f);
    _exit(0);
  }
  int status = 0;
  bool done = false;
  for (int i = 0; i < seconds * 20 && !done; ++i) {
    done = waitpid(child, &status, WNOHANG) == child;
    if (!done) usleep(50000);
  }
  if (!done) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  return done && WIFEXITED(status);
}

size_t OpenFiles() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace corpus
