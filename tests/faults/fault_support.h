// Helpers of the fault tests: the batch driver in a child process (with a
// file-size limit, or interrupted), small projects on disk, and the check
// that a session folder holds only whole files.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/fixtures.h"

namespace faults {

constexpr const char* kLon = "6.8694";
constexpr const char* kLat = "45.9237";

// The veltano-batch program of this build.
fs::path BatchExe();

// The 3 x 3 grid 0101..0303 in `work`, PNG or float TIFF rasters.
void MakeGrid(const fs::path& work, bool tif = false, int size = 120);

// veltano-batch running in a child process, standard input on /dev/null,
// standard output discarded and standard error collected through a pipe
// (a pipe, not a file: the file-size limit must meet only the outputs).
class BatchChild {
 public:
  // Starts the driver with `args`. A `fsize_limit` above 0 becomes the
  // child's RLIMIT_FSIZE, with SIGXFSZ ignored, so that writes past it fail
  // with EFBIG as on a full disk.
  explicit BatchChild(const std::vector<std::string>& args, long fsize_limit = 0);
  ~BatchChild();
  BatchChild(const BatchChild&) = delete;
  BatchChild& operator=(const BatchChild&) = delete;

  // Waits until standard error holds `text`; false when the child closed it
  // first or `seconds` passed.
  bool WaitForText(const std::string& text, double seconds);
  // Sends `sig` (Ctrl-C by default).
  void Interrupt(int sig = SIGINT);
  // Waits for the end; the exit status (128 + signal when killed), or -1
  // after `seconds`, when the child is killed.
  int Wait(double seconds = 300);
  // Standard error so far (all of it once Wait returned).
  std::string err() const;

 private:
  void Read(int fd);

  pid_t pid_ = -1;
  bool reaped_ = false;
  std::thread reader_;
  mutable std::mutex mu_;
  std::condition_variable grew_;
  std::string err_;
  bool closed_ = false;
};

// Runs the driver to its end: exit status and standard error.
struct Outcome {
  int code = -1;
  std::string err;
};
Outcome RunBatch(const std::vector<std::string>& args, long fsize_limit = 0);

// Every package name and elevation name of `ids`.
std::set<std::string> OutputNames(const std::vector<std::string>& ids);

// The bytes of every regular file of a folder, by name.
std::map<std::string, std::vector<uint8_t>> FolderBytes(const fs::path& dir);

// Problems of a session folder, one line each: a leftover temporary (hidden)
// file, an entry that is not a regular file, a package without its mark, a
// file that does not end with the end chunk or does not decode whole.
std::vector<std::string> SessionProblems(const fs::path& session);

// Occurrences of `line` as a whole line of `text`.
int CountLines(const std::string& text, const std::string& line);

bool Contains(const std::string& text, const std::string& part);

}  // namespace faults
