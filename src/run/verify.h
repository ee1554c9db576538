// Checks a session folder before upload: every sector's sixteen packages and
// elevation image, their format and the consistency of their counts.
#pragma once

#include <functional>
#include <string>

struct VerifyResult {
  int sectors = 0;   // sector ids found in the folder
  int files = 0;     // files read and checked
  int problems = 0;  // lines handed to the problem callback
};

// Verifies `session_dir` (a "Session..." folder inside a work directory).
// The hour-mask and month-count limits use the latitude of the work
// directory's coordinates file. Each problem is reported once, as one
// readable line, through `problem`.
VerifyResult VerifySession(const std::string& session_dir,
                           const std::function<void(const std::string&)>& problem);
