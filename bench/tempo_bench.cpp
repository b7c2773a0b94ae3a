// The tempo of one four-second block (176,400 frames) on the scalar and the
// vector path.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis/kernels.h"
#include "analysis/tempo_estimator.h"
#include "common/sample_frame.h"

namespace kestrune {
namespace {

std::vector<uint8_t> BurstBlock() {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> noise(-1000, 1000);
  std::vector<uint8_t> bytes(176400 * 4);
  for (size_t n = 0; n < 176400; ++n) {
    const double phase = std::fmod(static_cast<double>(n), 22050.0);  // 120 BPM
    const double gain = phase < 900 ? 20.0 * (900 - phase) / 900 + 1 : 1.0;
    StoreU16(&bytes[4 * n], static_cast<uint16_t>(static_cast<int16_t>(noise(rng) * gain)));
    StoreU16(&bytes[4 * n + 2], static_cast<uint16_t>(static_cast<int16_t>(noise(rng) * gain)));
  }
  return bytes;
}

void TempoBlock(benchmark::State& state, KernelChoice choice) {
  const KernelChoice before = DefaultKernelChoice();
  if (SetKernelChoice(choice) != true) {
    SetKernelChoice(before);
    state.SkipWithError("this path is not available here");
    return;
  }
  const auto block = BurstBlock();
  for (auto _ : state) benchmark::DoNotOptimize(EstimateBlockTempo(block.data(), 176400));
  state.SetItemsProcessed(state.iterations());
  SetKernelChoice(before);
}

void BM_TempoBlock_Scalar(benchmark::State& state) { TempoBlock(state, KernelChoice::Scalar); }
void BM_TempoBlock_Vector(benchmark::State& state) { TempoBlock(state, KernelChoice::Avx2); }
BENCHMARK(BM_TempoBlock_Scalar)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TempoBlock_Vector)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrune
