// Shared by the fuzz targets: a scratch file for the input and a fresh
// recording platform per input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/memory_platform.h"
#include "terrain/state.h"

namespace fuzz {

// Removes the scratch paths when the fuzzer ends normally.
struct ScratchCleaner {
  std::vector<std::string> paths;
  ~ScratchCleaner() {
    std::error_code ec;
    for (const auto& p : paths) std::filesystem::remove_all(p, ec);
  }
};

// A per-process path in memory-backed storage when there is some, so the
// loaders read the input through the same path as a real file.
inline std::string ScratchPath(const char* name) {
  static ScratchCleaner cleaner;
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string path = std::string(dir) + "/vdb-fuzz-" + std::to_string(getpid()) + "-" + name;
  cleaner.paths.push_back(path);
  return path;
}

inline void WriteAll(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
}

// Installs a fresh MemoryPlatform for one input and resets the project
// state afterwards, so no input sees what an earlier one left.
class Session {
 public:
  Session() { SetPlatform(&plat); }
  ~Session() {
    ResetProjectState();
    SetPlatform(nullptr);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  MemoryPlatform plat;
};

// A property the code promises failed: stop with a crash report.
#define VDB_FUZZ_CHECK(cond)                                                        \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

}  // namespace fuzz
