// The search's per-candidate kernels with AVX2 doubles, compiled with -mavx2
// -mno-fma: the means are the same additions in the same order as the
// scalar code, four bands per instruction, so the masks are the same bits.
#include <immintrin.h>

#include <cstring>

#include "matching/find_kernels.h"
#include "matching/find_scores.h"

namespace kestrune::detail {

namespace {

// Each band's mean: the shares of the candidate's blocks added from 0.0 in
// block order, four bands per register. Always inlined, so that the eight
// sums stay in registers: mingw does not align the stack for 32-byte spills.
[[gnu::always_inline]] inline void BandMeans(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, __m256d (&m)[8]) {
  for (__m256d& v : m) v = _mm256_setzero_pd();
  uint32_t slot = first;
  for (uint32_t i = 0; i < blocks; ++i) {
    const double* s = ring.shares + 32 * size_t{slot};
    for (int k = 0; k < 8; ++k) m[k] = _mm256_add_pd(m[k], _mm256_loadu_pd(s + 4 * k));
    slot += step;
    if (slot >= ring.slots) slot -= ring.slots;
  }
}

}  // namespace

void CandidateMasksAvx2(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks) {
  __m256d m[8];
  BandMeans(ring, first, step, blocks, m);
  uint32_t slot = first;
  for (uint32_t i = 0; i < blocks; ++i) {
    const double* e = ring.energies + 32 * size_t{slot};
    // mean <= energy, false when either is a NaN.
    const auto bits = [&](__m256d mean, int at) {
      return static_cast<uint32_t>(_mm256_movemask_pd(_mm256_cmp_pd(mean, _mm256_loadu_pd(e + at), _CMP_LE_OQ))) << at;
    };
    masks[i] = bits(m[0], 0) | bits(m[1], 4) | bits(m[2], 8) | bits(m[3], 12) | bits(m[4], 16) | bits(m[5], 20) |
               bits(m[6], 24) | bits(m[7], 28);
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

uint32_t SetBitsAvx2(const uint32_t* masks, uint32_t n) {
  uint64_t set = 0;
  uint32_t i = 0;
  for (; i + 2 <= n; i += 2) {
    uint64_t x;
    std::memcpy(&x, masks + i, 8);
    set += static_cast<uint64_t>(__builtin_popcountll(x));
  }
  if (i < n) set += static_cast<uint64_t>(__builtin_popcount(masks[i]));
  return static_cast<uint32_t>(set);
}

uint32_t PairChanceAvx2(const uint32_t* a, const uint32_t* b, uint32_t n) {
  uint32_t chance = 0;
  for (uint32_t i = 0; i < n; ++i) {
    chance += BlockChance(static_cast<uint32_t>(__builtin_popcount(a[i])), static_cast<uint32_t>(__builtin_popcount(b[i])));
  }
  return chance;
}

void SetBitProductsAvx2(const uint32_t* masks, const uint32_t* templateSets, uint32_t stride, uint32_t count,
                        uint32_t blocks, uint32_t* products) {
  // The candidate's counts, padded with zeros like the templates'. A count
  // is at most 32, so each 32-bit lane's high half is 0 and a 16-bit
  // multiply-add gives the product of the two counts.
  uint32_t sets[256];  // unaligned loads: mingw does not align the stack beyond 16 bytes
  if (stride > 256) {
    for (uint32_t t = 0; t < count; ++t) {
      uint32_t sum = 0;
      for (uint32_t i = 0; i < blocks; ++i) {
        sum += static_cast<uint32_t>(__builtin_popcount(masks[i])) * templateSets[size_t{t} * stride + i];
      }
      products[t] = sum;
    }
    return;
  }
  for (uint32_t i = 0; i < stride; ++i) sets[i] = i < blocks ? static_cast<uint32_t>(__builtin_popcount(masks[i])) : 0;
  for (uint32_t t = 0; t < count; ++t) {
    const uint32_t* b = templateSets + size_t{t} * stride;
    __m256i sum = _mm256_setzero_si256();
    for (uint32_t i = 0; i < stride; i += 8) {
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sets + i));
      const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
      sum = _mm256_add_epi32(sum, _mm256_madd_epi16(x, y));
    }
    const __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    const __m128i quarter = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0x4E));
    products[t] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_add_epi32(quarter, _mm_shuffle_epi32(quarter, 0xB1))));
  }
}

void CandidateScanMasksAvx2(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks) {
  __m256d m[8];
  BandMeans(ring, first, step, blocks, m);
  uint32_t slot = first;
  for (uint32_t i = 0; i < blocks; ++i) {
    const double* e = ring.energies + 32 * size_t{slot};
    // mean <= energy, false when either is a NaN; all ones or all zeros per band.
    const auto le = [&](__m256d mean, int at) {
      return _mm256_castpd_ps(_mm256_cmp_pd(mean, _mm256_loadu_pd(e + at), _CMP_LE_OQ));
    };
    // One 32-bit half of each band's result, two compares per register,
    // then packed to a byte per band: one movemask for the 32 bands.
    const __m256i p0 = _mm256_castps_si256(_mm256_blend_ps(le(m[0], 0), le(m[1], 4), 0xAA));
    const __m256i p1 = _mm256_castps_si256(_mm256_blend_ps(le(m[2], 8), le(m[3], 12), 0xAA));
    const __m256i p2 = _mm256_castps_si256(_mm256_blend_ps(le(m[4], 16), le(m[5], 20), 0xAA));
    const __m256i p3 = _mm256_castps_si256(_mm256_blend_ps(le(m[6], 24), le(m[7], 28), 0xAA));
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
