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

void CandidateScanMasksAvx2(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks) {
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
    // mean <= energy, false when either is a NaN; all ones or all zeros per band.
    const auto le = [&](__m256d m, int at) { return _mm256_castpd_ps(_mm256_cmp_pd(m, _mm256_loadu_pd(e + at), _CMP_LE_OQ)); };
    // One 32-bit half of each band's result, two compares per register,
    // then packed to a byte per band: one movemask for the 32 bands.
    const __m256i p0 = _mm256_castps_si256(_mm256_blend_ps(le(m0, 0), le(m1, 4), 0xAA));
    const __m256i p1 = _mm256_castps_si256(_mm256_blend_ps(le(m2, 8), le(m3, 12), 0xAA));
    const __m256i p2 = _mm256_castps_si256(_mm256_blend_ps(le(m4, 16), le(m5, 20), 0xAA));
    const __m256i p3 = _mm256_castps_si256(_mm256_blend_ps(le(m6, 24), le(m7, 28), 0xAA));
    const __m256i bytes = _mm256_packs_epi16(_mm256_packs_epi32(p0, p1), _mm256_packs_epi32(p2, p3));
    masks[i] = static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
    slot += step;
    if (slot >= ring.slots) slot -= ring.slots;
  }
}

void DifferingBitsEachAvx2(const uint32_t* masks, const uint32_t* templates, uint32_t count, uint32_t blocks,
                           uint32_t* differ) {
  const uint32_t pairs = blocks / 2;
  for (uint32_t t = 0; t < count; ++t) {
    const uint32_t* b = templates + size_t{t} * blocks;
    uint64_t d0 = 0, d1 = 0;
    uint32_t i = 0;
    for (; i + 2 <= pairs; i += 2) {
      uint64_t x0, y0, x1, y1;
      std::memcpy(&x0, masks + 2 * i, 8);
      std::memcpy(&y0, b + 2 * i, 8);
      std::memcpy(&x1, masks + 2 * i + 2, 8);
      std::memcpy(&y1, b + 2 * i + 2, 8);
      d0 += static_cast<uint64_t>(__builtin_popcountll(x0 ^ y0));
      d1 += static_cast<uint64_t>(__builtin_popcountll(x1 ^ y1));
    }
    if (i < pairs) {
      uint64_t x, y;
      std::memcpy(&x, masks + 2 * i, 8);
      std::memcpy(&y, b + 2 * i, 8);
      d0 += static_cast<uint64_t>(__builtin_popcountll(x ^ y));
    }
    if (blocks % 2 != 0) d1 += static_cast<uint64_t>(__builtin_popcount(masks[blocks - 1] ^ b[blocks - 1]));
    differ[t] = static_cast<uint32_t>(d0 + d1);
  }
}

}  // namespace kestrune::detail
