// The search for a piece anywhere: candidate masks off the split grid are
// the analyser's own, scores are the sums the rules give, and silence,
// several sources and databases behave.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <random>

#include "analysis/beat_analyzer.h"
#include "analysis/kernels.h"
#include "matching/find_confidence.h"
#include "matching/find_kernels.h"
#include "matching/find_request.h"
#include "matching/find_scores.h"
#include "matching/find_templates.h"
#include "matching/find_wav_scan.h"
#include "matching/similarity.h"
#include "matching/database_build_job.h"
#include "support/temp_dir.h"
#include "support/test_music.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using test::TempDir;

std::vector<uint8_t> Bytes(const std::vector<int16_t>& samples) { return test::FrameBytes(samples); }

// The masks the analyser gives for a split starting at frame p.
std::vector<uint32_t> SplitMasks(const std::vector<uint8_t>& frames, size_t p, int32_t h) {
  BeatAnalyzer a;
  EXPECT_EQ(SetupBeatAnalyzer(a, h), 1);
  EXPECT_TRUE(AnalyseSplit(a, frames.data() + p * 4));
  return std::vector<uint32_t>(a.beatMasks.get(), a.beatMasks.get() + h);
}

class KernelRestore : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = DefaultKernelChoice(); }
  void TearDown() override { SetKernelChoice(saved_); }

 private:
  KernelChoice saved_ = KernelChoice::Scalar;
};

using FindMasks = KernelRestore;

// Blocks analysed one by one at a hop and combined into a candidate give the
// analyser's masks for a split starting there, on the grid and off it, with
// every kernel; a silent stretch included.
TEST_F(FindMasks, CandidateMasksFromSingleBlocksAreTheAnalysersBitForBit) {
  auto music = test::MakeTestMusic(4.0, 7);
  std::fill(music.begin() + 2 * 70000, music.begin() + 2 * 76000, int16_t{0});
  const auto frames = Bytes(music);
  const int32_t h = 21;  // 500 ms
  const uint32_t hop = 128, step = kBlockFrames / hop;
  for (KernelChoice kernel : {KernelChoice::Scalar, KernelChoice::Avx2, KernelChoice::Avx512}) {
    if (!KernelAvailable(kernel)) continue;
    SetKernelChoice(kernel);
    BeatAnalyzer single;
    ASSERT_EQ(SetupBeatAnalyzer(single, h), 1);
    const uint32_t slots = (h - 1) * step + 1;
    std::vector<double> energies(slots * 32), shares(slots * 32);
    for (size_t p : {size_t{0}, size_t{22050 / hop * hop}, size_t{128 * 37}, size_t{128 * 401}, size_t{22050 * 3}}) {
      // A ring filled from the candidate's first block on, as the scan fills it.
      for (uint32_t b = 0; b < slots; ++b) {
        ASSERT_TRUE(AnalyseSingleBlock(single, frames.data() + (p + size_t{b} * hop) * 4, &energies[b * 32], &shares[b * 32]));
      }
      std::vector<uint32_t> masks(h);
      CandidateMasks(EnergyRing{energies.data(), shares.data(), slots}, 0, step, h, masks.data());
      const auto expected = SplitMasks(frames, p, h);
      EXPECT_EQ(masks, expected) << "frame " << p << " kernel " << static_cast<int>(kernel);
      // The scan's bit order: the same bits, each band where ScanBit puts it.
      std::vector<uint32_t> scan(h);
      CandidateScanMasks(EnergyRing{energies.data(), shares.data(), slots}, 0, step, h, scan.data());
      for (int32_t i = 0; i < h; ++i) {
        for (uint32_t j = 0; j < 32; ++j) {
          ASSERT_EQ((scan[i] >> ScanBit(j)) & 1u, (expected[i] >> j) & 1u) << "frame " << p << " block " << i << " band " << j;
        }
      }
      // Every template's differing bits at once equal one template at a time,
      // for an odd and an even run of masks.
      std::vector<uint32_t> templates;
      for (size_t q : {p + 1000, p + 5000, p + 9000}) {
        for (uint32_t m : SplitMasks(frames, q, h)) templates.push_back(ToScanOrder(m));
      }
      for (uint32_t n : {uint32_t(h), uint32_t(h - 1)}) {
        std::vector<uint32_t> packed, differ(3);
        for (uint32_t t = 0; t < 3; ++t) packed.insert(packed.end(), templates.begin() + t * h, templates.begin() + t * h + n);
        DifferingBitsEach(scan.data(), packed.data(), 3, n, differ.data());
        for (uint32_t t = 0; t < 3; ++t) {
          uint32_t bits = 0;
          for (uint32_t i = 0; i < n; ++i) bits += static_cast<uint32_t>(std::popcount(scan[i] ^ packed[t * n + i]));
          EXPECT_EQ(differ[t], bits) << "template " << t << " of " << n << " blocks";
        }
      }
    }
  }
}

