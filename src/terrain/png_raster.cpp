#include "terrain/png_raster.h"

#include <SDL_image.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "terrain/file.h"
#include "terrain/file_kind.h"

namespace {

uint32_t Be32(const unsigned char* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// Whether every chunk from the first after the signature lies inside the
// file, up to an IEND.
bool ChunksEndInside(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return false;
  const long size = std::ftell(f);
  long pos = 8;
  unsigned char head[8];
  while (size > 0 && pos + 12 <= size) {
    if (std::fseek(f, pos, SEEK_SET) != 0 || std::fread(head, 1, 8, f) != 8) return false;
    const uint32_t len = Be32(head);
    if (len > 0x7FFFFFFFu || pos + 12 + static_cast<long>(len) > size) return false;
    if (std::memcmp(head + 4, "IEND", 4) == 0) return true;
    pos += 12 + static_cast<long>(len);
  }
  return false;
}

// Whether the file is a PNG the image library can be trusted with: its
// signature, an IHDR of a size a sector raster could have, and chunks that
// all lie inside the file up to IEND. The library's reader ignores short
// reads, so a chunk running past the end would make it parse stale bytes
// for ever; and without the signature check any other format the library
// knows (a BMP named .png) would be decoded as a raster.
bool PngStructureOk(const std::string& path) {
  if (!IsRegularFile(path)) return false;
  uint32_t w = 0, h = 0;
  if (!ReadPngSize(path, w, h)) return false;
  if (w > 65535 || h > 65535 || uint64_t{w} * h > (uint64_t{1} << 26)) return false;
  File f(path, "rb");
  return f && ChunksEndInside(f.get());
}

}  // namespace

SurfacePtr Carga_Imagen(const std::string& path) {
  SDL_Surface* loaded = PngStructureOk(path) ? IMG_Load(path.c_str()) : nullptr;
  if (!loaded)
    FatalBox(std::string("Fatal Error Loading Data.") + kFatalTail + kSupportAddress, "Error!", false, 1);
  SDL_Surface* converted = SDL_DisplayFormat(loaded);
  SDL_FreeSurface(loaded);
  if (!converted)
    FatalBox(std::string("Fatal Error. DisplayFormat.") + kFatalTail + kSupportAddress, "Error!", false, 1);
  return SurfacePtr(converted);
}

bool ReadPngSize(const std::string& path, uint32_t& width, uint32_t& height) {
  width = height = 0;
  File f(path, "rb");
  if (!f) return false;
  unsigned char b[24];
  const size_t n = std::fread(b, 1, sizeof b, f.get());
  f.Close();  // read only: nothing to lose
  static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  // The IHDR chunk must come first with its fixed data length of 13.
  static const unsigned char ihdr[8] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  if (n != sizeof b || std::memcmp(b, sig, 8) != 0 || std::memcmp(b + 8, ihdr, 8) != 0) return false;
  const uint32_t w = Be32(b + 16), h = Be32(b + 20);
  // The format limits both sides to 1 .. 2^31 - 1.
  if (w == 0 || h == 0 || w > 0x7FFFFFFFu || h > 0x7FFFFFFFu) return false;
  width = w;
  height = h;
  return true;
}
