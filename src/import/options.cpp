#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "import/import.h"

const char* const kImportUsage =
    "veltano-batch import [options] DEM... WORKDIR\n"
    "  --size N                  sector side in pixels, 120..600, default 600\n"
    "  --type tif|png            default tif (float heights, NaN for no data)\n"
    "  --bounds XMIN YMIN XMAX YMAX   only this part, in the DEM's coordinate system\n"
    "  --resampling bilinear|cubic|nearest   default bilinear\n"
    "  --overwrite               replace the sector rasters already in WORKDIR\n"
    "  --quiet                   no progress output\n";

namespace {

// A whole, finite number: strtod alone would accept "12abc" and "nan".
std::optional<double> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  return v;
}

bool ParseSize(const std::string& v, int& size, std::string& error) {
  const std::optional<double> n = ParseNumber(v);
  if (!n || *n != std::floor(*n) || *n < 120 || *n > 600) {
    error = "--size must be a whole number from 120 to 600, not '" + v + "'";
    return false;
  }
  size = static_cast<int>(*n);
  return true;
}

bool ParseChoice(const std::string& a, const std::string& v, ImportOptions& o, std::string& error) {
  if (a == "--type") {
    if (v != "tif" && v != "png") error = "--type must be tif or png, not '" + v + "'";
    o.png = v == "png";
  } else {
    if (v == "bilinear") o.resampling = ImportResampling::Bilinear;
    else if (v == "cubic") o.resampling = ImportResampling::Cubic;
    else if (v == "nearest") o.resampling = ImportResampling::Nearest;
    else error = "--resampling must be bilinear, cubic or nearest, not '" + v + "'";
  }
  return error.empty();
}

bool ParseBounds(const std::vector<std::string>& args, size_t& i, ImportOptions& o, std::string& error) {
  double v[4];
  for (int k = 0; k < 4; ++k) {
    const std::optional<double> n = i + 1 < args.size() ? ParseNumber(args[i + 1]) : std::nullopt;
    if (!n) {
      error = "--bounds needs four numbers: XMIN YMIN XMAX YMAX";
      return false;
    }
    v[k] = *n;
    ++i;
  }
  if (!(v[0] < v[2]) || !(v[1] < v[3])) {
    error = "--bounds: XMIN must be less than XMAX and YMIN less than YMAX";
    return false;
  }
  o.has_bounds = true;
  o.xmin = v[0], o.ymin = v[1], o.xmax = v[2], o.ymax = v[3];
  return true;
}

}  // namespace

std::optional<ImportOptions> ParseImportArgs(const std::vector<std::string>& args, std::string& error) {
  ImportOptions o;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      o.help = true;
      return o;
    }
    const bool takes_value = a == "--size" || a == "--type" || a == "--resampling";
    if (takes_value && i + 1 >= args.size()) {
      error = a + " needs a value";
      return std::nullopt;
    }
    bool ok = true;
    if (a == "--size") ok = ParseSize(args[++i], o.size, error);
    else if (takes_value) ok = ParseChoice(a, args[++i], o, error);
    else if (a == "--bounds") ok = ParseBounds(args, i, o, error);
    else if (a == "--overwrite") o.overwrite = true;
    else if (a == "--quiet") o.quiet = true;
    else if (a.size() > 1 && a[0] == '-') error = "unknown option " + a, ok = false;
    else positional.push_back(a);
    if (!ok) return std::nullopt;
  }
  if (positional.size() < 2) {
    error = positional.empty() ? "missing DEM and WORKDIR" : "missing WORKDIR after the DEM";
    return std::nullopt;
  }
  o.workdir = positional.back();
  positional.pop_back();
  o.dems = positional;
  return o;
}
