// The elevation model behind an import: opened, checked, mosaicked and
// placed in the metric system the sectors are cut in. Only import.cpp uses it.
#pragma once

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <cstdint>
#include <string>
#include <vector>

#include "import/import.h"

struct Terrain {
  std::string srs_name;              // the metric system the sectors are cut in
  std::string srs_wkt;
  double src_px_x = 0, src_px_y = 0;  // source pixel size in metres
  double lon = 0, lat = 0;            // WGS 84 centre of the extent (or bounds)
  double origin_x = 0, origin_y = 0;  // north-west corner of the area, target system
  int64_t width = 0, height = 0;      // the area in 1 m pixels
  bool direct = false;                // already 1 m and aligned: copied without a warp
  bool feet = false;                  // heights converted from feet
  double scale = 1, offset = 0;       // raw sample -> metres
  const char* algorithm = "bilinear";

  // What is read: the source (or mosaic) itself when direct, else a warped
  // view of exactly the sector grid. (off_x, off_y) is the area's corner in
  // the read dataset's pixels.
  GDALDatasetUniquePtr mosaic, warped;
  int64_t off_x = 0, off_y = 0;
};

// Opens and checks the DEMs and works out the area. False with a one-line
// reason on any bad input; nothing is written.
bool OpenTerrain(const ImportOptions& o, Terrain& t, std::string& why);

// Prepares reading a grid of grid_w x grid_h pixels (the warp, unless the
// source is read directly). False with a reason when GDAL refuses.
bool PrepareReading(Terrain& t, int64_t grid_w, int64_t grid_h, std::string& why);

// Heights in metres of the w x h pixels whose top-left pixel is (x0, y0)
// from the area's north-west corner, row-major into `out`; NaN where there
// is no data, the area's outside included.
bool ReadHeights(Terrain& t, int64_t x0, int64_t y0, int w, int h, std::vector<float>& out, std::string& why);
