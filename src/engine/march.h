// The horizon ray march of one hour step as a shadow mask, in its two
// implementations: the reference transcription (MarchRay over HeightAt) and
// the fast engine over a padded mosaic of the 3x3 neighbourhood. Both
// read the neighbourhood in st and give identical masks; the callers record
// the shaded pixels themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "solar/solar.h"

// Ray range actually marched: R cut to the raster size, so that every ray
// point stays inside the 3x3 block of sectors whatever the caller passes.
int32_t EffectiveRange(int32_t R, int32_t W, int32_t H);

// Height the march uses for a pixel's own sample: below 0 counts as 0.
inline float MarchBaseHeight(float raw) { return raw < 0 ? 0.0f : raw; }

// Reference mask: mask[y*W + x] = 1 when MarchRay shades pixel (x, y) with
// its own height raised to 0 when negative, else 0. mask has W*H elements.
void MarchMaskReference(const SunPos& sun, int32_t R, uint8_t* mask);

// The sector and its neighbours as one float raster of (W + 2 pad) x
// (H + 2 pad) samples, laid out for truncation toward zero: Row(Y)[i] holds
// column i for i >= 0 and column i + 1 for i < 0 (column 0 twice), so that
// a ray point trunc(x + f) with f not whole is Row(Y)[x + floor(f)] on
// both sides of column 0. Rows are true rows, -pad <= Y < H + pad. Samples
// of a missing neighbour hold +infinity, so that a ray reaching one always
// stops to look (and then ends unshaded).
struct Mosaic {
  int32_t W = 0, H = 0, pad = 0, stride = 0;
  bool present[9] = {};      // neighbourhood cell present, matflgarea order
  std::vector<float> cells;  // with a few spare floats at the end for whole-block reads
  std::vector<float> rowmax; // per mosaic row: greatest sample, NaN and missing ignored
  // Per sector row y, the heights the march gives its pixels: MarchBaseHeight,
  // and +infinity (never shaded) for NaN and past the row's end.
  std::vector<float> lanes;
  int32_t lanes_stride = 0;
  const float* Lanes(int32_t y) const { return lanes.data() + static_cast<size_t>(y) * lanes_stride; }
  const float* Row(int32_t Y) const { return cells.data() + Offset(Y); }
  float* Row(int32_t Y) { return cells.data() + Offset(Y); }
  size_t Offset(int32_t Y) const {
    return static_cast<size_t>(Y + pad) * static_cast<size_t>(stride) + static_cast<size_t>(pad);
  }
  float RowMax(int32_t Y) const { return rowmax[static_cast<size_t>(Y + pad)]; }
};

// Builds the mosaic of the neighbourhood in st (proj_w x proj_h rasters of
// the cu_ext family) with a margin of `pad` pixels, cut to the raster size.
void BuildMosaic(Mosaic& mo, int32_t pad);

// Fast mask of one hour step from a mosaic whose pad is at least
// EffectiveRange(R, W, H). Same contract as MarchMaskReference, whatever
// the number of threads sharing the rows (0 = one per hardware thread).
// after_row(y), when given, runs once row y's mask is final, on the thread
// that marched it: rows are independent, so what it does with row y alone
// needs no lock.
void MarchMaskFast(const Mosaic& mo, const SunPos& sun, int32_t R, uint8_t* mask, int threads = 1,
                   const std::function<void(int32_t y)>& after_row = nullptr);

// The vector kernel of the fast march: "scalar", "sse2", "avx2" or
// "avx512". By default the widest worth having that the processor runs.
// SetMarchKernel forces one (tests, benchmark) and returns false, changing
// nothing, when this build or processor lacks it; "" restores the default.
// The masks are the same with every kernel.
bool SetMarchKernel(const std::string& name);
std::string MarchKernelName();
std::vector<std::string> MarchKernels();  // the available ones, narrowest first

// Counts of what the fast march did, for the benchmark: ray points read
// (a block's lanes times the steps it marched), lanes shaded, and the
// times a block's scan stopped for work lane by lane. Off by default and
// then free; totals over every thread since the last take.
struct MarchCounts {
  int64_t points = 0, shades = 0, stops = 0;
};
void SetMarchCounting(bool on);
MarchCounts TakeMarchCounts();
