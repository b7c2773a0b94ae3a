// Scoring and ranking every candidate against one template split (500 ms
// splits: 21 mask words each), as the matching jobs do once per template
// split: 7,200 candidates is an hour of source, 1,000,000 a large database.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "analysis/kernels.h"
#include "matching/similarity.h"

namespace kestrune {
namespace {

constexpr uint32_t kBlocks = 21;

struct Candidates {
  std::vector<uint8_t> records;  // a frame position, then the masks, as the WAV job keeps them
  std::vector<uint32_t> templateMasks;
  MaskTable Table() const { return MaskTable{records.data(), 4 + 4 * kBlocks, 4}; }
};

Candidates MakeCandidates(uint32_t count) {
  std::mt19937 rng(3);
  Candidates c;
  c.records.resize(size_t{count} * (4 + 4 * kBlocks));
  for (auto& b : c.records) b = static_cast<uint8_t>(rng());
  c.templateMasks.resize(kBlocks);
  for (auto& w : c.templateMasks) w = static_cast<uint32_t>(rng());
  return c;
}

// The jobs' scoring and ranking: population count and counting sort.
void BM_ScoreAndRank(benchmark::State& state) {
  const auto count = static_cast<uint32_t>(state.range(0));
  const Candidates c = MakeCandidates(count);
  std::vector<CandidateScore> scores(count);
  CandidateRanker ranker;
  ranker.Reserve(count, 32 * kBlocks);
  for (auto _ : state) {
    ScoreCandidates(c.templateMasks.data(), kBlocks, count, c.Table(), scores.data());
    ranker.Rank(scores, count);
    benchmark::DoNotOptimize(scores[0]);
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ScoreAndRank)->Arg(7200)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The plain reference: std::popcount as compiled for any x86-64, and a comparison sort.
void BM_ScoreAndRank_Plain(benchmark::State& state) {
  const auto count = static_cast<uint32_t>(state.range(0));
  const Candidates c = MakeCandidates(count);
  std::vector<CandidateScore> scores(count);
  for (auto _ : state) {
    ScoreCandidatesPlain(c.templateMasks.data(), kBlocks, count, c.Table(), scores.data());
    RankCandidates(scores.data(), count);
    benchmark::DoNotOptimize(scores[0]);
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ScoreAndRank_Plain)->Arg(7200)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrune
