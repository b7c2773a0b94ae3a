// Single precision, GCC vector types of eight lanes (one frame each), a
// polynomial logarithm, and contraction into fused multiply-add allowed (see
// analysis/CMakeLists.txt): the onset estimate owes no exactness, and this
// stage is most of its time.
#include "analysis/onset_flux.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

#include "analysis/vector_clones.h"

namespace kestrune {
namespace {

constexpr int32_t kLanes = OnsetFlux::kLanes;
constexpr int32_t kHalf = OnsetFlux::kFrame / 2;
constexpr float kMagnitudeGain = 1000.0f / OnsetFlux::kFrame;

using V8 = float __attribute__((vector_size(32)));

// The helpers below are always inlined into the clones of FluxOfFrames, so
// that they take each clone's instructions; no vector crosses a call.
#define KESTRUNE_INLINE inline __attribute__((always_inline))
#pragma GCC diagnostic ignored "-Wpsabi"

KESTRUNE_INLINE V8 Load(const float* p) {
  V8 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
KESTRUNE_INLINE void Store(float* p, V8 v) { std::memcpy(p, &v, sizeof v); }

// ln(x) for finite x >= 1, branch-free so that loops over it vectorise:
// ln(1 + f) = f - f^2 / 2 + f^3 P(f) for the mantissa 1 + f, P of degree 5
// fitted for the least largest error over the range of f (6e-8, about the
// rounding of single precision; the Cephes logf uses degree 8).
KESTRUNE_INLINE float LogAtLeastOne(float x) {
  // x = 2^e * m with sqrt(1/2) <= m < sqrt(2): the exponent is taken
  // relative to the bits of sqrt(1/2).
  const auto bits = std::bit_cast<int32_t>(x);
  const int32_t exponent = (bits - 0x3f3504f3) >> 23;
  const float e = static_cast<float>(exponent);
  const float m = std::bit_cast<float>(bits - static_cast<int32_t>(static_cast<uint32_t>(exponent) << 23));
  const float f = m - 1.0f;
  const float z = f * f;
  float p = -1.0224132090e-1f;
  p = p * f + 1.6141158328e-1f;
  p = p * f - 1.7166918764e-1f;
  p = p * f + 1.9910240562e-1f;
  p = p * f - 2.4980573428e-1f;
  p = p * f + 3.3334690957e-1f;
  float y = f * z * p;
  y += e * -2.12194440e-4f;
  y += -0.5f * z;
  return f + y + e * 0.693359375f;
}

// Values at..at + 7 of each lane's frame as eight vectors, value at + c in
// out[c] (an 8 x 8 transpose in three rounds of shuffles).
KESTRUNE_INLINE void Transpose(const float* const* starts, int32_t at, V8* out) {
  V8 r[8];
  for (int32_t l = 0; l < kLanes; ++l) r[l] = Load(starts[l] + at);
  V8 t[8], u[8];
  for (int32_t p = 0; p < 4; ++p) {
    t[2 * p] = __builtin_shufflevector(r[2 * p], r[2 * p + 1], 0, 8, 1, 9, 4, 12, 5, 13);
    t[2 * p + 1] = __builtin_shufflevector(r[2 * p], r[2 * p + 1], 2, 10, 3, 11, 6, 14, 7, 15);
  }
  for (int32_t p = 0; p < 2; ++p) {
    const V8* q = t + 4 * p;
    u[4 * p] = __builtin_shufflevector(q[0], q[2], 0, 1, 8, 9, 4, 5, 12, 13);
    u[4 * p + 1] = __builtin_shufflevector(q[0], q[2], 2, 3, 10, 11, 6, 7, 14, 15);
    u[4 * p + 2] = __builtin_shufflevector(q[1], q[3], 0, 1, 8, 9, 4, 5, 12, 13);
    u[4 * p + 3] = __builtin_shufflevector(q[1], q[3], 2, 3, 10, 11, 6, 7, 14, 15);
  }
  for (int32_t c = 0; c < 4; ++c) {
    out[c] = __builtin_shufflevector(u[c], u[c + 4], 0, 1, 2, 3, 8, 9, 10, 11);
    out[c + 4] = __builtin_shufflevector(u[c], u[c + 4], 4, 5, 6, 7, 12, 13, 14, 15);
  }
}

struct Tables {
  const float* window;
  const float* first;
  const float* quads;
  const float* splitRe;
  const float* splitIm;
  const int32_t* reversed;
};

// Two decimation-in-frequency stages at once on blocks of 4q values:
// a, b, c, d = x[j], x[j + q], x[j + 2q], x[j + 3q] become (a + c) + (b + d),
// ((a + c) - (b + d)) w^2j, ((a - c) - i (b - d)) w^j, ((a - c) + i (b - d))
// w^3j; w = 1 when q is 1. The output stays in bit-reversed order.
KESTRUNE_INLINE void Quads(float* __restrict xr, float* __restrict xi, const float* __restrict w, int32_t q) {
  for (int32_t g = 0; g < kHalf; g += 4 * q) {
    for (int32_t j = 0; j < q; ++j) {
      float* pr = xr + (g + j) * kLanes;
      float* pi = xi + (g + j) * kLanes;
      const int32_t s = q * kLanes;
      const V8 ar = Load(pr), ai = Load(pi), br = Load(pr + s), bi = Load(pi + s);
      const V8 cr = Load(pr + 2 * s), ci = Load(pi + 2 * s), dr = Load(pr + 3 * s), di = Load(pi + 3 * s);
      const V8 t0r = ar + cr, t0i = ai + ci, t1r = ar - cr, t1i = ai - ci;
      const V8 t2r = br + dr, t2i = bi + di, t3r = bi - di, t3i = dr - br;  // (b - d) * -i
      Store(pr, t0r + t2r);
      Store(pi, t0i + t2i);
      const V8 u1r = t0r - t2r, u1i = t0i - t2i;
      const V8 u2r = t1r + t3r, u2i = t1i + t3i;
      const V8 u3r = t1r - t3r, u3i = t1i - t3i;
      if (q == 1) {
        Store(pr + s, u1r);
        Store(pi + s, u1i);
        Store(pr + 2 * s, u2r);
        Store(pi + 2 * s, u2i);
        Store(pr + 3 * s, u3r);
        Store(pi + 3 * s, u3i);
      } else {
        const float w1r = w[j], w1i = w[q + j], w2r = w[2 * q + j], w2i = w[3 * q + j];
        const float w3r = w[4 * q + j], w3i = w[5 * q + j];
        Store(pr + s, u1r * w2r - u1i * w2i);
        Store(pi + s, u1r * w2i + u1i * w2r);
        Store(pr + 2 * s, u2r * w1r - u2i * w1i);
        Store(pi + 2 * s, u2r * w1i + u2i * w1r);
        Store(pr + 3 * s, u3r * w3r - u3i * w3i);
        Store(pi + 3 * s, u3r * w3i + u3i * w3r);
      }
    }
  }
}

KESTRUNE_VECTOR_CLONES void FluxOfFrames(const Tables& t, const float* const* starts, float* __restrict xr,
                                         float* __restrict xi, float* __restrict logs, float* __restrict shifted,
                                         float* __restrict previous, int32_t count, V8* sums) {
  // Packing (even samples real, odd imaginary) and windowing fused with the
  // first stage, radix 2 at half 256: z[j] + z[j + 256], (z[j] - z[j + 256]) w^j.
  // Eight samples of each lane at a time, turned into eight lane vectors.
  constexpr int32_t h = kHalf / 2;
  for (int32_t j = 0; j < h; j += 4) {
    V8 a[8], b[8];
    Transpose(starts, 2 * j, a);
    Transpose(starts, 2 * j + 2 * h, b);
    for (int32_t m = 0; m < 4; ++m) {
      const int32_t i = 2 * (j + m);
      const V8 ar = a[2 * m] * t.window[i], ai = a[2 * m + 1] * t.window[i + 1];
      const V8 br = b[2 * m] * t.window[i + 2 * h], bi = b[2 * m + 1] * t.window[i + 2 * h + 1];
      const V8 dr = ar - br, di = ai - bi;
      const float wr = t.first[j + m], wi = t.first[h + j + m];
      Store(xr + (j + m) * kLanes, ar + br);
      Store(xi + (j + m) * kLanes, ai + bi);
      Store(xr + (j + m + h) * kLanes, dr * wr - di * wi);
      Store(xi + (j + m + h) * kLanes, dr * wi + di * wr);
    }
  }
  const float* w = t.quads;
  for (int32_t q = h / 4; q >= 4; q /= 4) {
    Quads(xr, xi, w, q);
    w += 6 * q;
  }
  Quads(xr, xi, nullptr, 1);

  // The spectrum of the real frames from the half-length transform z (in
  // bit-reversed order): X[k] = E - i W^k O, E and O the even and odd parts
  // of Z[k] and conj(Z[m - k]); its power into the rows of logs, bin k at row k - 1.
  for (int32_t k = 1; k < kHalf; ++k) {
    const int32_t a = t.reversed[k] * kLanes, b = t.reversed[kHalf - k] * kLanes;
    const V8 er = 0.5f * (Load(xr + a) + Load(xr + b));
    const V8 ei = 0.5f * (Load(xi + a) - Load(xi + b));
    const V8 orr = 0.5f * (Load(xr + a) - Load(xr + b));
    const V8 oi = 0.5f * (Load(xi + a) + Load(xi + b));
    const float c = t.splitRe[k], s = t.splitIm[k];
    const V8 re = er + (c * oi + s * orr);
    const V8 im = ei - (c * orr - s * oi);
    Store(logs + (k - 1) * kLanes, re * re + im * im);
  }
  const V8 nyquist = Load(xr) - Load(xi);
  Store(logs + (kHalf - 1) * kLanes, nyquist * nyquist);
  for (int32_t i = 0; i < kHalf * kLanes; ++i) logs[i] = LogAtLeastOne(1.0f + kMagnitudeGain * std::sqrt(logs[i]));

  // Lane l's previous frame is lane l - 1, lane 0's the last batch's last
  // lane: the rows again one value later, with those in the gaps.
  shifted[0] = previous[0];
  for (int32_t i = 0; i + 1 < kHalf * kLanes; ++i) shifted[i + 1] = logs[i];
  for (int32_t r = 0; r < kHalf; ++r) {
    shifted[r * kLanes] = previous[r];
    previous[r] = logs[r * kLanes + count - 1];
  }
  V8 s0 = {}, s1 = {}, s2 = {}, s3 = {};
  for (int32_t r = 0; r < kHalf * kLanes; r += 4 * kLanes) {
    const V8 d0 = Load(logs + r) - Load(shifted + r), d1 = Load(logs + r + 8) - Load(shifted + r + 8);
    const V8 d2 = Load(logs + r + 16) - Load(shifted + r + 16), d3 = Load(logs + r + 24) - Load(shifted + r + 24);
    s0 += d0 > 0.0f ? d0 : 0.0f;
    s1 += d1 > 0.0f ? d1 : 0.0f;
    s2 += d2 > 0.0f ? d2 : 0.0f;
    s3 += d3 > 0.0f ? d3 : 0.0f;
  }
  *sums = (s0 + s1) + (s2 + s3);
}

}  // namespace

OnsetFlux::OnsetFlux() {
  for (int32_t i = 0; i < kFrame; ++i)
    window_[i] = static_cast<float>(0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * i / (kFrame - 1)));
  constexpr int32_t h = kHalf / 2;
  for (int32_t j = 0; j < h; ++j) {
    const double angle = -std::numbers::pi * j / h;
    first_[j] = static_cast<float>(std::cos(angle));
    first_[h + j] = static_cast<float>(std::sin(angle));
  }
  float* row = quads_;
  for (int32_t q = h / 4; q >= 4; q /= 4) {
    for (int32_t j = 0; j < q; ++j) {
      for (int32_t p = 1; p <= 3; ++p) {
        const double angle = -2.0 * std::numbers::pi * p * j / (4 * q);
        row[(2 * p - 2) * q + j] = static_cast<float>(std::cos(angle));
        row[(2 * p - 1) * q + j] = static_cast<float>(std::sin(angle));
      }
    }
    row += 6 * q;
  }
  for (int32_t k = 0; k < kHalf; ++k) {
    const double angle = -2.0 * std::numbers::pi * k / kFrame;
    splitRe_[k] = static_cast<float>(std::cos(angle));
    splitIm_[k] = static_cast<float>(std::sin(angle));
  }
  constexpr int32_t bits = std::countr_zero(static_cast<uint32_t>(kHalf));
  for (int32_t i = 0; i < kHalf; ++i) {
    int32_t r = 0;
    for (int32_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    reversed_[i] = r;
  }
  Reset();
}

void OnsetFlux::Reset() { std::fill_n(previous_, kHalf, 0.0f); }

void OnsetFlux::Compute(const float* first, int32_t count, float* out) {
  if (first == nullptr || count <= 0) return;
  count = std::min(count, kLanes);
  // Lanes beyond count repeat the last frame: their sums are not used.
  const float* starts[kLanes];
  for (int32_t l = 0; l < kLanes; ++l) starts[l] = first + std::min(l, count - 1) * kHop;
  const Tables tables{window_, first_, quads_, splitRe_, splitIm_, reversed_};
  V8 sums;
  FluxOfFrames(tables, starts, zr_, zi_, logs_, shifted_, previous_, count, &sums);
  for (int32_t l = 0; l < count; ++l) out[l] = sums[l];
}

}  // namespace kestrune
