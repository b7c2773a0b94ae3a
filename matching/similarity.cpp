#include "matching/similarity.h"

#include <algorithm>
#include <bit>

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

void ScoreCandidates(const uint32_t* templateMasks, uint32_t blocksPerSplit,
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
