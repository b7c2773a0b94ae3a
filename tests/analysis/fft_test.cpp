#include "analysis/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace kestrune {
namespace {

std::vector<Complex> NaiveDft(const std::vector<Complex>& x) {
  const size_t n = x.size();
  std::vector<Complex> out(n);
  for (size_t k = 0; k < n; ++k) {
    long double re = 0, im = 0;
    for (size_t t = 0; t < n; ++t) {
      const long double angle = -2.0L * 3.14159265358979323846264338327950288L *
                                static_cast<long double>((t * k) % n) / static_cast<long double>(n);
      re += x[t].real() * std::cos(angle) - x[t].imag() * std::sin(angle);
      im += x[t].real() * std::sin(angle) + x[t].imag() * std::cos(angle);
    }
    out[k] = Complex(static_cast<double>(re), static_cast<double>(im));
  }
  return out;
}

TEST(Fft, TablesHoldStageAnglesAndTheirSinesAndCosines) {
  FftEngine engine;
  SetupFft(engine, 10);
  ASSERT_TRUE(engine.HasTables());
  EXPECT_EQ(engine.size, 1024);
  EXPECT_EQ(engine.angles[0], 0.0);
  EXPECT_EQ(engine.angles[1], 3.141592653589793 / 512.0);
  EXPECT_EQ(engine.angles[10], 3.141592653589793);
  EXPECT_EQ(engine.cosines[10], -1.0);
}

TEST(Fft, MatchesAStraightforwardDftWithinRounding) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> dist(0.0, 1.0);
  for (int order : {1, 2, 3, 5, 10}) {
    const size_t n = size_t{1} << order;
    std::vector<Complex> x(n);
    for (auto& v : x) v = Complex(dist(rng), dist(rng));
    const auto expected = NaiveDft(x);
    FftEngine engine;
    SetupFft(engine, order);
    RunFft(engine, x.data(), order);
    for (size_t k = 0; k < n; ++k) {
      EXPECT_NEAR(x[k].real(), expected[k].real(), 1e-9 * static_cast<double>(n)) << "order " << order << " bin " << k;
      EXPECT_NEAR(x[k].imag(), expected[k].imag(), 1e-9 * static_cast<double>(n)) << "order " << order << " bin " << k;
    }
  }
}

TEST(Fft, SingleToneLandsInItsBinWithForwardSign) {
  const int order = 10;
  const size_t n = 1024;
  std::vector<Complex> x(n);
  for (size_t t = 0; t < n; ++t) {
    const double a = 2.0 * 3.141592653589793 * 5.0 * static_cast<double>(t) / 1024.0;
    x[t] = Complex(std::cos(a), std::sin(a));  // e^{+i...}: bin 5 under the forward sign
  }
  FftEngine engine;
  SetupFft(engine, order);
  RunFft(engine, x.data(), order);
  EXPECT_NEAR(std::abs(x[5]), 1024.0, 1e-9);
  EXPECT_NEAR(std::abs(x[1024 - 5]), 0.0, 1e-9);
}

TEST(Fft, WithoutTablesDataIsLeftAlone) {
  FftEngine engine;  // never set up
  std::vector<Complex> x(8, Complex(1.0, 2.0));
  RunFft(engine, x.data(), 3);
  for (const auto& v : x) EXPECT_EQ(v, Complex(1.0, 2.0));
}

}  // namespace
}  // namespace kestrune
