// The vector paths (AVX2, AVX-512) of the beat analyser against the scalar
// path: after every block the magnitudes, the history row and the band means
// must hold the same bits, and the mask words after the last block the same
// values. A path the processor lacks is skipped with the reason.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "analysis/beat_analyzer.h"
#include "analysis/beat_vector.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using Frame = std::pair<uint16_t, uint16_t>;  // left, right as stored

// One block of frames given by a rule on the frame index.
std::vector<uint8_t> MakeBlock(const std::function<Frame(int32_t)>& rule) {
  std::vector<uint8_t> bytes(kBlockFrames * 4);
  for (int32_t n = 0; n < kBlockFrames; ++n) {
    const Frame f = rule(n);
    StoreU16(&bytes[4 * n], f.first);
    StoreU16(&bytes[4 * n + 2], f.second);
  }
  return bytes;
}

std::vector<uint8_t> Constant(uint16_t left, uint16_t right) {
  return MakeBlock([=](int32_t) { return Frame{left, right}; });
}

bool SameBits(const double* a, const double* b, size_t n) { return std::memcmp(a, b, n * sizeof(double)) == 0; }

std::string FirstDifference(const double* a, const double* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) {
      return "index " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " + std::to_string(b[i]);
    }
  }
  return "none";
}

std::string KernelName(KernelChoice kernel) {
  return kernel == KernelChoice::Scalar ? "scalar" : kernel == KernelChoice::Avx2 ? "avx2" : "avx512";
}

class BeatVector : public ::testing::TestWithParam<KernelChoice> {
 protected:
  void SetUp() override {
    if (!KernelAvailable(GetParam())) {
      GTEST_SKIP() << "this build or processor has no " << KernelName(GetParam()) << " code";
    }
  }

  // Feeds the blocks as one split to a scalar and a vector analyser and
  // compares everything observable after every block.
  void ExpectSamePaths(const std::vector<std::vector<uint8_t>>& blocks, const std::string& what) {
    const auto h = static_cast<int32_t>(blocks.size());
    BeatAnalyzer scalar, vector;
    ASSERT_EQ(SetupBeatAnalyzer(scalar, h), 1);
    ASSERT_EQ(SetupBeatAnalyzer(vector, h), 1);
    ASSERT_EQ(SetBeatAnalyzerKernel(scalar, KernelChoice::Scalar), KernelChoice::Scalar);
    ASSERT_EQ(SetBeatAnalyzerKernel(vector, GetParam()), GetParam());
    // Two rounds: the second shows that a reset leaves nothing of the first behind.
    for (int round = 0; round < 2; ++round) {
      ResetBeatAnalyzer(scalar);
      ResetBeatAnalyzer(vector);
      for (int32_t i = 0; i < h; ++i) {
        const int32_t doneScalar = FeedBeatAnalyzer(scalar, blocks[i].data());
        const int32_t doneVector = FeedBeatAnalyzer(vector, blocks[i].data());
        ASSERT_EQ(doneScalar, doneVector) << what << ", block " << i;
        ASSERT_TRUE(SameBits(scalar.magnitudes.get(), vector.magnitudes.get(), kBlockFrames))
            << what << ", block " << i << ", magnitudes differ at "
            << FirstDifference(scalar.magnitudes.get(), vector.magnitudes.get(), kBlockFrames);
        ASSERT_TRUE(SameBits(scalar.history[i].get(), vector.history[i].get(), kBandCount))
            << what << ", block " << i << ", band energies differ at "
            << FirstDifference(scalar.history[i].get(), vector.history[i].get(), kBandCount);
        ASSERT_TRUE(SameBits(scalar.bandMeans.get(), vector.bandMeans.get(), kBandCount))
            << what << ", block " << i << ", means differ at "
            << FirstDifference(scalar.bandMeans.get(), vector.bandMeans.get(), kBandCount);
      }
      EXPECT_EQ(std::vector<uint32_t>(scalar.beatMasks.get(), scalar.beatMasks.get() + h),
                std::vector<uint32_t>(vector.beatMasks.get(), vector.beatMasks.get() + h))
          << what;
      EXPECT_EQ(scalar.sampleCount, vector.sampleCount);
      EXPECT_EQ(scalar.blocksFed, vector.blocksFed);
    }
  }
};

TEST_P(BeatVector, RandomBlocksGiveTheSameBits) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    std::vector<std::vector<uint8_t>> blocks;
    for (uint32_t i = 0; i < 21; ++i) blocks.push_back(test::NoiseBytes(kBlockFrames * 4, seed * 100 + i));
    ExpectSamePaths(blocks, "noise seed " + std::to_string(seed));
  }
}

