// The coordinates file: read directly, and through a scan of a project
// folder that holds it, which puts the values into the fields.
#include <tiffio.h>

#include <cmath>
#include <filesystem>
#include <system_error>
#include <cstring>

#include "catalogue/coords_file.h"
#include "catalogue/scan.h"
#include "fuzz/fuzz_support.h"

namespace {

// A one-raster TIFF project: its scan reads only tags, so each input costs
// little beyond the coordinates.
std::string folder;

void MakeProject() {
  folder = fuzz::ScratchPath("project");
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) std::abort();
  TIFF* t = TIFFOpen((folder + "/0101.tif").c_str(), "w");
  if (!t) std::abort();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 120u);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 120u);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 120);
  float row[120] = {};
  for (uint32_t y = 0; y < 120; ++y)
    if (TIFFWriteScanline(t, row, y, 0) < 0) std::abort();
  TIFFClose(t);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeProject();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = folder + "/" + kCoordinatesFile;
  fuzz::WriteAll(path, data, size);
  fuzz::Session session;

  double lon = 7, lat = 7;
  const bool read = ReadCoordinatesFile(path, lon, lat);
  if (size < 16) VDB_FUZZ_CHECK(!read);
  if (read) {
    VDB_FUZZ_CHECK(std::isfinite(lon) && std::isfinite(lat));
    VDB_FUZZ_CHECK(std::memcmp(&lon, data, 8) == 0 && std::memcmp(&lat, data + 8, 8) == 0);
  } else {
    VDB_FUZZ_CHECK(lon == 7 && lat == 7);
  }

  st.cu_ext = 1;
  st.admext = ".tif";
  VDB_FUZZ_CHECK(listdirect(folder, ".tif") == 1);
  VDB_FUZZ_CHECK(session.plat.console().empty() && session.plat.boxes().empty());
  VDB_FUZZ_CHECK((st.val_long == 1) == read && (st.val_lat == 1) == read);
  if (read) {
    VDB_FUZZ_CHECK(std::memcmp(&st.geoxi, &lon, 8) == 0 && std::memcmp(&st.geoyi, &lat, 8) == 0);
    // The fields show the values with six decimals ("%f"), whatever their size.
    VDB_FUZZ_CHECK(session.plat.ControlText(ctl::kLongitude) == std::to_string(lon));
    VDB_FUZZ_CHECK(session.plat.ControlText(ctl::kLatitude) == std::to_string(lat));
  }
  return 0;
}
