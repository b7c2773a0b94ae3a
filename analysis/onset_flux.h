// The onset strength before smoothing: for each 1024-sample frame, the rise
// of its log magnitude spectrum ln(1 + 1000 |X[k]| / 1024), bins 1..512,
// over the previous frame's (Hamming window, single precision). Successive
// frames at hop 128 are done eight at a time, one frame per vector lane, so
// that every step of the transform, the logarithm and the flux runs on whole
// vectors; this owes no exactness.
#pragma once

#include <cstdint>

namespace kestrune {

class OnsetFlux {
 public:
  static constexpr int32_t kFrame = 1024;
  static constexpr int32_t kHop = 128;
  static constexpr int32_t kLanes = 8;  // frames done at once

  OnsetFlux();

  // Forgets the previous frame (its log magnitudes count as 0).
  void Reset();

  // The flux of count (1..kLanes) successive frames, frame j being the
  // kFrame samples from first + j * kHop, into out[0 .. count - 1]; the last
  // of them becomes the previous frame.
  void Compute(const float* first, int32_t count, float* out);

 private:
  static constexpr int32_t kHalf = kFrame / 2;  // points of the complex transform
  alignas(32) float window_[kFrame];
  // Radix-2 stage (half 256): exp(-2 pi i j / 512); then the radix-4 stages
  // for quarters 64, 16, 4 in turn: w^j, w^2j, w^3j as six rows of q each.
  alignas(32) float first_[2 * kHalf / 2];
  alignas(32) float quads_[6 * (64 + 16 + 4)];
  alignas(32) float splitRe_[kHalf], splitIm_[kHalf];
  int32_t reversed_[kHalf];
  // Lane-major work: value i of lane l at [i * kLanes + l].
  alignas(32) float zr_[kHalf * kLanes], zi_[kHalf * kLanes];
  alignas(32) float logs_[kHalf * kLanes];     // bins 1..512
  alignas(32) float shifted_[kHalf * kLanes];  // each lane's previous frame
  float previous_[kHalf];                      // the last frame's logs, bins 1..512
};

}  // namespace kestrune
