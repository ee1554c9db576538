// Checks a session folder before upload: every sector's sixteen packages and
// elevation image, their format and the consistency of their counts.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// The same checks for one sector id of the folder alone: its sixteen
// packages and elevation image present, decodable, of one size, and their
// counts consistent. `sectors` is 1; no problem means the sector is whole.
VerifyResult VerifySector(const std::string& session_dir, const std::string& id,
                          const std::function<void(const std::string&)>& problem);

// A session image decoded as 8-bit RGB values v = R*65536 + G*256 + B,
// row-major, row 0 north.
struct SessionImage {
  uint32_t w = 0, h = 0;
  std::vector<uint32_t> v;
};

// Reads a package (`package`: its stamp checked) or a plain PNG of a
// session folder. Absent when it cannot be read or decoded; `why` then
// holds the problem line verify would print.
std::optional<SessionImage> ReadSessionImage(const std::string& path, bool package, std::string* why = nullptr);
