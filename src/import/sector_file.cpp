#include "import/sector_file.h"

#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "terrain/file.h"
#include "terrain/pngfuncs.h"

void PackPngHeights(const float* heights, size_t n, std::vector<uint8_t>& bgr, int64_t& nodata, int64_t& negative) {
  constexpr double kMax = 16777215.0;  // the largest 24-bit value
  bgr.resize(n * 3);
  for (size_t i = 0; i < n; ++i) {
    const double h = heights[i];
    uint32_t v = 0;
    if (std::isnan(h)) {
      ++nodata;
    } else {
      const double r = std::round(h);
      if (r < 0) ++negative;
      v = static_cast<uint32_t>(std::clamp(r, 0.0, kMax));
    }
    bgr[3 * i] = static_cast<uint8_t>(v);
    bgr[3 * i + 1] = static_cast<uint8_t>(v >> 8);
    bgr[3 * i + 2] = static_cast<uint8_t>(v >> 16);
  }
}

bool WriteSectorPng(const std::string& path, const std::vector<float>& heights, int size, int64_t& nodata,
                    int64_t& negative, std::string& why) {
  std::vector<uint8_t> bgr, png;
  PackPngHeights(heights.data(), heights.size(), bgr, nodata, negative);
  if (!EncodePngRgb(bgr.data(), size, size, size * 3, png)) {
    why = "cannot encode " + path;
    return false;
  }
  if (!WriteFileAtomic(path, png.data(), png.size())) {
    why = "cannot write " + path;
    return false;
  }
  return true;
}

namespace {

// The GeoTIFF is built in GDAL's in-memory file system, then goes to disk
// through the one atomic writer.
bool EncodeTif(const std::string& mem, const std::vector<float>& heights, int size, const double* gt,
               const std::string& wkt) {
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!driver) return false;
  CPLErrorReset();
  GDALDatasetUniquePtr ds(driver->Create(mem.c_str(), size, size, 1, GDT_Float32, nullptr));
  if (!ds) return false;
  double g[6] = {gt[0], gt[1], gt[2], gt[3], gt[4], gt[5]};
  ds->SetGeoTransform(g);
  ds->SetProjection(wkt.c_str());
  GDALRasterBand* band = ds->GetRasterBand(1);
  band->SetNoDataValue(std::numeric_limits<double>::quiet_NaN());
  const CPLErr e = band->RasterIO(GF_Write, 0, 0, size, size, const_cast<float*>(heights.data()), size, size,
                                  GDT_Float32, 0, 0, nullptr);
  ds.reset();  // closing writes the file
  return e == CE_None && CPLGetLastErrorType() != CE_Failure;
}

}  // namespace

bool WriteSectorTif(const std::string& path, const std::vector<float>& heights, int size, const double* gt,
                    const std::string& wkt, std::string& why) {
  static std::atomic<int> counter{0};
  const std::string mem = "/vsimem/vdb_import_sector_" + std::to_string(counter++) + ".tif";
  bool ok = EncodeTif(mem, heights, size, gt, wkt);
  vsi_l_offset length = 0;
  const GByte* bytes = ok ? VSIGetMemFileBuffer(mem.c_str(), &length, FALSE) : nullptr;
  if (!bytes) {
    why = "cannot encode " + path + ": " + CPLGetLastErrorMsg();
    ok = false;
  } else if (!WriteFileAtomic(path, bytes, static_cast<size_t>(length))) {
    why = "cannot write " + path;
    ok = false;
  }
  VSIUnlink(mem.c_str());
  VSIUnlink((mem + ".aux.xml").c_str());
  return ok;
}
