// Every hostile input through kestrune-cli, as a user would run it: each
// case must end with the message and exit status its reading calls for, or
// with the exact result, and never with a signal, a hang, a sanitizer report,
// bytes from outside the file, a leftover temporary file or a file written
// anywhere but the output folder.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <nlohmann/json.hpp>

#include "common/sample_frame.h"
#include "convert/convert.h"
#include "support/child_process.h"
#include "hostile/hostile_cases.h"
#include "storage/wav_file.h"
#include "support/temp_dir.h"

namespace kestrune::hostile {
namespace {

using std::filesystem::path;

constexpr char kProcessFailed[] = "Sound processing: Error occurs while processing sound.";
constexpr char kFormat[] = "Sound processing: Only 44 kHz 2 chanels PCM wav files supported";
constexpr char kConvertFailed[] = "Sound processing: Error occurs while converting sound.";
constexpr char kTempoFailed[] = "Error while calculating BPM or source file incorrect.";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<uint8_t> ReadAll(const path& file) { return test::ReadBytes(file); }

// The 44-byte header of a result holding dataBytes.
std::vector<uint8_t> ResultHeader(uint32_t dataBytes) {
  std::array<uint8_t, 44> header{};
  EXPECT_TRUE(MakeWavHeader(header, dataBytes, 44100, 4, 1, 2, 16));
  return std::vector<uint8_t>(header.begin(), header.end());
}

// Names and sizes of everything under folder, to see that nothing changed.
std::map<std::string, uintmax_t> Snapshot(const path& folder) {
  std::map<std::string, uintmax_t> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    files[e.path().lexically_relative(folder).string()] = e.is_regular_file() ? e.file_size() : 0;
  }
  return files;
}

// One folder per case: inputs in "in", results in "out", temporary files in "tmp".
class HostileRun : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"in", "out", "tmp"}) std::filesystem::create_directory(dir / name);
  }

  ChildOutcome Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {KESTRUNE_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildOptions options;
    // The temporary folder: TMPDIR on POSIX, TMP on Windows.
    const std::string tmp = (dir / "tmp").string();
    options.environment = {{"TMPDIR", tmp}, {"TMP", tmp}, {"TEMP", tmp}};
    options.workingFolder = dir.path();
    options.timeLimitSeconds = 120;
    return RunChild(argv, options);
  }

  // What must hold after every run: it ended by itself without a sanitizer
  // report, left no temporary file, wrote nothing beside the three folders
  // and left nothing of its own in the output folder.
  void ExpectCleanRun(const ChildOutcome& o) {
    EXPECT_TRUE(o.EndedCleanly()) << o.Describe();
    EXPECT_TRUE(NamesIn(dir / "tmp").empty()) << "temporary files left behind";
    EXPECT_EQ(NamesIn(dir.path()), (std::vector<std::string>{"in", "out", "tmp"}));
    for (const std::string& name : NamesIn(dir / "out")) {
      EXPECT_NE(name[0], '.') << "a staging file or folder was left: " << name;
    }
  }

  void ClearOutput() {
    std::filesystem::remove_all(dir / "out");
    std::filesystem::create_directory(dir / "out");
  }

  path In(const std::string& name) const { return dir / "in" / name; }
  std::string Out() const { return (dir / "out").string(); }

  test::TempDir dir;
};

// Writes a WAV case into "in" and returns its path.
path Place(const WavCase& c, const path& in) {
  const path p = in / c.name;
  if (c.entry == Entry::File) test::WriteBytes(p, c.bytes);
  if (c.entry == Entry::Folder) std::filesystem::create_directory(p);
  if (c.entry == Entry::Pipe && !std::filesystem::exists(p)) WriteCaseFiles(in, {{c.name + "|", {}}});
  return p;
}

class HostileWav : public HostileRun {
 protected:
  void SetUp() override {
    HostileRun::SetUp();
    // The good files: the sound as a source, and its split 1 as the sample.
    const std::vector<uint8_t>& sound = Sound();
    test::WriteBytes(In("good.wav"), PlainWav(sound));
    test::WriteBytes(In("sample.wav"), PlainWav(std::vector<uint8_t>(sound.begin() + kSplitBytes,
                                                                     sound.begin() + 2 * kSplitBytes)));
  }

  std::vector<std::string> Match(const path& source, const path& sample) {
    return {"match", "--source", source.string(), "--sample", sample.string(), "--split-ms", "100",
            "--fragment-length", "1", "--min-similarity", "100", "--output", Out(), "--json", "--quiet"};
  }

  // A run that must fail before any result: the reader's verdict decides the messages.
  void ExpectRefusedOrWrongFormat(const ChildOutcome& o, Reading reading) {
    EXPECT_EQ(o.status, 1) << o.Describe();
    EXPECT_EQ(Has(o.err, kFormat), reading == Reading::WrongFormat) << o.err;
    EXPECT_TRUE(Has(o.err, kProcessFailed)) << o.err;
    if (reading == Reading::WrongFormat) {
      EXPECT_LT(o.err.find(kFormat), o.err.find(kProcessFailed));
    }
    EXPECT_TRUE(o.out.empty());
    EXPECT_TRUE(NamesIn(dir / "out").empty());
  }

  // A successful match: the result is the header and, in order, the data of
  // the source splits the report names, read from the source's own bytes.
  void ExpectResult(const ChildOutcome& o, const std::string& resultName, const std::vector<uint8_t>& sourceBytes,
                    uint32_t sourceDataOffset) {
    ASSERT_EQ(o.status, 0) << o.Describe();
    EXPECT_FALSE(Has(o.err, "Sound processing")) << o.err;
    ASSERT_EQ(NamesIn(dir / "out"), std::vector<std::string>{resultName});
    const auto report = nlohmann::json::parse(o.out);
    std::vector<uint8_t> expected;
    for (const auto& m : report["templates"][0]["matches"]) {
      const size_t at = sourceDataOffset + size_t{m["split"].get<uint32_t>()} * kSplitBytes;
      ASSERT_LE(at + kSplitBytes, sourceBytes.size()) << "a split beyond the file was written";
      expected.insert(expected.end(), sourceBytes.begin() + at, sourceBytes.begin() + at + kSplitBytes);
    }
    ASSERT_FALSE(expected.empty());
    std::vector<uint8_t> file = ResultHeader(static_cast<uint32_t>(expected.size()));
    file.insert(file.end(), expected.begin(), expected.end());
    EXPECT_TRUE(ReadAll(dir / "out" / resultName) == file) << "the result differs from the source splits";
  }
};

TEST_F(HostileWav, AsTheSourceOfAMatch) {
  for (const WavCase& c : WavCases()) {
    SCOPED_TRACE(c.name);
    const path file = Place(c, dir / "in");
    const ChildOutcome o = Cli(Match(file, In("sample.wav")));
    ExpectCleanRun(o);
    if (c.reading != Reading::Frames) {
      ExpectRefusedOrWrongFormat(o, c.reading);
    } else if (c.frames >= kSplitFrames) {
      ExpectResult(o, "sample_rest.wav", c.bytes, c.dataOffset);
    } else {
      // No whole split: nothing to convert, which is the conversion's failure,
      // not the job's.
      EXPECT_EQ(o.status, 1) << o.Describe();
      EXPECT_TRUE(Has(o.err, kConvertFailed)) << o.err;
      EXPECT_FALSE(Has(o.err, kProcessFailed)) << o.err;
      EXPECT_TRUE(NamesIn(dir / "out").empty());
    }
    ClearOutput();
  }
}

TEST_F(HostileWav, AsTheSampleOfAMatch) {
  for (const WavCase& c : WavCases()) {
    SCOPED_TRACE(c.name);
    const path file = Place(c, dir / "in");
    const ChildOutcome o = Cli(Match(In("good.wav"), file));
    ExpectCleanRun(o);
    if (c.reading != Reading::Frames) {
      ExpectRefusedOrWrongFormat(o, c.reading);
    } else if (c.frames >= kSplitFrames) {
      ExpectResult(o, c.name.substr(0, c.name.size() - 4) + "_rest.wav", PlainWav(Sound()), 44);
    } else {
      // The template split runs past the end of the sample.
      EXPECT_EQ(o.status, 1) << o.Describe();
      EXPECT_TRUE(Has(o.err, kProcessFailed)) << o.err;
      EXPECT_FALSE(Has(o.err, kFormat)) << o.err;
      EXPECT_TRUE(NamesIn(dir / "out").empty());
    }
    ClearOutput();
  }
}

