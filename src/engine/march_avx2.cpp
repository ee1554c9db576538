// The march's scan on 256-bit vectors. This file alone is built for AVX2
// (and never with fused multiply-add): it must hold nothing but the scan,
// with no inline function shared with other files, so no AVX2 code can
// reach a processor without it.
#include "engine/march_kernel.h"

#if defined(VDB_X86_KERNELS) && defined(__AVX2__)
#include <immintrin.h>

int32_t MarchScanAvx2(const float* const* rows, const float* lc, int32_t first, int32_t end, int32_t x0,
                      const float* g, uint32_t live, uint32_t* cand) {
  const __m256 g0 = _mm256_loadu_ps(g), g1 = _mm256_loadu_ps(g + 8);
  for (int32_t s = first; s < end; ++s) {
    const float* h = rows[s] + x0;
    const __m256 l = _mm256_set1_ps(lc[s]);
    const uint32_t m0 =
        static_cast<uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(_mm256_sub_ps(_mm256_loadu_ps(h), g0), l, _CMP_GT_OQ)));
    const uint32_t m1 = static_cast<uint32_t>(
        _mm256_movemask_ps(_mm256_cmp_ps(_mm256_sub_ps(_mm256_loadu_ps(h + 8), g1), l, _CMP_GT_OQ)));
    const uint32_t c = (m0 | m1 << 8) & live;
    if (c) {
      *cand = c;
      return s;
    }
  }
  *cand = 0;
  return end;
}
#endif
