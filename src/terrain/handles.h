// Owning handles for the project's buffers. Each releases what it holds
// exactly once and reads as absent (null) afterwards.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <vector>

struct SurfaceDeleter {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// A float elevation raster: width x height samples, row-major, row 0 north.
struct FloatRaster {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<float> samples;
};
using FloatRasterPtr = std::unique_ptr<FloatRaster>;