// The agreement blocks reach by chance, given how many bits each has set,
// is taken off: blocks all set or all clear on both sides (silence, then a
// loud chord) agree fully and count for nothing.
TEST(FindChance, AgreementIsCountedBeyondEachBlocksChance) {
  EXPECT_EQ(BlockChance(16, 16), 512u);  // half set: half agree by chance
  EXPECT_EQ(BlockChance(32, 32), 1024u);
  EXPECT_EQ(BlockChance(0, 32), 0u);
  // Identical blocks half set: half their bits agree beyond chance.
  EXPECT_DOUBLE_EQ(BeyondChance(2 * 32, 2, 2 * 512), 50.0);
  EXPECT_DOUBLE_EQ(BeyondChance(2 * 24, 2, 2 * 512), 25.0);
  // One block all clear against all clear and one all set against all set:
  // full agreement, all of it chance.
  EXPECT_DOUBLE_EQ(BeyondChance(64, 2, BlockChance(0, 0) + BlockChance(32, 32)), 0.0);
  // Beside a half-set pair agreeing in 24 bits, they dilute it: a start
  // cannot score on its few blocks that are not at chance.
  EXPECT_DOUBLE_EQ(BeyondChance(64 + 24, 3, 2048 + 512), 25.0 / 3.0);
  // Opposite half-set blocks fall below chance.
  EXPECT_DOUBLE_EQ(BeyondChance(0, 1, 512), -50.0);
  EXPECT_DOUBLE_EQ(BeyondChance(0, 0, 0), 0.0);

  // Such blocks carry nothing a fragment could be told by: only the half-set
  // block (1) and the quarter-set one (0.75) count, not the silent one.
  FindTemplates templates;
  templates.count = 1;
  templates.blocks = 5;
  templates.masks = {0u, ~0u, 0xFFFFu, 0xFFu, 0xFFFFu};
  templates.silent = {0, 0, 0, 0, 1};
  templates.silentBlocks = {1};
  EXPECT_DOUBLE_EQ(templates.InformativeBlocks(), 1.75);
  // A fragment with nothing beyond chance is never sure; the more it
  // carries, the less its z is shrunk.
  EXPECT_EQ(ScoreShrink(0.0), 0.0);
  EXPECT_LT(ScoreShrink(3.5), 0.81);
  EXPECT_GT(ScoreShrink(150.0), 0.99);
}

