// Shared test fixtures: a fresh project state and recording platform per
// test, temporary work directories and small rasters written to disk.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/memory_platform.h"
#include "terrain/state.h"

namespace fs = std::filesystem;

// Resets st and installs a fresh MemoryPlatform for each test.
class StateTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  MemoryPlatform plat;
};

// A temporary directory removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

using HeightFn = std::function<uint32_t(int x, int y)>;
using FloatFn = std::function<float(int x, int y)>;

// 24-bit RGB PNG whose pixel (x, y) has the colour value f(x, y).
void WritePngRgb(const fs::path& path, int w, int h, const HeightFn& f);
// Float32 single-sample stripped TIFF.
void WriteTiffFloat(const fs::path& path, int w, int h, const FloatFn& f);

// Reads a PNG (or a package, with the signature restored) as 8-bit RGB
// values v = R*65536 + G*256 + B. Fails the test on a decode error.
std::vector<uint32_t> ReadPngValues(const fs::path& path, int& w, int& h);

std::vector<uint8_t> ReadFileBytes(const fs::path& path);
void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes);
