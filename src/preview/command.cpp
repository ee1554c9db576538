// `veltano-batch preview`: its command line and exit status.

#include <cstdio>
#include <filesystem>
#include <optional>

#include "preview/overview.h"

const char* const kPreviewUsage =
    "veltano-batch preview SESSIONDIR [-o FILE.png] [--month 1..12]\n"
    "  -o FILE.png     where to write the picture, default SESSIONDIR/overview.png\n"
    "  --month 1..12   the share of that month's hour steps instead of the year's\n"
    "exit status: 0 written, 4 written with sectors missing or failing verification,\n"
    "             2 bad usage or no session folder, 1 not written\n";

namespace {

struct PreviewArgs {
  PreviewOptions options;
  bool help = false;
};

// A month number 1..12 as the option gives it -> 0..11; -1 when it is not one.
int ParseMonth(const std::string& text) {
  if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  const int m = std::stoi(text);
  return m >= 1 && m <= 12 ? m - 1 : -1;
}

std::optional<PreviewArgs> ParseArgs(const std::vector<std::string>& args, std::string& error) {
  PreviewArgs a;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& w = args[i];
    const bool has_value = i + 1 < args.size();
    if (w == "--help" || w == "-h") {
      a.help = true;
    } else if (w == "-o" || w == "--month") {
      if (!has_value) return error = w + " needs a value", std::nullopt;
      const std::string& v = args[++i];
      if (w == "-o") a.options.output = v;
      else if ((a.options.month = ParseMonth(v)) < 0) return error = "--month takes 1..12, not '" + v + "'", std::nullopt;
    } else if (w.size() > 1 && w[0] == '-') {
      return error = "unknown option " + w, std::nullopt;
    } else if (!a.options.session_dir.empty()) {
      return error = "one SESSIONDIR only", std::nullopt;
    } else {
      a.options.session_dir = w;
    }
  }
  if (a.options.session_dir.empty() && !a.help) return error = "missing SESSIONDIR", std::nullopt;
  return a;
}

}  // namespace

int PreviewCommand(const std::vector<std::string>& args) {
  std::string error;
  const std::optional<PreviewArgs> a = ParseArgs(args, error);
  if (!a) {
    std::fprintf(stderr, "veltano-batch preview: %s\nusage: %s", error.c_str(), kPreviewUsage);
    return 2;
  }
  if (a->help) {
    std::printf("usage: %s", kPreviewUsage);
    return 0;
  }
  const PreviewResult r = WriteSessionOverview(a->options, [](const std::string& line) {
    std::fprintf(stderr, "veltano-batch preview: %s\n", line.c_str());
  });
  if (!r.written) {
    std::fprintf(stderr, "veltano-batch preview: %s\n", r.error.c_str());
    return r.session ? 1 : 2;
  }
  std::printf("preview %s: %d sector%s, %d missing or failed\n", a->options.session_dir.c_str(), r.sectors,
              r.sectors == 1 ? "" : "s", r.failed);
  return r.failed == 0 ? 0 : 4;
}
