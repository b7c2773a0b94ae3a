// A single-precision FFT of real input (2^order points, order 2..16) for the
// onset tempo estimate, which owes no exactness: it is computed as a complex
// transform of half the length on split real and imaginary arrays, so that
// the butterflies vectorise, followed by the usual split into the spectrum of
// the real sequence. Forward sign, no scaling.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrune {

class RealFft {
 public:
  // False (and an unusable transform) for an order outside 2..16.
  bool Setup(int32_t order);
  int32_t size() const { return size_; }

  // Transforms in (size() values, left as they are) into bins 0..size()/2 of
  // re and im (size()/2 + 1 values each).
  void Forward(const float* in, float* re, float* im);

 private:
  void Complex();  // the half-length transform of zr, zi in place, natural order out

  int32_t size_ = 0;
  int32_t half_ = 0;
  std::vector<float> twiddleRe_, twiddleIm_;  // per stage, contiguous: halves of 1, 2, 4, .. half_/2
  std::vector<float> quads_;                  // per pair of stages: six rows of q values
  std::vector<float> splitRe_, splitIm_;      // exp(-2 pi i k / size), k < half_
  std::vector<int32_t> reversed_;             // bit reversal of half_ indexes
  std::vector<float> zr_, zi_, tr_, ti_;
};

}  // namespace kestrune
