#include "support/test_music.h"

#include <algorithm>
#include <cmath>

namespace kestrune::test {
namespace {

struct Rng {
  uint32_t s;
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  double Unit() { return (Next() & 0xFFFFFF) / 16777216.0; }
};

}  // namespace

std::vector<int16_t> MakeTestMusic(double seconds, uint32_t seed, double bpm) {
  const auto frames = static_cast<size_t>(seconds * 44100.0);
  std::vector<double> left(frames, 0.0), right(frames, 0.0);
  Rng rng{seed * 2654435761u + 1};
  const auto step = static_cast<size_t>(44100.0 * 60.0 / bpm / 4.0);  // sixteenth notes
  const double pi = 3.141592653589793;
  for (size_t at = 0, n = 0; at < frames; at += step, ++n) {
    const bool kick = (n % 4 == 0 && rng.Unit() < 0.8) || rng.Unit() < 0.12;
    const bool snare = (n % 8 == 4 && rng.Unit() < 0.9) || rng.Unit() < 0.08;
    const bool hat = rng.Unit() < 0.6;
    const bool note = rng.Unit() < 0.45;
    const double bass = 55.0 * std::pow(2.0, static_cast<int>(rng.Next() % 12) / 12.0);
    const double chord = 220.0 * std::pow(2.0, static_cast<int>(rng.Next() % 12) / 12.0);
    const double pan = rng.Unit();
    for (size_t i = 0; i < step * 3 && at + i < frames; ++i) {
      const double t = static_cast<double>(i) / 44100.0;
      double v = 0.0, w = 0.0;
      if (kick) v += 0.5 * std::sin(2 * pi * (50.0 + 60.0 * std::exp(-t * 30.0)) * t) * std::exp(-t * 12.0);
      if (snare) v += 0.25 * (rng.Unit() * 2.0 - 1.0) * std::exp(-t * 25.0);
      if (hat && i < step) w += 0.08 * (rng.Unit() * 2.0 - 1.0) * std::exp(-t * 80.0);
      if (note) {
        v += 0.2 * std::sin(2 * pi * bass * t) * std::exp(-t * 4.0);
        w += 0.12 * (std::sin(2 * pi * chord * t) + std::sin(2 * pi * chord * 1.26 * t) +
                     std::sin(2 * pi * chord * 1.5 * t)) * std::exp(-t * 3.0);
      }
      left[at + i] += v + w * pan;
      right[at + i] += v + w * (1.0 - pan);
    }
  }
  // A faint noise floor, as a recording has: no digital silence unless made.
  std::vector<int16_t> out(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    out[2 * i] = static_cast<int16_t>(std::clamp(left[i] * 20000.0 + rng.Unit() * 6.0 - 3.0, -32767.0, 32767.0));
    out[2 * i + 1] = static_cast<int16_t>(std::clamp(right[i] * 20000.0 + rng.Unit() * 6.0 - 3.0, -32767.0, 32767.0));
  }
  return out;
}

}  // namespace kestrune::test
