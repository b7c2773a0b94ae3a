#include "matching/wav_match_job.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <random>

#include "analysis/declick.h"
#include "matching/match_settings.h"
#include "matching/match_workers.h"
#include "storage/wav_file.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using test::ReadBytes;
using test::RecordingHost;
using test::RecordingProgress;
using test::TempDir;
using test::WriteBytes;

constexpr uint32_t kFrames = 4410;  // 100 ms splits
constexpr size_t kSplitBytes = kFrames * 4;

// Split-sized pieces of distinct noise.
std::vector<uint8_t> NoiseSplit(uint32_t seed) { return test::NoiseBytes(kSplitBytes, seed); }

std::vector<uint8_t> Concat(const std::vector<uint32_t>& seeds, size_t tail = 0) {
  std::vector<uint8_t> out;
  for (uint32_t s : seeds) {
    const auto split = NoiseSplit(s);
    out.insert(out.end(), split.begin(), split.end());
  }
  out.resize(out.size() + tail, 0x11);
  return out;
}

std::vector<uint8_t> Wav(const std::vector<uint8_t>& data, uint16_t channels = 2, uint32_t rate = 44100,
                         uint16_t blockAlign = 4) {
  return test::PcmWav(data, channels, rate, blockAlign);
}

std::vector<uint8_t> ResultFile(const std::vector<uint8_t>& data) {
  std::array<uint8_t, 44> header;
  EXPECT_TRUE(MakeWavHeader(header, static_cast<uint32_t>(data.size()), 44100, 4, 1, 2, 16));
  std::vector<uint8_t> out(header.begin(), header.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

size_t QlpFilesIn(const std::filesystem::path& dir) {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) n += e.path().filename().string().rfind("QLP", 0) == 0;
  return n;
}

class WavMatchJob : public ::testing::Test {
 protected:
  void SetUp() override {
    // Temporary files go to a folder of this test, so they can be counted.
    std::filesystem::create_directory(dir / "tmp");
    test::SetTemporaryFolder(dir / "tmp");
    std::filesystem::create_directory(dir / "out");
    // Source: ten distinct splits and a tail shorter than one split.
    WriteBytes(dir / "source.wav", Wav(Concat({10, 11, 12, 13, 14, 15, 16, 17, 18, 19}, 1000)));
    // Sample: source splits 7, 2 and 5 after one unrelated split.
    WriteBytes(dir / "sample.wav", Wav(Concat({99, 17, 12, 15})));
    settings.sourcePath = dir / "source.wav";
    settings.samplePath = dir / "sample.wav";
    settings.outputFolder = (dir / "out").string() + "/";
    settings.splitMilliseconds = 100;
    settings.startOffset = 1;
    settings.fragmentLength = 3;
    settings.minSimilarity = 100;
    settings.ownerWindow = &host;
  }
  void TearDown() override { test::SetTemporaryFolder({}); }

  bool Run() { return test::RunRecorded(WavMatchWorker, &settings, window, &context) == PD_SUCCEEDED; }

  TempDir dir;
  MatchSettings settings;
  RecordingHost host;
  RecordingProgress window;
  WorkerContext context;
};

TEST_F(WavMatchJob, OneFileHoldsTheBestSplitsInTemplateOrder) {
  ASSERT_TRUE(Run());
  EXPECT_EQ(ReadBytes(dir / "out" / "sample_rest.wav"), ResultFile(Concat({17, 12, 15})));
  EXPECT_EQ(window.texts, (std::vector<std::string>{"Please Wait...", "Prepare source beats information..",
                                                    "Please Wait...", "Template split - 0, src split written - 7",
                                                    "Template split - 1, src split written - 2",
                                                    "Template split - 2, src split written - 5"}));
  // Ten source splits (0, 10, ..., 90), then three template splits (0, 33, 66); never 100.
  EXPECT_EQ(window.positions, (std::vector<uint32_t>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 33, 66}));
  EXPECT_EQ(host.titles, std::vector<std::string>{"Converting sound."});
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(QlpFilesIn(dir / "tmp"), 0u);
}