TEST_P(BeatVector, ExtremeAndSilentBlocksGiveTheSameBits) {
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> kinds = {
      {"silence", Constant(0x0000, 0x0000)},
      {"0x7FFF", Constant(0x7FFF, 0x7FFF)},
      {"0x8000", Constant(0x8000, 0x8000)},
      {"0xFFFF", Constant(0xFFFF, 0xFFFF)},
      {"left 0xFFFF, right 0x0000", Constant(0xFFFF, 0x0000)},
      {"frames alternating 0x0000 and 0xFFFF",
       MakeBlock([](int32_t n) { return n % 2 ? Frame{0xFFFF, 0xFFFF} : Frame{0x0000, 0x0000}; })},
      {"samples alternating 0x7FFF and 0x8000",
       MakeBlock([](int32_t n) { return n % 2 ? Frame{0x7FFF, 0x8000} : Frame{0x8000, 0x7FFF}; })},
      {"a square wave of extremes",
       MakeBlock([](int32_t n) { return (n / 37) % 2 ? Frame{0x7FFF, 0x7FFF} : Frame{0x8000, 0x8000}; })},
      {"one impulse", MakeBlock([](int32_t n) { return n == 513 ? Frame{0xFFFF, 0x8000} : Frame{0, 0}; })},
      {"a ramp", MakeBlock([](int32_t n) { return Frame{static_cast<uint16_t>(n * 64), static_cast<uint16_t>(65535 - n * 64)}; })},
  };
  for (const auto& [name, block] : kinds) {
    // Alone (every band at its mean), repeated, and between noise blocks.
    ExpectSamePaths({block}, name + " alone");
    ExpectSamePaths({block, block, block, block}, name + " repeated");
    ExpectSamePaths({test::NoiseBytes(kBlockFrames * 4, 5), block, Constant(0, 0), block,
                     test::NoiseBytes(kBlockFrames * 4, 6)},
                    name + " among noise");
  }
}

// The vector path scales without dividing: every one of the 65536 sample
// values must come out as the quotient itself, on both channels, and whole
// blocks of them must analyse to the same bits.
TEST_P(BeatVector, EverySampleValueIsScaledToTheQuotientItself) {
  std::vector<std::vector<uint8_t>> blocks;
  for (uint32_t first = 0; first < 65536; first += kBlockFrames) {
    blocks.push_back(MakeBlock([first](int32_t n) {
      const auto x = static_cast<uint16_t>(first + static_cast<uint32_t>(n));
      return Frame{x, static_cast<uint16_t>(x * 40503u)};  // right: every value too, in another order
    }));
  }
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  std::vector<double> left(kBlockFrames), right(kBlockFrames);
  for (const auto& block : blocks) {
    detail::ScaleFramesAvx2(block.data(), kBlockFrames, left.data(), right.data());
    for (int32_t n = 0; n < kBlockFrames; ++n) {
      const double l = static_cast<double>(LoadU16(&block[4 * n])) / 65535.0;
      const double r = static_cast<double>(LoadU16(&block[4 * n + 2])) / 65535.0;
      ASSERT_TRUE(SameBits(&left[n], &l, 1)) << "left sample " << LoadU16(&block[4 * n]);
      ASSERT_TRUE(SameBits(&right[n], &r, 1)) << "right sample " << LoadU16(&block[4 * n + 2]);
    }
  }
#endif
  ExpectSamePaths(blocks, "every sample value");
}

// Overlapping blocks analysed from samples scaled once give the bits of each
// block analysed from its frames, on either path: every sample value scaled
// (an odd count, so the vector code's tail is the scalar code's), and blocks
// at every hop of the search over extremes and noise.
TEST(ScaledBlocks, GiveTheBitsOfBlocksAnalysedFromTheirFrames) {
  std::vector<uint8_t> frames(size_t{65536 + 3} * 4);
  for (uint32_t x = 0; x < 65536 + 3; ++x) {
    StoreU16(&frames[4 * x], static_cast<uint16_t>(x));
    StoreU16(&frames[4 * x + 2], static_cast<uint16_t>(x * 40503u));
  }
  const auto noise = test::NoiseBytes(20000 * 4, 9);
  std::copy(noise.begin(), noise.end(), frames.begin() + 30000 * 4);
  for (KernelChoice kernel : {KernelChoice::Scalar, KernelChoice::Avx2, KernelChoice::Avx512}) {
    if (!KernelAvailable(kernel)) continue;
    BeatAnalyzer a, b;
    ASSERT_EQ(SetupBeatAnalyzer(a, 21), 1);
    ASSERT_EQ(SetupBeatAnalyzer(b, 21), 1);
    ASSERT_EQ(SetBeatAnalyzerKernel(a, kernel), kernel);
    ASSERT_EQ(SetBeatAnalyzerKernel(b, kernel), kernel);
    const size_t n = frames.size() / 4;
    std::vector<double> left(n), right(n);
    ScaleFrames(a, frames.data(), n, left.data(), right.data());
    for (size_t i = 0; i < n; ++i) {
      const double l = static_cast<double>(LoadU16(&frames[4 * i])) / 65535.0;
      const double r = static_cast<double>(LoadU16(&frames[4 * i + 2])) / 65535.0;
      ASSERT_TRUE(SameBits(&left[i], &l, 1) && SameBits(&right[i], &r, 1)) << "frame " << i;
    }
    for (size_t at = 0; at + kBlockFrames <= n; at += 64 * 37) {
      double e1[kBandCount], s1[kBandCount], e2[kBandCount], s2[kBandCount];
      ASSERT_TRUE(AnalyseSingleBlock(a, &frames[4 * at], e1, s1));
      ASSERT_TRUE(AnalyseScaledBlock(b, &left[at], &right[at], e2, s2));
      ASSERT_TRUE(SameBits(e1, e2, kBandCount) && SameBits(s1, s2, kBandCount))
          << "frame " << at << ", " << KernelName(kernel) << ": " << FirstDifference(e1, e2, kBandCount);
      ASSERT_TRUE(SameBits(a.magnitudes.get(), b.magnitudes.get(), kBlockFrames));
    }
  }
}

