#include "options.h"

#include <cctype>

#include "catalogue/coords.h"
#include "run/session.h"

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
    "  --resume                  complete the session given by --session-id (default today's):\n"
    "                            sectors whose outputs are whole are skipped\n"
    "  --dry-run                 print what the run would do and write nothing\n"
    "  --json FILE               write a machine-readable summary of the run to FILE\n"
    "       veltano-batch verify [--json FILE] SESSIONDIR\n"
    "       veltano-batch preview SESSIONDIR [-o FILE.png] [--month 1..12]   (see veltano-batch preview --help)\n"
    "       veltano-batch import [options] DEM... WORKDIR   (see veltano-batch import --help)\n"
    "exit status: 0 done, 4 done with errors logged, 2 refused, 130 stopped by Ctrl-C\n";

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

// The coordinate as the desktop's fields read it, with this driver's own
// words for what is wrong.
std::optional<double> CoordinateArg(const std::string& text, double limit, std::string& error) {
  const ParsedCoordinate p = ParseCoordinate(text, limit);
  const std::string side = std::to_string(static_cast<int>(limit));
  switch (p.read) {
    case CoordinateRead::Ok:
      return p.value;
    case CoordinateRead::Empty:
      error = "is empty";
      break;
    case CoordinateRead::TooLong:
      error = "the number is too long";
      break;
    case CoordinateRead::TooManyDecimals:
      error = "reduce the number of decimal values";
      break;
    case CoordinateRead::Refused:
      error = "must be a value between -" + side + " and " + side +
              "; use only digits, '.' for decimals and '-' for negative values";
      break;
  }
  return std::nullopt;
}

// The command line word by word: an option's name and its value, given
// either as "--name=value" or as the next word.
struct ArgCursor {
  const std::vector<std::string>& args;
  size_t i = 0;
  std::string name;
  std::optional<std::string> inline_value;

  void Split() {
    name = args[i];
    inline_value.reset();
    if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
      inline_value = name.substr(name.find('=') + 1);
      name = name.substr(0, name.find('='));
    }
  }
  bool Value(std::string& out, std::string& error) {
    if (inline_value) {
      out = *inline_value;
      return true;
    }
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return false;
    }
    out = args[++i];
    return true;
  }
  bool Flag(std::string& error) {
    if (inline_value) error = name + " takes no value";
    return !inline_value;
  }
};

// What the options give before it is checked as a whole.
struct RawArgs {
  std::optional<std::string> lon, lat;
  std::vector<std::string> positional;
};

bool ParseType(const std::string& v, BatchOptions& o, std::string& error) {
  if (v != "png" && v != "tif") {
    error = "--type must be png or tif, not '" + v + "'";
    return false;
  }
  o.type = v == "png" ? 0 : 1;
  return true;
}

bool ParseSectors(const std::string& v, BatchOptions& o, std::string& error) {
  for (const std::string& s : SplitList(v)) {
    if (s.empty()) {
      error = "--sectors has an empty entry";
      return false;
    }
    o.sectors.push_back(s);
  }
  return true;
}

bool ParseThreads(const std::string& v, BatchOptions& o, std::string& error) {
  bool ok = !v.empty() && v.size() <= 4;
  for (char c : v) ok = ok && std::isdigit(static_cast<unsigned char>(c));
  const int n = ok ? std::stoi(v) : 0;
  if (n < 1) {
    error = "--threads must be a whole number from 1 to 9999";
    return false;
  }
  o.threads = n;
  return true;
}

bool ParseEngine(const std::string& v, BatchOptions& o, std::string& error) {
  if (v != "fast" && v != "reference") {
    error = "--engine must be fast or reference, not '" + v + "'";
    return false;
  }
  o.reference = v == "reference";
  return true;
}

// An option that takes a value. Sets `known` when `name` is one.
bool ParseValueOption(ArgCursor& c, BatchOptions& o, RawArgs& raw, bool& known, std::string& error) {
  static const char* const kNames[] = {"--type", "--lon", "--lat", "--sectors", "--session-id", "--threads",
                                       "--engine", "--json"};
  known = false;
  for (const char* n : kNames) known = known || c.name == n;
  std::string v;
  if (!known) return true;
  if (!c.Value(v, error)) return false;
  if (c.name == "--type") return ParseType(v, o, error);
  if (c.name == "--lon" || c.name == "--lat") {
    (c.name == "--lon" ? raw.lon : raw.lat) = v;
    return true;
  }
  if (c.name == "--sectors") return ParseSectors(v, o, error);
  if (c.name == "--threads") return ParseThreads(v, o, error);
  if (c.name == "--engine") return ParseEngine(v, o, error);
  if (c.name == "--json") {
    o.json = v;
    if (v.empty()) error = "--json needs a file name";
    return !v.empty();
  }
  if (!ValidSessionId(v)) {
    error = "--session-id may hold only letters, digits, '-' and '_' (1 to 128 characters)";
    return false;
  }
  o.session_id = v;
  return true;
}

// One word of the command line (after `verify`, if given).
bool ParseWord(ArgCursor& c, BatchOptions& o, RawArgs& raw, std::string& error) {
  const std::string& a = c.name;
  if (o.verify && a.rfind("-", 0) == 0 && a != "-" && a != "--json") {
    error = "verify takes no option: " + a;
    return false;
  }
  bool known = false;
  if (!ParseValueOption(c, o, raw, known, error)) return false;
  if (known) return true;
  if (a == "--yes" || a == "--quiet" || a == "--resume" || a == "--dry-run") {
    if (!c.Flag(error)) return false;
    (a == "--yes" ? o.yes : a == "--quiet" ? o.quiet : a == "--resume" ? o.resume : o.dry_run) = true;
    return true;
  }
  if (a.size() > 1 && a[0] == '-') {
    error = "unknown option " + a;
    return false;
  }
  raw.positional.push_back(c.args[c.i]);
  return true;
}

// The checks of the command line as a whole: one directory, and both
// coordinates or neither.
bool Complete(const RawArgs& raw, BatchOptions& o, std::string& error) {
  if (raw.positional.size() != 1) {
    error = raw.positional.empty() ? (o.verify ? "missing SESSIONDIR" : "missing WORKDIR")
                                   : "more than one directory given";
    return false;
  }
  o.dir = raw.positional[0];
  if (raw.lon.has_value() != raw.lat.has_value()) {
    error = "give --lon and --lat together, or neither";
    return false;
  }
  if (!raw.lon) return true;
  std::string why;
  const std::optional<double> x = CoordinateArg(*raw.lon, 180.0, why);
  if (!x) {
    error = "longitude '" + *raw.lon + "': " + why;
    return false;
  }
  const std::optional<double> y = CoordinateArg(*raw.lat, 90.0, why);
  if (!y) {
    error = "latitude '" + *raw.lat + "': " + why;
    return false;
  }
  o.has_coords = true;
  o.lon = *x;
  o.lat = *y;
  return true;
}

}  // namespace

std::optional<BatchOptions> ParseBatchArgs(const std::vector<std::string>& args, std::string& error) {
  BatchOptions o;
  RawArgs raw;
  ArgCursor c{args, 0, {}, std::nullopt};
  if (!args.empty() && args[0] == "verify") {
    o.verify = true;
    c.i = 1;
  }
  for (; c.i < args.size(); ++c.i) {
    c.Split();
    if (c.name == "-h" || c.name == "--help") {
      o.help = true;
      return o;
    }
    if (!ParseWord(c, o, raw, error)) return std::nullopt;
  }
  if (!Complete(raw, o, error)) return std::nullopt;
  return o;
}