// The scan's comparison of a candidate with all templates at once gives, on
// every kernel and for runs of masks shorter and longer than a vector, the
// differing bits and set-bit products counted one block at a time.
TEST_F(FindMasks, ComparisonWithAllTemplatesCountsEveryBlock) {
  std::mt19937 rng(17);
  for (KernelChoice kernel : {KernelChoice::Scalar, KernelChoice::Avx2, KernelChoice::Avx512}) {
    if (!KernelAvailable(kernel)) continue;
    SetKernelChoice(kernel);
    for (uint32_t blocks : {5u, 16u, 21u, 32u, 43u, 215u}) {
      const uint32_t count = 9, stride = (blocks + 15) / 16 * 16;  // a group of eight and one more
      std::vector<uint32_t> masks(blocks), templates(size_t{count} * blocks);
      for (auto& m : masks) m = rng() & rng();  // fewer than half the bits set
      for (auto& m : templates) m = rng() | (rng() & 0xFFFF);
      masks[0] = 0xFFFFFFFFu;
      templates[1] = 0;
      std::vector<uint32_t> sets(size_t{count} * stride, 0);
      for (uint32_t t = 0; t < count; ++t) {
        for (uint32_t i = 0; i < blocks; ++i) sets[t * stride + i] = static_cast<uint32_t>(std::popcount(templates[t * blocks + i]));
      }
      std::vector<uint32_t> differ(count), products(count);
      const uint32_t set =
          CompareWithTemplates(masks.data(), templates.data(), sets.data(), stride, count, blocks, differ.data(), products.data());
      uint32_t expectedSet = 0;
      for (uint32_t m : masks) expectedSet += static_cast<uint32_t>(std::popcount(m));
      EXPECT_EQ(set, expectedSet) << blocks << " blocks, kernel " << static_cast<int>(kernel);
      for (uint32_t t = 0; t < count; ++t) {
        uint32_t d = 0, p = 0;
        for (uint32_t i = 0; i < blocks; ++i) {
          d += static_cast<uint32_t>(std::popcount(masks[i] ^ templates[t * blocks + i]));
          p += static_cast<uint32_t>(std::popcount(masks[i])) * sets[t * stride + i];
        }
        EXPECT_EQ(differ[t], d) << blocks << " blocks, template " << t << ", kernel " << static_cast<int>(kernel);
        EXPECT_EQ(products[t], p) << blocks << " blocks, template " << t << ", kernel " << static_cast<int>(kernel);
      }
    }
  }
}

