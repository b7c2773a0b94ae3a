#include "matching/similarity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "analysis/kernels.h"
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

// Records as the database keeps them: a longer record with the masks inside.
TEST(Similarity, PopulationCountScoringIsThePlainScoring) {
  std::mt19937 rng(5);
  const KernelChoice before = DefaultKernelChoice();
  for (uint32_t blocks : {1u, 2u, 3u, 4u, 21u, 43u}) {
    const std::vector<size_t> offsets = {4, 12};
    for (size_t offset : offsets) {
      const size_t stride = offset + 4 * blocks + 8;
      std::vector<uint8_t> bytes(stride * 300);
      for (auto& b : bytes) b = static_cast<uint8_t>(rng());
      std::vector<uint32_t> t(blocks);
      for (auto& w : t) w = static_cast<uint32_t>(rng());
      // Two candidates equal to the template and to its complement.
      for (uint32_t k = 0; k < blocks; ++k) {
        StoreU32(&bytes[offset + 4 * k], t[k]);
        StoreU32(&bytes[stride + offset + 4 * k], ~t[k]);
      }
      const MaskTable table{bytes.data(), stride, offset};
      std::vector<CandidateScore> plain(300), fast(300), chosen(300);
      ScoreCandidatesPlain(t.data(), blocks, 300, table, plain.data());
      SetKernelChoice(KernelChoice::Avx2);  // the population count, where there is one
      ScoreCandidates(t.data(), blocks, 300, table, fast.data());
      SetKernelChoice(KernelChoice::Scalar);
      ScoreCandidates(t.data(), blocks, 300, table, chosen.data());
      EXPECT_EQ(plain[0].agreement, 32 * blocks);
      EXPECT_EQ(plain[1].agreement, 0u);
      for (uint32_t i = 0; i < 300; ++i) {
        ASSERT_EQ(fast[i].agreement, plain[i].agreement) << blocks << " blocks, candidate " << i;
        ASSERT_EQ(chosen[i].agreement, plain[i].agreement) << blocks << " blocks, candidate " << i;
        ASSERT_EQ(fast[i].index, i);
      }
    }
  }
  SetKernelChoice(before);
}

TEST(Similarity, CountingRankSelectsWhatTheComparisonSortSelects) {
  std::mt19937 rng(11);
  CandidateRanker ranker;
  for (uint32_t count : {1u, 2u, 7u, 1000u, 7200u}) {
    const uint32_t maxAgreement = 32 * 21;
    ranker.Reserve(count, maxAgreement);
    for (int round = 0; round < 3; ++round) {
      // Agreements bunched near the middle, so that there are many ties.
      std::binomial_distribution<uint32_t> agreement(maxAgreement, 0.5);
      std::vector<CandidateScore> scores(count);
      for (uint32_t i = 0; i < count; ++i) scores[i] = {agreement(rng), i};
      if (round == 2) {  // the extremes of the range
        scores[count / 2].agreement = maxAgreement;
        scores[0].agreement = 0;
      }
      std::vector<CandidateScore> sorted = scores;
      RankCandidates(sorted.data(), count);
      ranker.Rank(scores, count);
      ASSERT_EQ(scores.size(), count);
      for (uint32_t n = 0; n < count; ++n) {
        ASSERT_EQ(scores[n].agreement, sorted[n].agreement) << "position " << n;
        // Equal agreements keep their index order.
        if (n > 0 && scores[n].agreement == scores[n - 1].agreement) {
          ASSERT_LT(scores[n - 1].index, scores[n].index);
        }
      }
      // The same candidates for every threshold at or below the best agreement.
      for (uint32_t similarity : {35u, 50u, 52u, 55u}) {
        const uint32_t threshold = std::min(SelectionThreshold(21, similarity), sorted[0].agreement);
        const uint32_t taken = SelectedCount(scores.data(), count, threshold);
        ASSERT_EQ(taken, SelectedCount(sorted.data(), count, threshold));
        std::set<uint32_t> a, b;
        for (uint32_t n = 0; n < taken; ++n) {
          a.insert(scores[n].index);
          b.insert(sorted[n].index);
        }
        EXPECT_EQ(a, b) << count << " candidates, " << similarity << " %";
      }
    }
  }
}

TEST(Similarity, RankingBeyondWhatWasReservedStillSorts) {
  CandidateRanker ranker;
  ranker.Reserve(3, 10);
  std::vector<CandidateScore> scores = {{4, 0}, {11, 1}, {7, 2}};  // 11 is above the reserved maximum
  ranker.Rank(scores, 3);
  EXPECT_EQ(scores[0].index, 1u);
  EXPECT_EQ(scores[1].index, 2u);
  EXPECT_EQ(scores[2].index, 0u);
  std::vector<CandidateScore> more = {{1, 0}, {2, 1}, {3, 2}, {4, 3}};  // more candidates than reserved
  ranker.Rank(more, 4);
  EXPECT_EQ(more[0].agreement, 4u);
  EXPECT_EQ(more[3].agreement, 1u);
}

}  // namespace
}  // namespace kestrune
