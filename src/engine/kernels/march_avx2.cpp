// The march's scan on 256-bit vectors. This file alone is built for AVX2
// (and never with fused multiply-add): it must hold nothing but the scan,
// with no inline function shared with other files, so no AVX2 code can
// reach a processor without it.
#include "engine/kernels/march_kernel.h"

#if defined(VDB_X86_KERNELS) && defined(__AVX2__)
#include <immintrin.h>

#include <limits>

namespace {

inline __m256 Hits(const float* h, __m256 g0, __m256 g1, __m256 l) {
  return _mm256_or_ps(_mm256_cmp_ps(_mm256_sub_ps(_mm256_loadu_ps(h), g0), l, _CMP_GT_OQ),
                      _mm256_cmp_ps(_mm256_sub_ps(_mm256_loadu_ps(h + 8), g1), l, _CMP_GT_OQ));
}

inline uint32_t Bits(__m256 m0, __m256 m1) {
  return static_cast<uint32_t>(_mm256_movemask_ps(m0)) | static_cast<uint32_t>(_mm256_movemask_ps(m1)) << 8;
}

// One step of the block at h: sure shades out of the race; true when the
// scan must stop here (lanes for the handler in *cand, or none left).
inline bool Settle(const float* h, float lc, float u, __m256& g0, __m256& g1, uint32_t* shaded, uint32_t* cand) {
  const __m256 inf = _mm256_set1_ps(std::numeric_limits<float>::infinity());
  const __m256 l = _mm256_set1_ps(lc), uv = _mm256_set1_ps(u);
  const __m256 h0 = _mm256_loadu_ps(h), h1 = _mm256_loadu_ps(h + 8);
  const __m256 d0 = _mm256_sub_ps(h0, g0), d1 = _mm256_sub_ps(h1, g1);
  const __m256 c0 = _mm256_cmp_ps(d0, l, _CMP_GT_OQ), c1 = _mm256_cmp_ps(d1, l, _CMP_GT_OQ);
  const __m256 s0 = _mm256_and_ps(c0, _mm256_and_ps(_mm256_cmp_ps(d0, uv, _CMP_GT_OQ), _mm256_cmp_ps(h0, inf, _CMP_LT_OQ)));
  const __m256 s1 = _mm256_and_ps(c1, _mm256_and_ps(_mm256_cmp_ps(d1, uv, _CMP_GT_OQ), _mm256_cmp_ps(h1, inf, _CMP_LT_OQ)));
  g0 = _mm256_blendv_ps(g0, inf, s0);
  g1 = _mm256_blendv_ps(g1, inf, s1);
  *shaded |= Bits(s0, s1);
  *cand = Bits(_mm256_andnot_ps(s0, c0), _mm256_andnot_ps(s1, c1));
  return *cand || !Bits(_mm256_cmp_ps(g0, inf, _CMP_LT_OQ), _mm256_cmp_ps(g1, inf, _CMP_LT_OQ));
}

}  // namespace

int32_t MarchScanAvx2(const MarchScanArgs& a, int32_t first, int32_t end, uint32_t* cand, uint32_t* shaded) {
  __m256 g0 = _mm256_loadu_ps(a.g), g1 = _mm256_loadu_ps(a.g + 8);
  const float* const* rows = a.rows;
  const int32_t x0 = a.x0;
  const auto done = [&](int32_t at) {
    _mm256_storeu_ps(a.g, g0);
    _mm256_storeu_ps(a.g + 8, g1);
    return at;
  };
  *cand = 0;
  int32_t s = first;
  // Two steps per test: the loop's own cost is shared by both.
  for (; s + 1 < end; s += 2) {
    const __m256 x = Hits(rows[s] + x0, g0, g1, _mm256_broadcast_ss(a.lc + s));
    const __m256 y = Hits(rows[s + 1] + x0, g0, g1, _mm256_broadcast_ss(a.lc + s + 1));
    if (_mm256_testz_ps(_mm256_or_ps(x, y), _mm256_or_ps(x, y))) continue;
    if (!_mm256_testz_ps(x, x) && Settle(rows[s] + x0, a.lc[s], a.u[s], g0, g1, shaded, cand)) return done(s);
    if (Settle(rows[s + 1] + x0, a.lc[s + 1], a.u[s + 1], g0, g1, shaded, cand)) return done(s + 1);
  }
  if (s < end && Settle(rows[s] + x0, a.lc[s], a.u[s], g0, g1, shaded, cand)) return done(s);
  return done(end);
}
#endif
