// The march's scan on 512-bit vectors: one comparison covers a block. Built
// for AVX-512F only (and never with fused multiply-add); like the AVX2 file
// it holds nothing else.
#include "engine/kernels/march_kernel.h"

#if defined(VDB_X86_KERNELS) && defined(__AVX512F__)
#include <immintrin.h>

int32_t MarchScanAvx512(const float* const* rows, const float* lc, int32_t first, int32_t end, int32_t x0,
                        const float* g, uint32_t* cand) {
  const __m512 gv = _mm512_loadu_ps(g);
  int32_t s = first;
  for (; s + 1 < end; s += 2) {
    const __mmask16 a =
        _mm512_cmp_ps_mask(_mm512_sub_ps(_mm512_loadu_ps(rows[s] + x0), gv), _mm512_set1_ps(lc[s]), _CMP_GT_OQ);
    const __mmask16 b = _mm512_cmp_ps_mask(_mm512_sub_ps(_mm512_loadu_ps(rows[s + 1] + x0), gv),
                                           _mm512_set1_ps(lc[s + 1]), _CMP_GT_OQ);
    if (a | b) {
      *cand = a ? static_cast<uint32_t>(a) : static_cast<uint32_t>(b);
      return a ? s : s + 1;
    }
  }
  if (s < end) {
    const __mmask16 c =
        _mm512_cmp_ps_mask(_mm512_sub_ps(_mm512_loadu_ps(rows[s] + x0), gv), _mm512_set1_ps(lc[s]), _CMP_GT_OQ);
    if (c) {
      *cand = static_cast<uint32_t>(c);
      return s;
    }
  }
  *cand = 0;
  return end;
}
#endif
