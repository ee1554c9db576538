// The work directory scan: the sector catalogue, the project raster size and
// the saved project coordinates.
#pragma once

#include <cstdint>
#include <string>

// Rescans `dir` for rasters with extension `ext`. Returns 1 if at least one
// file was admitted to the sector list, 0 otherwise.
uint8_t listdirect(const std::string& dir, const std::string& ext);

// 1 if `path` is a directory, 0 otherwise.
uint8_t DirectoryExists(const std::string& path);

// The 16-byte coordinates file: longitude then latitude, little-endian
// binary64. Read fails (false) when the file is missing, shorter than 16
// bytes or holds a value that is not finite.
bool ReadCoordinatesFile(const std::string& path, double& lon, double& lat);
bool WriteCoordinatesFile(const std::string& path, double lon, double lat);

inline constexpr const char* kCoordinatesFile = "pr_data.vtd";
