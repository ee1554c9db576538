#include "terrain/file.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace {
constexpr const char* kTempMark = ".tmp-";
}

std::string TempPathFor(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + name + kTempMark + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

bool IsTempName(const std::string& name) {
  return !name.empty() && name[0] == '.' && name.find(kTempMark) != std::string::npos;
}

bool WriteFileAtomic(const std::string& path, const void* data, size_t size) {
  const std::string tmp = TempPathFor(path);
  File f(tmp, "wb");
  if (!f) {
    std::perror("fopen error");
    return false;
  }
  const bool written = f.Write(data, size);
  if (!f.Close() || !written) {
    std::perror("write error");
    std::remove(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::perror("rename error");
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}