class MemoryAudio : public FindAudio {
 public:
  explicit MemoryAudio(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  uint32_t Frames() const override { return static_cast<uint32_t>(bytes_.size() / 4); }
  uint32_t Read(uint32_t first, uint32_t count, uint8_t* buffer) override {
    const uint32_t n = first < Frames() ? std::min(count, Frames() - first) : 0;
    std::copy(bytes_.begin() + size_t{first} * 4, bytes_.begin() + (size_t{first} + n) * 4, buffer);
    return n;
  }

 private:
  const std::vector<uint8_t>& bytes_;
};

// Every start of a whole scan (blocks streamed through the ring, candidates
// compared in batches phase by phase) has the score of the analyser's own
// masks of its splits, compared pair by pair with silent pairs left out,
// and the sums of its background pairs alone; at every hop kind, with every
// kernel.
TEST_F(FindMasks, EveryStartOfAScanScoresTheAnalysersMasks) {
  auto music = test::MakeTestMusic(4.0, 13);
  std::fill(music.begin() + 2 * 90000, music.begin() + 2 * 99000, int16_t{0});
  const auto frames = Bytes(music);
  const uint32_t h = 21, f = 2, d = h * kBlockFrames;
  const auto fragment = Bytes(std::vector<int16_t>(music.begin() + 2 * 40001, music.begin() + 2 * (40001 + f * d)));
  MemoryAudio sample(fragment), source(frames);
  BeatAnalyzer a;
  ASSERT_EQ(SetupBeatAnalyzer(a, h), 1);
  FindTemplates templates;
  ASSERT_TRUE(AnalyseTemplates(sample, 0, d, f, a, templates));
  // Some blocks taken for background: their pairs are summed apart too.
  for (size_t i = 0; i < templates.background.size(); i += 3) {
    templates.background[i] = 1;
    templates.backgroundBlocks[i / h] += 1;
  }
  for (KernelChoice kernel : {KernelChoice::Scalar, KernelChoice::Avx2, KernelChoice::Avx512}) {
    if (!KernelAvailable(kernel)) continue;
    SetKernelChoice(kernel);
    for (uint32_t hop : {1024u, 128u}) {
      StartScores scores;
      scores.Reset(WavStartCount(source.Frames(), hop, f, h), static_cast<uint32_t>(templates.ForegroundBlocks()));
      WavScanWork work;
      work.audio = &source;
      work.templates = &templates;
      work.hop = hop;
      ASSERT_TRUE(ScanWavSource(work, scores));
      for (size_t st = 0; st < scores.Count(); st += (hop == 128 ? 3 : 1)) {
        uint32_t agreement[2] = {}, pairs[2] = {}, chance[2] = {};  // all pairs, background pairs
        for (uint32_t j = 0; j < f; ++j) {
          const size_t p = st * hop + size_t{j} * d;
          const auto masks = SplitMasks(frames, p, h);
          for (uint32_t i = 0; i < h; ++i) {
            if (templates.Silent(j)[i] != 0 || SilentBlock(frames.data() + (p + size_t{i} * kBlockFrames) * 4)) continue;
            const auto a = static_cast<uint32_t>(std::popcount(templates.Masks(j)[i]));
            const auto b = static_cast<uint32_t>(std::popcount(masks[i]));
            for (int k = 0; k < (templates.Background(j)[i] != 0 ? 2 : 1); ++k) {
              agreement[k] += 32 - static_cast<uint32_t>(std::popcount(masks[i] ^ templates.Masks(j)[i]));
              chance[k] += a * b + (32 - a) * (32 - b);
              ++pairs[k];
            }
          }
        }
        ASSERT_EQ(scores.agreement[st], agreement[0]) << "start " << st << " hop " << hop << " kernel " << static_cast<int>(kernel);
        ASSERT_EQ(scores.pairs[st], pairs[0]) << "start " << st << " hop " << hop;
        ASSERT_EQ(scores.chance[st], chance[0]) << "start " << st << " hop " << hop;
        ASSERT_EQ(scores.backgroundAgreement[st], agreement[1]) << "start " << st << " hop " << hop;
        ASSERT_EQ(scores.backgroundPairs[st], pairs[1]) << "start " << st << " hop " << hop;
        ASSERT_EQ(scores.backgroundChance[st], chance[1]) << "start " << st << " hop " << hop;
      }
    }
  }
}

class FindSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    music = test::MakeTestMusic(40.0, 3);
    test::WriteBytes(dir / "source.wav", test::StereoWav(music));
    request.sources = {dir / "source.wav"};
    request.samplePath = dir / "sample.wav";
    request.outputFolder = (dir / "out").string() + "/";
    std::filesystem::create_directory(dir / "out");
  }
  // A sample holding the source's frames [first, first + frames).
  void CutSample(size_t first, size_t frames, double gain = 1.0) {
    std::vector<int16_t> cut(music.begin() + 2 * first, music.begin() + 2 * (first + frames));
    for (auto& v : cut) v = static_cast<int16_t>(v * gain);
    test::WriteBytes(dir / "sample.wav", test::StereoWav(cut));
  }
  TempDir dir;
  std::vector<int16_t> music;
  FindRequest request;
  FindResult result;
};

