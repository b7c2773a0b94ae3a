// The tempo estimator's envelope and autocorrelation with AVX2. Compiled
// with -mavx2 -mno-fma; only intrinsics and file-local code here.
#include <immintrin.h>

#include "analysis/tempo_vector.h"

namespace kestrune::detail {
namespace {

constexpr size_t kGroup = 88;  // frames per envelope value
constexpr int32_t kFirstLag = 130;
constexpr int32_t kLastLag = 667;

// Lags m0 .. m0 + 4R - 1, R registers of four lanes; lane l of register r
// sums e[j] * e[j + m0 + 4r + l] over j in increasing order.
template <int R>
void LagBlock(const double* e, size_t terms, int32_t m0, double* table) {
  __m256d sum[R];
  for (int r = 0; r < R; ++r) sum[r] = _mm256_setzero_pd();
  const double* shifted = e + m0;
  for (size_t j = 0; j < terms; ++j) {
    const __m256d x = _mm256_broadcast_sd(e + j);
    for (int r = 0; r < R; ++r) {
      sum[r] = _mm256_add_pd(sum[r], _mm256_mul_pd(x, _mm256_loadu_pd(shifted + j + 4 * r)));
    }
  }
  for (int r = 0; r < R; ++r) {
    // Rounded to single precision and widened back, lane by lane.
    _mm256_storeu_pd(table + m0 + 4 * r, _mm256_cvtps_pd(_mm256_cvtpd_ps(sum[r])));
  }
}

}  // namespace

void TempoEnvelopeAvx2(const uint8_t* frames, size_t groups, double* envelope) {
  const __m256i ones = _mm256_set1_epi16(1);
  for (size_t g = 0; g < groups; ++g) {
    const uint8_t* p = frames + g * kGroup * 4;
    // 88 frames = 11 loads of 8 frames; madd adds each frame's two samples.
    __m256i acc = _mm256_setzero_si256();
    for (size_t k = 0; k < kGroup / 8; ++k) {
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * k));
      acc = _mm256_add_epi32(acc, _mm256_madd_epi16(x, ones));
    }
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
    const int32_t total = _mm_cvtsi128_si32(s);
    envelope[g] = static_cast<double>(total) * 0.5 / static_cast<double>(kGroup);
  }
}

void AutocorrelateAvx2(const double* e, size_t terms, double* table) {
  int32_t m = kFirstLag;
  // 538 lags: blocks of 32 while they last, then of 4; the last two alone.
  for (; m + 32 <= kLastLag + 1; m += 32) LagBlock<8>(e, terms, m, table);
  for (; m + 4 <= kLastLag + 1; m += 4) LagBlock<1>(e, terms, m, table);
  for (; m <= kLastLag; ++m) {
    double s = 0.0;
    for (size_t j = 0; j < terms; ++j) s += e[j] * e[j + static_cast<size_t>(m)];
    table[m] = static_cast<double>(static_cast<float>(s));
  }
}

}  // namespace kestrune::detail
