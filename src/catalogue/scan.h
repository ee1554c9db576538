// The work directory scan: the sector catalogue, the project raster size and
// the saved project coordinates (read through catalogue/coords_file.h).
#pragma once

#include <cstdint>
#include <string>

// Rescans `dir` for rasters with extension `ext`. Returns 1 if at least one
// file was admitted to the sector list, 0 otherwise.
uint8_t listdirect(const std::string& dir, const std::string& ext);

// 1 if `path` is a directory, 0 otherwise.
uint8_t DirectoryExists(const std::string& path);
