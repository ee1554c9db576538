#include "options.h"

#include <cctype>
#include <cmath>
#include <cstdint>

const char* const kUsage =
    "usage: veltano-batch [options] WORKDIR\n"
    "  --type png|tif            raster type, default png\n"
    "  --lon DEG --lat DEG       project coordinates, both or neither; default: WORKDIR/pr_data.vtd\n"
    "  --sectors LIST            comma-separated sector names or ids (0101.png or 0101);\n"
    "                            default: every sector the scan admits\n"
    "  --session-id ID           session id instead of today's date (%y%m%d);\n"
    "                            letters, digits, '-' and '_' only\n"
    "  --threads N               shading threads, default: all cores\n"
    "  --engine fast|reference   default fast; reference is the plain oracle engine\n"
    "  --yes                     go ahead when the long-job warning would ask\n"
    "  --quiet                   no progress output\n"
    "       veltano-batch verify SESSIONDIR\n"
    "       veltano-batch import [options] DEM... WORKDIR   (see veltano-batch import --help)\n"
    "exit status: 0 done, 4 done with errors logged, 2 refused, 130 stopped by Ctrl-C\n";

std::optional<double> ParseCoordinate(const std::string& text, double limit, std::string& error) {
  const std::string range = "must be a value between -" + std::to_string(static_cast<int>(limit)) + " and " +
                            std::to_string(static_cast<int>(limit)) +
                            "; use only digits, '.' for decimals and '-' for negative values";
  if (text.empty()) {
    error = "is empty";
    return std::nullopt;
  }
  int sign = 1;
  size_t point = std::string::npos;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '-' && i == 0) {
      sign = -1;
    } else if (c == '.' && point == std::string::npos) {
      point = i;
    } else if (!std::isdigit(static_cast<unsigned char>(c))) {
      error = range;
      return std::nullopt;
    }
  }
  if (point == std::string::npos) point = text.size();
  const size_t first = sign < 0 ? 1 : 0;
  const std::string whole = text.substr(first, point - first);
  const std::string frac = point < text.size() ? text.substr(point + 1) : std::string();
  if (whole.size() > 15) {
    error = "the number is too long";
    return std::nullopt;
  }
  if (frac.size() > 15) {
    error = "reduce the number of decimal values";
    return std::nullopt;
  }
  // Fifteen digits fit a 64-bit integer exactly, and 10^15 a double.
  int64_t w = 0, f = 0;
  for (char c : whole) w = w * 10 + (c - '0');
  for (char c : frac) f = f * 10 + (c - '0');
  const double value =
      (static_cast<double>(f) / std::pow(10.0, static_cast<double>(frac.size())) + static_cast<double>(w)) * sign;
  if (value > limit || value < -limit) {
    error = range;
    return std::nullopt;
  }
  return value;
}

bool ValidSessionId(const std::string& id) {
  if (id.empty() || id.size() > 128) return false;
  for (char c : id)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  return true;
}

namespace {

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    out.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

}  // namespace

std::optional<BatchOptions> ParseBatchArgs(const std::vector<std::string>& args, std::string& error) {
  BatchOptions o;
  std::optional<std::string> lon, lat;
  std::vector<std::string> positional;
  size_t i = 0;
  if (!args.empty() && args[0] == "verify") {
    o.verify = true;
    i = 1;
  }
  for (; i < args.size(); ++i) {
    std::string a = args[i];
    std::optional<std::string> inline_value;
    if (a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
      inline_value = a.substr(a.find('=') + 1);
      a = a.substr(0, a.find('='));
    }
    auto value = [&](std::string& out) {
      if (inline_value) {
        out = *inline_value;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    auto flag = [&]() {
      if (inline_value) error = a + " takes no value";
      return !inline_value;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      o.help = true;
      return o;
    }
    if (o.verify && a.rfind("-", 0) == 0 && a != "-") {
      error = "verify takes no option: " + a;
      return std::nullopt;
    }
    if (a == "--type") {
      if (!value(v)) return std::nullopt;
      if (v == "png") {
        o.type = 0;
      } else if (v == "tif") {
        o.type = 1;
      } else {
        error = "--type must be png or tif, not '" + v + "'";
        return std::nullopt;
      }
    } else if (a == "--lon" || a == "--lat") {
      if (!value(v)) return std::nullopt;
      (a == "--lon" ? lon : lat) = v;
    } else if (a == "--sectors") {
      if (!value(v)) return std::nullopt;
      for (const std::string& s : SplitList(v)) {
        if (s.empty()) {
          error = "--sectors has an empty entry";
          return std::nullopt;
        }
        o.sectors.push_back(s);
      }
    } else if (a == "--session-id") {
      if (!value(v)) return std::nullopt;
      if (!ValidSessionId(v)) {
        error = "--session-id may hold only letters, digits, '-' and '_' (1 to 128 characters)";
        return std::nullopt;
      }
      o.session_id = v;
    } else if (a == "--threads") {
      if (!value(v)) return std::nullopt;
      int n = 0;
      bool ok = !v.empty() && v.size() <= 4;
      for (char c : v) ok = ok && std::isdigit(static_cast<unsigned char>(c));
      if (ok) n = std::stoi(v);
      if (!ok || n < 1) {
        error = "--threads must be a whole number from 1 to 9999";
        return std::nullopt;
      }
      o.threads = n;
    } else if (a == "--engine") {
      if (!value(v)) return std::nullopt;
      if (v == "fast") {
        o.reference = false;
      } else if (v == "reference") {
        o.reference = true;
      } else {
        error = "--engine must be fast or reference, not '" + v + "'";
        return std::nullopt;
      }
    } else if (a == "--yes") {
      if (!flag()) return std::nullopt;
      o.yes = true;
    } else if (a == "--quiet") {
      if (!flag()) return std::nullopt;
      o.quiet = true;
    } else if (a.size() > 1 && a[0] == '-') {
      error = "unknown option " + a;
      return std::nullopt;
    } else {
      positional.push_back(args[i]);
    }
  }

  if (positional.size() != 1) {
    error = positional.empty() ? (o.verify ? "missing SESSIONDIR" : "missing WORKDIR")
                               : "more than one directory given";
    return std::nullopt;
  }
  o.dir = positional[0];
  if (lon.has_value() != lat.has_value()) {
    error = "give --lon and --lat together, or neither";
    return std::nullopt;
  }
  if (lon) {
    std::string why;
    const std::optional<double> x = ParseCoordinate(*lon, 180.0, why);
    if (!x) {
      error = "longitude '" + *lon + "': " + why;
      return std::nullopt;
    }
    const std::optional<double> y = ParseCoordinate(*lat, 90.0, why);
    if (!y) {
      error = "latitude '" + *lat + "': " + why;
      return std::nullopt;
    }
    o.has_coords = true;
    o.lon = *x;
    o.lat = *y;
  }
  return o;
}
