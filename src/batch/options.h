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
};

// Parses argv. On a usage error returns nullopt and puts the reason in
// `error`.
std::optional<BatchOptions> ParseBatchArgs(const std::vector<std::string>& args, std::string& error);

// A coordinate typed in the plain form the coordinate fields accept: an
// optional leading '-', digits, at most one '.', at most 15 digits on either
// side, within -limit..limit. On failure returns nullopt with the reason.
std::optional<double> ParseCoordinate(const std::string& text, double limit, std::string& error);

// Letters, digits, '-' and '_' only, 1 to 128 characters.
bool ValidSessionId(const std::string& id);

extern const char* const kUsage;