TEST_P(BeatVector, SplitsOfEveryUsualLengthGiveTheSameMasks) {
  // 100 ms, 500 ms and 1000 ms splits: 4, 21 and 43 blocks of noise with loud and quiet stretches.
  for (size_t h : {size_t{4}, size_t{21}, size_t{43}}) {
    std::vector<std::vector<uint8_t>> blocks;
    for (size_t i = 0; i < h; ++i) {
      auto block = test::NoiseBytes(kBlockFrames * 4, static_cast<uint32_t>(1000 + i));
      if (i % 3 == 1) {  // quiet: only the low byte of each sample varies
        for (size_t b = 1; b < block.size(); b += 2) block[b] = 0;
      }
      blocks.push_back(std::move(block));
    }
    ExpectSamePaths(blocks, std::to_string(h) + " blocks");
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, BeatVector, ::testing::Values(KernelChoice::Avx2, KernelChoice::Avx512),
                         [](const ::testing::TestParamInfo<KernelChoice>& info) { return KernelName(info.param); });

TEST(BeatKernelChoice, ScalarCanBeChosenAndEachVectorPathOnlyWhereItRuns) {
  BeatAnalyzer a;
  ASSERT_EQ(SetupBeatAnalyzer(a, 2), 1);
  EXPECT_EQ(SetBeatAnalyzerKernel(a, KernelChoice::Scalar), KernelChoice::Scalar);
  EXPECT_FALSE(a.vectorWork);
  const KernelChoice expected = Avx2Available() ? KernelChoice::Avx2 : KernelChoice::Scalar;
  EXPECT_EQ(SetBeatAnalyzerKernel(a, KernelChoice::Avx2), expected);
  EXPECT_EQ(a.vectorWork != nullptr, Avx2Available());
  // AVX-512 asked for where it is missing falls back to AVX2, then scalar.
  const KernelChoice widest = Avx512Available() ? KernelChoice::Avx512 : expected;
  EXPECT_EQ(SetBeatAnalyzerKernel(a, KernelChoice::Avx512), widest);
  EXPECT_EQ(a.vectorKernel, widest);
  EXPECT_TRUE(!Avx512Available() || Avx2Available()) << "AVX-512 code is only chosen beside AVX2";
  ReleaseBeatAnalyzer(a);
  EXPECT_FALSE(a.vectorWork);
  EXPECT_EQ(a.vectorKernel, KernelChoice::Scalar);

  // The process-wide default decides what a new analyser starts with.
  const KernelChoice before = DefaultKernelChoice();
  EXPECT_TRUE(SetKernelChoice(KernelChoice::Scalar));
  BeatAnalyzer plain;
  ASSERT_EQ(SetupBeatAnalyzer(plain, 2), 1);
  EXPECT_FALSE(plain.vectorWork);
  EXPECT_EQ(SetKernelChoice(KernelChoice::Avx2), Avx2Available());
  BeatAnalyzer fast;
  ASSERT_EQ(SetupBeatAnalyzer(fast, 2), 1);
  EXPECT_EQ(fast.vectorWork != nullptr, Avx2Available());
  EXPECT_EQ(fast.vectorKernel, expected);
  EXPECT_EQ(SetKernelChoice(KernelChoice::Avx512), Avx512Available());
  EXPECT_EQ(DefaultKernelChoice(), widest);
  BeatAnalyzer widestDefault;
  ASSERT_EQ(SetupBeatAnalyzer(widestDefault, 2), 1);
  EXPECT_EQ(widestDefault.vectorKernel, widest);
  SetKernelChoice(before);
}

}  // namespace
}  // namespace kestrune
