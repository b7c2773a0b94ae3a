// One interleaved stereo frame: two signed 16-bit little-endian samples, left first.
#pragma once

#include <cstdint>
#include <cstring>

namespace kestrune {

struct SampleFrame {
  int16_t left;
  int16_t right;
};
static_assert(sizeof(SampleFrame) == 4);

inline constexpr uint32_t kSampleRate = 44100;
inline constexpr uint32_t kBytesPerFrame = 4;

// Reads a little-endian 16-bit value from possibly unaligned bytes.
inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Reads a little-endian 32-bit value from possibly unaligned bytes.
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void StoreU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace kestrune