// The best start is the true one within half a hop, its agreement is the sum
// of the analyser's masks compared at the reported frame, and it is confident
// while the next best are not.
TEST_F(FindSearch, FindsAPieceCutOffTheGridWithTheAnalysersScore) {
  const size_t truth = 22050 * 17 + 5000 + 37;
  CutSample(truth, 22050 * 4);
  request.fragmentLength = 4;
  request.top = 3;
  ASSERT_TRUE(RunFind(request, result, nullptr)) << result.failure;
  ASSERT_FALSE(result.matches.empty());
  const FindMatch& best = result.matches.front();
  EXPECT_LE(best.frame > truth ? best.frame - truth : truth - best.frame, 64u);
  EXPECT_TRUE(best.confident);
  EXPECT_EQ(result.matches.size(), 1u) << "only the true place is confident";

  const auto source = Bytes(music);
  const auto sample = Bytes(std::vector<int16_t>(music.begin() + 2 * truth, music.end()));
  uint32_t agreement = 0;
  for (uint32_t j = 0; j < 4; ++j) {
    const auto t = SplitMasks(sample, j * 21 * 1024, 21);
    const auto c = SplitMasks(source, best.comparedFrame + j * 21 * 1024, 21);
    std::vector<uint8_t> cb(c.size() * 4);
    std::memcpy(cb.data(), c.data(), cb.size());
    agreement += MaskAgreement(t.data(), cb.data(), 21);
  }
  EXPECT_EQ(best.agreement, agreement);
  EXPECT_EQ(best.bits, 4u * 21 * 32);
  EXPECT_DOUBLE_EQ(best.similarity, agreement * 100.0 / (4 * 21 * 32));
}

// Silent blocks are left out of the comparison: a fragment straddling the
// edge of a silence is still found, with fewer bits; a silent fragment fails.
TEST_F(FindSearch, SilenceIsNotCompared) {
  // Silence as zeros, then as the constant -1 some renderers leave.
  std::fill(music.begin() + 2 * 300000, music.begin() + 2 * 350000, int16_t{0});
  std::fill(music.begin() + 2 * 350000, music.begin() + 2 * 400000, int16_t{-1});
  test::WriteBytes(dir / "source.wav", test::StereoWav(music));
  const size_t truth = 300000 - 22050 - 1000;  // the second split runs into the silence
  CutSample(truth, 22050 * 2);
  ASSERT_TRUE(RunFind(request, result, nullptr)) << result.failure;
  ASSERT_FALSE(result.matches.empty());
  EXPECT_NEAR(static_cast<double>(result.matches[0].frame), static_cast<double>(truth), 64.0);
  EXPECT_LT(result.matches[0].bits, 2u * 21 * 32);
  EXPECT_GE(result.matches[0].bits, 21u * 32);

  CutSample(352000, 22050 * 2);
  EXPECT_FALSE(RunFind(request, result, nullptr));
  EXPECT_NE(result.failure.find("silence"), std::string::npos) << result.failure;
}

// A renderer's idle output (a fixed pseudo-random wobble of one step) is the
// same in every recording it makes, so a fragment of it agrees with another
// recording's idle stretch in most bits, yet identifies nothing: it is never
// confident. Music as quiet as -70 dBFS still is.
TEST_F(FindSearch, AFragmentAtTheNoiseFloorIsNeverConfident) {
  std::mt19937 rng(5);
  std::vector<int16_t> idle(2 * 44100 * 6);
  for (auto& v : idle) v = static_cast<int16_t>(-static_cast<int>(rng() & 1u));
  const size_t tail = 44100 * 34;
  std::copy(idle.begin(), idle.begin() + static_cast<std::ptrdiff_t>(music.size() - 2 * tail), music.begin() + 2 * tail);
  test::WriteBytes(dir / "source.wav", test::StereoWav(music));
  test::WriteBytes(dir / "sample.wav",
                   test::StereoWav(std::vector<int16_t>(idle.begin() + 2 * 44100, idle.begin() + 2 * (44100 + 44100))));
  ASSERT_TRUE(RunFind(request, result, nullptr)) << result.failure;
  ASSERT_FALSE(result.matches.empty());
  EXPECT_GT(result.matches[0].similarity, 80.0) << "the same wobble is there";
  EXPECT_FALSE(result.matches[0].confident) << result.matches[0].score;
  EXPECT_EQ(result.informativeBlocks, 0.0);

  double power = 0.0;
  const size_t truth = 22050 * 11 + 3001;
  for (size_t i = 2 * truth; i < 2 * (truth + 44100); ++i) power += static_cast<double>(music[i]) * music[i];
  const double gain = 32768.0 * std::pow(10.0, -70.0 / 20.0) / std::sqrt(power / (2.0 * 44100));
  CutSample(truth, 44100, gain);
  ASSERT_TRUE(RunFind(request, result, nullptr)) << result.failure;
  ASSERT_FALSE(result.matches.empty());
  EXPECT_NEAR(static_cast<double>(result.matches[0].frame), static_cast<double>(truth), 1024.0);
  EXPECT_TRUE(result.matches[0].confident) << result.matches[0].score;
}

