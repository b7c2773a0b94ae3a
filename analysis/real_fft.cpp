// Single precision, and built with contraction into fused multiply-add
// allowed (see analysis/CMakeLists.txt): only the onset tempo estimate uses
// this transform, and it owes no exactness.
#include "analysis/real_fft.h"

#include <cmath>
#include <numbers>

#include "analysis/vector_clones.h"

namespace kestrune {
namespace {

// One group of a decimation-in-frequency stage: p, q = p + q, (p - q) w.
KESTRUNE_VECTOR_CLONES void Butterflies(float* __restrict pr, float* __restrict pi, float* __restrict qr, float* __restrict qi,
                 const float* __restrict wr, const float* __restrict wi, int32_t h) {
  for (int32_t j = 0; j < h; ++j) {
    const float ar = pr[j], ai = pi[j], br = qr[j], bi = qi[j];
    pr[j] = ar + br;
    pi[j] = ai + bi;
    const float dr = ar - br, di = ai - bi;
    qr[j] = dr * wr[j] - di * wi[j];
    qi[j] = dr * wi[j] + di * wr[j];
  }
}

// One group of two decimation-in-frequency stages at once (halves 2q and q):
// a, b, c, d = x[j], x[j + q], x[j + 2q], x[j + 3q] become
// (a + c) + (b + d), ((a + c) - (b + d)) w^2j, ((a - c) - i (b - d)) w^j and
// ((a - c) + i (b - d)) w^3j, w = exp(-2 pi i / 4q): the same values in the
// same places as the two stages, with fewer products and passes.
KESTRUNE_VECTOR_CLONES void Quads(float* __restrict ar, float* __restrict ai, float* __restrict br,
                                  float* __restrict bi, float* __restrict cr, float* __restrict ci,
                                  float* __restrict dr, float* __restrict di, const float* __restrict w,
                                  int32_t q) {
  const float* __restrict w1r = w;
  const float* __restrict w1i = w + q;
  const float* __restrict w2r = w + 2 * q;
  const float* __restrict w2i = w + 3 * q;
  const float* __restrict w3r = w + 4 * q;
  const float* __restrict w3i = w + 5 * q;
  for (int32_t j = 0; j < q; ++j) {
    const float t0r = ar[j] + cr[j], t0i = ai[j] + ci[j];
    const float t1r = ar[j] - cr[j], t1i = ai[j] - ci[j];
    const float t2r = br[j] + dr[j], t2i = bi[j] + di[j];
    const float t3r = bi[j] - di[j], t3i = dr[j] - br[j];  // (b - d) * -i
    ar[j] = t0r + t2r;
    ai[j] = t0i + t2i;
    const float u1r = t0r - t2r, u1i = t0i - t2i;
    br[j] = u1r * w2r[j] - u1i * w2i[j];
    bi[j] = u1r * w2i[j] + u1i * w2r[j];
    const float u2r = t1r + t3r, u2i = t1i + t3i;
    cr[j] = u2r * w1r[j] - u2i * w1i[j];
    ci[j] = u2r * w1i[j] + u2i * w1r[j];
    const float u3r = t1r - t3r, u3i = t1i - t3i;
    dr[j] = u3r * w3r[j] - u3i * w3i[j];
    di[j] = u3r * w3i[j] + u3i * w3r[j];
  }
}

// The spectrum of the real sequence from the half-length transform z.
KESTRUNE_VECTOR_CLONES void Split(const float* __restrict zr, const float* __restrict zi, const float* __restrict c,
           const float* __restrict s, float* __restrict re, float* __restrict im, int32_t m) {
  re[0] = zr[0] + zi[0];
  im[0] = 0.0f;
  re[m] = zr[0] - zi[0];
  im[m] = 0.0f;
  // X[k] = E - i W^k O with E, O the even and odd halves of Z[k] and conj(Z[m - k]).
  for (int32_t k = 1; k < m; ++k) {
    const float er = 0.5f * (zr[k] + zr[m - k]);
    const float ei = 0.5f * (zi[k] - zi[m - k]);
    const float orr = 0.5f * (zr[k] - zr[m - k]);
    const float oi = 0.5f * (zi[k] + zi[m - k]);
    re[k] = er + (c[k] * oi + s[k] * orr);
    im[k] = ei - (c[k] * orr - s[k] * oi);
  }
}

}  // namespace

bool RealFft::Setup(int32_t order) {
  size_ = half_ = 0;
  if (order < 2 || order > 16) return false;
  const int32_t n = int32_t{1} << order;
  const int32_t m = n / 2;
  twiddleRe_.assign(static_cast<size_t>(m), 0.0f);
  twiddleIm_.assign(static_cast<size_t>(m), 0.0f);
  // Stage with half h: exp(-2 pi i j / 2h) for j < h, stored from index h - 1.
  for (int32_t h = 1; h < m; h *= 2) {
    for (int32_t j = 0; j < h; ++j) {
      const double angle = -std::numbers::pi * j / h;
      twiddleRe_[static_cast<size_t>(h - 1 + j)] = static_cast<float>(std::cos(angle));
      twiddleIm_[static_cast<size_t>(h - 1 + j)] = static_cast<float>(std::sin(angle));
    }
  }
  // Two stages at once for q = 4, 8, .. m/4: w^j, w^2j, w^3j (w = exp(-2 pi i / 4q))
  // as six rows of q, from index 6 (q - 1).
  quads_.assign(static_cast<size_t>(6 * (m / 2)), 0.0f);
  for (int32_t q = 4; 4 * q <= m; q *= 2) {
    float* row = quads_.data() + 6 * (q - 1);
    for (int32_t j = 0; j < q; ++j) {
      for (int32_t p = 1; p <= 3; ++p) {
        const double angle = -2.0 * std::numbers::pi * p * j / (4 * q);
        row[(2 * p - 2) * q + j] = static_cast<float>(std::cos(angle));
        row[(2 * p - 1) * q + j] = static_cast<float>(std::sin(angle));
      }
    }
  }
  splitRe_.assign(static_cast<size_t>(m) + 1, 0.0f);
  splitIm_.assign(static_cast<size_t>(m) + 1, 0.0f);
  for (int32_t k = 0; k <= m; ++k) {
    const double angle = -2.0 * std::numbers::pi * k / n;
    splitRe_[static_cast<size_t>(k)] = static_cast<float>(std::cos(angle));
    splitIm_[static_cast<size_t>(k)] = static_cast<float>(std::sin(angle));
  }
  reversed_.assign(static_cast<size_t>(m), 0);
  const int32_t bits = order - 1;
  for (int32_t i = 0; i < m; ++i) {
    int32_t r = 0;
    for (int32_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    reversed_[static_cast<size_t>(i)] = r;
  }
  zr_.assign(static_cast<size_t>(m), 0.0f);
  zi_.assign(static_cast<size_t>(m), 0.0f);
  tr_.assign(static_cast<size_t>(m), 0.0f);
  ti_.assign(static_cast<size_t>(m), 0.0f);
  size_ = n;
  half_ = m;
  return true;
}

void RealFft::Complex() {
  const int32_t m = half_;
  float* __restrict xr = zr_.data();
  float* __restrict xi = zi_.data();
  // Decimation in frequency, halves m/2 down to 4, two stages at a time
  // while the half is 8 or more; the inner loops run over contiguous values
  // and contiguous twiddle rows.
  int32_t h = m / 2;
  for (; h >= 8; h /= 4) {
    const int32_t q = h / 2;
    const float* w = quads_.data() + 6 * (q - 1);
    for (int32_t g = 0; g < m; g += 4 * q) {
      Quads(xr + g, xi + g, xr + g + q, xi + g + q, xr + g + 2 * q, xi + g + 2 * q, xr + g + 3 * q,
            xi + g + 3 * q, w, q);
    }
  }
  if (h == 4) {
    const float* __restrict wr = twiddleRe_.data() + (h - 1);
    const float* __restrict wi = twiddleIm_.data() + (h - 1);
    for (int32_t g = 0; g < m; g += 2 * h) Butterflies(xr + g, xi + g, xr + g + h, xi + g + h, wr, wi, h);
  }
  // The last two stages together, four values at a time (twiddles 1 and
  // -i), written straight to their places in natural order: the outputs of
  // group g go to r, r + m/2, r + m/4 and r + 3m/4, r the reversal of g.
  float* __restrict yr = tr_.data();
  float* __restrict yi = ti_.data();
  const int32_t* rev = reversed_.data();
  const int32_t quarter = m / 4;
  if (m >= 4) {
    for (int32_t g = 0; g < m; g += 4) {
      const float r0 = xr[g], r1 = xr[g + 1], r2 = xr[g + 2], r3 = xr[g + 3];
      const float i0 = xi[g], i1 = xi[g + 1], i2 = xi[g + 2], i3 = xi[g + 3];
      const float ar = r0 + r2, ai = i0 + i2, br = r1 + r3, bi = i1 + i3;
      const float cr = r0 - r2, ci = i0 - i2, dr = i1 - i3, di = r3 - r1;  // (1 - 3) * -i
      const int32_t r = rev[g];
      yr[r] = ar + br;
      yi[r] = ai + bi;
      yr[r + 2 * quarter] = ar - br;
      yi[r + 2 * quarter] = ai - bi;
      yr[r + quarter] = cr + dr;
      yi[r + quarter] = ci + di;
      yr[r + 3 * quarter] = cr - dr;
      yi[r + 3 * quarter] = ci - di;
    }
  } else {  // m == 2
    yr[0] = xr[0] + xr[1];
    yi[0] = xi[0] + xi[1];
    yr[1] = xr[0] - xr[1];
    yi[1] = xi[0] - xi[1];
  }
}

void RealFft::Forward(const float* in, float* re, float* im) {
  if (size_ == 0) return;
  const int32_t m = half_;
  float* __restrict xr = zr_.data();
  float* __restrict xi = zi_.data();
  for (int32_t i = 0; i < m; ++i) {
    xr[i] = in[2 * i];
    xi[i] = in[2 * i + 1];
  }
  Complex();
  Split(tr_.data(), ti_.data(), splitRe_.data(), splitIm_.data(), re, im, m);
}

}  // namespace kestrune
