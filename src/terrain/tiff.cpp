// TIFF elevation rasters: one sample per pixel, converted to float heights.
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "terrain/file_kind.h"
#include "terrain/tiff.h"

namespace {

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct TiffBufferFree {
  void operator()(void* p) const { _TIFFfree(p); }
};
using TiffBuffer = std::unique_ptr<void, TiffBufferFree>;

TiffPtr OpenTiff(const std::string& path) {
  // A FIFO named like a raster would block the open for ever.
  if (!IsRegularFile(path)) return nullptr;
  return TiffPtr(TIFFOpen(path.c_str(), "r"));
}

// The sample kinds a height can be read from.
enum class SampleKind { Int8, Uint8, Int16, Uint16, Int32, Uint32, Float32, Float64 };

struct Layout {
  uint32_t width = 0, height = 0;
  SampleKind kind = SampleKind::Float32;
  unsigned bytes = 4;  // per sample
  bool tiled = false;
  uint32_t tile_w = 0, tile_h = 0;
};

constexpr uint32_t kMaxSide = 65535;

// Whether a side can be decoded at all; the scan's size rules, not this,
// decide which sides a project takes.
bool DecodableSide(uint32_t side) { return side >= 1 && side <= kMaxSide; }

// Reads the tags that fix how samples lie in the file. Returns "" when the
// samples can be read as heights, otherwise a reason for the user. Width and
// height are set whenever the size tags exist, whatever their values and even
// if the layout is refused.
std::string ReadLayout(TIFF* t, Layout& l) {
  if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &l.width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &l.height)) {
    l.width = l.height = 0;
    return "missing TIFF image size";
  }

  uint16_t spp = 1, bits = 1, format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_MINISBLACK;
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
  if (spp != 1 || photometric == PHOTOMETRIC_PALETTE) return "unsupported TIFF sample layout";

  using K = SampleKind;
  bool ok = true;
  switch (format) {
    case SAMPLEFORMAT_UINT:
      l.kind = bits == 8 ? K::Uint8 : bits == 16 ? K::Uint16 : K::Uint32;
      ok = bits == 8 || bits == 16 || bits == 32;
      break;
    case SAMPLEFORMAT_INT:
      l.kind = bits == 8 ? K::Int8 : bits == 16 ? K::Int16 : K::Int32;
      ok = bits == 8 || bits == 16 || bits == 32;
      break;
    case SAMPLEFORMAT_IEEEFP:
      l.kind = bits == 32 ? K::Float32 : K::Float64;
      ok = bits == 32 || bits == 64;
      break;
    default:
      ok = false;
  }
  if (!ok) return "unsupported TIFF sample layout";
  l.bytes = bits / 8;

  l.tiled = TIFFIsTiled(t) != 0;
  if (l.tiled) {
    if (!TIFFGetField(t, TIFFTAG_TILEWIDTH, &l.tile_w) || !TIFFGetField(t, TIFFTAG_TILELENGTH, &l.tile_h) ||
        l.tile_w == 0 || l.tile_h == 0 || l.tile_w > kMaxSide || l.tile_h > kMaxSide)
      return "invalid TIFF tiles";
  }
  return "";
}

// n samples of type T, as libtiff delivers them in host order, to floats.
template <typename T>
void ConvertAs(const unsigned char* src, size_t n, float* dst) {
  for (size_t i = 0; i < n; ++i) {
    T v;
    std::memcpy(&v, src + i * sizeof(T), sizeof v);
    dst[i] = static_cast<float>(v);
  }
}

// Converts n samples of the file's kind to float heights. Float32 words are
// copied bit for bit.
void ConvertSamples(const unsigned char* src, SampleKind kind, size_t n, float* dst) {
  using K = SampleKind;
  switch (kind) {
    case K::Float32:
      std::memcpy(dst, src, n * sizeof(float));
      return;
    case K::Float64: return ConvertAs<double>(src, n, dst);
    case K::Int8: return ConvertAs<int8_t>(src, n, dst);
    case K::Uint8: return ConvertAs<uint8_t>(src, n, dst);
    case K::Int16: return ConvertAs<int16_t>(src, n, dst);
    case K::Uint16: return ConvertAs<uint16_t>(src, n, dst);
    case K::Int32: return ConvertAs<int32_t>(src, n, dst);
    case K::Uint32: return ConvertAs<uint32_t>(src, n, dst);
  }
}

