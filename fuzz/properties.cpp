#include "fuzz/properties.h"

#include <tiffio.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "catalogue/coords.h"
#include "catalogue/coords_file.h"
#include "catalogue/scan.h"
#include "platform/memory_platform.h"
#include "terrain/png_raster.h"
#include "terrain/raster.h"
#include "terrain/state.h"
#include "terrain/tiff.h"

namespace {

#define CHECK(cond) \
  if (!(cond)) return std::string(__FILE__ ":") + std::to_string(__LINE__) + ": check failed: " #cond

// A per-process scratch folder, in memory-backed storage when there is
// some, so the loaders read the input through a real file.
struct Scratch {
  std::string dir;
  Scratch() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    dir = std::string(base) + "/vdb-props-" + std::to_string(getpid());
    std::filesystem::create_directories(dir + "/project");
    // A one-raster TIFF project: its scan reads only tags.
    TIFF* t = TIFFOpen((dir + "/project/0101.tif").c_str(), "w");
    for (const auto& [tag, v] : {std::pair<uint32_t, uint32_t>{TIFFTAG_IMAGEWIDTH, 120}, {TIFFTAG_IMAGELENGTH, 120},
                                 {TIFFTAG_BITSPERSAMPLE, 32}, {TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP},
                                 {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK}, {TIFFTAG_ROWSPERSTRIP, 120}})
      TIFFSetField(t, tag, v);
    float row[120] = {};
    for (uint32_t y = 0; y < 120; ++y) TIFFWriteScanline(t, row, y, 0);
    TIFFClose(t);
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

std::string Put(const std::string& name, const uint8_t* data, size_t size) {
  static Scratch scratch;
  const std::string path = scratch.dir + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) std::abort();
  return path;
}

// Open file descriptors of this process: a loader must leave none open.
size_t OpenFiles() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// A fresh recording platform per input; the project state is reset after.
struct Session {
  Session() { SetPlatform(&plat); }
  ~Session() {
    ResetProjectState();
    SetPlatform(nullptr);
  }
  MemoryPlatform plat;
};

}  // namespace

std::string TiffLoaderProperty(const uint8_t* data, size_t size) {
  const std::string path = Put("raster.tif", data, size);
  Session session;
  uint32_t w = 0, h = 0;
  bool opened = false;
  const size_t fds = OpenFiles();
  const std::string reason = CheckTiffLayout(path, w, h, opened);
  CHECK(opened || reason == "cannot be opened");
  FloatRasterPtr r = Carga_Imagen_tif(path);
  CHECK(OpenFiles() == fds);
  // What loads is what the check accepts, at the size it reports.
  CHECK(!r || (reason.empty() && r->width == w && r->height == h && r->samples.size() == size_t{w} * h));
  return "";
}

std::string PngLoaderProperty(const uint8_t* data, size_t size) {
  const std::string path = Put("0101.png", data, size);
  Session session;
  uint32_t w = 0, h = 0;
  const bool header = ReadPngSize(path, w, h);
  CHECK(header == (w != 0 && h != 0));
  if (header && (w < 120 || w > 600 || h < 120 || h > 600)) return "";
  try {
    SurfacePtr s = Carga_Imagen(path);
    CHECK(s != nullptr && s->format->BytesPerPixel == st.pantalla->format->BytesPerPixel);
    CHECK(!header || (static_cast<uint32_t>(s->w) == w && static_cast<uint32_t>(s->h) == h));
  } catch (const ProcessExit& e) {
    // The only way out is the fatal load box with exit code 1.
    CHECK(e.code == 1 && session.plat.boxes().size() == 1);
    const auto box = session.plat.boxes()[0];
    CHECK(box.text == std::string("Fatal Error Loading Data.") + kFatalTail + kSupportAddress);
    CHECK(box.caption == "Error!" && box.icon == BoxIcon::Error);
  }
  return "";
}

std::string CoordsFileProperty(const uint8_t* data, size_t size) {
  const std::string path = Put(std::string("project/") + kCoordinatesFile, data, size);
  Session session;
  st.geoxi = st.geoyi = 7;
  st.cu_ext = 1;
  st.admext = ".tif";
  CHECK(listdirect(std::filesystem::path(path).parent_path().string(), ".tif") == 1);
  CHECK(session.plat.console().empty() && session.plat.boxes().empty());
  // A file that is not read leaves the coordinates as they were.
  CHECK(st.val_lat == st.val_long && (st.val_long == 1 || (st.geoxi == 7 && st.geoyi == 7)));
  if (st.val_long != 1) return "";
  // Two little-endian binary64 values, finite, shown with six decimals ("%f").
  CHECK(size >= 16 && std::isfinite(st.geoxi) && std::isfinite(st.geoyi) && std::memcmp(&st.geoxi, data, 8) == 0 &&
        std::memcmp(&st.geoyi, data + 8, 8) == 0);
  CHECK(session.plat.ControlText(ctl::kLongitude) == std::to_string(st.geoxi) &&
        session.plat.ControlText(ctl::kLatitude) == std::to_string(st.geoyi));
  return "";
}

std::string ChecklonlatProperty(const uint8_t* data, size_t size) {
  if (size == 0) return "";
  Session session;
  const int which = data[0] & 1;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  session.plat.SetControlText(which == 0 ? ctl::kLongitude : ctl::kLatitude, text);
  const double v = checklonlat(which);  // a ProcessExit here fails the input too
  const uint8_t flag = which == 0 ? st.val_long : st.val_lat;
  CHECK(std::isfinite(v) && std::fabs(v) <= (which == 0 ? 180 : 90));
  // A refused text gives a plain zero and one box (none when empty).
  CHECK(flag == 1 || (flag == 0 && v == 0.0 && session.plat.boxes().size() == (text.empty() ? 0u : 1u)));
  if (flag == 0) return "";
  // An accepted text is a plain decimal: the C library reads the same value
  // from the part of it the field holds (a lone sign or point reads as 0).
  const std::string held = text.substr(0, 259);
  CHECK(session.plat.boxes().empty() && held.find_first_not_of("-.0123456789") == std::string::npos);
  const double ref = std::strtod(held.c_str(), nullptr);
  CHECK(std::fabs(v - ref) <= 1e-12 * std::fmax(1.0, std::fabs(ref)));
  return "";
}
