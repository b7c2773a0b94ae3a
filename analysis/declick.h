// Ramps both ends of a fragment to silence so that a cut starts and ends
// without a click.
#pragma once

#include <cstdint>

namespace kestrune {

inline constexpr uint32_t kDeclickFrames = 688;

// samples: interleaved 16-bit values (left, right), count of them. Replaces
// the first and last 688 frames with straight lines from and to 0. Fragments
// shorter than 1376 values are left unchanged.
void ApplyDeclickRamp(int16_t* samples, uint32_t count);

// The same on little-endian bytes in place (count 16-bit values).
void ApplyDeclickRampBytes(uint8_t* bytes, uint32_t count);

}  // namespace kestrune
