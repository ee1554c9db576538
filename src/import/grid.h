// The program's sector grid over an imported area. Pixel rows grow south
// from the area's north-west corner; sector columns grow east from 01 and
// sector rows grow north from 01, so the north-west sector is (1, rows).
#pragma once

#include <cstdint>
#include <string>

inline constexpr int kMaxSectors = 99;  // two digits per coordinate in a sector name

struct SectorGrid {
  int size = 0;            // sector side in pixels
  int64_t cols = 0, rows = 0;
  bool Fits() const { return cols >= 1 && rows >= 1 && cols <= kMaxSectors && rows <= kMaxSectors; }
  // Top-left pixel of sector (col, row) counted from the area's north-west corner.
  int64_t X0(int col) const { return int64_t{col - 1} * size; }
  int64_t Y0(int row) const { return (rows - row) * size; }
};

// The sectors that cover an area of w x h pixels; the last column and the
// southernmost row may reach past it (they are padded with no data).
inline SectorGrid LayGrid(int64_t w, int64_t h, int size) {
  return SectorGrid{size, (w + size - 1) / size, (h + size - 1) / size};
}

// "CCRR.tif" or "CCRR.png".
inline std::string SectorFileName(int col, int row, bool png) {
  const char name[] = {static_cast<char>('0' + col / 10), static_cast<char>('0' + col % 10),
                       static_cast<char>('0' + row / 10), static_cast<char>('0' + row % 10), '\0'};
  return std::string(name) + (png ? ".png" : ".tif");
}
