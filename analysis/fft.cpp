#include "analysis/fft.h"

#include <cmath>
#include <new>
#include <utility>

namespace kestrune {
namespace {

constexpr double kPi = 3.141592653589793;

// (a, b) * (c, d) = (a*c - b*d, b*c + a*d), each product rounded on its own.
inline void Multiply(double a, double b, double c, double d, double& re, double& im) {
  re = a * c - b * d;
  im = b * c + a * d;
}

}  // namespace

void SetupFft(FftEngine& engine, int32_t order) {
  ReleaseFft(engine);
  if (order < 0 || order > 30) return;
  engine.order = order;
  engine.size = int32_t{1} << order;
  const auto n = static_cast<size_t>(order) + 1;
  engine.cosines.reset(new (std::nothrow) double[n]);
  engine.sines.reset(new (std::nothrow) double[n]);
  engine.angles.reset(new (std::nothrow) double[n]);
  if (!engine.HasTables()) return;
  engine.cosines[0] = engine.sines[0] = engine.angles[0] = 0.0;
  for (int32_t k = 1; k <= order; ++k) {
    engine.angles[k] = kPi / static_cast<double>(int64_t{1} << (order - k));
    engine.cosines[k] = std::cos(engine.angles[k]);
    engine.sines[k] = std::sin(engine.angles[k]);
  }
}

void ReleaseFft(FftEngine& engine) {
  engine.cosines.reset();
  engine.sines.reset();
  engine.angles.reset();
  engine.size = 0;
  engine.order = 0;
}

bool FftStageTwiddles(const FftEngine& engine, int32_t stage, double* re, double* im) {
  if (!engine.HasTables() || stage < 1 || stage > engine.order) return false;
  const int32_t half = int32_t{1} << (engine.order - stage);
  const double wRe = engine.cosines[stage];
  const double wIm = -engine.sines[stage];
  double uRe = 1.0;
  double uIm = 0.0;
  for (int32_t j = 0; j < half; ++j) {
    re[j] = uRe;
    im[j] = uIm;
    double nRe, nIm;
    Multiply(uRe, uIm, wRe, wIm, nRe, nIm);
    uRe = nRe;
    uIm = nIm;
  }
  return true;
}

void RunFft(const FftEngine& engine, Complex* data, int32_t order) {
  if (!engine.HasTables() || order != engine.order || data == nullptr) return;
  const int32_t n = int32_t{1} << order;
  auto* d = reinterpret_cast<double*>(data);  // pairs (re, im)

  for (int32_t k = 1; k <= order; ++k) {
    const int32_t span = int32_t{1} << (order - k + 1);
    const int32_t half = span / 2;
    const double wRe = engine.cosines[k];
    const double wIm = -engine.sines[k];
    double uRe = 1.0;
    double uIm = 0.0;
    for (int32_t j = 0; j < half; ++j) {
      for (int32_t g = 0; g < n; g += span) {
        double* p = d + 2 * (g + j);
        double* q = d + 2 * (g + j + half);
        const double pRe = p[0], pIm = p[1];
        const double qRe = q[0], qIm = q[1];
        p[0] = pRe + qRe;
        p[1] = pIm + qIm;
        Multiply(pRe - qRe, pIm - qIm, uRe, uIm, q[0], q[1]);
      }
      double nRe, nIm;
      Multiply(uRe, uIm, wRe, wIm, nRe, nIm);
      uRe = nRe;
      uIm = nIm;
    }
  }

  // Bit reversal, 1-based as in the classic formulation.
  int32_t j = 1;
  for (int32_t i = 1; i < n; ++i) {
    if (i < j) std::swap(data[i - 1], data[j - 1]);
    int32_t m = n / 2;
    while (m < j && m > 0) {
      j -= m;
      m /= 2;
    }
    j += m;
  }
}

}  // namespace kestrune
