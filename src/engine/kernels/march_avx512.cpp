// The march's scan on 512-bit vectors: one comparison covers a block. Built
// for AVX-512F only (and never with fused multiply-add); like the AVX2 file
// it holds nothing else.
#include "engine/kernels/march_kernel.h"

#if defined(VDB_X86_KERNELS) && defined(__AVX512F__)
#include <immintrin.h>

#include <limits>

namespace {

inline __mmask16 Hits(const float* h, __m512 g, float l) {
  return _mm512_cmp_ps_mask(_mm512_sub_ps(_mm512_loadu_ps(h), g), _mm512_set1_ps(l), _CMP_GT_OQ);
}

// One step of the block at h: sure shades out of the race; true when the
// scan must stop here (lanes for the handler in *cand, or none left).
inline bool Settle(const float* h, float lc, float u, __m512& g, uint32_t* shaded, uint32_t* cand) {
  const __m512 inf = _mm512_set1_ps(std::numeric_limits<float>::infinity());
  const __m512 hv = _mm512_loadu_ps(h);
  const __m512 d = _mm512_sub_ps(hv, g);
  const __mmask16 c = _mm512_cmp_ps_mask(d, _mm512_set1_ps(lc), _CMP_GT_OQ);
  const __mmask16 sure = static_cast<__mmask16>(_mm512_mask_cmp_ps_mask(c, d, _mm512_set1_ps(u), _CMP_GT_OQ) &
                                                _mm512_cmp_ps_mask(hv, inf, _CMP_LT_OQ));
  g = _mm512_mask_mov_ps(g, sure, inf);
  *shaded |= sure;
  *cand = static_cast<uint32_t>(c & ~sure);
  return *cand || !_mm512_cmp_ps_mask(g, inf, _CMP_LT_OQ);
}

}  // namespace

int32_t MarchScanAvx512(const MarchScanArgs& a, int32_t first, int32_t end, uint32_t* cand, uint32_t* shaded) {
  __m512 g = _mm512_loadu_ps(a.g);
  const float* const* rows = a.rows;
  const int32_t x0 = a.x0;
  int32_t s = first;
  *cand = 0;
  for (; s < end; ++s)
    if (Hits(rows[s] + x0, g, a.lc[s]) && Settle(rows[s] + x0, a.lc[s], a.u[s], g, shaded, cand)) break;
  _mm512_storeu_ps(a.g, g);
  return s;
}
#endif
