// The innermost loop of the fast march, in one version per vector
// width, chosen at run time from what the processor offers. The versions
// differ only in how many lanes one instruction compares; every one gives
// the same answer bit for bit (float subtractions and comparisons).
#pragma once

#include <cstdint>

// Lanes of one block: pixels x0 .. x0+15 of a row.
inline constexpr int kMarchLanes = 16;

// One block's march: rows[s] + x0 is where its lanes read at step s, lc[s]
// and u[s] the lower and upper bounds they compare against, g the lanes'
// heights (+infinity: out of the race, which no sample minus it exceeds,
// so the loop needs no mask of its own).
struct MarchScanArgs {
  const float* const* rows;
  const float* lc;
  const float* u;
  int32_t x0;
  float* g;
};

// Scans steps s = first .. end-1. Lane j is a candidate at step s when
// d = rows[s][x0 + j] - g[j] > lc[s] (false for NaN), and surely shaded when
// also d > u[s] and the sample is finite (an infinite one may be a missing
// neighbour): such lanes are settled in the vector, their bits OR-ed into
// *shaded and their g set to +infinity. Stops at the first step with a
// candidate that is not sure, returning it with those lanes in *cand, or
// at the step that leaves no lane in the race (*cand = 0); returns end
// (and *cand = 0) when neither happens. g is up to date on return.
using MarchScanFn = int32_t (*)(const MarchScanArgs& a, int32_t first, int32_t end, uint32_t* cand,
                                uint32_t* shaded);

// The scan of the kernel in use.
MarchScanFn MarchScan();

// The kernels of the wider instruction sets live in files of their own,
// built for those sets only; they must only be called after a check.
#if defined(VDB_X86_KERNELS)
int32_t MarchScanAvx2(const MarchScanArgs& a, int32_t first, int32_t end, uint32_t* cand, uint32_t* shaded);
int32_t MarchScanAvx512(const MarchScanArgs& a, int32_t first, int32_t end, uint32_t* cand, uint32_t* shaded);
#endif
