// Files on disk: an owning handle whose close is checked, and the one way
// this program replaces a file, through a temporary name in the same folder.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

// An open stdio file, closed once. Close() reports whether buffered data
// reached the disk (a full disk may show only there); the destructor closes
// a file nobody closed, for the paths that abandon it anyway.
class File {
 public:
  File() = default;
  File(const std::string& path, const char* mode) : f_(std::fopen(path.c_str(), mode)) {}
  ~File() {
    if (f_) std::fclose(f_);
  }
  File(File&& o) noexcept : f_(o.f_) { o.f_ = nullptr; }
  File& operator=(File&& o) noexcept {
    if (this != &o) {
      if (f_) std::fclose(f_);
      f_ = o.f_;
      o.f_ = nullptr;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  explicit operator bool() const { return f_ != nullptr; }
  std::FILE* get() const { return f_; }
  // True when all of `size` bytes were written.
  bool Write(const void* data, size_t size) { return f_ && std::fwrite(data, 1, size, f_) == size; }
  // True when the file was open and closed cleanly.
  bool Close() {
    if (!f_) return false;
    const bool ok = std::fclose(f_) == 0;
    f_ = nullptr;
    return ok;
  }

 private:
  std::FILE* f_ = nullptr;
};

// An open directory stream, closed once.
struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// The hidden name a file is written under before it takes `path`'s name:
// ".<name>.tmp-<pid>-<n>" in the same folder, never a name the directory
// scan or verify would take for a raster or an output.
std::string TempPathFor(const std::string& path);

// Whether a file name (no folder) is one that TempPathFor makes.
bool IsTempName(const std::string& name);

// Writes `size` bytes to a temporary file beside `path`, checks every write
// and the close, then renames it over `path`. Any failure removes the
// temporary file, leaves a previous file of that name as it was, prints the
// reason on standard error and returns false.
bool WriteFileAtomic(const std::string& path, const void* data, size_t size);
