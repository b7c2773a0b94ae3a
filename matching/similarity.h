// How well a candidate split resembles a template split: the number of beat
// mask bits in which they agree. Candidates are ranked by agreement and taken
// best first while they reach the minimum similarity.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrune {

struct CandidateScore {
  uint32_t agreement = 0;
  uint32_t index = 0;
};

// Where the candidates' mask words lie: candidate i's words start at
// base + i * stride + offset, little-endian, block 0 first.
struct MaskTable {
  const uint8_t* base = nullptr;
  size_t stride = 0;
  size_t offset = 0;
};

// Bits in which the two runs of words agree.
uint32_t MaskAgreement(const uint32_t* templateMasks, const uint8_t* candidateMasks,
                       uint32_t blocksPerSplit);

// Writes element i as {agreement of candidate i, i} for every candidate.
void ScoreCandidates(const uint32_t* templateMasks, uint32_t blocksPerSplit,
                     uint32_t candidateCount, const MaskTable& candidates,
                     CandidateScore* scores);

// Sorts so that agreements descend; equal agreements have no set order.
void RankCandidates(CandidateScore* scores, uint32_t candidateCount);

// 32 * blocksPerSplit * minSimilarity / 100, rounded down.
uint32_t SelectionThreshold(uint32_t blocksPerSplit, uint32_t minSimilarity);

// How many leading positions of the ranked array are taken: the first always
// (when there is one), then every position at or above the threshold up to
// the first below it.
uint32_t SelectedCount(const CandidateScore* ranked, uint32_t candidateCount, uint32_t threshold);

}  // namespace kestrune