// A tail far below a fragment's sound is background: recordings made alike
// end in much the same reverb tail, so agreeing there identifies nothing.
// A fragment that is mostly such a tail is not confident at another
// recording's end, and is still found, confidently, where it was cut.
TEST_F(FindSearch, ATailFarBelowTheSoundIsBackground) {
  // The same decaying noise, from -56 to -96 dBFS over 4 s, ends this
  // recording and one of other music.
  std::mt19937 rng(9);
  std::normal_distribution<double> noise(0.0, 1.0);
  const size_t tailFrames = 44100 * 4;
  std::vector<int16_t> tail(2 * tailFrames);
  for (size_t i = 0; i < tail.size(); ++i) {
    const double decibels = -56.0 - 40.0 * static_cast<double>(i / 2) / tailFrames;
    tail[i] = static_cast<int16_t>(std::lround(noise(rng) * 32768.0 * std::pow(10.0, decibels / 20.0)));
  }
  auto other = test::MakeTestMusic(20.0, 11);
  std::copy(tail.begin(), tail.end(), other.end() - static_cast<std::ptrdiff_t>(tail.size()));
  std::copy(tail.begin(), tail.end(), music.end() - static_cast<std::ptrdiff_t>(tail.size()));
  test::WriteBytes(dir / "source.wav", test::StereoWav(music));
  test::WriteBytes(dir / "other.wav", test::StereoWav(other));
  // A second of music, then three of the tail.
  const size_t truth = music.size() / 2 - tailFrames - 44100;
  CutSample(truth, 22050 * 8);
  request.fragmentLength = 8;
  request.sources = {dir / "other.wav"};
  ASSERT_TRUE(RunFind(request, result, nullptr)) << result.failure;
  ASSERT_FALSE(result.matches.empty());
  EXPECT_FALSE(result.matches[0].confident) << result.matches[0].score;
  EXPECT_LT(result.comparedTemplates, 4.0) << "the tail's blocks are background";

  request.sources = {dir / "source.wav"};
  ASSERT_TRUE(RunFind(request, result, nullptr)) << result.failure;
  ASSERT_FALSE(result.matches.empty());
  EXPECT_NEAR(static_cast<double>(result.matches[0].frame), static_cast<double>(truth), 1024.0);
  EXPECT_TRUE(result.matches[0].confident) << result.matches[0].score;
}

