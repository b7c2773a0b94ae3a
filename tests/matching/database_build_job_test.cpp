#include "matching/database_build_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "analysis/beat_analyzer.h"
#include "common/sample_frame.h"
#include "storage/splits_database.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using std::filesystem::path;
using test::TempDir;

// Noise whose loudness changes every few hundred frames, so that the masks
// differ from block to block and from split to split.
std::vector<int16_t> Signal(uint32_t frames, uint32_t seed) {
  std::vector<int16_t> s(2 * size_t{frames});
  uint32_t x = seed;
  for (uint32_t n = 0; n < frames; ++n) {
    x = x * 1664525u + 1013904223u;
    const int32_t level = 1000 + static_cast<int32_t>((n / 300 * 2654435761u) >> 20) % 20000;
    s[2 * n] = static_cast<int16_t>(static_cast<int32_t>(x >> 16) % level);
    s[2 * n + 1] = static_cast<int16_t>(static_cast<int32_t>((x >> 8) & 0xFFFF) % level);
  }
  return s;
}

// Every file and folder under root, by relative path, with its bytes.
std::map<std::string, std::vector<uint8_t>> Snapshot(const path& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    files[entry.path().lexically_relative(root).string()] =
        entry.is_regular_file() ? test::ReadBytes(entry.path()) : std::vector<uint8_t>{};
  }
  return files;
}

class DatabaseBuildJobTest : public ::testing::Test {
 protected:
  path Source(uint32_t frames, uint32_t seed = 1) {
    source_ = test::FrameBytes(Signal(frames, seed));
    const path p = in_ / ("source" + std::to_string(seed) + ".wav");
    test::WriteBytes(p, test::StereoWav(Signal(frames, seed)));
    return p;
  }
  DatabaseBuildRequest Request(const path& source, uint32_t ms = 100) {
    DatabaseBuildRequest r;
    r.sourcePath = source;
    r.splitMilliseconds = ms;
    r.outputPath = out_ / "song.qlmx";
    return r;
  }
  // Runs the build as a progress run that window_ records; the run is asked
  // to stop once stopAfter positions were reported (0: never).
  bool Build(const DatabaseBuildRequest& r, size_t stopAfter = 0) {
    DatabaseBuildJob job{r, {}};
    WorkerContext context;
    window_ = {};
    window_.onReport = [&] {
      if (stopAfter != 0 && window_.positions.size() >= stopAfter) context.bTerminate.store(true);
    };
    const int code = test::RunRecorded(DatabaseBuildWorker, &job, window_, &context);
    error_ = job.error;
    return code == PD_SUCCEEDED;
  }

  TempDir in_;
  TempDir out_;
  std::vector<uint8_t> source_;
  std::string error_;
  test::RecordingProgress window_;
};

TEST_F(DatabaseBuildJobTest, RoundTripGivesTheSourceSplitsAndTheirMasks) {
  // 100 ms: 4410 frames and 4 blocks per split; 7 whole splits and a rest.
  DatabaseBuildRequest request = Request(Source(7 * 4410 + 1000));
  request.splitsPerDataFile = 3;
  ASSERT_TRUE(Build(request)) << error_;
  // The reports of a match's source preparation: i * 100 / 7 after split i.
  EXPECT_EQ(window_.texts, std::vector<std::string>{kAnalysingSourceSplits});
  EXPECT_EQ(window_.positions, (std::vector<uint32_t>{0, 14, 28, 42, 57, 71, 85}));

  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(out_.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"song.qlmx", "song.snd", "song.spl", "soundsData_song"}));
  EXPECT_EQ(std::filesystem::file_size(out_ / "song.qlmx"), kDatabaseHeaderSize);

  SplitsDatabase db;
  ASSERT_TRUE(db.Open(out_ / "song.qlmx"));
  EXPECT_EQ(db.name, u"song");
  EXPECT_EQ(db.splitMilliseconds, 100u);
  ASSERT_EQ(db.SplitCount(), 7u);
  ASSERT_EQ(db.dataFileCount, 3u);
  const uint32_t perFile[] = {3, 3, 1};
  for (uint32_t f = 0; f < 3; ++f) {
    EXPECT_EQ(db.dataFiles[f].id, f + 1);
    EXPECT_EQ(db.dataFiles[f].file.size, perFile[f] * 17640);
    EXPECT_EQ(LoadU32(db.sndFile.data() + f * kDataFileRecordSize + 4), perFile[f]);
  }
  BeatAnalyzer analyzer;
  ASSERT_EQ(SetupBeatAnalyzer(analyzer, 4), 1);
  for (uint32_t i = 0; i < 7; ++i) {
    const uint8_t* expected = source_.data() + size_t{i} * 17640;
    SplitAudio audio;
    ASSERT_TRUE(db.ReadSplit(i, audio));
    ASSERT_EQ(audio.byteCount, 17640u);
    EXPECT_EQ(std::vector<uint8_t>(audio.samples, audio.samples + 17640),
              std::vector<uint8_t>(expected, expected + 17640)) << "split " << i;
    ASSERT_TRUE(AnalyseSplit(analyzer, expected));
    for (uint32_t b = 0; b < 4; ++b) EXPECT_EQ(LoadU32(db.MasksAt(i) + 4 * b), analyzer.beatMasks[b]);
    EXPECT_EQ(LoadU32(db.SplitRecordAt(i)), i);
  }
}

