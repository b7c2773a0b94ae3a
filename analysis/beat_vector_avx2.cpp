// The beat analyser's block analysis with AVX2 doubles. Compiled with -mavx2
// -mno-fma: every product and sum is rounded on its own, as in the scalar
// path. Only intrinsics and file-local code here, so that no shared inline
// function is ever emitted with AVX2 instructions.
#include <immintrin.h>

#include "analysis/beat_vector.h"

namespace kestrune::detail {
namespace {

struct Cx {
  __m256d re;
  __m256d im;
};

// (a, b) * (c, d) = (a*c - b*d, b*c + a*d), as the scalar FFT multiplies.
inline Cx Mul(__m256d a, __m256d b, __m256d c, __m256d d) {
  return {_mm256_sub_pd(_mm256_mul_pd(a, c), _mm256_mul_pd(b, d)),
          _mm256_add_pd(_mm256_mul_pd(b, c), _mm256_mul_pd(a, d))};
}

// Two consecutive stages on four points a, b = a + q, c = a + h, d = c + q
// (h the first stage's half span, q = h / 2): the first stage pairs (a, c)
// with twiddle t1 and (b, d) with t2, the second pairs (a, b) and (c, d),
// both with t3.
inline void TwoStages(Cx& a, Cx& b, Cx& c, Cx& d, const Cx& t1, const Cx& t2, const Cx& t3) {
  const Cx a1{_mm256_add_pd(a.re, c.re), _mm256_add_pd(a.im, c.im)};
  const Cx c1 = Mul(_mm256_sub_pd(a.re, c.re), _mm256_sub_pd(a.im, c.im), t1.re, t1.im);
  const Cx b1{_mm256_add_pd(b.re, d.re), _mm256_add_pd(b.im, d.im)};
  const Cx d1 = Mul(_mm256_sub_pd(b.re, d.re), _mm256_sub_pd(b.im, d.im), t2.re, t2.im);
  a = Cx{_mm256_add_pd(a1.re, b1.re), _mm256_add_pd(a1.im, b1.im)};
  b = Mul(_mm256_sub_pd(a1.re, b1.re), _mm256_sub_pd(a1.im, b1.im), t3.re, t3.im);
  c = Cx{_mm256_add_pd(c1.re, d1.re), _mm256_add_pd(c1.im, d1.im)};
  d = Mul(_mm256_sub_pd(c1.re, d1.re), _mm256_sub_pd(c1.im, d1.im), t3.re, t3.im);
}

inline Cx LoadCx(const double* re, const double* im, int32_t i) {
  return {_mm256_load_pd(re + i), _mm256_load_pd(im + i)};
}

inline void StoreCx(double* re, double* im, int32_t i, const Cx& v) {
  _mm256_store_pd(re + i, v.re);
  _mm256_store_pd(im + i, v.im);
}

// Frames n..n+3 of the block: left and right read as unsigned 16-bit numbers
// and divided by 65535.0 (kScaleHead and kScaleTail: the same bits, at a
// fraction of a division's cost).
inline Cx LoadFrames(const uint8_t* block, int32_t n) {
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 4 * n));
  const __m256d left = _mm256_cvtepi32_pd(_mm_and_si128(x, _mm_set1_epi32(0xFFFF)));
  const __m256d right = _mm256_cvtepi32_pd(_mm_srli_epi32(x, 16));
  const __m256d head = _mm256_set1_pd(kScaleHead);
  const __m256d tail = _mm256_set1_pd(kScaleTail);
  return {_mm256_add_pd(_mm256_mul_pd(left, head), _mm256_mul_pd(left, tail)),
          _mm256_add_pd(_mm256_mul_pd(right, head), _mm256_mul_pd(right, tail))};
}

// Stages 1 and 2, on the points load(n) gives for n = j, j + 256, j + 512,
// j + 768: frames converted as they are read, or samples scaled before.
template <typename Load>
void FirstStages(BeatVectorWork& w, const Load& load) {
  const double* t1re = w.twiddleRe + w.twiddleStart[1];
  const double* t1im = w.twiddleIm + w.twiddleStart[1];
  const double* t2re = w.twiddleRe + w.twiddleStart[2];
  const double* t2im = w.twiddleIm + w.twiddleStart[2];
  for (int32_t j = 0; j < 256; j += 4) {
    Cx a = load(j);
    Cx b = load(j + 256);
    Cx c = load(j + 512);
    Cx d = load(j + 768);
    const Cx u1 = LoadCx(t1re, t1im, j);
    const Cx u2 = LoadCx(t1re, t1im, j + 256);
    const Cx u3 = LoadCx(t2re, t2im, j);
    TwoStages(a, b, c, d, u1, u2, u3);
    StoreCx(w.re, w.im, j, a);
    StoreCx(w.re, w.im, j + 256, b);
    StoreCx(w.re, w.im, j + 512, c);
    StoreCx(w.re, w.im, j + 768, d);
  }
}