// The raster grows only as rows are decoded, so a header that claims a huge
// size over a short file fails at the first missing row instead of first
// taking memory for the whole claimed size.
float* GrowRows(std::vector<float>& out, const Layout& l, uint32_t rows) {
  const size_t first = out.size();
  out.resize(first + size_t{rows} * l.width);
  return out.data() + first;
}

// Stripped rasters: one scanline per row, in order (compressed strips can
// only be decoded sequentially).
bool ReadStrips(TIFF* t, const Layout& l, std::vector<float>& out) {
  const uint64_t row_bytes = uint64_t{l.width} * l.bytes;
  const uint64_t line = TIFFScanlineSize64(t);
  if (line == 0) return false;
  const uint64_t size = line > row_bytes ? line : row_bytes;
  TiffBuffer buf(_TIFFmalloc(static_cast<tmsize_t>(size)));
  if (!buf) return false;
  auto* bytes = static_cast<unsigned char*>(buf.get());
  for (uint32_t r = 0; r < l.height; ++r) {
    if (TIFFReadScanline(t, bytes, r, 0) < 0) return false;
    ConvertSamples(bytes, l.kind, l.width, GrowRows(out, l, 1));
  }
  return true;
}

// Tiled rasters: each tile decoded whole; tiles along the right and bottom
// edges are padded in the file and only their inside part is kept.
bool ReadTiles(TIFF* t, const Layout& l, std::vector<float>& out) {
  const uint64_t tile_bytes = uint64_t{l.tile_w} * l.tile_h * l.bytes;
  const uint64_t reported = TIFFTileSize64(t);
  if (reported < tile_bytes) return false;
  TiffBuffer buf(_TIFFmalloc(static_cast<tmsize_t>(reported)));
  if (!buf) return false;
  auto* bytes = static_cast<unsigned char*>(buf.get());
  for (uint32_t ty = 0; ty < l.height; ty += l.tile_h) {
    const uint32_t h = l.tile_h < l.height - ty ? l.tile_h : l.height - ty;
    float* rows = GrowRows(out, l, h);
    for (uint32_t tx = 0; tx < l.width; tx += l.tile_w) {
      const uint32_t tile = TIFFComputeTile(t, tx, ty, 0, 0);
      if (TIFFReadEncodedTile(t, tile, bytes, static_cast<tmsize_t>(reported)) < 0) return false;
      const uint32_t w = l.tile_w < l.width - tx ? l.tile_w : l.width - tx;
      for (uint32_t r = 0; r < h; ++r)
        ConvertSamples(bytes + size_t{r} * l.tile_w * l.bytes, l.kind, w, rows + size_t{r} * l.width + tx);
    }
  }
  return true;
}

}  // namespace

FloatRasterPtr Carga_Imagen_tif(const std::string& path) {
  TiffPtr t = OpenTiff(path);
  if (!t) return nullptr;

  Layout l;
  uint32_t w = 0, h = 0;
  if (!TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h))
    return nullptr;
  std::printf("Ancho/Alto: %d/%d\n", static_cast<int>(w), static_cast<int>(h));
  if (!ReadLayout(t.get(), l).empty() || !DecodableSide(l.width) || !DecodableSide(l.height)) return nullptr;

  FloatRasterPtr raster;
  try {
    raster = std::make_unique<FloatRaster>();
    raster->width = l.width;
    raster->height = l.height;
    // Room for a whole raster of any plausible size at once; beyond that the
    // rows must prove themselves before memory is taken for them.
    constexpr size_t kReserveCap = size_t{1} << 24;
    const size_t total = size_t{l.width} * l.height;
    raster->samples.reserve(total < kReserveCap ? total : kReserveCap);
    const bool read = l.tiled ? ReadTiles(t.get(), l, raster->samples) : ReadStrips(t.get(), l, raster->samples);
    if (!read) return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  t.reset();

  // A scanned raster is at least 120 x 120, so the sample exists there; a
  // smaller file must not be read past its end.
  if (raster->samples.size() > 6010) std::printf("raw_z: %f\n", static_cast<double>(raster->samples[6010]));
  return raster;
}

std::string CheckTiffLayout(const std::string& path, uint32_t& width, uint32_t& height, bool& opened) {
  width = height = 0;
  TiffPtr t = OpenTiff(path);
  opened = t != nullptr;
  if (!t) return "cannot be opened";
  Layout l;
  std::string reason = ReadLayout(t.get(), l);
  width = l.width;
  height = l.height;
  return reason;
}
