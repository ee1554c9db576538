// The baseline versions of the march's scan and the choice among all of
// them. The portable version serves every processor; on x86-64 the SSE2
// one is the baseline and the wider ones are taken when the processor and
// the operating system support them.
#include <atomic>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/march.h"
#include "engine/kernels/march_kernel.h"

namespace {

int32_t ScanScalar(const float* const* rows, const float* lc, int32_t first, int32_t end, int32_t x0,
                   const float* g, uint32_t* cand) {
  for (int32_t s = first; s < end; ++s) {
    const float* h = rows[s] + x0;
    const float l = lc[s];
    uint32_t c = 0;
    for (int j = 0; j < kMarchLanes; ++j) c |= static_cast<uint32_t>(h[j] - g[j] > l) << j;
    if (c) {
      *cand = c;
      return s;
    }
  }
  *cand = 0;
  return end;
}

#if defined(__SSE2__)
inline __m128 Hits4(const float* h, __m128 g, __m128 l) { return _mm_cmpgt_ps(_mm_sub_ps(_mm_loadu_ps(h), g), l); }

int32_t ScanSse2(const float* const* rows, const float* lc, int32_t first, int32_t end, int32_t x0,
                 const float* g, uint32_t* cand) {
  const __m128 g0 = _mm_loadu_ps(g), g1 = _mm_loadu_ps(g + 4), g2 = _mm_loadu_ps(g + 8), g3 = _mm_loadu_ps(g + 12);
  for (int32_t s = first; s < end; ++s) {
    const float* h = rows[s] + x0;
    const __m128 l = _mm_set1_ps(lc[s]);
    const __m128 m0 = Hits4(h, g0, l), m1 = Hits4(h + 4, g1, l), m2 = Hits4(h + 8, g2, l), m3 = Hits4(h + 12, g3, l);
    // One test for the block; the lanes only once some lane passed.
    if (_mm_movemask_ps(_mm_or_ps(_mm_or_ps(m0, m1), _mm_or_ps(m2, m3)))) {
      *cand = static_cast<uint32_t>(_mm_movemask_ps(m0) | _mm_movemask_ps(m1) << 4 | _mm_movemask_ps(m2) << 8 |
                                    _mm_movemask_ps(m3) << 12);
      return s;
    }
  }
  *cand = 0;
  return end;
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
