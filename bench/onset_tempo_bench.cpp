// The onset tempo estimate over one minute of a drum groove with noise, fed
// in 64k-frame pieces as a file is read. The "realtime" counter is seconds of
// sound estimated per second of one core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis/onset_tempo.h"
#include "common/sample_frame.h"

namespace kestrune {
namespace {

constexpr size_t kMinute = 60 * 44100;

std::vector<uint8_t> Groove() {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  std::vector<uint8_t> bytes(kMinute * 4);
  const double beat = 44100.0 * 60.0 / 123.0;
  for (size_t n = 0; n < kMinute; ++n) {
    const double phase = std::fmod(static_cast<double>(n), beat / 2);
    const double gain = 800.0 + 12000.0 * std::exp(-phase / 900.0);
    StoreU16(&bytes[4 * n], static_cast<uint16_t>(static_cast<int16_t>(gain * noise(rng))));
    StoreU16(&bytes[4 * n + 2], static_cast<uint16_t>(static_cast<int16_t>(gain * noise(rng))));
  }
  return bytes;
}

void BM_OnsetTempo_Minute(benchmark::State& state) {
  const auto sound = Groove();
  OnsetTempoEstimator estimator;
  for (auto _ : state) {
    estimator.Setup();
    for (size_t at = 0; at < kMinute; at += 65536) estimator.Feed(sound.data() + 4 * at, std::min<size_t>(65536, kMinute - at));
    benchmark::DoNotOptimize(estimator.Result());
  }
  state.counters["realtime"] = benchmark::Counter(60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OnsetTempo_Minute)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrune
