#include "import/import.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

#include "catalogue/coords_file.h"
#include "import/grid.h"
#include "import/sector_file.h"
#include "import/source.h"
#include "terrain/file.h"

namespace fs = std::filesystem;

namespace {

// GDAL's messages are turned into our own lines; none reach the terminal.
struct QuietGdal {
  QuietGdal() { CPLPushErrorHandler(CPLQuietErrorHandler); }
  ~QuietGdal() { CPLPopErrorHandler(); }
  QuietGdal(const QuietGdal&) = delete;
  QuietGdal& operator=(const QuietGdal&) = delete;
};

// GDAL's block cache: enough for the warper's working set, small against
// the one row of sectors held at a time.
constexpr int64_t kGdalCacheBytes = 128LL << 20;

std::string Format(const char* fmt, double a, double b = 0, double c = 0) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, a, b, c);
  return buf;
}

// Sector raster names of either type, as the scan would read them.
bool IsSectorName(const std::string& name) {
  if (name.size() != 8) return false;
  for (int i = 0; i < 4; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  std::string ext = name.substr(4);
  for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return ext == ".tif" || ext == ".png";
}

std::vector<std::string> ExistingSectors(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (IsSectorName(name)) names.push_back(name);
  }
  return names;
}

// Two projects must never mix: sector rasters already there are replaced
// only on request.
bool CheckWorkdir(const ImportOptions& o, std::vector<std::string>& existing, std::string& why) {
  std::error_code ec;
  if (fs::exists(o.workdir, ec) && !fs::is_directory(o.workdir, ec)) {
    why = o.workdir + ": not a directory";
    return false;
  }
  existing = ExistingSectors(o.workdir);
  if (!existing.empty() && !o.overwrite) {
    why = o.workdir + " already holds sector rasters (" + existing.front() +
          "); give --overwrite to replace them, or import into an empty folder";
    return false;
  }
  return true;
}

std::string Quote(const std::string& s) {
  if (s.find_first_of(" '\"\\$`!*?&;|<>()") == std::string::npos) return s;
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Tally {
  int written = 0, empty = 0;
  int64_t pixels = 0, nodata = 0;            // over the written sectors
  int64_t png_nodata = 0, png_negative = 0;  // zeroed in PNG sectors
  std::set<std::string> names;
};

void SayPlan(const ImportOptions& o, const Terrain& t, const SectorGrid& g, const ImportReport& r) {
  std::string sources;
  for (const std::string& d : o.dems) sources += (sources.empty() ? "" : ", ") + d;
  r.line("import: source: " + sources);
  r.line("import: coordinate system: " + t.srs_name);
  r.line(Format("import: pixel size: %.3f x %.3f m -> 1 x 1 m", t.src_px_x, t.src_px_y) +
         (t.direct ? " (copied pixel for pixel)" : std::string(" (") + t.algorithm + ")"));
  if (t.feet) r.line("import: heights converted from feet to metres");
  if (t.src_px_x > 2.0 + 1e-9 || t.src_px_y > 2.0 + 1e-9)
    r.line(Format("import: warning: the DEM's pixels are %.1f m; the shadows are no finer than the source",
                  std::max(t.src_px_x, t.src_px_y)));
  r.line(Format("import: grid: %.0f x %.0f sectors", static_cast<double>(g.cols), static_cast<double>(g.rows)) +
         Format(" of %.0f x %.0f px", g.size, g.size) +
         Format(" (area %.0f x %.0f m)", static_cast<double>(t.width), static_cast<double>(t.height)));
}

void SayDone(const ImportOptions& o, const Terrain& t, const Tally& n, int removed, const ImportReport& r) {
  r.line(Format("import: sectors written: %.0f, skipped as empty: %.0f", n.written, n.empty));
  if (removed > 0) r.line(Format("import: removed %.0f sector rasters of the previous project", removed));
  const double share = n.pixels ? 100.0 * static_cast<double>(n.nodata) / static_cast<double>(n.pixels) : 0.0;
  r.line(Format("import: no data: %.2f%% of the written pixels", share));
  if (o.png && (n.png_nodata > 0 || n.png_negative > 0))
    r.line(Format("import: png: %.0f no-data and %.0f negative heights written as 0; --type tif keeps them",
                  static_cast<double>(n.png_nodata), static_cast<double>(n.png_negative)));
  r.line(Format("import: longitude %.6f, latitude %.6f written to ", t.lon, t.lat) + kCoordinatesFile);
  r.line("import: process with: veltano-batch --type " + std::string(o.png ? "png" : "tif") + " " +
         Quote(o.workdir));
}

// Writes the sectors of one row (north to south order of rows, so the
// progress follows the file). False with `why` at the first failed write.
bool WriteRow(const ImportOptions& o, Terrain& t, const SectorGrid& g, int row, Tally& n, std::string& why) {
  const int s = g.size;
  const int row_w = static_cast<int>(g.cols) * s;
  std::vector<float> band, sector(static_cast<size_t>(s) * s);
  if (!ReadHeights(t, 0, g.Y0(row), row_w, s, band, why)) return false;
  for (int col = 1; col <= g.cols; ++col) {
    int64_t nodata = 0;
    for (int y = 0; y < s; ++y)
      for (int x = 0; x < s; ++x) {
        const float v = band[static_cast<size_t>(y) * row_w + static_cast<size_t>(g.X0(col)) + x];
        sector[static_cast<size_t>(y) * s + x] = v;
        nodata += std::isnan(v);
      }
    if (nodata == static_cast<int64_t>(sector.size())) {
      ++n.empty;
      continue;
    }
    const std::string name = SectorFileName(col, row, o.png);
    const std::string path = (fs::path(o.workdir) / name).string();
    const double gt[6] = {t.origin_x + static_cast<double>(g.X0(col)), 1, 0,
                          t.origin_y - static_cast<double>(g.Y0(row)), 0, -1};
    const bool ok = o.png ? WriteSectorPng(path, sector, s, n.png_nodata, n.png_negative, why)
                          : WriteSectorTif(path, sector, s, gt, t.srs_wkt, why);
    if (!ok) return false;
    ++n.written;
    n.pixels += static_cast<int64_t>(sector.size());
    n.nodata += nodata;
    n.names.insert(name);
  }
  return true;
}

// Sector rasters of a replaced project that this import did not write.
int RemoveStale(const std::string& dir, const std::vector<std::string>& existing, const std::set<std::string>& kept) {
  int removed = 0;
  for (const std::string& name : existing) {
    std::error_code ec;
    if (!kept.count(name) && fs::remove(fs::path(dir) / name, ec)) ++removed;
  }
  return removed;
}

// Temporary files of sector rasters that a killed import left behind: they
// are never whole rasters, and this import rewrites what they were for.
void RemoveLeftovers(const std::string& dir) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (IsTempName(name) && name.size() > 9 && IsSectorName(name.substr(1, 8)) && name.compare(9, 5, ".tmp-") == 0)
      fs::remove(e.path(), ec);
  }
}

// Checks everything that can be checked before the first write.
bool Prepare(const ImportOptions& o, Terrain& t, SectorGrid& g, std::vector<std::string>& existing, std::string& why) {
  if (!OpenTerrain(o, t, why)) return false;
  g = LayGrid(t.width, t.height, o.size);
  if (!g.Fits()) {
    why = Format("the area needs %.0f x %.0f sectors of %.0f px", static_cast<double>(g.cols),
                 static_cast<double>(g.rows), o.size) +
          Format("; at most %.0f x %.0f fit: use a larger --size or a smaller --bounds", kMaxSectors, kMaxSectors);
    return false;
  }
  if (!CheckWorkdir(o, existing, why)) return false;
  return PrepareReading(t, g.cols * g.size, g.rows * g.size, why);
}

}  // namespace

int RunImport(const ImportOptions& o, const ImportReport& report) {
  QuietGdal quiet;
  GDALAllRegister();
  GDALSetCacheMax64(kGdalCacheBytes);
  Terrain t;
  SectorGrid g;
  std::vector<std::string> existing;
  std::string why;
  if (!Prepare(o, t, g, existing, why)) {
    report.refusal(why);
    return kImportRefused;
  }
  SayPlan(o, t, g, report);
  std::error_code ec;
  const bool created = !fs::exists(o.workdir, ec) && fs::create_directories(o.workdir, ec);
  if (!ec) RemoveLeftovers(o.workdir);
  Tally n;
  for (int row = static_cast<int>(g.rows); row >= 1; --row) {
    if (ec || !WriteRow(o, t, g, row, n, why)) {
      report.refusal("stopped: " + (ec ? o.workdir + ": " + ec.message() : why) +
                     "; the files written so far are whole: run again with --overwrite to finish");
      return kImportFailed;
    }
    report.progress(static_cast<int>(100 * (g.rows - row + 1) / g.rows));
    if (row > 1 && report.stop && report.stop()) {
      report.refusal("stopped; the files written so far are whole: run again with --overwrite to finish");
      return kImportStopped;
    }
  }
  if (n.written == 0) {
    if (created) fs::remove(o.workdir, ec);  // nothing written: not even the folder
    report.refusal("the area holds no heights: every sector would be empty");
    return kImportRefused;
  }
  if (!WriteCoordinatesFile((fs::path(o.workdir) / kCoordinatesFile).string(), t.lon, t.lat)) {
    report.refusal("stopped: cannot write " + std::string(kCoordinatesFile) + " in " + o.workdir);
    return kImportFailed;
  }
  const int removed = o.overwrite ? RemoveStale(o.workdir, existing, n.names) : 0;
  SayDone(o, t, n, removed, report);
  return kImportDone;
}
