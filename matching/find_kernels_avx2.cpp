// The search's per-candidate kernels with AVX2 doubles, compiled with -mavx2
// -mno-fma: the means are the same additions in the same order as the
// scalar code, four bands per instruction, so the masks are the same bits.
#include <immintrin.h>

#include <cstring>

#include "matching/find_kernels.h"

namespace kestrune::detail {

void CandidateMasksAvx2(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks) {
  __m256d m0 = _mm256_setzero_pd(), m1 = m0, m2 = m0, m3 = m0, m4 = m0, m5 = m0, m6 = m0, m7 = m0;
  uint32_t slot = first;
  for (uint32_t i = 0; i < blocks; ++i) {
    const double* s = ring.shares + 32 * size_t{slot};
    m0 = _mm256_add_pd(m0, _mm256_loadu_pd(s));
    m1 = _mm256_add_pd(m1, _mm256_loadu_pd(s + 4));
    m2 = _mm256_add_pd(m2, _mm256_loadu_pd(s + 8));
    m3 = _mm256_add_pd(m3, _mm256_loadu_pd(s + 12));
    m4 = _mm256_add_pd(m4, _mm256_loadu_pd(s + 16));
    m5 = _mm256_add_pd(m5, _mm256_loadu_pd(s + 20));
    m6 = _mm256_add_pd(m6, _mm256_loadu_pd(s + 24));
    m7 = _mm256_add_pd(m7, _mm256_loadu_pd(s + 28));
    slot += step;
    if (slot >= ring.slots) slot -= ring.slots;
  }
  slot = first;
  for (uint32_t i = 0; i < blocks; ++i) {
    const double* e = ring.energies + 32 * size_t{slot};
    // mean <= energy, false when either is a NaN.
    const auto bits = [&](__m256d m, int at) {
      return static_cast<uint32_t>(_mm256_movemask_pd(_mm256_cmp_pd(m, _mm256_loadu_pd(e + at), _CMP_LE_OQ))) << at;
    };
    masks[i] = bits(m0, 0) | bits(m1, 4) | bits(m2, 8) | bits(m3, 12) | bits(m4, 16) | bits(m5, 20) |
               bits(m6, 24) | bits(m7, 28);
    slot += step;
    if (slot >= ring.slots) slot -= ring.slots;
  }
}

uint32_t DifferingBitsAvx2(const uint32_t* a, const uint32_t* b, uint32_t n) {
  uint64_t differ = 0;
  uint32_t i = 0;
  for (; i + 2 <= n; i += 2) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    differ += static_cast<uint64_t>(__builtin_popcountll(x ^ y));
  }
  if (i < n) differ += static_cast<uint64_t>(__builtin_popcount(a[i] ^ b[i]));
  return static_cast<uint32_t>(differ);
}

}  // namespace kestrune::detail
