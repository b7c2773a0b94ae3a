#include "analysis/beat_analyzer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <vector>

namespace kestrune {
namespace {

std::vector<uint8_t> Block(int16_t left, int16_t right) {
  std::vector<uint8_t> bytes(kBlockFrames * 4);
  for (int n = 0; n < kBlockFrames; ++n) {
    StoreU16(&bytes[4 * n], static_cast<uint16_t>(left));
    StoreU16(&bytes[4 * n + 2], static_cast<uint16_t>(right));
  }
  return bytes;
}

std::vector<uint8_t> NoiseBlocks(int blocks, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(static_cast<size_t>(blocks) * kBlockFrames * 4);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

TEST(BandPartition, WidthsGrowAndTotalTheBins) {
  int32_t widths[32];
  PartitionBands(widths, 32, 1024);
  const int32_t expected[32] = {2,  3,  5,  7,  9,  11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31,
                                32, 34, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54, 56, 58, 60, 77};
  for (int j = 0; j < 32; ++j) EXPECT_EQ(widths[j], expected[j]) << "band " << j;
  EXPECT_EQ(std::accumulate(widths, widths + 32, 0), 1024);

  int32_t one = 0;
  PartitionBands(&one, 1, 1024);
  EXPECT_EQ(one, 1024);
  int32_t untouched = -5;
  PartitionBands(&untouched, 0, 1024);
  EXPECT_EQ(untouched, -5);
}

TEST(BeatAnalyzer, SilenceAndSingleBlockSplitsSetEveryBit) {
  BeatAnalyzer a;
  ASSERT_EQ(SetupBeatAnalyzer(a, 3), 1);
  const auto silence = Block(0, 0);
  ResetBeatAnalyzer(a);
  EXPECT_EQ(FeedBeatAnalyzer(a, silence.data()), 0);
  EXPECT_EQ(FeedBeatAnalyzer(a, silence.data()), 0);
  EXPECT_EQ(FeedBeatAnalyzer(a, silence.data()), 1);
  EXPECT_EQ(a.sampleCount, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a.beatMasks[i], 0xFFFFFFFFu);

  BeatAnalyzer single;
  ASSERT_EQ(SetupBeatAnalyzer(single, 1), 1);
  const auto noise = NoiseBlocks(1, 3);
  ResetBeatAnalyzer(single);
  EXPECT_EQ(FeedBeatAnalyzer(single, noise.data()), 1);
  EXPECT_EQ(single.beatMasks[0], 0xFFFFFFFFu);
}

TEST(BeatAnalyzer, SamplesAreReadUnsignedSoMinusOneIsAConstantInBandZero) {
  BeatAnalyzer a;
  ASSERT_EQ(SetupBeatAnalyzer(a, 2), 1);
  ResetBeatAnalyzer(a);
  const auto minusOne = Block(-1, -1);
  ASSERT_EQ(FeedBeatAnalyzer(a, minusOne.data()), 0);
  EXPECT_DOUBLE_EQ(a.magnitudes[0], std::sqrt(1024.0 * 1024.0 * 2.0));
  EXPECT_DOUBLE_EQ(a.history[0][0], std::sqrt(1024.0 * 1024.0 * 2.0) / 2.0);
  EXPECT_NEAR(a.history[0][0], 724.077, 0.001);
  for (int j = 1; j < 32; ++j) EXPECT_EQ(a.history[0][j], 0.0) << "band " << j;
  EXPECT_DOUBLE_EQ(a.bandMeans[0], a.history[0][0] / 2.0);
}

TEST(BeatAnalyzer, FeedsBeyondTheHistoryAreRefusedWithoutChange) {
  BeatAnalyzer a;
  ASSERT_EQ(SetupBeatAnalyzer(a, 2), 1);
  const auto noise = NoiseBlocks(3, 11);
  ResetBeatAnalyzer(a);
  EXPECT_EQ(FeedBeatAnalyzer(a, noise.data()), 0);
  EXPECT_EQ(FeedBeatAnalyzer(a, noise.data() + 4096), 1);
  const uint32_t m0 = a.beatMasks[0], m1 = a.beatMasks[1];
  const double mean0 = a.bandMeans[0];
  EXPECT_EQ(FeedBeatAnalyzer(a, noise.data() + 8192), 0);
  EXPECT_EQ(a.blocksFed, 2);
  EXPECT_EQ(a.beatMasks[0], m0);
  EXPECT_EQ(a.beatMasks[1], m1);
  EXPECT_EQ(a.bandMeans[0], mean0);

  BeatAnalyzer empty;
  ASSERT_EQ(SetupBeatAnalyzer(empty, 0), 1);
  EXPECT_EQ(FeedBeatAnalyzer(empty, noise.data()), 0);
  EXPECT_EQ(empty.blocksFed, 0);

  BeatAnalyzer never;  // not set up: nothing to feed
  EXPECT_EQ(FeedBeatAnalyzer(never, noise.data()), 0);
}

TEST(BeatAnalyzer, ResetMakesEveryAnalysisIndependentOfTheLast) {
  BeatAnalyzer a;
  ASSERT_EQ(SetupBeatAnalyzer(a, 4), 1);
  const auto first = NoiseBlocks(4, 21);
  const auto second = NoiseBlocks(4, 22);
  ASSERT_TRUE(AnalyseSplit(a, first.data()));
  const std::vector<uint32_t> before(a.beatMasks.get(), a.beatMasks.get() + 4);
  ASSERT_TRUE(AnalyseSplit(a, second.data()));
  const std::vector<uint32_t> other(a.beatMasks.get(), a.beatMasks.get() + 4);
  ASSERT_TRUE(AnalyseSplit(a, first.data()));
  const std::vector<uint32_t> again(a.beatMasks.get(), a.beatMasks.get() + 4);
  EXPECT_EQ(before, again);
  EXPECT_NE(before, other);

  BeatAnalyzer fresh;
  ASSERT_EQ(SetupBeatAnalyzer(fresh, 4), 1);
  ASSERT_TRUE(AnalyseSplit(fresh, first.data()));
  EXPECT_EQ(std::vector<uint32_t>(fresh.beatMasks.get(), fresh.beatMasks.get() + 4), before);
}

TEST(BeatAnalyzer, ReleaseIsSafeAtAnyPointAndTwice) {
  BeatAnalyzer a;
  ReleaseBeatAnalyzer(a);
  ASSERT_EQ(SetupBeatAnalyzer(a, 2), 1);
  ReleaseBeatAnalyzer(a);
  ReleaseBeatAnalyzer(a);
  EXPECT_FALSE(a.samples);
  EXPECT_FALSE(a.fft);
  EXPECT_EQ(SetupBeatAnalyzer(a, -1), 0);
  EXPECT_EQ(SetupBeatAnalyzer(a, kMaxHistoryLength + 1), 0);
}

}  // namespace
}  // namespace kestrune
