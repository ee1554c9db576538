#include "catalogue/scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "catalogue/coords_file.h"
#include "platform/platform.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

constexpr int32_t kMinSide = 120;
constexpr int32_t kMaxSide = 600;

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

bool EndsWithNoCase(const std::string& name, const std::string& ext) {
  if (name.size() < ext.size()) return false;
  return std::equal(ext.begin(), ext.end(), name.end() - static_cast<ptrdiff_t>(ext.size()),
                    [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
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
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (EndsWithNoCase(name, ext)) names.push_back(name);
  }
  closedir(d);
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
    const std::string path = dir + "/" + name;
    if (IsDirectoryPath(path)) continue;
    st.flagname = 1;

    if (!SectorNameOk(name)) {
      toconsole(kNameMsg + name);
      continue;
    }

    // A FIFO or device named like a raster is no raster, and opening it
    // could block the scan for ever.
    struct stat sb;
    if (stat(path.c_str(), &sb) == 0 && !S_ISREG(sb.st_mode)) {
      toconsole(kNotAFileMsg + name);
      continue;
    }

    int64_t w = 0, h = 0;
    if (!CandidateSize(path, name, w, h)) continue;

    // The order matters: a rejected file may still fix the project's
    // width or height for the files after it.
    if (st.proj_w == 0) {
      if (w > kMaxSide || w < kMinSide) {
        toconsole(RangeMsg("width") + name);
        continue;
      }
      st.proj_w = static_cast<int32_t>(w);
    }
    if (st.proj_h == 0) {
      if (h > kMaxSide || h < kMinSide) {
        toconsole(RangeMsg("height") + name);
        continue;
      }
      st.proj_h = static_cast<int32_t>(h);
    }
    if (w != st.proj_w) {
      toconsole(kWidthMismatchMsg + name);
      continue;
    }
    if (h != st.proj_h) {
      toconsole(kHeightMismatchMsg + name);
      continue;
    }
    platform().ListAdd(name);
    ++admitted;
  }
  if (admitted == 0) return 0;

  st.prmaxheight.assign(static_cast<size_t>(admitted), HeightRecord{});

  double lon = 0, lat = 0;
  if (!ReadCoordinatesFile(dir + "/" + kCoordinatesFile, lon, lat)) return 1;
  platform().SetControlText(ctl::kLongitude, FormatF(lon));
  platform().SetControlText(ctl::kLatitude, FormatF(lat));
  st.geoxi = lon;
  st.geoyi = lat;
  st.val_lat = 1;
  st.val_long = 1;
  return 1;
}

uint8_t DirectoryExists(const std::string& path) {
  return !path.empty() && IsDirectoryPath(path) ? 1 : 0;
}
