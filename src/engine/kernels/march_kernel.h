// The innermost loop of the fast march, in one version per vector
// width, chosen at run time from what the processor offers. The versions
// differ only in how many lanes one instruction compares; every one gives
// the same answer bit for bit (a float subtraction and a comparison).
#pragma once

#include <cstdint>

// Lanes of one block: pixels x0 .. x0+15 of a row.
inline constexpr int kMarchLanes = 16;

// Scans steps s = first .. end-1 of a block: lane j is a candidate at step s
// when rows[s][x0 + j] - g[j] > lc[s] (false for NaN). A lane that is out
// of the race holds g = +infinity, which no sample minus it exceeds, so the
// loop needs no mask of its own. Returns the first step with a candidate
// and stores the candidates in *cand; returns end (and *cand = 0) when
// there is none.
using MarchScanFn = int32_t (*)(const float* const* rows, const float* lc, int32_t first, int32_t end,
                                int32_t x0, const float* g, uint32_t* cand);

// The scan of the kernel in use.
MarchScanFn MarchScan();

// The kernels of the wider instruction sets live in files of their own,
// built for those sets only; they must only be called after a check.
#if defined(VDB_X86_KERNELS)
int32_t MarchScanAvx2(const float* const* rows, const float* lc, int32_t first, int32_t end, int32_t x0,
                      const float* g, uint32_t* cand);
int32_t MarchScanAvx512(const float* const* rows, const float* lc, int32_t first, int32_t end, int32_t x0,
                        const float* g, uint32_t* cand);
#endif
