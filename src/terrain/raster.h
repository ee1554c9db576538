// Pixel-level access to elevation rasters and result surfaces.
// Pixel (x, y) is column x, row y; row 0 is the northern edge.
#pragma once

#include <cstddef>
#include <cstdint>

#include "terrain/handles.h"

// Sample (x, y) of a float raster, rows `raster->width` samples apart. No
// bounds check.
inline float TIFGetPixel(const FloatRaster* raster, int32_t x, int32_t y) {
  return raster->samples[static_cast<size_t>(y) * raster->width + static_cast<size_t>(x)];
}

// Pixel value of a surface: the pixel's 1 to 4 bytes as an unsigned 32-bit
// integer (3-byte pixels least significant byte first). No bounds check.
uint32_t SDLGetPixel(const SDL_Surface* surface, int32_t x, int32_t y);
void SDLPutPixel(SDL_Surface* surface, int32_t x, int32_t y, uint32_t value);

// Fills a rectangle; colour is 0x00BBGGRR (red in the low byte).
void Pinta_Rectangulo(SDL_Surface* surface, int32_t x, int32_t y, int32_t w, int32_t h,
                      uint32_t colour);

// Height of (x, y) of the current project's raster family (cu_ext).
float HeightOfPixel(const SDL_Surface* surface, const FloatRaster* raster, int32_t x, int32_t y);

// A zeroed 24-bit surface with the default masks (red in bits 16-23), the
// form of every result buffer. Null when width or height is outside
// 1..65535 or the library cannot create it.
SurfacePtr CreateResultSurface(int32_t width, int32_t height);
