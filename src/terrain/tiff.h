// TIFF elevation rasters: one sample per pixel, read as float heights.
#pragma once

#include <cstdint>
#include <string>

#include "terrain/handles.h"

// Loads a TIFF elevation raster as 32-bit float heights. Accepts one sample
// per pixel of 8/16/32-bit signed or unsigned integers or 32/64-bit floats,
// stripped or tiled, any compression libtiff decodes; float32 samples are
// kept bit for bit. Returns null (no message of its own) on any failure, on
// any other layout and on a side outside 1..65535. Prints "Ancho/Alto: w/h"
// and, when the raster has it, "raw_z:" with sample 6010. The raster carries
// its own size: callers compare it with proj_w x proj_h before reading.
FloatRasterPtr Carga_Imagen_tif(const std::string& path);

// Checks without decoding pixels whether Carga_Imagen_tif can read the
// file's samples as heights. Returns "" when it can, otherwise a short
// reason for the user: "cannot be opened", "missing TIFF image size",
// "unsupported TIFF sample layout" or "invalid TIFF tiles". The sides are
// not judged here: width and height are set to the size tags whenever they
// could be read (0 otherwise), whatever their values, for the caller's size
// rules. `opened` tells whether libtiff could open the file at all.
std::string CheckTiffLayout(const std::string& path, uint32_t& width, uint32_t& height, bool& opened);
