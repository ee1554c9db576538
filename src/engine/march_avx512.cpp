// The march's scan on 512-bit vectors: one comparison covers a block. Built
// for AVX-512F only (and never with fused multiply-add); like the AVX2 file
// it holds nothing else.
#include "engine/march_kernel.h"

#if defined(VDB_X86_KERNELS) && defined(__AVX512F__)
#include <immintrin.h>

int32_t MarchScanAvx512(const float* const* rows, const float* lc, int32_t first, int32_t end, int32_t x0,
                        const float* g, uint32_t live, uint32_t* cand) {
  const __m512 gv = _mm512_loadu_ps(g);
  const __mmask16 lv = static_cast<__mmask16>(live);
  for (int32_t s = first; s < end; ++s) {
    const __m512 d = _mm512_sub_ps(_mm512_loadu_ps(rows[s] + x0), gv);
    const __mmask16 c = _mm512_mask_cmp_ps_mask(lv, d, _mm512_set1_ps(lc[s]), _CMP_GT_OQ);
    if (c) {
      *cand = static_cast<uint32_t>(c);
      return s;
    }
  }
  *cand = 0;
  return end;
}
#endif
