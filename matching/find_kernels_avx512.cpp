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

namespace {

// K candidates one slot apart: block j of the run (from first) is block
// j - q of candidate q. Each block's shares and energies are loaded once
// and used by every candidate that holds it; each candidate still adds its
// blocks' shares from 0.0 in block order.
template <uint32_t K>
void MasksRun(const EnergyRing& ring, uint32_t first, uint32_t blocks, uint32_t* masks) {
  __m512d m[K][4];
  for (auto& c : m) {
    for (__m512d& v : c) v = _mm512_setzero_pd();
  }
  const uint32_t span = blocks + K - 1;
  uint32_t slot = first;
  for (uint32_t j = 0; j < span; ++j) {
    const double* s = ring.shares + 32 * size_t{slot};
    const __m512d s0 = _mm512_loadu_pd(s), s1 = _mm512_loadu_pd(s + 8), s2 = _mm512_loadu_pd(s + 16),
                  s3 = _mm512_loadu_pd(s + 24);
    for (uint32_t q = 0; q < K; ++q) {
      if (j < q || j - q >= blocks) continue;
      m[q][0] = _mm512_add_pd(m[q][0], s0);
      m[q][1] = _mm512_add_pd(m[q][1], s1);
      m[q][2] = _mm512_add_pd(m[q][2], s2);
      m[q][3] = _mm512_add_pd(m[q][3], s3);
    }
    if (++slot == ring.slots) slot = 0;
  }
  slot = first;
  for (uint32_t j = 0; j < span; ++j) {
    const double* e = ring.energies + 32 * size_t{slot};
    const __m512d e0 = _mm512_loadu_pd(e), e1 = _mm512_loadu_pd(e + 8), e2 = _mm512_loadu_pd(e + 16),
                  e3 = _mm512_loadu_pd(e + 24);
    for (uint32_t q = 0; q < K; ++q) {
      if (j < q || j - q >= blocks) continue;
      // mean <= energy, false when either is a NaN.
      const uint32_t k0 = _cvtmask8_u32(_mm512_cmp_pd_mask(m[q][0], e0, _CMP_LE_OQ));
      const uint32_t k1 = _cvtmask8_u32(_mm512_cmp_pd_mask(m[q][1], e1, _CMP_LE_OQ));
      const uint32_t k2 = _cvtmask8_u32(_mm512_cmp_pd_mask(m[q][2], e2, _CMP_LE_OQ));
      const uint32_t k3 = _cvtmask8_u32(_mm512_cmp_pd_mask(m[q][3], e3, _CMP_LE_OQ));
      masks[size_t{q} * blocks + (j - q)] = k0 | (k1 << 8) | (k2 << 16) | (k3 << 24);
    }
    if (++slot == ring.slots) slot = 0;
  }
}

}  // namespace

void CandidateScanMasksRunAvx512(const EnergyRing& ring, uint32_t first, uint32_t count, uint32_t blocks, uint32_t* masks) {
  uint32_t q = 0;
  for (; q + 6 <= count; q += 6) MasksRun<6>(ring, (first + q) % ring.slots, blocks, masks + size_t{q} * blocks);
  for (; q < count; ++q) MasksRun<1>(ring, (first + q) % ring.slots, blocks, masks + size_t{q} * blocks);
}

uint32_t CompareWithTemplatesAvx512(const uint32_t* masks, const uint32_t* templates, const uint32_t* templateSets,
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
      const uint32_t* sets = templateSets + size_t{t} * stride;
      __m512i d = _mm512_setzero_si512(), p = d;
      for (uint32_t i = 0; i < blocks; i += 16) {
        const uint32_t n = blocks - i < 16 ? blocks - i : 16;
        const auto k = static_cast<__mmask16>(n == 16 ? 0xFFFFu : (uint32_t{1} << n) - 1);
        const __m512i a = _mm512_maskz_loadu_epi32(k, masks + i);
        d = _mm512_add_epi32(d, _mm512_popcnt_epi32(_mm512_xor_si512(a, _mm512_maskz_loadu_epi32(k, b + i))));
        p = _mm512_add_epi32(p, _mm512_madd_epi16(_mm512_popcnt_epi32(a), _mm512_loadu_si512(sets + i)));
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
  // Per template, one sum for both figures: the differing bits (at most
  // 1024) in the low 11 bits, the products (at most 32768) above them. The
  // sums of eight templates are made at once.
  const auto both = [&](uint32_t t) {
    const uint32_t* b = templates + size_t{t} * blocks;
    const uint32_t* sets = templateSets + size_t{t} * stride;
    const __m512i d0 = _mm512_popcnt_epi32(_mm512_xor_si512(a0, _mm512_maskz_loadu_epi32(k0, b)));
    const __m512i d1 = _mm512_popcnt_epi32(_mm512_xor_si512(a1, _mm512_maskz_loadu_epi32(k1, blocks > 16 ? b + 16 : b)));
    // Counts of at most 32: each lane's high half is 0, so a 16-bit
    // multiply-add gives their product.
    __m512i p = _mm512_madd_epi16(c0, _mm512_loadu_si512(sets));
    if (blocks > 16) p = _mm512_add_epi32(p, _mm512_madd_epi16(c1, _mm512_loadu_si512(sets + 16)));
    const __m512i v = _mm512_add_epi32(_mm512_add_epi32(d0, d1), _mm512_slli_epi32(p, 11));
    return _mm256_add_epi32(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1));
  };
  for (uint32_t t0 = 0; t0 < count; t0 += 8) {
    __m256i v[8];
    for (uint32_t u = 0; u < 8; ++u) v[u] = t0 + u < count ? both(t0 + u) : _mm256_setzero_si256();
    const __m256i h0123 = _mm256_hadd_epi32(_mm256_hadd_epi32(v[0], v[1]), _mm256_hadd_epi32(v[2], v[3]));
    const __m256i h4567 = _mm256_hadd_epi32(_mm256_hadd_epi32(v[4], v[5]), _mm256_hadd_epi32(v[6], v[7]));
    const __m256i sums = _mm256_add_epi32(_mm256_permute2x128_si256(h0123, h4567, 0x20),
                                          _mm256_permute2x128_si256(h0123, h4567, 0x31));
    const __m256i low = _mm256_and_si256(sums, _mm256_set1_epi32(2047));
    const __m256i high = _mm256_srli_epi32(sums, 11);
    if (count - t0 >= 8) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(differ + t0), low);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(products + t0), high);
    } else {
      const auto k = static_cast<__mmask8>((1u << (count - t0)) - 1);
      _mm256_mask_storeu_epi32(differ + t0, k, low);
      _mm256_mask_storeu_epi32(products + t0, k, high);
    }
  }
  return set;
}

}  // namespace kestrune::detail
