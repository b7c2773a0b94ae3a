// The search for a piece anywhere: its per-block analysis (every hop), its
// per-candidate work (means, masks, comparison with the templates) and a
// whole scan of a source held in memory, on one thread and on all.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/beat_analyzer.h"
#include "analysis/kernels.h"
#include "matching/find_kernels.h"
#include "matching/find_scores.h"
#include "matching/find_source.h"
#include "matching/find_templates.h"
#include "matching/find_wav_scan.h"

namespace kestrune {
namespace {

constexpr int32_t kBlocks = 21;  // 500 ms splits
constexpr uint32_t kHop = 128;
constexpr uint32_t kStep = kBlockFrames / kHop;

std::vector<uint8_t> NoiseFrames(size_t frames, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(frames * 4);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

class MemoryAudio : public FindAudio {
 public:
  explicit MemoryAudio(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint32_t Frames() const override { return static_cast<uint32_t>(bytes_.size() / 4); }
  uint32_t Read(uint32_t first, uint32_t count, uint8_t* buffer) override {
    const uint32_t n = first < Frames() ? std::min(count, Frames() - first) : 0;
    std::memcpy(buffer, bytes_.data() + size_t{first} * 4, size_t{n} * 4);
    return n;
  }

 private:
  std::vector<uint8_t> bytes_;
};

FindTemplates NoiseTemplates(uint32_t count) {
  FindTemplates t;
  t.count = count;
  t.blocks = kBlocks;
  std::mt19937 rng(5);
  for (uint32_t i = 0; i < count * kBlocks; ++i) t.masks.push_back(rng());
  t.silent.assign(count * kBlocks, 0);
  t.silentBlocks.assign(count, 0);
  t.faint.assign(count * kBlocks, 0);
  t.background.assign(count * kBlocks, 0);
  t.backgroundBlocks.assign(count, 0);
  return t;
}

// One block at a hop: FFT, magnitudes, band energies and shares.
void BM_FindBlock(benchmark::State& state) {
  BeatAnalyzer a;
  SetupBeatAnalyzer(a, kBlocks);
  const auto frames = NoiseFrames(kBlockFrames * 4, 3);
  double energies[32], shares[32];
  size_t at = 0;
  for (auto _ : state) {
    AnalyseSingleBlock(a, frames.data() + at, energies, shares);
    at = (at + kHop * 4) % (size_t{kBlockFrames} * 3 * 4);
    benchmark::DoNotOptimize(energies[3]);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindBlock);

// One candidate as the scan compares it: its band means and masks (in the
// scan's bit order, a run of candidates at a time) from the ring, its
// comparison with each of 8 templates laid out one after another and its
// chance agreement with each. The scan keeps each phase's blocks
// together and compares a phase's candidates one after another, so
// consecutive candidates share all but one block: a ring of one phase.
void BM_FindCandidate(benchmark::State& state) {
  const uint32_t slots = kBlocks + 64 / kStep + 1;
  std::vector<double> energies(slots * 32), shares(slots * 32);
  std::mt19937 rng(9);
  for (uint32_t i = 0; i < slots * 32; ++i) {
    energies[i] = (rng() % 100000) / 100.0;
    shares[i] = energies[i] / kBlocks;
  }
  const FindTemplates templates = NoiseTemplates(8);
  std::vector<uint32_t> masks(kBlocks * kScanRun), differ(8), products(8), templateSet(8);
  uint32_t first = 0;
  uint32_t agreement = 0, chance = 0;
  // Each template block's set bits, 32 apart (21 blocks padded to 32).
  std::vector<uint32_t> blockSets(8 * 32, 0);
  for (uint32_t t = 0; t < 8; ++t) {
    for (uint32_t i = 0; i < kBlocks; ++i) blockSets[t * 32 + i] = static_cast<uint32_t>(std::popcount(templates.masks[t * kBlocks + i]));
    templateSet[t] = SetBits(templates.masks.data() + t * kBlocks, kBlocks);
  }
  for (auto _ : state) {
    CandidateScanMasksRun(EnergyRing{energies.data(), shares.data(), slots}, first, kScanRun, kBlocks, masks.data());
    for (uint32_t q = 0; q < kScanRun; ++q) {
      const uint32_t set = CompareWithTemplates(masks.data() + q * kBlocks, templates.masks.data(), blockSets.data(), 32, 8,
                                                kBlocks, differ.data(), products.data());
      for (uint32_t t = 0; t < 8; ++t) {
        agreement += 32 * kBlocks - differ[t];
        chance += 1024 * kBlocks - 32 * (templateSet[t] + set) + 2 * products[t];
      }
    }
    first = (first + kScanRun) % slots;
    benchmark::DoNotOptimize(agreement);
    benchmark::DoNotOptimize(chance);
  }
  state.SetItemsProcessed(state.iterations() * kScanRun);
}
BENCHMARK(BM_FindCandidate);

// The scan's former inner loop, for comparison: the masks in the analyser's
// bit order, one comparison call per template, and the candidates in the
// order of their starts, whose blocks lie a block apart in a ring of all
// phases (a candidate shares no block with the one before it).
void BM_FindCandidateStandardOrder(benchmark::State& state) {
  const uint32_t slots = (kBlocks - 1) * kStep + 1;
  std::vector<double> energies(slots * 32), shares(slots * 32);
  std::mt19937 rng(9);
  for (uint32_t i = 0; i < slots * 32; ++i) {
    energies[i] = (rng() % 100000) / 100.0;
    shares[i] = energies[i] / kBlocks;
  }
  const FindTemplates templates = NoiseTemplates(8);
  std::vector<uint32_t> masks(kBlocks);
  uint32_t first = 0;
  StartScores scores;
  scores.Reset(1);
  for (auto _ : state) {
    CandidateMasks(EnergyRing{energies.data(), shares.data(), slots}, first, kStep, kBlocks, masks.data());
    for (uint32_t t = 0; t < 8; ++t) AddComparison(templates, t, masks.data(), nullptr, scores, 0);
    if (++first == slots) first = 0;
    benchmark::DoNotOptimize(scores.agreement[0]);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindCandidateStandardOrder);

// A whole scan of 10 minutes of sound at hop 128 with 8 templates; the
// argument is the number of threads.
void BM_FindScanTenMinutes(benchmark::State& state) {
  MemoryAudio audio(NoiseFrames(size_t{44100} * 600, 11));
  const FindTemplates templates = NoiseTemplates(8);
  StartScores scores;
  for (auto _ : state) {
    scores.Reset(WavStartCount(audio.Frames(), kHop, 8, kBlocks));
    WavScanWork work;
    work.audio = &audio;
    work.templates = &templates;
    work.hop = kHop;
    work.threads = static_cast<uint32_t>(state.range(0));
    ScanWavSource(work, scores);
    benchmark::DoNotOptimize(scores.agreement[7]);
  }
}
BENCHMARK(BM_FindScanTenMinutes)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
}  // namespace kestrune