TEST_F(DatabaseBuildJobTest, SourceWithoutAWholeSplitGivesAnEmptyDatabase) {
  DatabaseBuildRequest request = Request(Source(4409));
  request.name = "Sång";
  ASSERT_TRUE(Build(request)) << error_;
  EXPECT_TRUE(std::filesystem::is_directory(out_ / "soundsData_Sång"));
  SplitsDatabase db;
  ASSERT_TRUE(db.Open(out_ / "song.qlmx"));
  EXPECT_EQ(db.name, u"Sång");
  EXPECT_EQ(db.SplitCount(), 0u);
  EXPECT_EQ(db.dataFileCount, 0u);
}

TEST_F(DatabaseBuildJobTest, RefusedRequestsWriteNothing) {
  const path good = Source(5000);
  const path mono = in_ / "mono.wav";
  test::WavBuilder wav;
  wav.RiffHeader(36 + 8000).Fmt(1, 1, 44100, 2, 16).Chunk("data", std::vector<uint8_t>(8000));
  test::WriteBytes(mono, wav.bytes());
  std::vector<DatabaseBuildRequest> requests(11, Request(good));
  requests[0].sourcePath = mono;
  requests[1].sourcePath = in_ / "absent.wav";
  requests[2].splitMilliseconds = 99;
  requests[3].splitMilliseconds = 5001;
  requests[4].splitsPerDataFile = 0;
  requests[5].name = "a/b";
  requests[6].name = "a\\b";
  requests[7].name = std::string(256, 'n');
  requests[8].name = "";
  requests[9].outputPath = out_ / "song";
  requests[10].outputPath = out_ / "song.snd";
  for (size_t i = 0; i < requests.size(); ++i) {
    error_.clear();
    EXPECT_FALSE(Build(requests[i])) << "request " << i;
    EXPECT_FALSE(error_.empty()) << "request " << i;
  }
  EXPECT_TRUE(std::filesystem::is_empty(out_.path()));
  requests[7].name = "n";  // the request refused only for its name now builds
  EXPECT_TRUE(Build(requests[7])) << error_;
}

TEST_F(DatabaseBuildJobTest, ExistingDatabaseIsReplacedOnlyByACompleteOne) {
  DatabaseBuildRequest first = Request(Source(7 * 4410), 100);
  first.splitsPerDataFile = 2;
  ASSERT_TRUE(Build(first)) << error_;
  const auto before = Snapshot(out_.path());

  DatabaseBuildRequest second = Request(Source(5 * 8820, 2), 200);
  EXPECT_FALSE(Build(second, 3));
  EXPECT_EQ(error_, "stopped");
  EXPECT_EQ(Snapshot(out_.path()), before);

  ASSERT_TRUE(Build(second)) << error_;
  const auto after = Snapshot(out_.path());
  EXPECT_EQ(after.size(), 5u);  // the database, two tables, the data folder and one data file
  SplitsDatabase db;
  ASSERT_TRUE(db.Open(out_ / "song.qlmx"));
  EXPECT_EQ(db.splitMilliseconds, 200u);
  ASSERT_EQ(db.SplitCount(), 5u);
  SplitAudio audio;
  ASSERT_TRUE(db.ReadSplit(4, audio));
  EXPECT_TRUE(std::equal(audio.samples, audio.samples + audio.byteCount, source_.begin() + 4 * 35280));
}

}  // namespace
}  // namespace kestrune
