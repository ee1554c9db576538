// Helpers shared by the processing-run tests: small projects on disk and a
// listing of the session folder.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace runtest {

// Terrain in metres around 1000: ridges running north-south, repeating
// every 120 pixels and drifting with the row, a gentle north-south swell,
// and a 7 m raised block in each 120-pixel cell. Every rise along the scan
// order, row ends included, stays small, so the ray range stays short
// (about 40 pixels at 46 degrees) and the runs quick, while low suns still
// shade plenty across sector borders.
inline uint32_t Hill(int x, int y, int ox, int oy) {
  const double gx = x + ox, gy = y + oy;
  constexpr double kTwoPi = 6.283185307179586;
  double h = 1000.0 + 40.0 * (1.0 - std::cos(kTwoPi * gx / 120.0 + gy / 50.0)) + 25.0 * std::sin(kTwoPi * gy / 250.0);
  const int cx = ((x + ox) % 120 + 120) % 120, cy = ((y + oy) % 120 + 120) % 120;
  if (cx >= 30 && cx < 60 && cy < 70) h += 7.0;
  return static_cast<uint32_t>(std::lround(h));
}

// Sector `col`/`row` of a grid of `size` pixel sectors, cut from one hill.
inline HeightFn GridHill(int col, int row, int size, int rows = 3) {
  const int ox = (col - 1) * size, oy = (rows - row) * size;
  return [=](int x, int y) { return Hill(x, y, ox, oy); };
}

inline std::string SectorName(int col, int row, const std::string& ext) {
  std::string name;
  for (int v : {col, row}) {
    name += static_cast<char>('0' + v / 10 % 10);
    name += static_cast<char>('0' + v % 10);
  }
  return name + ext;
}

// Name -> (size, modification time) of every entry of a folder.
struct Entry {
  uintmax_t size = 0;
  fs::file_time_type time;
  bool operator==(const Entry&) const = default;
};
inline std::map<std::string, Entry> Listing(const fs::path& dir) {
  std::map<std::string, Entry> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    Entry x;
    x.size = e.is_regular_file() ? e.file_size() : 0;
    x.time = e.last_write_time();
    out[e.path().filename().string()] = x;
  }
  return out;
}

}  // namespace runtest
