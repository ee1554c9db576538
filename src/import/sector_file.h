// One sector raster on disk, written under a temporary name and renamed
// over its final name only when complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Heights as the program reads a PNG sector: 24-bit R x 65536 + G x 256 + B
// in whole metres (rounded), packed blue, green, red per pixel. No data and
// heights below zero cannot be carried and become 0; they are counted.
void PackPngHeights(const float* heights, size_t n, std::vector<uint8_t>& bgr, int64_t& nodata, int64_t& negative);

// A size x size float sector as a single-band 32-bit float GeoTIFF with
// NaN as its no-data value. `gt` and `wkt` georeference it for other tools.
// False with the reason in `why` when GDAL or the disk fails.
bool WriteSectorTif(const std::string& path, const std::vector<float>& heights, int size, const double* gt,
                    const std::string& wkt, std::string& why);

// A size x size sector as a 24-bit RGB PNG; adds its zeroed pixels to the counts.
bool WriteSectorPng(const std::string& path, const std::vector<float>& heights, int size, int64_t& nodata,
                    int64_t& negative, std::string& why);
