// The beat analyser's block analysis with AVX-512 doubles, eight at a time.
// Compiled with -mavx512f -mavx512dq -mavx512vl -mno-fma: every product and
// sum is rounded on its own, as in the scalar path, and every butterfly takes
// the same operands in the same order as beat_vector_avx2.cpp. Only
// intrinsics and file-local code here, so that no shared inline function is
// ever emitted with AVX-512 instructions.
#include <immintrin.h>

#include "analysis/beat_vector.h"

namespace kestrune::detail {
namespace {

struct Cx {
  __m512d re;
  __m512d im;
};

// (a, b) * (c, d) = (a*c - b*d, b*c + a*d), as the scalar FFT multiplies.
inline Cx Mul(__m512d a, __m512d b, __m512d c, __m512d d) {
  return {_mm512_sub_pd(_mm512_mul_pd(a, c), _mm512_mul_pd(b, d)),
          _mm512_add_pd(_mm512_mul_pd(b, c), _mm512_mul_pd(a, d))};
}

// Two consecutive stages on four points a, b = a + q, c = a + h, d = c + q
// (h the first stage's half span, q = h / 2): the first stage pairs (a, c)
// with twiddle t1 and (b, d) with t2, the second pairs (a, b) and (c, d),
// both with t3.
inline void TwoStages(Cx& a, Cx& b, Cx& c, Cx& d, const Cx& t1, const Cx& t2, const Cx& t3) {
  const Cx a1{_mm512_add_pd(a.re, c.re), _mm512_add_pd(a.im, c.im)};
  const Cx c1 = Mul(_mm512_sub_pd(a.re, c.re), _mm512_sub_pd(a.im, c.im), t1.re, t1.im);
  const Cx b1{_mm512_add_pd(b.re, d.re), _mm512_add_pd(b.im, d.im)};
  const Cx d1 = Mul(_mm512_sub_pd(b.re, d.re), _mm512_sub_pd(b.im, d.im), t2.re, t2.im);
  a = Cx{_mm512_add_pd(a1.re, b1.re), _mm512_add_pd(a1.im, b1.im)};
  b = Mul(_mm512_sub_pd(a1.re, b1.re), _mm512_sub_pd(a1.im, b1.im), t3.re, t3.im);
  c = Cx{_mm512_add_pd(c1.re, d1.re), _mm512_add_pd(c1.im, d1.im)};
  d = Mul(_mm512_sub_pd(c1.re, d1.re), _mm512_sub_pd(c1.im, d1.im), t3.re, t3.im);
}

inline Cx LoadCx(const double* re, const double* im, int32_t i) {
  return {_mm512_loadu_pd(re + i), _mm512_loadu_pd(im + i)};
}

inline void StoreCx(double* re, double* im, int32_t i, const Cx& v) {
  _mm512_store_pd(re + i, v.re);
  _mm512_store_pd(im + i, v.im);
}

inline Cx Broadcast(const double* re, const double* im, int32_t i) {
  return {_mm512_set1_pd(re[i]), _mm512_set1_pd(im[i])};
}

// Frames n..n+7 of the block: left and right read as unsigned 16-bit numbers
// and divided by 65535.0 (kScaleHead and kScaleTail, as on the AVX2 path).
inline Cx LoadFrames(const uint8_t* block, int32_t n) {
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 4 * n));
  const __m512d left = _mm512_cvtepi32_pd(_mm256_and_si256(x, _mm256_set1_epi32(0xFFFF)));
  const __m512d right = _mm512_cvtepi32_pd(_mm256_srli_epi32(x, 16));
  const __m512d head = _mm512_set1_pd(kScaleHead);
  const __m512d tail = _mm512_set1_pd(kScaleTail);
  return {_mm512_add_pd(_mm512_mul_pd(left, head), _mm512_mul_pd(left, tail)),
          _mm512_add_pd(_mm512_mul_pd(right, head), _mm512_mul_pd(right, tail))};
}

// Stages 1 and 2, on the points load(n) gives for n = j, j + 256, j + 512,
// j + 768.
template <typename Load>
void FirstStages(BeatVectorWork& w, const Load& load) {
  const double* t1re = w.twiddleRe + w.twiddleStart[1];
  const double* t1im = w.twiddleIm + w.twiddleStart[1];
  const double* t2re = w.twiddleRe + w.twiddleStart[2];
  const double* t2im = w.twiddleIm + w.twiddleStart[2];
  for (int32_t j = 0; j < 256; j += 8) {
    Cx a = load(j);
    Cx b = load(j + 256);
    Cx c = load(j + 512);
    Cx d = load(j + 768);
    TwoStages(a, b, c, d, LoadCx(t1re, t1im, j), LoadCx(t1re, t1im, j + 256), LoadCx(t2re, t2im, j));
    StoreCx(w.re, w.im, j, a);
    StoreCx(w.re, w.im, j + 256, b);
    StoreCx(w.re, w.im, j + 512, c);
    StoreCx(w.re, w.im, j + 768, d);
  }
}

