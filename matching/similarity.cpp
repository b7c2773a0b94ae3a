#include "matching/similarity.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "analysis/kernels.h"
#include "common/sample_frame.h"

namespace kestrune {

uint32_t MaskAgreement(const uint32_t* templateMasks, const uint8_t* candidateMasks,
                       uint32_t blocksPerSplit) {
  uint32_t agreement = 0;
  for (uint32_t k = 0; k < blocksPerSplit; ++k) {
    const uint32_t differ = templateMasks[k] ^ LoadU32(candidateMasks + 4 * size_t{k});
    agreement += 32u - static_cast<uint32_t>(std::popcount(differ));
  }
  return agreement;
}

namespace {

#if defined(__x86_64__) || defined(__i386__)
#define KESTRUNE_POPCNT_SCORING 1
// The same count with the popcnt instruction, two words at a time: the bits
// of two exclusive-ors are counted at once, which totals the same.
__attribute__((target("popcnt"))) void ScoreWithPopcnt(const uint32_t* templateMasks,
                                                        uint32_t blocksPerSplit, uint32_t candidateCount,
                                                        const MaskTable& candidates, CandidateScore* scores) {
  const uint32_t all = 32u * blocksPerSplit;
  const uint32_t pairs = blocksPerSplit / 2;
  for (uint32_t i = 0; i < candidateCount; ++i) {
    const uint8_t* masks = candidates.base + size_t{i} * candidates.stride + candidates.offset;
    uint32_t differ = 0;
    for (uint32_t p = 0; p < pairs; ++p) {
      uint64_t t, c;
      std::memcpy(&t, templateMasks + 2 * p, 8);
      std::memcpy(&c, masks + 8 * size_t{p}, 8);  // little-endian words, as LoadU32 reads them
      differ += static_cast<uint32_t>(__builtin_popcountll(t ^ c));
    }
    if (blocksPerSplit % 2 != 0) {
      const uint32_t k = blocksPerSplit - 1;
      differ += static_cast<uint32_t>(__builtin_popcount(templateMasks[k] ^ LoadU32(masks + 4 * size_t{k})));
    }
    scores[i] = CandidateScore{all - differ, i};
  }
}

bool UsePopcnt() {
  static const bool available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("popcnt") != 0;
  }();
  return available && DefaultKernelChoice() != KernelChoice::Scalar;
}
#endif

}  // namespace

void ScoreCandidates(const uint32_t* templateMasks, uint32_t blocksPerSplit,
                     uint32_t candidateCount, const MaskTable& candidates,
                     CandidateScore* scores) {
#ifdef KESTRUNE_POPCNT_SCORING
  if (UsePopcnt()) {
    ScoreWithPopcnt(templateMasks, blocksPerSplit, candidateCount, candidates, scores);
    return;
  }
#endif
  ScoreCandidatesPlain(templateMasks, blocksPerSplit, candidateCount, candidates, scores);
}

void ScoreCandidatesPlain(const uint32_t* templateMasks, uint32_t blocksPerSplit,
                          uint32_t candidateCount, const MaskTable& candidates,
                          CandidateScore* scores) {
  for (uint32_t i = 0; i < candidateCount; ++i) {
    const uint8_t* masks = candidates.base + size_t{i} * candidates.stride + candidates.offset;
    scores[i] = CandidateScore{MaskAgreement(templateMasks, masks, blocksPerSplit), i};
  }
}

void RankCandidates(CandidateScore* scores, uint32_t candidateCount) {
  std::sort(scores, scores + candidateCount,
            [](const CandidateScore& a, const CandidateScore& b) { return a.agreement > b.agreement; });
}

void CandidateRanker::Reserve(uint32_t candidateCount, uint32_t maxAgreement) {
  next_.assign(size_t{maxAgreement} + 1, 0);
  ranked_.assign(candidateCount, CandidateScore{});
}

void CandidateRanker::Rank(std::vector<CandidateScore>& scores, uint32_t candidateCount) {
  std::fill(next_.begin(), next_.end(), 0u);
  if (candidateCount > ranked_.size() || candidateCount > scores.size()) {
    RankCandidates(scores.data(), std::min<size_t>(candidateCount, scores.size()));
    return;
  }
  for (uint32_t i = 0; i < candidateCount; ++i) {
    if (scores[i].agreement >= next_.size()) {  // beyond what was reserved: compare instead
      RankCandidates(scores.data(), candidateCount);
      return;
    }
    ++next_[scores[i].agreement];
  }
  // The best agreement starts at position 0.
  uint32_t position = 0;
  for (size_t a = next_.size(); a-- > 0;) {
    const uint32_t count = next_[a];
    next_[a] = position;
    position += count;
  }
  for (uint32_t i = 0; i < candidateCount; ++i) ranked_[next_[scores[i].agreement]++] = scores[i];
  // The ranked array takes the place of the scores; the old buffer is ours.
  if (ranked_.size() == scores.size()) {
    scores.swap(ranked_);
  } else {
    std::copy(ranked_.begin(), ranked_.begin() + candidateCount, scores.begin());
  }
}

uint32_t SelectionThreshold(uint32_t blocksPerSplit, uint32_t minSimilarity) {
  return blocksPerSplit * minSimilarity * 32u / 100u;
}

uint32_t SelectedCount(const CandidateScore* ranked, uint32_t candidateCount, uint32_t threshold) {
  if (candidateCount == 0) return 0;
  uint32_t taken = 1;
  while (taken < candidateCount && ranked[taken].agreement >= threshold) ++taken;
  return taken;
}

}  // namespace kestrune
