// The search's per-candidate kernels with AVX-512, compiled with -mno-fma:
// the means are the same additions in the same order as the scalar code,
// eight bands per instruction, so the masks are the same bits. A compare
// gives a bit per band directly, so these masks keep the analyser's bit
// order. Popcounts run on sixteen mask words at once (VPOPCNTDQ).
#include <immintrin.h>

#include "matching/find_kernels.h"

namespace kestrune::detail {

void CandidateScanMasksAvx512(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks) {
  __m512d m0 = _mm512_setzero_pd(), m1 = m0, m2 = m0, m3 = m0;
  uint32_t slot = first;
  for (uint32_t i = 0; i < blocks; ++i) {
    const double* s = ring.shares + 32 * size_t{slot};
    m0 = _mm512_add_pd(m0, _mm512_loadu_pd(s));
    m1 = _mm512_add_pd(m1, _mm512_loadu_pd(s + 8));
    m2 = _mm512_add_pd(m2, _mm512_loadu_pd(s + 16));
    m3 = _mm512_add_pd(m3, _mm512_loadu_pd(s + 24));
    slot += step;
    if (slot >= ring.slots) slot -= ring.slots;
  }
  slot = first;
  for (uint32_t i = 0; i < blocks; ++i) {
    const double* e = ring.energies + 32 * size_t{slot};
    // mean <= energy, false when either is a NaN.
    const uint32_t k0 = _cvtmask8_u32(_mm512_cmp_pd_mask(m0, _mm512_loadu_pd(e), _CMP_LE_OQ));
    const uint32_t k1 = _cvtmask8_u32(_mm512_cmp_pd_mask(m1, _mm512_loadu_pd(e + 8), _CMP_LE_OQ));
    const uint32_t k2 = _cvtmask8_u32(_mm512_cmp_pd_mask(m2, _mm512_loadu_pd(e + 16), _CMP_LE_OQ));
    const uint32_t k3 = _cvtmask8_u32(_mm512_cmp_pd_mask(m3, _mm512_loadu_pd(e + 24), _CMP_LE_OQ));
    masks[i] = k0 | (k1 << 8) | (k2 << 16) | (k3 << 24);
    slot += step;
    if (slot >= ring.slots) slot -= ring.slots;
  }
}

void DifferingBitsEachAvx512(const uint32_t* masks, const uint32_t* templates, uint32_t count, uint32_t blocks,
                             uint32_t* differ) {
  // Up to 32 words (splits up to about 750 ms) the candidate stays in two
  // registers for all the templates.
  if (blocks <= 32) {
    const auto k0 = static_cast<__mmask16>(blocks >= 16 ? 0xFFFFu : (uint32_t{1} << blocks) - 1);
    const auto k1 = static_cast<__mmask16>(blocks <= 16 ? 0u : blocks == 32 ? 0xFFFFu : (uint32_t{1} << (blocks - 16)) - 1);
    const __m512i a0 = _mm512_maskz_loadu_epi32(k0, masks);
    const __m512i a1 = _mm512_maskz_loadu_epi32(k1, blocks > 16 ? masks + 16 : masks);
    for (uint32_t t = 0; t < count; ++t) {
      const uint32_t* b = templates + size_t{t} * blocks;
      const __m512i d0 = _mm512_popcnt_epi32(_mm512_xor_si512(a0, _mm512_maskz_loadu_epi32(k0, b)));
      const __m512i d1 = _mm512_popcnt_epi32(_mm512_xor_si512(a1, _mm512_maskz_loadu_epi32(k1, blocks > 16 ? b + 16 : b)));
      differ[t] = static_cast<uint32_t>(_mm512_reduce_add_epi32(_mm512_add_epi32(d0, d1)));
    }
    return;
  }
  for (uint32_t t = 0; t < count; ++t) {
    const uint32_t* b = templates + size_t{t} * blocks;
    __m512i sum = _mm512_setzero_si512();
    for (uint32_t i = 0; i < blocks; i += 16) {
      const uint32_t n = blocks - i < 16 ? blocks - i : 16;
      const auto k = static_cast<__mmask16>(n == 16 ? 0xFFFFu : (uint32_t{1} << n) - 1);
      const __m512i x = _mm512_xor_si512(_mm512_maskz_loadu_epi32(k, masks + i), _mm512_maskz_loadu_epi32(k, b + i));
      sum = _mm512_add_epi32(sum, _mm512_popcnt_epi32(x));
    }
    differ[t] = static_cast<uint32_t>(_mm512_reduce_add_epi32(sum));
  }
}

uint32_t SetBitsAvx512(const uint32_t* masks, uint32_t n) {
  __m512i sum = _mm512_setzero_si512();
  for (uint32_t i = 0; i < n; i += 16) {
    const uint32_t left = n - i < 16 ? n - i : 16;
    const auto k = static_cast<__mmask16>(left == 16 ? 0xFFFFu : (uint32_t{1} << left) - 1);
    sum = _mm512_add_epi32(sum, _mm512_popcnt_epi32(_mm512_maskz_loadu_epi32(k, masks + i)));
  }
  return static_cast<uint32_t>(_mm512_reduce_add_epi32(sum));
}

}  // namespace kestrune::detail
