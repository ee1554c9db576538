// The machine-readable summaries of --json: a run's and verify's, as JSON
// whose field names are documented in the README and kept stable.
#pragma once

#include <string>
#include <vector>

#include "run/run.h"
#include "terminal_platform.h"

// What the driver knows of the project besides the run itself.
struct SummaryHead {
  std::string workdir, session;
  bool has_coords = false;
  double longitude = 0, latitude = 0;
  int exit_status = 0;
};

// A processing run: each sector the run reached, its console error and
// warning lines, and the totals.
std::string RunJson(const SummaryHead& head, const RunSummary& run, const std::vector<TerminalPlatform::RunLine>& lines,
                    double seconds);

// The head of verify's summary: the work directory is the session
// folder's parent, the coordinates those of its coordinates file.
SummaryHead VerifyHead(const std::string& session_dir);

// verify: its problem lines and counts.
std::string VerifyJson(const SummaryHead& head, const std::vector<std::string>& problems, int sectors, int files);

// A console line that is an error ("ERROR...") or a warning ("WARNING...").
bool IsErrorLine(const std::string& line);
bool IsWarningLine(const std::string& line);

// Writes `text` to `path` whole or not at all; false (reason on standard
// error) when it could not.
bool WriteSummary(const std::string& path, const std::string& text);