TEST_F(WavMatchJob, SeparateFilesWithDeclickHoldOneRampedSplitEach) {
  settings.separateFiles = true;
  settings.declick = true;
  ASSERT_TRUE(Run());
  const uint32_t seeds[3] = {17, 12, 15};
  for (int j = 0; j < 3; ++j) {
    auto split = NoiseSplit(seeds[j]);
    ApplyDeclickRampBytes(split.data(), kFrames * 2);
    EXPECT_EQ(ReadBytes(dir / "out" / ("sample_rest_spl " + std::to_string(j) + ".wav")), ResultFile(split));
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "sample_rest.wav"));
  EXPECT_EQ(QlpFilesIn(dir / "tmp"), 0u);
}

TEST_F(WavMatchJob, LowerSimilarityAddsRunnersUpAfterTheBest) {
  settings.minSimilarity = 1;  // every split reaches it
  settings.fragmentLength = 1;
  ASSERT_TRUE(Run());
  const auto out = ReadBytes(dir / "out" / "sample_rest.wav");
  ASSERT_EQ(out.size(), 44 + 10 * kSplitBytes);
  const auto best = NoiseSplit(17);
  EXPECT_TRUE(std::equal(best.begin(), best.end(), out.begin() + 44));
}

TEST_F(WavMatchJob, FormatMessageIsShownOnceForTheFirstBadFile) {
  WriteBytes(dir / "mono.wav", Wav(Concat({1, 2}), 1, 44100, 2));
  WriteBytes(dir / "48k.wav", Wav(Concat({1, 2}), 2, 48000, 4));
  WriteBytes(dir / "align8.wav", Wav(Concat({1, 2}), 2, 44100, 8));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"mono.wav", "sample.wav"}, {"source.wav", "48k.wav"}, {"mono.wav", "48k.wav"}, {"align8.wav", "sample.wav"}};
  for (const auto& [source, sample] : cases) {
    host.messages.clear();
    settings.sourcePath = dir / source;
    settings.samplePath = dir / sample;
    EXPECT_FALSE(Run()) << source << " " << sample;
    EXPECT_EQ(host.messages, (std::vector<test::Message>{{kFormatMessage, kCaption}})) << source << " " << sample;
  }
  settings.sourcePath = dir / "missing.wav";
  host.messages.clear();
  EXPECT_FALSE(Run());
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(WavMatchJob, TemplateSplitsBeyondTheSampleFailWithoutWrapping) {
  settings.startOffset = 2;  // the third template split would be sample split 4 of 4
  EXPECT_FALSE(Run());
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "sample_rest.wav"));
  EXPECT_EQ(QlpFilesIn(dir / "tmp"), 0u);

  settings.separateFiles = true;  // results of earlier template splits remain
  EXPECT_FALSE(Run());
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "sample_rest_spl 0.wav"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "sample_rest_spl 1.wav"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "sample_rest_spl 2.wav"));

  // 48696 * 22050 frames wraps 32 bits to a frame inside the sample.
  settings.splitMilliseconds = 500;
  settings.startOffset = 48696;
  settings.fragmentLength = 1;
  EXPECT_FALSE(Run());
}

TEST_F(WavMatchJob, SourceShorterThanASplitWritesNothingButSucceeds) {
  WriteBytes(dir / "short.wav", Wav(std::vector<uint8_t>(1000, 0)));
  settings.sourcePath = dir / "short.wav";
  EXPECT_TRUE(Run());
  EXPECT_EQ(host.messages, (std::vector<test::Message>{{kConvertFailedMessage, kCaption}}));
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "sample_rest.wav"));
}

TEST_F(WavMatchJob, TerminationStopsTheJobSoonAndSilently) {
  window.onReport = [&] {
    if (window.positions.size() == 3) context.bTerminate.store(true);
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(window.positions.size(), 3u);  // no report after the request
  EXPECT_TRUE(host.titles.empty());        // no conversion started
  EXPECT_EQ(QlpFilesIn(dir / "tmp"), 0u);

  WorkerContext early;
  early.bTerminate.store(true);
  RecordingProgress unused;
  EXPECT_EQ(test::RunRecorded(WavMatchWorker, &settings, unused, &early), PD_FAILED);
  EXPECT_TRUE(unused.texts.empty());
}

}  // namespace
}  // namespace kestrune
