// Generated music for the search's tests: drums, a bass line and chords at a
// tempo, with patterns drawn from a seed so that no two bars are alike.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrune::test {

// Interleaved stereo 16-bit samples at 44100 Hz.
std::vector<int16_t> MakeTestMusic(double seconds, uint32_t seed, double bpm = 120.0);

}  // namespace kestrune::test
