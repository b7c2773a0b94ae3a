#include "matching/similarity.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/sample_frame.h"

namespace kestrune {
namespace {

// Candidate records laid out as the WAV job keeps them: a 4-byte frame
// position, then the mask words.
struct Records {
  uint32_t blocks;
  std::vector<uint8_t> bytes;
  void Add(const std::vector<uint32_t>& masks) {
    const size_t at = bytes.size();
    bytes.resize(at + 4 + 4 * blocks, 0);
    for (uint32_t k = 0; k < blocks; ++k) StoreU32(&bytes[at + 4 + 4 * k], masks[k]);
  }
  MaskTable Table() const { return MaskTable{bytes.data(), 4 + 4 * size_t{blocks}, 4}; }
};

// Masks of 21 words agreeing with an all-zero template in exactly `agreement` bits.
std::vector<uint32_t> WithAgreement(uint32_t agreement) {
  std::vector<uint32_t> masks(21, 0xFFFFFFFFu);
  uint32_t bits = agreement;
  for (auto& w : masks) {
    const uint32_t here = bits < 32 ? bits : 32;
    w = here == 32 ? 0u : ~((uint32_t{1} << here) - 1);
    bits -= here;
  }
  return masks;
}

TEST(Similarity, ThresholdsRoundDown) {
  EXPECT_EQ(SelectionThreshold(4, 35), 44u);
  EXPECT_EQ(SelectionThreshold(21, 35), 235u);
  EXPECT_EQ(SelectionThreshold(21, 80), 537u);
  EXPECT_EQ(SelectionThreshold(21, 100), 672u);
  EXPECT_EQ(SelectionThreshold(43, 35), 481u);
}

TEST(Similarity, AgreementCountsEqualBitsWordByWord) {
  const std::vector<uint32_t> t = {0x12345678u, 0xFFFF0000u, 0u};
  Records r{3, {}};
  r.Add(t);
  r.Add({~t[0], ~t[1], ~t[2]});
  r.Add({t[0] ^ 1u, t[1], t[2] ^ 0x80000000u});
  std::vector<CandidateScore> scores(3);
  ScoreCandidates(t.data(), 3, 3, r.Table(), scores.data());
  EXPECT_EQ(scores[0].agreement, 96u);
  EXPECT_EQ(scores[1].agreement, 0u);
  EXPECT_EQ(scores[2].agreement, 94u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(scores[i].index, i);
}

TEST(Similarity, WorkedExampleRanksAndSelectsBestFirst) {
  const std::vector<uint32_t> zero(21, 0u);
  Records r{21, {}};
  for (uint32_t a : {400u, 250u, 230u, 300u, 100u}) r.Add(WithAgreement(a));
  std::vector<CandidateScore> scores(5);
  ScoreCandidates(zero.data(), 21, 5, r.Table(), scores.data());
  RankCandidates(scores.data(), 5);
  const uint32_t order[5] = {0, 3, 1, 2, 4};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(scores[i].index, order[i]);
  EXPECT_EQ(SelectedCount(scores.data(), 5, SelectionThreshold(21, 35)), 3u);
  EXPECT_EQ(SelectedCount(scores.data(), 5, SelectionThreshold(21, 70)), 1u);
}

TEST(Similarity, SelectionEdges) {
  EXPECT_EQ(SelectedCount(nullptr, 0, 0), 0u);  // no candidates, not even a first
  std::vector<CandidateScore> below = {{10, 0}, {9, 1}};
  EXPECT_EQ(SelectedCount(below.data(), 2, 235), 1u);  // the best is always taken
  std::vector<CandidateScore> edge = {{300, 0}, {235, 1}, {234, 2}};
  EXPECT_EQ(SelectedCount(edge.data(), 3, 235), 2u);  // 235 taken, 234 not
  std::vector<CandidateScore> exact = {{672, 4}, {672, 2}, {671, 1}};
  EXPECT_EQ(SelectedCount(exact.data(), 3, SelectionThreshold(21, 100)), 2u);
  std::vector<CandidateScore> tie = {{500, 0}, {240, 1}, {240, 2}, {100, 3}};
  EXPECT_EQ(SelectedCount(tie.data(), 4, 241), 1u);  // equal agreements go together
  EXPECT_EQ(SelectedCount(tie.data(), 4, 240), 3u);
}

}  // namespace
}  // namespace kestrune
