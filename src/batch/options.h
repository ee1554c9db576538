// Command line of the terminal driver.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Exit statuses others script against.
inline constexpr int kExitDone = 0;       // done without errors
inline constexpr int kExitRefused = 2;    // bad usage, nothing to do, stopped at the long-job warning
inline constexpr int kExitErrors = 4;     // done, but errors were logged (or verify found problems)
inline constexpr int kExitStopped = 130;  // Ctrl-C

struct BatchOptions {
  bool verify = false;
  std::string dir;  // WORKDIR, or SESSIONDIR for verify
  int type = 0;     // 0 png, 1 tif
  bool has_coords = false;
  double lon = 0.0, lat = 0.0;
  std::vector<std::string> sectors;  // as given; empty: every admitted sector
  std::string session_id;            // empty: today's date
  int threads = 0;                   // 0: all cores
  bool reference = false;
  bool yes = false;
  bool quiet = false;
  bool help = false;
  bool resume = false;   // complete the session: skip sectors already whole
  bool dry_run = false;  // say what a run would do, write nothing
  std::string json;      // summary file; empty: none
};

// Parses argv. On a usage error returns nullopt and puts the reason in
// `error`.
std::optional<BatchOptions> ParseBatchArgs(const std::vector<std::string>& args, std::string& error);

extern const char* const kUsage;