// A folder is searched file by file, an unreadable file among them reported
// and skipped; the match comes from the file that holds the piece.
TEST_F(FindSearch, SeveralSourcesAndAFolderWithAnUnreadableFile) {
  std::filesystem::create_directories(dir / "lib" / "sub");
  test::WriteBytes(dir / "lib" / "a.wav", test::StereoWav(test::MakeTestMusic(20.0, 11)));
  test::WriteBytes(dir / "lib" / "b_broken.wav", {'R', 'I', 'F', 'F', 1, 2});
  test::WriteBytes(dir / "lib" / "notes.txt", {'x'});
  std::filesystem::copy_file(dir / "source.wav", dir / "lib" / "sub" / "c.WAV");
  CutSample(22050 * 9 + 777, 22050 * 2);
  request.sources = {dir / "lib", dir / "missing.wav"};
  ASSERT_TRUE(RunFind(request, result, nullptr)) << result.failure;
  ASSERT_EQ(result.sources.size(), 4u);
  EXPECT_EQ(result.sources[0].path.filename(), "a.wav");
  EXPECT_TRUE(result.sources[0].error.empty());
  EXPECT_EQ(result.sources[1].path.filename(), "b_broken.wav");
  EXPECT_FALSE(result.sources[1].error.empty());
  EXPECT_FALSE(result.sources[1].frames.has_value());
  EXPECT_EQ(result.sources[2].path.filename(), "c.WAV");
  EXPECT_FALSE(result.sources[3].error.empty());
  ASSERT_FALSE(result.matches.empty());
  EXPECT_EQ(result.matches[0].source, 2u);
  EXPECT_TRUE(result.matches[0].confident) << result.matches[0].z << " " << result.matches[0].similarity;
  EXPECT_NEAR(static_cast<double>(result.matches[0].frame), 22050.0 * 9 + 777, 64.0);
  EXPECT_EQ(result.startsSearched, result.sources[0].starts + result.sources[2].starts);
  // The score takes off the drift of the best of all the starts searched, not of one file's.
  EXPECT_GT(result.scoreAllowance, ScoreAllowance(result.sources[2].starts));
  const FindSourceStatus& c = result.sources[2];
  // The score divides by the wider of the source's spread and the spread
  // around the match.
  EXPECT_GE(result.matches[0].scoreDeviation, c.scoreDeviation);
  // z shrunk by what the fragment's blocks carry beyond chance, less the allowance.
  EXPECT_GT(result.informativeBlocks, 0.0);
  EXPECT_LE(result.informativeBlocks, 2.0 * 21);
  EXPECT_DOUBLE_EQ(result.matches[0].score, (result.matches[0].excess - c.excessMedian) / result.matches[0].scoreDeviation *
                                                    ScoreShrink(result.informativeBlocks) -
                                                ScoreAllowance(result.startsSearched));

  request.sources = {dir / "lib" / "b_broken.wav"};
  EXPECT_FALSE(RunFind(request, result, nullptr));
  EXPECT_FALSE(result.searched);
}

// A database is searched by shifting the sample: a piece cut between its
// splits is found at its frame in the WAV the database was built from, and
// written as the records from there.
TEST_F(FindSearch, DatabaseSourceThroughSampleShifts) {
  DatabaseBuildRequest build;
  build.sourcePath = dir / "source.wav";
  build.splitMilliseconds = 500;
  build.outputPath = dir / "db" / "song.qlmx";
  std::filesystem::create_directories(dir / "db");
  std::string error;
  ASSERT_TRUE(BuildSplitsDatabase(build, nullptr, error)) << error;
  const size_t truth = 22050 * 30 + 9000;
  CutSample(truth, 22050 * 3, 0.5);
  request.database = dir / "db" / "song.qlmx";
  request.fragmentLength = 3;
  request.write = true;
  ASSERT_TRUE(RunFind(request, result, nullptr)) << result.failure;
  ASSERT_FALSE(result.matches.empty());
  const FindMatch& best = result.matches[0];
  EXPECT_TRUE(best.confident);
  EXPECT_NEAR(static_cast<double>(best.frame), static_cast<double>(truth), 64.0);
  EXPECT_EQ(best.record, (best.comparedFrame + 22049) / 22050);
  EXPECT_EQ(best.bits, 2u * 21 * 32);
  ASSERT_TRUE(best.file.has_value());
  const auto written = test::ReadBytes(*best.file);
  const auto source = Bytes(music);
  ASSERT_EQ(written.size(), 44u + 3 * 22050 * 4);
  EXPECT_TRUE(std::equal(written.begin() + 44, written.end(), source.begin() + size_t{best.record} * 22050 * 4));

  request.fragmentLength = 1;
  EXPECT_FALSE(RunFind(request, result, nullptr));
}

}  // namespace
}  // namespace kestrune
