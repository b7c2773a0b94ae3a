#include "cli/demo_sound.h"

#include <algorithm>
#include <cmath>

namespace kestrune::cli {
namespace {

constexpr double kRate = 44100.0;
constexpr double kTwoPi = 6.283185307179586;

struct Noise {
  uint32_t state = 2463534242u;
  double Next() {  // xorshift, -1..1
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<double>(state) / 2147483648.0 - 1.0;
  }
};

double Kick(double t) {
  if (t > 0.35) return 0.0;
  const double phase = kTwoPi * (45.0 * t + 75.0 * 0.04 * (1.0 - std::exp(-t / 0.04)));
  return 0.9 * std::sin(phase) * std::exp(-t / 0.12);
}

double Snare(double t, Noise& noise) {
  if (t > 0.25) return 0.0;
  return 0.45 * noise.Next() * std::exp(-t / 0.06) + 0.25 * std::sin(kTwoPi * 185.0 * t) * std::exp(-t / 0.08);
}

double Hat(double t, double length, Noise& noise) {
  if (t > 5 * length) return 0.0;
  return 0.18 * noise.Next() * std::exp(-t / length);
}

double Bass(double t, double hz) {
  const double env = std::min(1.0, t / 0.01) * std::exp(-t / 0.35);
  double v = 0.0;
  for (int h = 1; h <= 4; ++h) v += std::sin(kTwoPi * hz * h * t) / h;
  return 0.3 * env * v;
}

int16_t Clip(double v) { return static_cast<int16_t>(std::clamp(v, -1.0, 1.0) * 32000.0); }

}  // namespace

std::vector<int16_t> SynthesiseGroove() {
  // One bass note per beat over eight bars, in Hz.
  static const double kNotes[kDemoBeats] = {
      55.0, 55.0, 65.4, 73.4, 43.7, 43.7, 49.0, 41.2, 55.0, 82.4, 65.4, 61.7, 43.7, 49.0, 55.0, 49.0,
      55.0, 55.0, 65.4, 73.4, 87.3, 43.7, 49.0, 41.2, 55.0, 82.4, 65.4, 61.7, 98.0, 49.0, 43.7, 41.2};
  Noise noise;
  std::vector<int16_t> out(2 * size_t{kDemoBeats} * kDemoBeatFrames);
  for (uint32_t beat = 0; beat < kDemoBeats; ++beat) {
    const bool backbeat = beat % 2 == 1;
    const bool fill = beat % 8 == 7;
    for (uint32_t f = 0; f < kDemoBeatFrames; ++f) {
      const double t = f / kRate;
      const double eighth = std::fmod(t, 0.25);
      // Four on the floor, a snare on the back beats.
      double drums = Kick(t) + (backbeat ? Snare(t, noise) : 0.0);
      if (fill && t >= 0.25) drums += Snare(t - 0.25, noise);
      const double hats = Hat(eighth, beat % 4 == 3 && t >= 0.25 ? 0.06 : 0.012, noise);
      const double bass = Bass(t, kNotes[beat]);
      const double hiss = 0.03 * noise.Next();  // a tape-like floor under everything
      const size_t at = 2 * (size_t{beat} * kDemoBeatFrames + f);
      out[at] = Clip(drums + 0.8 * bass + 0.6 * hats + hiss);
      out[at + 1] = Clip(drums + bass + 1.2 * hats + hiss);
    }
  }
  return out;
}

std::vector<int16_t> Rearrange(const std::vector<int16_t>& groove, const std::vector<uint32_t>& beats) {
  std::vector<int16_t> out;
  const size_t beatValues = 2 * size_t{kDemoBeatFrames};
  for (uint32_t b : beats) {
    const auto from = groove.begin() + static_cast<std::ptrdiff_t>(b * beatValues);
    out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(beatValues));
  }
  return out;
}

}  // namespace kestrune::cli
