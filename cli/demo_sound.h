// A short synthesised groove of drums and bass, for the demonstration run.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrune::cli {

inline constexpr uint32_t kDemoBeatFrames = 22050;  // 120 BPM
inline constexpr uint32_t kDemoBeats = 32;

// kDemoBeats beats of interleaved stereo 16-bit samples.
std::vector<int16_t> SynthesiseGroove();

// The beats of groove listed in order, one after the other.
std::vector<int16_t> Rearrange(const std::vector<int16_t>& groove, const std::vector<uint32_t>& beats);

}  // namespace kestrune::cli
