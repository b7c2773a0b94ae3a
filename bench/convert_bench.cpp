// Conversion of 48 kHz 24-bit stereo to the target format, from memory to
// memory: libsndfile's reading, the very-high-quality resampling, the dither
// and the writing, on one thread. The counter x_realtime is seconds of sound
// per second of CPU time.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "convert/convert.h"
#include "storage/wav_file.h"

namespace kestrune {
namespace {

constexpr uint32_t kSeconds = 20;

std::vector<uint8_t> Noise48k24Bit() {
  const uint32_t frames = 48000 * kSeconds;
  std::vector<uint8_t> bytes(44 + size_t{frames} * 6);
  std::array<uint8_t, 44> header{};
  MakeWavHeader(header, frames * 6, 48000, 6, 1, 2, 24);
  std::memcpy(bytes.data(), header.data(), 44);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int32_t> noise(-4000000, 4000000);
  for (size_t i = 44; i + 3 <= bytes.size(); i += 3) {
    const auto v = static_cast<uint32_t>(noise(rng));
    bytes[i] = static_cast<uint8_t>(v), bytes[i + 1] = static_cast<uint8_t>(v >> 8), bytes[i + 2] = static_cast<uint8_t>(v >> 16);
  }
  return bytes;
}

void BM_Convert48k24BitStereo(benchmark::State& state) {
  const auto input = Noise48k24Bit();
  std::vector<uint8_t> output;
  output.reserve(44 + size_t{kSeconds} * 44100 * 4 + 65536);
  for (auto _ : state) {
    const auto result = convert::ConvertMemory(input.data(), input.size(), output);
    if (!result.Succeeded()) state.SkipWithError(result.error.c_str());
    benchmark::DoNotOptimize(output.data());
  }
  state.counters["x_realtime"] = benchmark::Counter(double{kSeconds} * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Convert48k24BitStereo)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrune
