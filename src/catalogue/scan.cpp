#include "catalogue/scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "catalogue/coords_file.h"
#include "platform/no_case.h"
#include "platform/platform.h"
#include "terrain/file.h"
#include "terrain/file_kind.h"
#include "terrain/png_raster.h"
#include "terrain/state.h"
#include "terrain/tiff.h"

namespace {

constexpr int32_t kMinSide = kMinSectorSide;
constexpr int32_t kMaxSide = kMaxSectorSide;

constexpr const char* kNotAFileMsg = "DISCARDED: The file is not a regular file - ";
constexpr const char* kNameMsg =
    "DISCARDED: The name of the file doesn't match requirements (see manual) - ";
constexpr const char* kWidthMismatchMsg =
    "DISCARDED: All the raster in a project must have the same dimension - ";
constexpr const char* kHeightMismatchMsg =
    "DISCARDED: All raster in a project must have the same dimension - ";

std::string RangeMsg(const char* side) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "DISCARDED: The raster must be between %d and %d px %s - ", kMinSide,
                kMaxSide, side);
  return buf;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Four digits (column 01..99, row 01..99) followed by the current
// extension, in the same case.
bool SectorNameOk(const std::string& name) {
  if (name.size() != 8) return false;
  for (int i = 0; i < 4; ++i)
    if (!IsDigit(name[i])) return false;
  if (name[0] == '0' && name[1] == '0') return false;
  if (name[2] == '0' && name[3] == '0') return false;
  return st.admext.size() == 4 && name.compare(4, 4, st.admext) == 0;
}

// The directory entries whose names end with `ext` (any case), sorted by
// name in byte order so that every machine sees the same first file.
// False when the directory can't be read.
bool MatchingEntries(const std::string& dir, const std::string& ext, std::vector<std::string>& names) {
  DirPtr d(opendir(dir.c_str()));
  if (!d) return false;
  while (const dirent* e = readdir(d.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (EndsWithNoCase(name, ext)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return true;
}

// A directory, after following symlinks. A dangling link or a link loop
// can't be followed and counts as a file: it then fails as one.
bool IsDirectoryPath(const std::string& path) {
  struct stat sb;
  return stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

// The raster's size without decoding more than needed. False when the
// entry is to be skipped (its reason has already been given).
bool CandidateSize(const std::string& path, const std::string& name, int64_t& w, int64_t& h) {
  if (st.cu_ext == 0) {
    // The header alone decides whether the image is worth decoding: one
    // outside 120..600 is rejected by the size rules below without being
    // decoded. A file without a readable header goes to the decoder, whose
    // failure is fatal.
    uint32_t hw = 0, hh = 0;
    if (ReadPngSize(path, hw, hh)) {
      w = hw;
      h = hh;
      if (w < kMinSide || w > kMaxSide || h < kMinSide || h > kMaxSide) return true;
    }
    SurfacePtr img = Carga_Imagen(path);
    w = img->w;
    h = img->h;
    return true;
  }
  uint32_t tw = 0, th = 0;
  bool opened = false;
  const std::string reason = CheckTiffLayout(path, tw, th, opened);
  if (!opened) {
    platform().MessageBox("Fatal Error. TIF error loading image", "Error!", BoxIcon::Error, BoxButtons::Ok,
                          false);
    return false;
  }
  if (!reason.empty()) {
    // Listing it would only make the run fail on it later.
    toconsole("DISCARDED: " + reason + " - " + name);
    return false;
  }
  w = tw;
  h = th;
  return true;
}

std::string FormatF(double v) {
  const int n = std::snprintf(nullptr, 0, "%f", v);
  std::string s(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
  std::snprintf(s.data(), s.size(), "%f", v);
  s.resize(s.size() - 1);
  return s;
}

// The size rules, in their order: a rejected file may still fix the
// project's width or height for the files after it. False (with the
// reason on the console) when the file is rejected.
bool SizeFits(const std::string& name, int64_t w, int64_t h) {
  if (st.proj_w == 0) {
    if (w > kMaxSide || w < kMinSide) {
      toconsole(RangeMsg("width") + name);
      return false;
    }
    st.proj_w = static_cast<int32_t>(w);
  }
  if (st.proj_h == 0) {
    if (h > kMaxSide || h < kMinSide) {
      toconsole(RangeMsg("height") + name);
      return false;
    }
    st.proj_h = static_cast<int32_t>(h);
  }
  if (w != st.proj_w) {
    toconsole(kWidthMismatchMsg + name);
    return false;
  }
  if (h != st.proj_h) {
    toconsole(kHeightMismatchMsg + name);
    return false;
  }
  return true;
}

// Whether the entry `name` of `dir` joins the sector list: not a directory,
// named as a sector, a regular file, readable and of the project's size.
// Every rejection except a directory says why.
bool AdmitEntry(const std::string& dir, const std::string& name) {
  const std::string path = dir + "/" + name;
  if (IsDirectoryPath(path)) return false;
  st.flagname = 1;
  if (!SectorNameOk(name)) {
    toconsole(kNameMsg + name);
    return false;
  }
  // A FIFO or device named like a raster is no raster, and opening it
  // could block the scan for ever.
  struct stat sb;
  if (stat(path.c_str(), &sb) == 0 && !S_ISREG(sb.st_mode)) {
    toconsole(kNotAFileMsg + name);
    return false;
  }
  int64_t w = 0, h = 0;
  return CandidateSize(path, name, w, h) && SizeFits(name, w, h);
}

// The coordinates an earlier run saved in the work directory, if any: into
// the coordinate fields and the project state.
void LoadSavedCoordinates(const std::string& dir) {
  double lon = 0, lat = 0;
  if (!ReadCoordinatesFile(dir + "/" + kCoordinatesFile, lon, lat)) return;
  platform().SetControlText(ctl::kLongitude, FormatF(lon));
  platform().SetControlText(ctl::kLatitude, FormatF(lat));
  st.geoxi = lon;
  st.geoyi = lat;
  st.val_lat = 1;
  st.val_long = 1;
}

}  // namespace

uint8_t listdirect(const std::string& dir, const std::string& ext) {
  platform().ListReset();
  platform().SetProgress(0);

  std::vector<std::string> names;
  if (!MatchingEntries(dir, ext, names) || names.empty()) return 0;

  st.proj_w = 0;
  st.proj_h = 0;
  int32_t admitted = 0;
  for (const std::string& name : names) {
    if (!AdmitEntry(dir, name)) continue;
    platform().ListAdd(name);
    ++admitted;
  }
  if (admitted == 0) return 0;

  st.prmaxheight.assign(static_cast<size_t>(admitted), HeightRecord{});
  LoadSavedCoordinates(dir);
  return 1;
}

uint8_t DirectoryExists(const std::string& path) {
  return !path.empty() && IsDirectoryPath(path) ? 1 : 0;
}