// Stages k and k + 1 for k = 3, 5, 7 (half spans of at least 8).
void MiddleStages(BeatVectorWork& w, int32_t k) {
  const int32_t h = 1024 >> k;
  const int32_t q = h / 2;
  const double* t1re = w.twiddleRe + w.twiddleStart[k];
  const double* t1im = w.twiddleIm + w.twiddleStart[k];
  const double* t2re = w.twiddleRe + w.twiddleStart[k + 1];
  const double* t2im = w.twiddleIm + w.twiddleStart[k + 1];
  for (int32_t j = 0; j < q; j += 4) {
    const Cx u1 = LoadCx(t1re, t1im, j);
    const Cx u2 = LoadCx(t1re, t1im, j + q);
    const Cx u3 = LoadCx(t2re, t2im, j);
    for (int32_t g = 0; g < 1024; g += 2 * h) {
      const int32_t i = g + j;
      Cx a = LoadCx(w.re, w.im, i);
      Cx b = LoadCx(w.re, w.im, i + q);
      Cx c = LoadCx(w.re, w.im, i + h);
      Cx d = LoadCx(w.re, w.im, i + h + q);
      TwoStages(a, b, c, d, u1, u2, u3);
      StoreCx(w.re, w.im, i, a);
      StoreCx(w.re, w.im, i + q, b);
      StoreCx(w.re, w.im, i + h, c);
      StoreCx(w.re, w.im, i + h + q, d);
    }
  }
}

// Columns of a 4 x 4 block given as four rows.
inline void Transpose(__m256d& r0, __m256d& r1, __m256d& r2, __m256d& r3) {
  const __m256d t0 = _mm256_unpacklo_pd(r0, r1);
  const __m256d t1 = _mm256_unpackhi_pd(r0, r1);
  const __m256d t2 = _mm256_unpacklo_pd(r2, r3);
  const __m256d t3 = _mm256_unpackhi_pd(r2, r3);
  r0 = _mm256_permute2f128_pd(t0, t2, 0x20);
  r1 = _mm256_permute2f128_pd(t1, t3, 0x20);
  r2 = _mm256_permute2f128_pd(t0, t2, 0x31);
  r3 = _mm256_permute2f128_pd(t1, t3, 0x31);
}

inline __m256d Magnitude(const Cx& v) {
  return _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(v.re, v.re), _mm256_mul_pd(v.im, v.im)));
}

inline int32_t Reverse6(int32_t x) {
  int32_t r = 0;
  for (int32_t b = 0; b < 6; ++b) r |= ((x >> b) & 1) << (5 - b);
  return r;
}

