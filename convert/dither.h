// Reduction of float samples to 16 bits with TPDF dither: the sum of two
// independent uniform values of one step each, from a seeded generator, so
// that the same input always gives the same bytes.
#pragma once

#include <cmath>
#include <cstdint>

namespace kestrune::convert {

inline constexpr uint64_t kDitherSeed = 0x9E3779B97F4A7C15ull;

class Quantiser {
 public:
  // With dither off, samples are only rounded: for input that already sits on
  // 16-bit steps the result is exact.
  explicit Quantiser(bool dither) : dither_(dither) {}

  int16_t operator()(float sample) {
    // NaN becomes silence; beyond full scale is clipped.
    float x = sample == sample ? sample : 0.0f;
    x = x < -1.0f ? -1.0f : x > 1.0f ? 1.0f : x;
    float y = x * 32768.0f;
    if (dither_) y += Next();
    y = y < -32768.0f ? -32768.0f : y > 32767.0f ? 32767.0f : y;
    return static_cast<int16_t>(std::lrint(y));
  }

 private:
  // Triangular in (-1, 1) steps from the two halves of one xorshift64* draw.
  float Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    const uint64_t r = state_ * 0x2545F4914F6CDD1Dull;
    const auto a = static_cast<uint32_t>(r >> 32), b = static_cast<uint32_t>(r);
    return static_cast<float>((static_cast<double>(a) + static_cast<double>(b)) * (1.0 / 4294967296.0) - 1.0);
  }

  bool dither_;
  uint64_t state_ = kDitherSeed;
};

}  // namespace kestrune::convert
