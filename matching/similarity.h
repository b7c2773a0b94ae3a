// How well a candidate split resembles a template split: the number of beat
// mask bits in which they agree. Candidates are ranked by agreement and taken
// best first while they reach the minimum similarity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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
// Counts with the processor's population count instruction where there is
// one (and the scalar kernels are not forced), else with std::popcount.
void ScoreCandidates(const uint32_t* templateMasks, uint32_t blocksPerSplit,
                     uint32_t candidateCount, const MaskTable& candidates,
                     CandidateScore* scores);

// The same scores, always counted with std::popcount: the reference.
void ScoreCandidatesPlain(const uint32_t* templateMasks, uint32_t blocksPerSplit,
                          uint32_t candidateCount, const MaskTable& candidates,
                          CandidateScore* scores);

// Sorts so that agreements descend; equal agreements have no set order.
// A comparison sort; CandidateRanker does the same in linear time.
void RankCandidates(CandidateScore* scores, uint32_t candidateCount);

// Ranks by counting: one pass counts each agreement, a second places every
// candidate at its agreement's next free position, so agreements descend and
// equal agreements keep their index order. Its buffers are sized once per
// job; ranking allocates nothing.
class CandidateRanker {
 public:
  // Room for up to candidateCount candidates with agreements up to
  // maxAgreement. Throws std::bad_alloc.
  void Reserve(uint32_t candidateCount, uint32_t maxAgreement);
  // Ranks the first candidateCount scores. When scores holds exactly the
  // reserved count, the ranked array is swapped in (the earlier buffer
  // becomes the ranker's); otherwise it is copied back. More candidates or
  // a larger agreement than reserved fall back to RankCandidates.
  void Rank(std::vector<CandidateScore>& scores, uint32_t candidateCount);

 private:
  std::vector<uint32_t> next_;  // per agreement: the next free position
  std::vector<CandidateScore> ranked_;
};

// 32 * blocksPerSplit * minSimilarity / 100, rounded down.
uint32_t SelectionThreshold(uint32_t blocksPerSplit, uint32_t minSimilarity);

// How many leading positions of the ranked array are taken: the first always
// (when there is one), then every position at or above the threshold up to
// the first below it.
uint32_t SelectedCount(const CandidateScore* ranked, uint32_t candidateCount, uint32_t threshold);

}  // namespace kestrune
