// The geometry of a split of a given length, in unsigned 32-bit arithmetic at
// 44100 frames per second.
#pragma once

#include <cstdint>

namespace kestrune {

// Beyond this length milliseconds * 44100 no longer fits in 32 bits.
inline constexpr uint32_t kMaxSplitMilliseconds = 97391;
// Below this length a split holds no whole 1024-frame analysis block.
inline constexpr uint32_t kMinAnalysableSplitMilliseconds = 24;

struct SplitGeometry {
  uint32_t framesPerSplit = 0;
  uint32_t blocksPerSplit = 0;  // whole 1024-frame blocks; only these are analysed
  uint32_t bytesPerSplit = 0;
};

inline SplitGeometry SplitGeometryFor(uint32_t milliseconds) {
  SplitGeometry g;
  g.framesPerSplit = milliseconds * 44100u / 1000u;
  g.blocksPerSplit = milliseconds * 44100u / 1024000u;
  g.bytesPerSplit = g.framesPerSplit * 4u;
  return g;
}

}  // namespace kestrune

namespace kestrune {

// Note fractions of a tempo, in the order the main window lists them.
inline constexpr const char* kNoteFractions[] = {"1/2", "1/4", "3/16", "1/8", "1/16"};

// The split length in milliseconds for a tempo and a note fraction index, in
// unsigned 32-bit arithmetic; any other index counts as a quarter note. A
// tempo of 0 gives 0.
inline uint32_t SplitFromTempo(uint32_t bpm, int32_t noteFraction) {
  if (bpm == 0) return 0;
  const uint32_t base = 60000u / bpm;  // one quarter note
  switch (noteFraction) {
    case 0: return base * 2u;
    case 2: return base / 2u + base / 4u;
    case 3: return base / 2u;
    case 4: return base / 4u;
    default: return base;
  }
}

}  // namespace kestrune