// The search for a piece anywhere, with the case as its source: a file that
// cannot be read is named and skipped (no source left: status 1); one that
// our reader takes is searched, and a written match holds the source's own
// bytes; one that only the conversion reads is searched in a converted copy.
TEST_F(HostileWav, AsTheSourceOfAFind) {
  for (const WavCase& c : WavCases()) {
    SCOPED_TRACE(c.name);
    const path file = Place(c, dir / "in");
    const ChildOutcome o = Cli({"find", "--source", file.string(), "--sample", In("sample.wav").string(), "--split-ms",
                                "100", "--fragment-length", "1", "--write", "--output", Out(), "--json", "--quiet"});
    ExpectCleanRun(o);
    if (c.reading != Reading::Frames && (o.status == 1 || c.entry != Entry::File)) {
      EXPECT_EQ(o.status, 1) << o.Describe();
      // A folder is searched for audio files inside; this one holds none.
      EXPECT_TRUE(Has(o.err, c.entry == Entry::Folder ? "no audio file in the sources given" : "(skipped)")) << o.err;
      EXPECT_TRUE(o.out.empty());
      EXPECT_TRUE(NamesIn(dir / "out").empty());
    } else if (c.reading != Reading::Frames) {
      ASSERT_TRUE(convert::Available()) << "only the conversion reads this file";
      ASSERT_TRUE(o.status == 0 || o.status == 3) << o.Describe();
      const auto report = nlohmann::json::parse(o.out);
      EXPECT_TRUE(report["sources"][0]["error"].is_null());
      for (const auto& m : report["matches"]) {
        if (!m["confident"].get<bool>()) continue;
        WavInfo info;
        ASSERT_TRUE(OpenWavFile(info, m["file"].get<std::string>(), false));
        EXPECT_TRUE(info.dataOffset == 44 && info.dataSize > 0 && info.dataSize + 44 == info.fileSize &&
                    info.sampleRate == 44100 && info.channels == 2 && info.bitsPerSample == 16);
      }
    } else {
      ASSERT_TRUE(o.status == 0 || o.status == 3) << o.Describe();
      const auto report = nlohmann::json::parse(o.out);
      EXPECT_EQ(report["sources"][0]["frames"], c.frames);
      if (c.frames < 4 * 1024) {
        EXPECT_TRUE(report["matches"].empty());
      }
      for (const auto& m : report["matches"]) {
        if (!m["confident"].get<bool>()) continue;
        const size_t at = c.dataOffset + size_t{m["frame"].get<uint32_t>()} * 4;
        const size_t bytes = std::min<size_t>(kSplitBytes, size_t{c.frames} * 4 + c.dataOffset - at);
        ASSERT_LE(at + bytes, c.bytes.size()) << "a stretch beyond the file was written";
        std::vector<uint8_t> expected = ResultHeader(static_cast<uint32_t>(bytes));
        expected.insert(expected.end(), c.bytes.begin() + at, c.bytes.begin() + at + bytes);
        EXPECT_TRUE(ReadAll(m["file"].get<std::string>()) == expected) << "the result differs from the source";
      }
    }
    ClearOutput();
  }
}

TEST_F(HostileWav, TempoEstimate) {
  for (const WavCase& c : WavCases()) {
    SCOPED_TRACE(c.name);
    const path file = Place(c, dir / "in");
    const ChildOutcome o = Cli({"tempo", file.string(), "--json", "--quiet"});
    ExpectCleanRun(o);
    if (c.tempo > 0) {
      EXPECT_EQ(o.status, 0) << o.Describe();
      if (o.status == 0) {
        EXPECT_NEAR(nlohmann::json::parse(o.out)["bpm"].get<double>(), c.tempo, 3.0);
      }
    } else {
      EXPECT_EQ(o.status, 1) << o.Describe();
      EXPECT_TRUE(Has(o.err, kTempoFailed)) << o.err;
      EXPECT_TRUE(o.out.empty());
    }
  }
}

