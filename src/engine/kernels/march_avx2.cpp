// The march's scan on 256-bit vectors. This file alone is built for AVX2
// (and never with fused multiply-add): it must hold nothing but the scan,
// with no inline function shared with other files, so no AVX2 code can
// reach a processor without it.
#include "engine/kernels/march_kernel.h"

#if defined(VDB_X86_KERNELS) && defined(__AVX2__)
#include <immintrin.h>

namespace {

inline __m256 Hits(const float* h, __m256 g0, __m256 g1, __m256 l) {
  return _mm256_or_ps(_mm256_cmp_ps(_mm256_sub_ps(_mm256_loadu_ps(h), g0), l, _CMP_GT_OQ),
                      _mm256_cmp_ps(_mm256_sub_ps(_mm256_loadu_ps(h + 8), g1), l, _CMP_GT_OQ));
}

inline uint32_t Lanes(const float* h, __m256 g0, __m256 g1, __m256 l) {
  const uint32_t m0 =
      static_cast<uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(_mm256_sub_ps(_mm256_loadu_ps(h), g0), l, _CMP_GT_OQ)));
  const uint32_t m1 = static_cast<uint32_t>(
      _mm256_movemask_ps(_mm256_cmp_ps(_mm256_sub_ps(_mm256_loadu_ps(h + 8), g1), l, _CMP_GT_OQ)));
  return m0 | m1 << 8;
}

}  // namespace

int32_t MarchScanAvx2(const float* const* rows, const float* lc, int32_t first, int32_t end, int32_t x0,
                      const float* g, uint32_t* cand) {
  const __m256 g0 = _mm256_loadu_ps(g), g1 = _mm256_loadu_ps(g + 8);
  int32_t s = first;
  // Two steps per test: the loop's own cost is shared by both.
  for (; s + 1 < end; s += 2) {
    const __m256 la = _mm256_broadcast_ss(lc + s), lb = _mm256_broadcast_ss(lc + s + 1);
    const __m256 a = Hits(rows[s] + x0, g0, g1, la);
    const __m256 b = Hits(rows[s + 1] + x0, g0, g1, lb);
    if (!_mm256_testz_ps(_mm256_or_ps(a, b), _mm256_or_ps(a, b))) {
      if (_mm256_testz_ps(a, a)) ++s;
      *cand = Lanes(rows[s] + x0, g0, g1, _mm256_broadcast_ss(lc + s));
      return s;
    }
  }
  if (s < end) {
    const uint32_t c = Lanes(rows[s] + x0, g0, g1, _mm256_broadcast_ss(lc + s));
    if (c) {
      *cand = c;
      return s;
    }
  }
  *cand = 0;
  return end;
}
#endif
