#include "matching/database_match_job.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <random>

#include "matching/match_settings.h"
#include "matching/match_workers.h"
#include "storage/splits_database.h"
#include "matching/database_build_job.h"
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

std::vector<uint8_t> Noise(size_t bytes, uint32_t seed) { return test::NoiseBytes(bytes, seed); }
std::vector<uint8_t> Wav(const std::vector<uint8_t>& data, uint32_t rate = 44100) { return test::PcmWav(data, 2, rate); }

constexpr size_t kSplit100 = 17640;  // bytes of a 100 ms split

class DatabaseMatchJob : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir / "tmp");
    test::SetTemporaryFolder(dir / "tmp");
    std::filesystem::create_directory(dir / "out");
    source = Noise(12 * kSplit100 + 500, 3);
    // The sample: source splits 8, 1 and 5.
    std::vector<uint8_t> sample;
    for (size_t s : {8, 1, 5}) sample.insert(sample.end(), source.begin() + s * kSplit100, source.begin() + (s + 1) * kSplit100);
    WriteBytes(dir / "source.wav", Wav(source));
    WriteBytes(dir / "sample.wav", Wav(sample));
    Build(dir / "source.wav", 100, dir / "db" / "songs.qlmx");

    settings.sourcePath = dir / "db" / "songs.qlmx";
    settings.samplePath = dir / "sample.wav";
    settings.outputFolder = (dir / "out").string() + "/";
    settings.splitMilliseconds = 1000;  // ignored: the database says 100
    settings.fragmentLength = 3;
    settings.minSimilarity = 100;
    settings.ownerWindow = &host;
  }
  void TearDown() override { test::SetTemporaryFolder({}); }

  void Build(const std::filesystem::path& wav, uint32_t ms, const std::filesystem::path& db) {
    std::filesystem::create_directories(db.parent_path());
    DatabaseBuildRequest request;
    request.sourcePath = wav;
    request.splitMilliseconds = ms;
    request.outputPath = db;
    request.splitsPerDataFile = 5;
    std::string error;
    ASSERT_TRUE(BuildSplitsDatabase(request, nullptr, error)) << error;
  }

  int Run(WorkerProc worker = DatabaseMatchWorker) { return test::RunRecorded(worker, &settings, window, &context); }

  TempDir dir;
  std::vector<uint8_t> source;
  MatchSettings settings;
  RecordingHost host;
  RecordingProgress window;
  WorkerContext context;
};

TEST_F(DatabaseMatchJob, FindsWhatTheWavSourceFindsWithoutPreparation) {
  ASSERT_EQ(Run(), PD_SUCCEEDED);
  const auto fromDatabase = ReadBytes(dir / "out" / "sample_rest.wav");
  EXPECT_EQ(window.texts, (std::vector<std::string>{"Please Wait...", "Template split - 0, src split written - 8",
                                                    "Template split - 1, src split written - 1",
                                                    "Template split - 2, src split written - 5"}));
  EXPECT_EQ(window.positions, (std::vector<uint32_t>{0, 33, 66}));

  settings.sourcePath = dir / "source.wav";
  settings.splitMilliseconds = 100;
  ASSERT_EQ(Run(WavMatchWorker), PD_SUCCEEDED);
  EXPECT_EQ(ReadBytes(dir / "out" / "sample_rest.wav"), fromDatabase);
  ASSERT_EQ(fromDatabase.size(), 44 + 3 * kSplit100);
  EXPECT_TRUE(std::equal(fromDatabase.begin() + 44, fromDatabase.begin() + 44 + kSplit100,
                         source.begin() + 8 * kSplit100));
}

TEST_F(DatabaseMatchJob, DatabaseWithoutSplitsWritesNothingAndSucceeds) {
  WriteBytes(dir / "short.wav", Wav(Noise(1000, 1)));
  Build(dir / "short.wav", 100, dir / "db2" / "empty.qlmx");
  settings.sourcePath = dir / "db2" / "empty.qlmx";
  settings.separateFiles = true;
  EXPECT_EQ(Run(), PD_SUCCEEDED);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_TRUE(host.titles.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));
}

TEST_F(DatabaseMatchJob, OnlyTheSampleFormatIsCheckedAndTheDatabaseIsReleased) {
  WriteBytes(dir / "48k.wav", Wav(Noise(kSplit100 * 3, 2), 48000));
  settings.samplePath = dir / "48k.wav";
  EXPECT_EQ(Run(), PD_FAILED);
  EXPECT_EQ(host.messages, (std::vector<test::Message>{{kFormatMessage, kCaption}}));
  SplitsDatabase again;  // opened exclusively by the job, and closed on its way out
  EXPECT_TRUE(again.Open(dir / "db" / "songs.qlmx"));

  settings.sourcePath = dir / "db" / "missing.qlmx";
  host.messages.clear();
  EXPECT_EQ(Run(), PD_FAILED);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(DatabaseMatchJob, SplitsWhoseSoundIsMissingFailTheJob) {
  std::filesystem::remove_all(dir / "db" / "soundsData_songs");
  EXPECT_EQ(Run(), PD_FAILED);
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "sample_rest.wav"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));
}

TEST_F(DatabaseMatchJob, FragmentsBeyondTheSampleFailAtTheFirstMissingSplit) {
  settings.separateFiles = true;
  settings.startOffset = 1;
  EXPECT_EQ(Run(), PD_FAILED);
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "sample_rest_spl 0.wav"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "sample_rest_spl 1.wav"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "sample_rest_spl 2.wav"));
}

}  // namespace
}  // namespace kestrune
