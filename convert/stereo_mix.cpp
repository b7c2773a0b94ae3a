#include "convert/stereo_mix.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace kestrune::convert {
namespace {

constexpr float kMinus3dB = 0.70710678f;

std::vector<int> DefaultPositions(size_t channels) {
  const int L = SF_CHANNEL_MAP_FRONT_LEFT, R = SF_CHANNEL_MAP_FRONT_RIGHT, C = SF_CHANNEL_MAP_FRONT_CENTER,
            LFE = SF_CHANNEL_MAP_LFE, BL = SF_CHANNEL_MAP_REAR_LEFT, BR = SF_CHANNEL_MAP_REAR_RIGHT,
            BC = SF_CHANNEL_MAP_REAR_CENTER, SL = SF_CHANNEL_MAP_SIDE_LEFT, SR = SF_CHANNEL_MAP_SIDE_RIGHT;
  switch (channels) {
    case 1: return {SF_CHANNEL_MAP_MONO};
    case 2: return {L, R};
    case 3: return {L, R, C};
    case 4: return {L, R, BL, BR};
    case 5: return {L, R, C, BL, BR};
    case 6: return {L, R, C, LFE, BL, BR};
    case 7: return {L, R, C, LFE, BC, SL, SR};
    case 8: return {L, R, C, LFE, BL, BR, SL, SR};
    default: return std::vector<int>(channels, SF_CHANNEL_MAP_INVALID);
  }
}

void Weights(int position, float& left, float& right) {
  switch (position) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT: left = 1.0f, right = 0.0f; return;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT: left = 0.0f, right = 1.0f; return;
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER: left = kMinus3dB, right = kMinus3dB; return;
    case SF_CHANNEL_MAP_REAR_LEFT:
    case SF_CHANNEL_MAP_SIDE_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER: left = kMinus3dB, right = 0.0f; return;
    case SF_CHANNEL_MAP_REAR_RIGHT:
    case SF_CHANNEL_MAP_SIDE_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER: left = 0.0f, right = kMinus3dB; return;
    case SF_CHANNEL_MAP_LFE: left = 0.0f, right = 0.0f; return;
    default: left = 0.5f, right = 0.5f; return;
  }
}

}  // namespace

StereoMix MakeStereoMix(size_t channels, const std::vector<int>& channelMap) {
  StereoMix mix;
  mix.left.assign(channels, 0.0f);
  mix.right.assign(channels, 0.0f);
  if (channels == 1) {
    mix.left[0] = mix.right[0] = 1.0f;
    return mix;
  }
  if (channels == 2) {
    mix.left[0] = mix.right[1] = 1.0f;
    return mix;
  }
  const std::vector<int> positions = channelMap.size() == channels ? channelMap : DefaultPositions(channels);
  double sumLeft = 0.0, sumRight = 0.0;
  for (size_t c = 0; c < channels; ++c) {
    Weights(positions[c], mix.left[c], mix.right[c]);
    sumLeft += mix.left[c];
    sumRight += mix.right[c];
  }
  const double peak = std::max(sumLeft, sumRight);
  if (peak > 1.0) {
    for (size_t c = 0; c < channels; ++c) {
      mix.left[c] = static_cast<float>(mix.left[c] / peak);
      mix.right[c] = static_cast<float>(mix.right[c] / peak);
    }
  }
  return mix;
}

void MixToStereo(const StereoMix& mix, const float* input, size_t frames, float* output) {
  const size_t channels = mix.left.size();
  for (size_t f = 0; f < frames; ++f) {
    const float* in = input + f * channels;
    float l = 0.0f, r = 0.0f;
    for (size_t c = 0; c < channels; ++c) {
      l += mix.left[c] * in[c];
      r += mix.right[c] * in[c];
    }
    output[2 * f] = l;
    output[2 * f + 1] = r;
  }
}

}  // namespace kestrune::convert
