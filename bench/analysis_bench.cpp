// One block of the beat analysis (1024 frames: scaling, FFT, magnitudes,
// band energies and means) on the scalar path, the vector path, and, as a
// yardstick, the same pipeline on FFTW.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/beat_analyzer.h"

#ifdef KESTRUNE_BENCH_FFTW
#include <fftw3.h>
#endif

namespace kestrune {
namespace {

constexpr int32_t kHistory = 21;  // a 500 ms split

std::vector<uint8_t> NoiseBlocks(int32_t blocks) {
  std::mt19937 rng(17);
  std::vector<uint8_t> bytes(static_cast<size_t>(blocks) * kBlockFrames * 4);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// Feeds blocks 0..H-1 of a split over and over; every H-th feed also builds
// the masks, as in a real run.
void AnalyseBlocks(benchmark::State& state, KernelChoice choice) {
  BeatAnalyzer a;
  if (SetupBeatAnalyzer(a, kHistory) != 1 || SetBeatAnalyzerKernel(a, choice) != choice) {
    state.SkipWithError("this path is not available here");
    return;
  }
  const auto blocks = NoiseBlocks(kHistory);
  int32_t k = 0;
  ResetBeatAnalyzer(a);
  for (auto _ : state) {
    FeedBeatAnalyzer(a, blocks.data() + static_cast<size_t>(k) * kBlockFrames * 4);
    if (++k == kHistory) {
      k = 0;
      ResetBeatAnalyzer(a);
    }
    benchmark::DoNotOptimize(a.magnitudes[5]);
  }
  state.SetItemsProcessed(state.iterations());
}

// _Vector is the widest code this processor runs (what a job uses);
// _Avx2 and _Avx512 each vector path by name, skipped where it cannot run.
void BM_AnalyseBlock_Scalar(benchmark::State& state) { AnalyseBlocks(state, KernelChoice::Scalar); }
void BM_AnalyseBlock_Vector(benchmark::State& state) {
  AnalyseBlocks(state, KernelAvailable(KernelChoice::Avx512) ? KernelChoice::Avx512 : KernelChoice::Avx2);
}
void BM_AnalyseBlock_Avx2(benchmark::State& state) { AnalyseBlocks(state, KernelChoice::Avx2); }
void BM_AnalyseBlock_Avx512(benchmark::State& state) { AnalyseBlocks(state, KernelChoice::Avx512); }
BENCHMARK(BM_AnalyseBlock_Scalar);
BENCHMARK(BM_AnalyseBlock_Vector);
BENCHMARK(BM_AnalyseBlock_Avx2);
BENCHMARK(BM_AnalyseBlock_Avx512);

#ifdef KESTRUNE_BENCH_FFTW
// The same work with FFTW's transform: scale, transform, magnitudes, bands,
// means. FFTW's results differ in the last bits; only its speed is of use.
void BM_AnalyseBlock_Fftw(benchmark::State& state) {
  const auto blocks = NoiseBlocks(kHistory);
  fftw_complex* data = fftw_alloc_complex(kBlockFrames);
  fftw_plan plan = fftw_plan_dft_1d(kBlockFrames, data, data, FFTW_FORWARD, FFTW_MEASURE);
  int32_t widths[kBandCount];
  PartitionBands(widths, kBandCount, kBlockFrames);
  std::vector<double> magnitudes(kBlockFrames), history(kHistory * kBandCount), means(kBandCount);
  int32_t k = 0;
  for (auto _ : state) {
    const uint8_t* block = blocks.data() + static_cast<size_t>(k) * kBlockFrames * 4;
    for (int32_t n = 0; n < kBlockFrames; ++n) {
      data[n][0] = static_cast<double>(LoadU16(block + 4 * n)) / 65535.0;
      data[n][1] = static_cast<double>(LoadU16(block + 4 * n + 2)) / 65535.0;
    }
    fftw_execute(plan);
    for (int32_t b = 0; b < kBlockFrames; ++b) {
      magnitudes[b] = std::sqrt(data[b][0] * data[b][0] + data[b][1] * data[b][1]);
    }
    double* row = &history[static_cast<size_t>(k) * kBandCount];
    int32_t bin = 0;
    for (int32_t j = 0; j < kBandCount; ++j) {
      double sum = 0.0;
      for (int32_t b = 0; b < widths[j]; ++b) sum += magnitudes[bin++];
      row[j] = sum / widths[j];
      means[j] += row[j] / kHistory;
    }
    if (++k == kHistory) {
      k = 0;
      std::fill(means.begin(), means.end(), 0.0);
    }
    benchmark::DoNotOptimize(row[3]);
  }
  state.SetItemsProcessed(state.iterations());
  fftw_destroy_plan(plan);
  fftw_free(data);
}
BENCHMARK(BM_AnalyseBlock_Fftw);

// FFTW's transform alone, to show how the pipeline's time divides.
void BM_FftwTransformOnly(benchmark::State& state) {
  fftw_complex* data = fftw_alloc_complex(kBlockFrames);
  fftw_plan plan = fftw_plan_dft_1d(kBlockFrames, data, data, FFTW_FORWARD, FFTW_MEASURE);
  const auto blocks = NoiseBlocks(1);
  for (int32_t n = 0; n < kBlockFrames; ++n) {
    data[n][0] = static_cast<double>(LoadU16(blocks.data() + 4 * n)) / 65535.0;
    data[n][1] = static_cast<double>(LoadU16(blocks.data() + 4 * n + 2)) / 65535.0;
  }
  for (auto _ : state) {
    fftw_execute(plan);
    benchmark::DoNotOptimize(data[7][0]);
  }
  state.SetItemsProcessed(state.iterations());
  fftw_destroy_plan(plan);
  fftw_free(data);
}
BENCHMARK(BM_FftwTransformOnly);
#endif

}  // namespace
}  // namespace kestrune
