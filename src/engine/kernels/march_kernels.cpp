// The baseline versions of the march's scan and the choice among all of
// them. The portable version serves every processor; on x86-64 the SSE2
// one is the baseline and the wider ones are taken when the processor and
// the operating system support them.
#include <atomic>
#include <limits>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/march.h"
#include "engine/kernels/march_kernel.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

int32_t ScanScalar(const MarchScanArgs& a, int32_t first, int32_t end, uint32_t* cand, uint32_t* shaded) {
  float* g = a.g;
  for (int32_t s = first; s < end; ++s) {
    const float* h = a.rows[s] + a.x0;
    const float l = a.lc[s];
    uint32_t c = 0;
    for (int j = 0; j < kMarchLanes; ++j) c |= static_cast<uint32_t>(h[j] - g[j] > l) << j;
    if (!c) continue;
    const float u = a.u[s];
    uint32_t sure = 0, live = 0;
    for (int j = 0; j < kMarchLanes; ++j) {
      const bool shade = (c >> j & 1) && h[j] - g[j] > u && h[j] < kInf;
      if (shade) g[j] = kInf;
      sure |= static_cast<uint32_t>(shade) << j;
      live |= static_cast<uint32_t>(g[j] < kInf) << j;
    }
    *shaded |= sure;
    if ((c & ~sure) || !live) {
      *cand = c & ~sure;
      return s;
    }
  }
  *cand = 0;
  return end;
}

#if defined(__SSE2__)
inline __m128 Hits4(const float* h, __m128 g, __m128 l) { return _mm_cmpgt_ps(_mm_sub_ps(_mm_loadu_ps(h), g), l); }

// The candidates m of one step: sure shades out of the race; true when the
// scan must stop here (lanes for the handler in *rest, or none left).
inline bool Settle4(const float* h, float u, const __m128* m, __m128* g, uint32_t* shaded, uint32_t* rest) {
  const __m128 inf = _mm_set1_ps(kInf), uv = _mm_set1_ps(u);
  uint32_t sure = 0, live = 0, other = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128 hv = _mm_loadu_ps(h + 4 * i);
    const __m128 sv = _mm_and_ps(m[i], _mm_and_ps(_mm_cmpgt_ps(_mm_sub_ps(hv, g[i]), uv), _mm_cmplt_ps(hv, inf)));
    g[i] = _mm_or_ps(_mm_andnot_ps(sv, g[i]), _mm_and_ps(sv, inf));
    sure |= static_cast<uint32_t>(_mm_movemask_ps(sv)) << 4 * i;
    other |= static_cast<uint32_t>(_mm_movemask_ps(_mm_andnot_ps(sv, m[i]))) << 4 * i;
    live |= static_cast<uint32_t>(_mm_movemask_ps(_mm_cmplt_ps(g[i], inf))) << 4 * i;
  }
  *shaded |= sure;
  *rest = other;
  return other || !live;
}

int32_t ScanSse2(const MarchScanArgs& a, int32_t first, int32_t end, uint32_t* cand, uint32_t* shaded) {
  __m128 g[4] = {_mm_loadu_ps(a.g), _mm_loadu_ps(a.g + 4), _mm_loadu_ps(a.g + 8), _mm_loadu_ps(a.g + 12)};
  uint32_t rest = 0;
  int32_t s = first;
  for (; s < end; ++s) {
    const float* h = a.rows[s] + a.x0;
    const __m128 l = _mm_set1_ps(a.lc[s]);
    const __m128 m[4] = {Hits4(h, g[0], l), Hits4(h + 4, g[1], l), Hits4(h + 8, g[2], l), Hits4(h + 12, g[3], l)};
    // One test for the block; the lanes only once some lane passed.
    if (_mm_movemask_ps(_mm_or_ps(_mm_or_ps(m[0], m[1]), _mm_or_ps(m[2], m[3]))) &&
        Settle4(h, a.u[s], m, g, shaded, &rest))
      break;
  }
  for (int i = 0; i < 4; ++i) _mm_storeu_ps(a.g + 4 * i, g[i]);
  *cand = rest;
  return s;
}
#endif

struct Kernel {
  const char* name;
  MarchScanFn scan;
};

// Narrowest first.
std::vector<Kernel> Available() {
  std::vector<Kernel> k = {{"scalar", ScanScalar}};
#if defined(__SSE2__)
  k.push_back({"sse2", ScanSse2});
#endif
#if defined(VDB_X86_KERNELS)
  __builtin_cpu_init();
  // The checks include the operating system's saving of the wider registers.
  if (__builtin_cpu_supports("avx2")) k.push_back({"avx2", MarchScanAvx2});
  if (__builtin_cpu_supports("avx512f")) k.push_back({"avx512", MarchScanAvx512});
#endif
  return k;
}

const std::vector<Kernel>& Kernels() {
  static const std::vector<Kernel> k = Available();
  return k;
}

// AVX-512 gains little over AVX2 here (a block's lanes part ways soon) and
// may cost clock speed on some processors: the default stops at AVX2.
size_t DefaultKernel() {
  const std::vector<Kernel>& k = Kernels();
  for (size_t i = k.size(); i-- > 0;)
    if (std::string(k[i].name) != "avx512") return i;
  return 0;
}

std::atomic<size_t> chosen{static_cast<size_t>(-1)};

size_t Chosen() {
  const size_t c = chosen.load(std::memory_order_relaxed);
  return c < Kernels().size() ? c : DefaultKernel();
}

}  // namespace

MarchScanFn MarchScan() { return Kernels()[Chosen()].scan; }

bool SetMarchKernel(const std::string& name) {
  if (name.empty()) {
    chosen.store(static_cast<size_t>(-1));
    return true;
  }
  const std::vector<Kernel>& k = Kernels();
  for (size_t i = 0; i < k.size(); ++i)
    if (name == k[i].name) {
      chosen.store(i);
      return true;
    }
  return false;
}

std::string MarchKernelName() { return Kernels()[Chosen()].name; }

std::vector<std::string> MarchKernels() {
  std::vector<std::string> names;
  for (const Kernel& k : Kernels()) names.push_back(k.name);
  return names;
}
