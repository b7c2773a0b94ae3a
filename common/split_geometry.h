// The geometry of a split of a given length, in unsigned 32-bit arithmetic at
// 44100 frames per second.
#pragma once

#include <cstdint>

#include "common/options.h"

namespace kestrune {

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