// Stages 9 and 10 work within groups of four points. Lane l takes the group
// g0 + 64 * quarter[l] of the quarter {0, 2, 1, 3}[l], so that after the
// transform the four lanes of point m hold the consecutive bins
// rev2(m) * 256 + rev6(g0) * 4 + l: the magnitudes go straight to bin order.
void LastStagesAndMagnitudes(BeatVectorWork& w, double* magnitudes) {
  const double* t9re = w.twiddleRe + w.twiddleStart[9];
  const double* t9im = w.twiddleIm + w.twiddleStart[9];
  const double* t10re = w.twiddleRe + w.twiddleStart[10];
  const double* t10im = w.twiddleIm + w.twiddleStart[10];
  const Cx u1{_mm256_set1_pd(t9re[0]), _mm256_set1_pd(t9im[0])};
  const Cx u2{_mm256_set1_pd(t9re[1]), _mm256_set1_pd(t9im[1])};
  const Cx u3{_mm256_set1_pd(t10re[0]), _mm256_set1_pd(t10im[0])};
  static constexpr int32_t kRev2[4] = {0, 2, 1, 3};
  double* table = w.bandTable;
  for (int32_t g0 = 0; g0 < 64; ++g0) {
    const int32_t at = 4 * g0;
    __m256d r0 = _mm256_load_pd(w.re + at);
    __m256d r1 = _mm256_load_pd(w.re + at + 512);
    __m256d r2 = _mm256_load_pd(w.re + at + 256);
    __m256d r3 = _mm256_load_pd(w.re + at + 768);
    __m256d i0 = _mm256_load_pd(w.im + at);
    __m256d i1 = _mm256_load_pd(w.im + at + 512);
    __m256d i2 = _mm256_load_pd(w.im + at + 256);
    __m256d i3 = _mm256_load_pd(w.im + at + 768);
    Transpose(r0, r1, r2, r3);
    Transpose(i0, i1, i2, i3);
    Cx p[4] = {{r0, i0}, {r1, i1}, {r2, i2}, {r3, i3}};
    TwoStages(p[0], p[1], p[2], p[3], u1, u2, u3);
    const int32_t low = Reverse6(g0) * 4;
    for (int32_t m = 0; m < 4; ++m) {
      const int32_t bin = kRev2[m] * 256 + low;
      const __m256d mag = Magnitude(p[m]);
      _mm256_storeu_pd(magnitudes + bin, mag);
      const uint16_t* slot = w.bandSlot + bin;
      const __m128d lo = _mm256_castpd256_pd128(mag);
      const __m128d hi = _mm256_extractf128_pd(mag, 1);
      _mm_storel_pd(table + slot[0], lo);
      _mm_storeh_pd(table + slot[1], lo);
      _mm_storel_pd(table + slot[2], hi);
      _mm_storeh_pd(table + slot[3], hi);
    }
  }
}

// Each lane adds its band's bins in bin order, starting from +0.0.
void BandEnergies(BeatVectorWork& w, double* row, double* bandMeans, double historyLength) {
  __m256d sum[8];
  for (auto& s : sum) s = _mm256_setzero_pd();
  const double* table = w.bandTable;
  for (int32_t t = 0; t < w.bandSteps; ++t, table += kVecBands) {
    for (int32_t v = 0; v < 8; ++v) sum[v] = _mm256_add_pd(sum[v], _mm256_load_pd(table + 4 * v));
  }
  const __m256d h = _mm256_set1_pd(historyLength);
  for (int32_t v = 0; v < 8; ++v) {
    const __m256d energy = _mm256_div_pd(sum[v], _mm256_load_pd(w.bandWidths + 4 * v));
    _mm256_storeu_pd(row + 4 * v, energy);
    const __m256d mean = _mm256_loadu_pd(bandMeans + 4 * v);
    _mm256_storeu_pd(bandMeans + 4 * v, _mm256_add_pd(mean, _mm256_div_pd(energy, h)));
  }
}

}  // namespace

namespace {

void LaterStages(BeatVectorWork& work, double* magnitudes, double* row, double* bandMeans, double historyLength) {
  MiddleStages(work, 3);
  MiddleStages(work, 5);
  MiddleStages(work, 7);
  LastStagesAndMagnitudes(work, magnitudes);
  BandEnergies(work, row, bandMeans, historyLength);
}

}  // namespace

void AnalyseBlockAvx2(BeatVectorWork& work, const uint8_t* block, double* magnitudes, double* row,
                      double* bandMeans, double historyLength) {
  FirstStages(work, [block](int32_t n) { return LoadFrames(block, n); });
  LaterStages(work, magnitudes, row, bandMeans, historyLength);
}

void AnalyseScaledBlockAvx2(BeatVectorWork& work, const double* left, const double* right, double* magnitudes,
                            double* row, double* bandMeans, double historyLength) {
  FirstStages(work, [left, right](int32_t n) { return Cx{_mm256_loadu_pd(left + n), _mm256_loadu_pd(right + n)}; });
  LaterStages(work, magnitudes, row, bandMeans, historyLength);
}

void ScaleFramesAvx2(const uint8_t* frames, int32_t n, double* left, double* right) {
  for (int32_t i = 0; i + 4 <= n; i += 4) {
    const Cx v = LoadFrames(frames, i);
    _mm256_storeu_pd(left + i, v.re);
    _mm256_storeu_pd(right + i, v.im);
  }
}

}  // namespace kestrune::detail
