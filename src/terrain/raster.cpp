#include "terrain/raster.h"

#include <cstring>

#include "terrain/state.h"

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
