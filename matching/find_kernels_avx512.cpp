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

uint32_t CompareWithTemplatesAvx512(const uint32_t* masks, const uint32_t* templates, const uint16_t* templateSets,
                                    uint32_t stride, uint32_t count, uint32_t blocks, uint32_t* differ,
                                    uint32_t* products) {
  // Up to 32 blocks (splits up to about 750 ms) the candidate stays in two
  // registers for all the templates; longer ones take the general route.
  if (blocks > 32) {
    uint32_t set = 0;
    for (uint32_t i = 0; i < blocks; i += 16) {
      const uint32_t n = blocks - i < 16 ? blocks - i : 16;
      const auto k = static_cast<__mmask16>(n == 16 ? 0xFFFFu : (uint32_t{1} << n) - 1);
      set += static_cast<uint32_t>(_mm512_reduce_add_epi32(_mm512_popcnt_epi32(_mm512_maskz_loadu_epi32(k, masks + i))));
    }
    for (uint32_t t = 0; t < count; ++t) {
      const uint32_t* b = templates + size_t{t} * blocks;
      const uint16_t* sets = templateSets + size_t{t} * stride;
      __m512i d = _mm512_setzero_si512(), p = d;
      for (uint32_t i = 0; i < blocks; i += 16) {
        const uint32_t n = blocks - i < 16 ? blocks - i : 16;
        const auto k = static_cast<__mmask16>(n == 16 ? 0xFFFFu : (uint32_t{1} << n) - 1);
        const __m512i a = _mm512_maskz_loadu_epi32(k, masks + i);
        d = _mm512_add_epi32(d, _mm512_popcnt_epi32(_mm512_xor_si512(a, _mm512_maskz_loadu_epi32(k, b + i))));
        const __m512i ts = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(sets + i)));
        p = _mm512_add_epi32(p, _mm512_madd_epi16(_mm512_popcnt_epi32(a), ts));
      }
      differ[t] = static_cast<uint32_t>(_mm512_reduce_add_epi32(d));
      products[t] = static_cast<uint32_t>(_mm512_reduce_add_epi32(p));
    }
    return set;
  }
  const auto k0 = static_cast<__mmask16>(blocks >= 16 ? 0xFFFFu : (uint32_t{1} << blocks) - 1);
  const auto k1 = static_cast<__mmask16>(blocks <= 16 ? 0u : blocks == 32 ? 0xFFFFu : (uint32_t{1} << (blocks - 16)) - 1);
  const __m512i a0 = _mm512_maskz_loadu_epi32(k0, masks);
  const __m512i a1 = _mm512_maskz_loadu_epi32(k1, blocks > 16 ? masks + 16 : masks);
  // Each block's set bits, one per 32-bit lane (0 past the blocks).
  const __m512i c0 = _mm512_popcnt_epi32(a0), c1 = _mm512_popcnt_epi32(a1);
  const auto set = static_cast<uint32_t>(_mm512_reduce_add_epi32(_mm512_add_epi32(c0, c1)));
  for (uint32_t t = 0; t < count; ++t) {
    const uint32_t* b = templates + size_t{t} * blocks;
    const uint16_t* sets = templateSets + size_t{t} * stride;
    const __m512i d0 = _mm512_popcnt_epi32(_mm512_xor_si512(a0, _mm512_maskz_loadu_epi32(k0, b)));
    const __m512i d1 = _mm512_popcnt_epi32(_mm512_xor_si512(a1, _mm512_maskz_loadu_epi32(k1, blocks > 16 ? b + 16 : b)));
    // Counts of at most 32 in the low half of each lane: one 16-bit
    // multiply-add gives their product.
    __m512i p = _mm512_madd_epi16(c0, _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(sets))));
    if (blocks > 16) {
      const __m256i s1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sets + 16));
      p = _mm512_add_epi32(p, _mm512_madd_epi16(c1, _mm512_cvtepu16_epi32(s1)));
    }
    // One sum for both: the differing bits (at most 1024) in the low 11
    // bits, the products (at most 32768) above them.
    const __m512i both = _mm512_add_epi32(_mm512_add_epi32(d0, d1), _mm512_slli_epi32(p, 11));
    const auto sum = static_cast<uint32_t>(_mm512_reduce_add_epi32(both));
    differ[t] = sum & 2047u;
    products[t] = sum >> 11;
  }
  return set;
}

}  // namespace kestrune::detail
