// How the channels of a file become left and right.
//
// One channel goes to both sides unchanged; two stay as they are. More are
// mixed with the usual downmix coefficients (ITU-R BS.775):
//   front left/right, left/right  -> their side, 1
//   centre, mono                  -> both sides, 0.7071 (-3 dB)
//   surround, side, rear, and the front left/right of centre -> their side, 0.7071
//   rear centre, top and unknown positions -> both sides, 0.5
//   LFE                           -> dropped
// The whole matrix is then scaled so that neither side can exceed full
// scale (for 5.1: 1 / (1 + 0.7071 + 0.7071) = 0.4142). Files that name no
// positions take the WAVE order for their channel count (3: L R C; 4: L R
// Ls Rs; 5: L R C Ls Rs; 6: L R C LFE Ls Rs; 7: L R C LFE Cs Ls Rs; 8: L R C
// LFE Ls Rs SL SR); beyond eight, unnamed channels count as unknown.
#pragma once

#include <cstddef>
#include <vector>

namespace kestrune::convert {

struct StereoMix {
  std::vector<float> left, right;  // one coefficient per input channel
};

// channelMap holds SF_CHANNEL_MAP_* positions, or is empty.
StereoMix MakeStereoMix(size_t channels, const std::vector<int>& channelMap);

// Mixes frames interleaved input frames into interleaved stereo output.
void MixToStereo(const StereoMix& mix, const float* input, size_t frames, float* output);

}  // namespace kestrune::convert
