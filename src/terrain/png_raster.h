// PNG elevation rasters: the header check and the loader.
#pragma once

#include <cstdint>
#include <string>

#include "terrain/handles.h"

// Loads a PNG raster converted to the graph window's display format. On any
// failure shows the fatal box and ends the process (exit code 1), so it never
// returns null. Needs Inicia_SDL first.
SurfacePtr Carga_Imagen(const std::string& path);

// Reads only a PNG file's header: true and the size when the file starts
// with a valid PNG signature and IHDR chunk.
bool ReadPngSize(const std::string& path, uint32_t& width, uint32_t& height);
