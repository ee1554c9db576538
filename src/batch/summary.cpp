#include "summary.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "catalogue/coords_file.h"

#include "terrain/file.h"

#ifndef VDB_VERSION
#define VDB_VERSION "unknown"
#endif

namespace {

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (const char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string Number(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string Strings(const std::vector<std::string>& v) {
  std::string out = "[";
  for (size_t i = 0; i < v.size(); ++i) out += (i ? ", " : "") + Quote(v[i]);
  return out + "]";
}

// "key": value pairs as one object.
using Fields = std::vector<std::pair<std::string, std::string>>;
std::string Object(const Fields& fields, const std::string& indent) {
  std::string out = "{";
  for (size_t i = 0; i < fields.size(); ++i)
    out += (i ? ",\n" : "\n") + indent + "  " + Quote(fields[i].first) + ": " + fields[i].second;
  return out + "\n" + indent + "}";
}

Fields Head(const SummaryHead& h, const char* command) {
  return {{"program", Quote("veltano-batch")},
          {"version", Quote(VDB_VERSION)},
          {"command", Quote(command)},
          {"workdir", Quote(h.workdir)},
          {"session", Quote(h.session)},
          {"longitude", h.has_coords ? Number(h.longitude) : "null"},
          {"latitude", h.has_coords ? Number(h.latitude) : "null"}};
}

struct Tally {
  int done = 0, skipped = 0, errors = 0, warnings = 0;
};

// One sector's object; its lines counted into the tally.
std::string SectorJson(const SectorOutcome& o, const std::vector<std::string>& errors,
                       const std::vector<std::string>& warnings, Tally& t) {
  const char* status = "stopped";
  if (o.status == SectorOutcome::Status::kSkipped) {
    status = "skipped";
    ++t.skipped;
  } else if (o.status == SectorOutcome::Status::kDone) {
    const bool failed = !errors.empty() || o.files != 17;
    status = failed ? "error" : "done";
    t.done += !failed;
  }
  return Object({{"id", Quote(o.id)},
                 {"status", Quote(status)},
                 {"range", o.range >= 0 ? std::to_string(o.range) : "null"},
                 {"seconds", Number(o.seconds)},
                 {"files", std::to_string(o.files)},
                 {"errors", Strings(errors)},
                 {"warnings", Strings(warnings)}},
                "    ");
}

}  // namespace

bool IsErrorLine(const std::string& line) { return line.rfind("ERROR", 0) == 0; }
bool IsWarningLine(const std::string& line) { return line.rfind("WARNING", 0) == 0; }

std::string RunJson(const SummaryHead& head, const RunSummary& run, const std::vector<TerminalPlatform::RunLine>& lines,
                    double seconds) {
  const size_t n = run.sectors.size();
  // Slot n holds the lines of no sector (the run's start).
  std::vector<std::vector<std::string>> errors(n + 1), warnings(n + 1);
  for (const auto& l : lines) {
    const size_t slot = l.sector >= 0 && static_cast<size_t>(l.sector) < n ? static_cast<size_t>(l.sector) : n;
    if (IsErrorLine(l.text)) errors[slot].push_back(l.text);
    if (IsWarningLine(l.text)) warnings[slot].push_back(l.text);
  }
  Tally t;
  std::string sectors = "[";
  for (size_t i = 0; i < n; ++i)
    sectors += (i ? ", " : "") + SectorJson(run.sectors[i], errors[i], warnings[i], t);
  sectors += "]";
  for (size_t i = 0; i <= n; ++i) {
    t.errors += static_cast<int>(errors[i].size());
    t.warnings += static_cast<int>(warnings[i].size());
  }
  Fields f = Head(head, "run");
  f.push_back({"sectors", sectors});
  f.push_back({"errors", Strings(errors[n])});
  f.push_back({"warnings", Strings(warnings[n])});
  f.push_back({"totals", Object({{"sectors", std::to_string(n)},
                                  {"done", std::to_string(t.done)},
                                  {"skipped", std::to_string(t.skipped)},
                                  {"errors", std::to_string(t.errors)},
                                  {"warnings", std::to_string(t.warnings)},
                                  {"seconds", Number(seconds)},
                                  {"estimated_seconds", Number(run.estimated_minutes * 60.0)}},
                                 "  ")});
  f.push_back({"exit_status", std::to_string(head.exit_status)});
  return Object(f, "") + "\n";
}

std::string VerifyJson(const SummaryHead& head, const std::vector<std::string>& problems, int sectors, int files) {
  Fields f = Head(head, "verify");
  f.push_back({"problems", Strings(problems)});
  f.push_back({"sectors", std::to_string(sectors)});
  f.push_back({"files", std::to_string(files)});
  f.push_back({"exit_status", std::to_string(head.exit_status)});
  return Object(f, "") + "\n";
}

SummaryHead VerifyHead(const std::string& session_dir) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(session_dir).lexically_normal();
  if (!dir.has_filename()) dir = dir.parent_path();
  SummaryHead h;
  const std::string name = dir.filename().string();
  h.session = name.rfind("Session", 0) == 0 ? name.substr(7) : name;
  h.workdir = dir.has_parent_path() ? dir.parent_path().string() : ".";
  h.has_coords = ReadCoordinatesFile((fs::path(h.workdir) / kCoordinatesFile).string(), h.longitude, h.latitude);
  return h;
}

bool WriteSummary(const std::string& path, const std::string& text) {
  return WriteFileAtomic(path, text.data(), text.size());
}