// Stages k and k + 1 for k = 3, 5 (half spans of at least 32).
void MiddleStages(BeatVectorWork& w, int32_t k) {
  const int32_t h = 1024 >> k;
  const int32_t q = h / 2;
  const double* t1re = w.twiddleRe + w.twiddleStart[k];
  const double* t1im = w.twiddleIm + w.twiddleStart[k];
  const double* t2re = w.twiddleRe + w.twiddleStart[k + 1];
  const double* t2im = w.twiddleIm + w.twiddleStart[k + 1];
  for (int32_t j = 0; j < q; j += 8) {
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

// Columns of an 8 x 8 block given as eight rows: r[i] lane j becomes r[j]
// lane i.
inline void Transpose(__m512d* r) {
  __m512d t[8];
  for (int32_t i = 0; i < 4; ++i) {
    t[2 * i] = _mm512_unpacklo_pd(r[2 * i], r[2 * i + 1]);
    t[2 * i + 1] = _mm512_unpackhi_pd(r[2 * i], r[2 * i + 1]);
  }
  // Pairs of 128-bit lanes: rows 0..3 (and 4..7) of columns c and c + 4.
  const __m512i even = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
  const __m512i odd = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
  __m512d u[8];
  for (int32_t i = 0; i < 2; ++i) {
    __m512d* s = t + 4 * i;
    u[4 * i + 0] = _mm512_permutex2var_pd(s[0], even, s[2]);  // columns 0, 4
    u[4 * i + 1] = _mm512_permutex2var_pd(s[1], even, s[3]);  // columns 1, 5
    u[4 * i + 2] = _mm512_permutex2var_pd(s[0], odd, s[2]);   // columns 2, 6
    u[4 * i + 3] = _mm512_permutex2var_pd(s[1], odd, s[3]);   // columns 3, 7
  }
  for (int32_t c = 0; c < 4; ++c) {
    r[c] = _mm512_shuffle_f64x2(u[c], u[4 + c], 0x44);
    r[c + 4] = _mm512_shuffle_f64x2(u[c], u[4 + c], 0xEE);
  }
}

inline __m512d Magnitude(const Cx& v) {
  return _mm512_sqrt_pd(_mm512_add_pd(_mm512_mul_pd(v.re, v.re), _mm512_mul_pd(v.im, v.im)));
}

// Stages 7 to 10 work within groups of sixteen points. Lane l takes the
// group g0 + 8 * rev3(l), so that after the transform the eight lanes of
// point m hold the consecutive bins rev4(m) * 64 + rev3(g0) * 8 + l: the
// magnitudes go straight to bin order.
void LastStagesAndMagnitudes(BeatVectorWork& w, double* magnitudes) {
  const double* t7re = w.twiddleRe + w.twiddleStart[7];
  const double* t7im = w.twiddleIm + w.twiddleStart[7];
  const double* t8re = w.twiddleRe + w.twiddleStart[8];
  const double* t8im = w.twiddleIm + w.twiddleStart[8];
  const double* t9re = w.twiddleRe + w.twiddleStart[9];
  const double* t9im = w.twiddleIm + w.twiddleStart[9];
  const double* t10re = w.twiddleRe + w.twiddleStart[10];
  const double* t10im = w.twiddleIm + w.twiddleStart[10];
  static constexpr int32_t kRev3[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  static constexpr int32_t kRev4[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  // The sixteen points of eight groups go through memory between the
  // passes: thirty-two registers of data leave none for the work.
  alignas(64) double sre[16 * 8];
  alignas(64) double sim[16 * 8];
  for (int32_t g0 = 0; g0 < 8; ++g0) {
    for (int32_t half = 0; half < 16; half += 8) {
      __m512d re[8];
      __m512d im[8];
      for (int32_t l = 0; l < 8; ++l) {
        const int32_t at = 16 * g0 + 128 * kRev3[l] + half;
        re[l] = _mm512_load_pd(w.re + at);
        im[l] = _mm512_load_pd(w.im + at);
      }
      Transpose(re);
      Transpose(im);
      for (int32_t c = 0; c < 8; ++c) {
        _mm512_store_pd(sre + 8 * (half + c), re[c]);
        _mm512_store_pd(sim + 8 * (half + c), im[c]);
      }
    }
    // Stages 7 and 8: half spans 8 and 4.
    for (int32_t j = 0; j < 4; ++j) {
      Cx a = LoadCx(sre, sim, 8 * j);
      Cx b = LoadCx(sre, sim, 8 * (j + 4));
      Cx c = LoadCx(sre, sim, 8 * (j + 8));
      Cx d = LoadCx(sre, sim, 8 * (j + 12));
      TwoStages(a, b, c, d, Broadcast(t7re, t7im, j), Broadcast(t7re, t7im, j + 4), Broadcast(t8re, t8im, j));
      StoreCx(sre, sim, 8 * j, a);
      StoreCx(sre, sim, 8 * (j + 4), b);
      StoreCx(sre, sim, 8 * (j + 8), c);
      StoreCx(sre, sim, 8 * (j + 12), d);
    }
    // Stages 9 and 10: half spans 2 and 1; then the magnitudes.
    const Cx u1 = Broadcast(t9re, t9im, 0);
    const Cx u2 = Broadcast(t9re, t9im, 1);
    const Cx u3 = Broadcast(t10re, t10im, 0);
    const int32_t low = kRev3[g0] * 8;
    for (int32_t s = 0; s < 16; s += 4) {
      Cx p[4] = {LoadCx(sre, sim, 8 * s), LoadCx(sre, sim, 8 * (s + 1)), LoadCx(sre, sim, 8 * (s + 2)),
                 LoadCx(sre, sim, 8 * (s + 3))};
      TwoStages(p[0], p[1], p[2], p[3], u1, u2, u3);
      for (int32_t m = 0; m < 4; ++m) {
        const int32_t bin = kRev4[s + m] * 64 + low;
        const __m512d mag = Magnitude(p[m]);
        _mm512_storeu_pd(magnitudes + bin, mag);
        _mm512_store_pd(w.binOrder + bin, mag);
      }
    }
  }
}

// Each lane adds its band's bins in bin order, starting from +0.0. Eight
// bands at a time, eight bins of each at a time: a band's bins are loaded
// from the magnitudes in bin order and an 8 x 8 transpose puts the t-th bin
// of every band in row t; a lane past its band's end adds nothing (its sum
// is left as it is, as adding +0.0 would leave it).
void BandEnergies(BeatVectorWork& w, double* row, double* bandMeans, double historyLength) {
  const __m512d h = _mm512_set1_pd(historyLength);
  for (int32_t v = 0; v < kVecBands / 8; ++v) {
    __m512d sum = _mm512_setzero_pd();
    const __m512d widths = _mm512_load_pd(w.bandWidths + 8 * v);
    const int32_t* start = w.bandStart + 8 * v;
    for (int32_t t0 = 0; t0 < w.bandStepsOfEight[v]; t0 += 8) {
      __m512d tile[8];
      for (int32_t r = 0; r < 8; ++r) tile[r] = _mm512_loadu_pd(w.binOrder + start[r] + t0);
      Transpose(tile);
      for (int32_t c = 0; c < 8; ++c) {
        const __mmask8 inside = _mm512_cmp_pd_mask(widths, _mm512_set1_pd(static_cast<double>(t0 + c)), _CMP_GT_OQ);
        sum = _mm512_mask_add_pd(sum, inside, sum, tile[c]);
      }
    }
    const __m512d energy = _mm512_div_pd(sum, widths);
    _mm512_storeu_pd(row + 8 * v, energy);
    const __m512d mean = _mm512_loadu_pd(bandMeans + 8 * v);
    _mm512_storeu_pd(bandMeans + 8 * v, _mm512_add_pd(mean, _mm512_div_pd(energy, h)));
  }
}

void LaterStages(BeatVectorWork& work, double* magnitudes, double* row, double* bandMeans, double historyLength) {
  MiddleStages(work, 3);
  MiddleStages(work, 5);
  LastStagesAndMagnitudes(work, magnitudes);
  BandEnergies(work, row, bandMeans, historyLength);
}

}  // namespace

void AnalyseBlockAvx512(BeatVectorWork& work, const uint8_t* block, double* magnitudes, double* row,
                        double* bandMeans, double historyLength) {
  FirstStages(work, [block](int32_t n) { return LoadFrames(block, n); });
  LaterStages(work, magnitudes, row, bandMeans, historyLength);
}

void AnalyseScaledBlockAvx512(BeatVectorWork& work, const double* left, const double* right, double* magnitudes,
                              double* row, double* bandMeans, double historyLength) {
  FirstStages(work, [left, right](int32_t n) { return Cx{_mm512_loadu_pd(left + n), _mm512_loadu_pd(right + n)}; });
  LaterStages(work, magnitudes, row, bandMeans, historyLength);
}

}  // namespace kestrune::detail
