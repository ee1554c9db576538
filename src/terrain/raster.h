// Elevation rasters in memory and pixel-level access to surfaces.
// Pixel (x, y) is column x, row y; row 0 is the northern edge.
#pragma once

#include <cstdint>
#include <string>

#include "terrain/handles.h"

// Loads a PNG raster converted to the graph window's display format. On any
// failure shows the fatal box and ends the process (exit code 1), so it never
// returns null. Needs Inicia_SDL first.
SurfacePtr Carga_Imagen(const std::string& path);

// Loads a TIFF elevation raster as 32-bit float heights. Accepts one sample
// per pixel of 8/16/32-bit signed or unsigned integers or 32/64-bit floats,
// stripped or tiled, any compression libtiff decodes; float32 samples are
// kept bit for bit. Returns null (no message of its own) on any failure, on
// any other layout and on a side outside 1..65535. Prints "Ancho/Alto: w/h"
// and, when the raster has it, "raw_z:" with sample 6010. The raster carries
// its own size: callers compare it with proj_w x proj_h before reading.
FloatRasterPtr Carga_Imagen_tif(const std::string& path);

// True for a regular file (after symlinks): not a directory, FIFO or device,
// whose open could block or whose contents are not a raster.
bool IsRegularFile(const std::string& path);

// Reads only a PNG file's header: true and the size when the file starts
// with a valid PNG signature and IHDR chunk.
bool ReadPngSize(const std::string& path, uint32_t& width, uint32_t& height);

// Checks without decoding pixels whether Carga_Imagen_tif can read the file
// as heights. Returns "" when it can, otherwise a short reason for the user:
// "cannot be opened", "missing TIFF image size", "invalid TIFF image size",
// "unsupported TIFF sample layout" or "invalid TIFF tiles". Width and height
// are set whenever the size tags could be read (0 otherwise). `opened` tells
// whether libtiff could open the file at all.
std::string CheckTiffLayout(const std::string& path, uint32_t& width, uint32_t& height, bool& opened);

// Sample (x, y) with row stride proj_w.
inline float TIFGetPixel(const FloatRaster* raster, int32_t x, int32_t y);

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

#include "terrain/state.h"

inline float TIFGetPixel(const FloatRaster* raster, int32_t x, int32_t y) {
  return raster->samples[static_cast<size_t>(y) * static_cast<size_t>(st.proj_w) + static_cast<size_t>(x)];
}