TEST_F(HostileWav, AsTheSourceOfADatabase) {
  for (const WavCase& c : WavCases()) {
    SCOPED_TRACE(c.name);
    const path file = Place(c, dir / "in");
    const path db = dir / "out" / "db.qlmx";
    const ChildOutcome o = Cli({"build-db", "--source", file.string(), "--split-ms", "100", "--output",
                                db.string(), "--quiet"});
    ExpectCleanRun(o);
    if (c.reading == Reading::Refused) {
      EXPECT_EQ(o.status, 1) << o.Describe();
      EXPECT_TRUE(Has(o.err, "cannot build the database: cannot open the source as a WAV file")) << o.err;
      EXPECT_TRUE(NamesIn(dir / "out").empty());
    } else if (c.reading == Reading::WrongFormat) {
      EXPECT_EQ(o.status, 1) << o.Describe();
      EXPECT_TRUE(Has(o.err, "only 44100 Hz, 2-channel, 16-bit PCM sources are supported")) << o.err;
      EXPECT_TRUE(NamesIn(dir / "out").empty());
    } else if (o.status != 0) {
      ADD_FAILURE() << o.Describe();
    } else {
      EXPECT_EQ(NamesIn(dir / "out"), (std::vector<std::string>{"db.qlmx", "db.snd", "db.spl", "soundsData_db"}));
      const uint32_t splits = c.frames / kSplitFrames;
      EXPECT_EQ(std::filesystem::file_size(dir / "out" / "db.spl"), splits * 80u);
      if (splits > 0) {
        // The data file holds exactly the source's whole splits, from its own bytes.
        const std::vector<uint8_t> data = ReadAll(dir / "out" / "soundsData_db" / "data_00000001.sdat");
        EXPECT_EQ(data.size(), size_t{splits} * kSplitBytes);
        EXPECT_TRUE(data.size() <= c.bytes.size() - c.dataOffset &&
                    std::equal(data.begin(), data.end(), c.bytes.begin() + c.dataOffset));
      }
    }
    ClearOutput();
  }
}

class HostileDatabase : public HostileRun {};

TEST_F(HostileDatabase, MatchedAgainstASample) {
  for (const DatabaseCase& c : DatabaseCases()) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir / "in");
    std::filesystem::create_directory(dir / "in");
    WriteCaseFiles(dir / "in", c.files);
    test::WriteBytes(In("sample.wav"), DatabaseSample());
    const auto before = Snapshot(dir / "in");
    const ChildOutcome o = Cli({"match", "--database", In("db.qlmx").string(), "--sample", In("sample.wav").string(),
                                "--fragment-length", "1", "--min-similarity", "100", "--output", Out(), "--quiet"});
    ExpectCleanRun(o);
    EXPECT_EQ(Snapshot(dir / "in"), before) << "the database was changed";
    EXPECT_FALSE(Has(o.err, kFormat)) << o.err;
    switch (c.outcome) {
      case DatabaseOutcome::Fails:
        EXPECT_EQ(o.status, 1) << o.Describe();
        EXPECT_TRUE(Has(o.err, kProcessFailed)) << o.err;
        EXPECT_TRUE(NamesIn(dir / "out").empty());
        break;
      case DatabaseOutcome::Empty:
        EXPECT_EQ(o.status, 0) << o.Describe();
        EXPECT_FALSE(Has(o.err, "Sound processing")) << o.err;
        EXPECT_TRUE(NamesIn(dir / "out").empty());
        break;
      case DatabaseOutcome::Result: {
        EXPECT_EQ(o.status, 0) << o.Describe();
        EXPECT_FALSE(Has(o.err, "Sound processing")) << o.err;
        std::vector<uint8_t> expected = ResultHeader(static_cast<uint32_t>(c.resultSplit.size()));
        expected.insert(expected.end(), c.resultSplit.begin(), c.resultSplit.end());
        EXPECT_TRUE(ReadAll(dir / "out" / "sample_rest.wav") == expected) << "wrong result";
        break;
      }
    }
    ClearOutput();
  }
}

}  // namespace
}  // namespace kestrune::hostile
