// Builds a sector's 3x3 neighbourhood and its result buffers in st by hand,
// from one height field covering all nine rasters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "solar/solar.h"

// Heights of the 3W x 3H block of sectors, row-major, north-west corner
// first: sector pixel (x, y) is field element (y + H) * 3W + (x + W).
struct Field {
  int W = 0, H = 0;
  std::vector<float> v;
  Field(int w, int h, float fill = 0) : W(w), H(h), v(static_cast<size_t>(9) * w * h, fill) {}
  // Sector coordinates, -W <= x < 2W, -H <= y < 2H.
  float& at(int x, int y) { return v[static_cast<size_t>(y + H) * 3 * W + (x + W)]; }
};

// Neighbour bits: bit f set = matflgarea[f] for the eight neighbours
// (f = 0..8 without 4).
constexpr uint16_t kAllNeighbours = 0x1EF;

// Installs the field as the current sector: float rasters (float_family) or
// 24-bit surfaces holding the heights as pixel values (values must then be
// whole numbers in 0..16777215), the presence flags, zeroed result
// surfaces, the kGraphSide square graph buffer and zeroed counters.
void InstallSector(const Field& f, bool float_family, uint16_t present = kAllNeighbours);

// A sun for the given marching direction angle (sigma*A) and elevation.
SunPos SunToward(int sign, double azimuth, double elevation);
