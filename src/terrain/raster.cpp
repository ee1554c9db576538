#include "terrain/raster.h"

#include <SDL_image.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "terrain/state.h"

namespace {

uint32_t Be32(const unsigned char* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
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
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  long pos = 8;
  bool ok = false;
  unsigned char head[8];
  while (size > 0 && pos + 12 <= size) {
    if (std::fseek(f, pos, SEEK_SET) != 0 || std::fread(head, 1, 8, f) != 8) break;
    const uint32_t len = Be32(head);
    if (len > 0x7FFFFFFFu || pos + 12 + static_cast<long>(len) > size) break;
    if (std::memcmp(head + 4, "IEND", 4) == 0) {
      ok = true;
      break;
    }
    pos += 12 + static_cast<long>(len);
  }
  std::fclose(f);
  return ok;
}

}  // namespace

bool IsRegularFile(const std::string& path) {
  struct stat sb;
  return stat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
}

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

uint32_t SDLGetPixel(const SDL_Surface* s, int32_t x, int32_t y) {
  const int bpp = s->format->BytesPerPixel;
  const uint8_t* p = static_cast<const uint8_t*>(s->pixels) + static_cast<ptrdiff_t>(y) * s->pitch +
                     static_cast<ptrdiff_t>(x) * bpp;
  switch (bpp) {
    case 1:
      return *p;
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case 3:
      return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
             static_cast<uint32_t>(p[2]) << 16;
    case 4: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    default:
      return 0;
  }
}

void SDLPutPixel(SDL_Surface* s, int32_t x, int32_t y, uint32_t value) {
  const int bpp = s->format->BytesPerPixel;
  uint8_t* p = static_cast<uint8_t*>(s->pixels) + static_cast<ptrdiff_t>(y) * s->pitch +
               static_cast<ptrdiff_t>(x) * bpp;
  switch (bpp) {
    case 1:
      *p = static_cast<uint8_t>(value);
      break;
    case 2: {
      const uint16_t v = static_cast<uint16_t>(value);
      std::memcpy(p, &v, 2);
      break;
    }
    case 3:
      p[0] = static_cast<uint8_t>(value);
      p[1] = static_cast<uint8_t>(value >> 8);
      p[2] = static_cast<uint8_t>(value >> 16);
      break;
    case 4:
      std::memcpy(p, &value, 4);
      break;
    default:
      break;
  }
}

void Pinta_Rectangulo(SDL_Surface* s, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
  SDL_Rect r;
  r.x = static_cast<Sint16>(x);
  r.y = static_cast<Sint16>(y);
  r.w = static_cast<Uint16>(w);
  r.h = static_cast<Uint16>(h);
  const Uint32 pixel = SDL_MapRGB(s->format, colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
  SDL_FillRect(s, &r, pixel);
}

float HeightOfPixel(const SDL_Surface* surface, const FloatRaster* raster, int32_t x, int32_t y) {
  if (st.cu_ext == 1) return TIFGetPixel(raster, x, y);
  return static_cast<float>(SDLGetPixel(surface, x, y));
}

SurfacePtr CreateResultSurface(int32_t width, int32_t height) {
  if (width < 1 || height < 1 || width > 65535 || height > 65535) return nullptr;
  SurfacePtr s(SDL_CreateRGBSurface(SDL_HWSURFACE, width, height, 24, 0, 0, 0, 0));
  if (s) std::memset(s->pixels, 0, static_cast<size_t>(s->pitch) * static_cast<size_t>(height));
  return s;
}
bool ReadPngSize(const std::string& path, uint32_t& width, uint32_t& height) {
  width = height = 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned char b[24];
  const size_t n = std::fread(b, 1, sizeof b, f);
  std::fclose(f);
  static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  // The IHDR chunk must come first with its fixed data length of 13.
  static const unsigned char ihdr[8] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  if (n != sizeof b || std::memcmp(b, sig, 8) != 0 || std::memcmp(b + 8, ihdr, 8) != 0) return false;
  auto be32 = [](const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
  };
  const uint32_t w = be32(b + 16), h = be32(b + 20);
  // The format limits both sides to 1 .. 2^31 - 1.
  if (w == 0 || h == 0 || w > 0x7FFFFFFFu || h > 0x7FFFFFFFu) return false;
  width = w;
  height = h;
  return true;
}
