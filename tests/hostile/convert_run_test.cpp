// kestrune-cli convert and --convert as a user runs them: every hostile WAV
// case and damaged FLAC and Ogg files through convert, the jobs' refusals with
// their causes, the jobs on converted copies, find on files of any format, and
// an interrupt while converting. Nothing may be left in the temporary folder.
#include <gtest/gtest.h>

#include <signal.h>

#include <csignal>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "hostile/hostile_cases.h"
#include "support/child_process.h"
#include "storage/wav_file.h"
#include "support/temp_dir.h"
#include "support/test_music.h"
#include "support/wav_builder.h"

namespace kestrune::hostile {
namespace {

using std::filesystem::path;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void Sox(const std::string& args) {
  const std::string command = "sox -D -V1 " + args;
  ASSERT_EQ(std::system(command.c_str()), 0) << command << " (sox is installed by scripts/install-deps.sh)";
}

class ConvertRun : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"in", "out", "tmp"}) std::filesystem::create_directory(dir / name);
  }
  ChildOutcome Cli(const std::vector<std::string>& args, ChildOptions options = {}) {
    std::vector<std::string> argv = {KESTRUNE_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    options.environment.push_back({"TMPDIR", (dir / "tmp").string()});
    options.workingFolder = dir.path();
    options.timeLimitSeconds = 120;
    return RunChild(argv, options);
  }
  void ExpectCleanRun(const ChildOutcome& o) {
    EXPECT_TRUE(o.EndedCleanly()) << o.Describe();
    EXPECT_TRUE(NamesIn(dir / "tmp").empty()) << "temporary files left behind";
    for (const std::string& name : NamesIn(dir / "out")) EXPECT_NE(name[0], '.') << "staging file left: " << name;
  }
  std::string In(const std::string& name) const { return (dir / "in" / name).string(); }
  std::string Out(const std::string& name) const { return (dir / "out" / name).string(); }
  test::TempDir dir;
};

// A converted file: exactly the target format, header and data agreeing.
void ExpectTargetFile(const path& file) {
  WavInfo info;
  ASSERT_TRUE(OpenWavFile(info, file, false));
  EXPECT_TRUE(info.formatTag == 1 && info.channels == 2 && info.sampleRate == 44100 && info.bitsPerSample == 16);
  EXPECT_EQ(info.dataOffset, 44u);
  EXPECT_EQ(info.dataSize + 44, info.fileSize);
}

TEST_F(ConvertRun, HostileFilesEndCleanlyWithAReasonOrAWholeFile) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs;
  for (const WavCase& c : WavCases()) {
    if (c.entry == Entry::File) inputs.push_back({c.name, c.bytes});
  }
  // FLAC and Ogg Vorbis cut short and with bytes overwritten.
  Sox("-n -r 48000 -c 2 -b 24 '" + In("whole.flac") + "' synth 0.5 pinknoise");
  Sox("-n -r 22050 -c 1 '" + In("whole.ogg") + "' synth 0.5 sine 300");
  for (const char* name : {"whole.flac", "whole.ogg"}) {
    const auto bytes = test::ReadBytes(dir / "in" / name);
    for (size_t cut : {size_t{4}, size_t{40}, size_t{300}, bytes.size() / 2}) {
      inputs.push_back({"cut" + std::to_string(cut) + name, {bytes.begin(), bytes.begin() + cut}});
    }
    for (size_t at : {size_t{8}, size_t{20}, size_t{60}, bytes.size() / 3}) {
      auto broken = bytes;
      for (size_t i = at; i < at + 16 && i < broken.size(); ++i) broken[i] ^= 0xA5;
      inputs.push_back({"flip" + std::to_string(at) + name, broken});
    }
  }
  inputs.push_back({"noise.mp3", NoiseBytes(20000, 9)});
  for (const auto& [name, bytes] : inputs) {
    SCOPED_TRACE(name);
    test::WriteBytes(dir / "in" / name, bytes);
    const ChildOutcome o = Cli({"convert", In(name), Out("x.wav"), "--json", "--quiet"});
    ExpectCleanRun(o);
    if (o.status == 0) {
      const auto report = nlohmann::json::parse(o.out);
      // A file the jobs already take is copied as it is; any other is converted.
      if (report["copied"].get<bool>()) {
        EXPECT_EQ(test::ReadBytes(dir / "out" / "x.wav"), bytes);
      } else {
        ExpectTargetFile(dir / "out" / "x.wav");
      }
      WavInfo info;
      ASSERT_TRUE(OpenWavFile(info, dir / "out" / "x.wav", false));
      EXPECT_EQ(report["output_frames"].get<uint64_t>(), info.dataSize / 4);
    } else {
      EXPECT_EQ(o.status, 1) << o.Describe();
      EXPECT_TRUE(Has(o.err, "kestrune-cli: cannot convert " + In(name) + ": ")) << o.err;
      EXPECT_TRUE(o.out.empty());
      EXPECT_TRUE(NamesIn(dir / "out").empty());
    }
    std::filesystem::remove(dir / "out" / "x.wav");
  }
  // Files in the target format come out as they went in.
  for (const WavCase& c : WavCases()) {
    if (c.entry != Entry::File || c.reading != Reading::Frames) continue;
    const ChildOutcome o = Cli({"convert", In(c.name), Out("same.wav"), "--quiet"});
    EXPECT_EQ(o.status, 0) << c.name << o.Describe();
    EXPECT_EQ(test::ReadBytes(dir / "out" / "same.wav"), c.bytes) << c.name;
  }
  EXPECT_EQ(Cli({"convert", In("whole.flac")}).status, 2);
}

TEST_F(ConvertRun, RefusalsNameTheFormatAndConvertRunsTheJobs) {
  // A source of 20 splits of noise and a sample of its splits 4 and 11, as
  // mono 16-bit at 44100 Hz: the converted copies hold the same sound on both
  // sides, so the sample's splits are found exactly.
  const std::vector<uint8_t> noise = NoiseBytes(20 * kSplitFrames * 2, 4);
  std::vector<uint8_t> sample(noise.begin() + 4 * kSplitFrames * 2, noise.begin() + 5 * kSplitFrames * 2);
  sample.insert(sample.end(), noise.begin() + 11 * kSplitFrames * 2, noise.begin() + 12 * kSplitFrames * 2);
  test::WriteBytes(dir / "in" / "source.wav", PlainWav(noise, 1, 1, 44100, 2, 16));
  test::WriteBytes(dir / "in" / "sample.wav", PlainWav(sample, 1, 1, 44100, 2, 16));
  // A click track at 120 BPM, as 48 kHz 24-bit mono.
  test::WriteBytes(dir / "in" / "clicks44.wav", PlainWav(ClickTrack(12 * 44100)));
  Sox("'" + In("clicks44.wav") + "' -r 48000 -b 24 -c 1 '" + In("clicks.wav") + "'");

  const std::vector<std::string> match = {"match", "--source", In("source.wav"), "--sample", In("sample.wav"),
                                          "--split-ms", "100", "--min-similarity", "100", "--output",
                                          (dir / "out").string(), "--json", "--quiet"};
  const std::string hint = "add --convert, or make a copy with: kestrune-cli convert ";
  ChildOutcome o = Cli(match);
  ExpectCleanRun(o);
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "Sound processing: Only 44 kHz 2 chanels PCM wav files supported")) << o.err;
  EXPECT_TRUE(Has(o.err, In("source.wav") + " is 44100 Hz, 1 channel, 16-bit, not 44100 Hz")) << o.err;
  EXPECT_TRUE(Has(o.err, In("sample.wav") + " is 44100 Hz, 1 channel, 16-bit")) << o.err;
  EXPECT_TRUE(Has(o.err, hint + In("sample.wav"))) << o.err;

  std::vector<std::string> converting = match;
  converting.push_back("--convert");
  o = Cli(converting);
  ExpectCleanRun(o);
  ASSERT_EQ(o.status, 0) << o.Describe();
  const auto report = nlohmann::json::parse(o.out);
  ASSERT_EQ(report["templates"].size(), 2u);
  EXPECT_EQ(report["templates"][0]["matches"][0]["split"], 4);
  EXPECT_EQ(report["templates"][1]["matches"][0]["split"], 11);
  EXPECT_EQ(NamesIn(dir / "out"), std::vector<std::string>{"sample_rest.wav"});

  o = Cli({"tempo", In("clicks.wav"), "--json", "--quiet"});
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "Error while calculating BPM or source file incorrect.")) << o.err;
  EXPECT_TRUE(Has(o.err, In("clicks.wav") + " is 48000 Hz, 1 channel, 24-bit")) << o.err;
  o = Cli({"tempo", In("clicks.wav"), "--json", "--quiet", "--convert"});
  ExpectCleanRun(o);
  ASSERT_EQ(o.status, 0) << o.Describe();
  EXPECT_NEAR(nlohmann::json::parse(o.out)["bpm"].get<double>(), 120.0, 3.0);

  const std::vector<std::string> build = {"build-db", "--source", In("clicks.wav"), "--split-ms", "500",
                                          "--output", Out("clicks.qlmx"), "--quiet"};
  o = Cli(build);
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "only 44100 Hz, 2-channel, 16-bit PCM sources are supported")) << o.err;
  EXPECT_TRUE(Has(o.err, hint + In("clicks.wav"))) << o.err;
  std::vector<std::string> buildConverting = build;
  buildConverting.push_back("--convert");
  o = Cli(buildConverting);
  ExpectCleanRun(o);
  EXPECT_EQ(o.status, 0) << o.Describe();
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "clicks.qlmx"));
}

// find takes a 48 kHz FLAC source and a 48 kHz 24-bit sample as they are:
// both are searched in converted copies, the piece is found at its frame of
// the converted source, the written stretch is that source's own, and the
// copies are gone after a success and after a failure. In a folder, files
// with audio extensions are searched, unreadable ones named and skipped.
TEST_F(ConvertRun, FindSearchesConvertedCopiesOfAnyReadableFile) {
  const std::vector<int16_t> music = test::MakeTestMusic(30.0, 21);
  const size_t truth = 22050 * 13 + 4321;
  test::WriteBytes(dir / "in" / "song44.wav", test::StereoWav(music));
  test::WriteBytes(dir / "in" / "piece44.wav",
                   test::StereoWav(std::vector<int16_t>(music.begin() + 2 * truth, music.begin() + 2 * (truth + 44100))));
  Sox("'" + In("song44.wav") + "' -r 48000 '" + In("song.flac") + "'");
  Sox("'" + In("piece44.wav") + "' -r 48000 -b 24 '" + In("piece.wav") + "'");
  ASSERT_EQ(Cli({"convert", In("song.flac"), In("song_converted.wav"), "--quiet"}).status, 0);
  const std::vector<uint8_t> converted = test::ReadBytes(dir / "in" / "song_converted.wav");

  ChildOutcome o = Cli({"find", "--source", In("song.flac"), "--sample", In("piece.wav"), "--write", "--top", "1",
                        "--output", (dir / "out").string(), "--json", "--quiet"});
  ExpectCleanRun(o);
  ASSERT_EQ(o.status, 0) << o.Describe();
  auto report = nlohmann::json::parse(o.out);
  EXPECT_EQ(report["sources"][0]["path"], In("song.flac"));
  EXPECT_EQ(report["sources"][0]["frames"], (converted.size() - 44) / 4);
  EXPECT_EQ(report["sample"]["path"], In("piece.wav"));
  ASSERT_EQ(report["matches"].size(), 1u);
  const auto frame = report["matches"][0]["frame"].get<size_t>();
  EXPECT_NEAR(static_cast<double>(frame), static_cast<double>(truth), 128.0);
  ASSERT_EQ(report["matches"][0]["file"], Out("piece_found_01.wav"));
  const std::vector<uint8_t> written = test::ReadBytes(dir / "out" / "piece_found_01.wav");
  ASSERT_EQ(written.size(), 44u + 44100 * 4);
  EXPECT_TRUE(std::equal(written.begin() + 44, written.end(), converted.begin() + 44 + frame * 4));

  // A failure after the sample was converted, and a sample nothing reads.
  o = Cli({"find", "--source", In("missing.flac"), "--sample", In("piece.wav"), "--quiet"});
  ExpectCleanRun(o);
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, In("missing.flac") + ": does not exist (skipped)")) << o.err;
  test::WriteBytes(dir / "in" / "noise.flac", NoiseBytes(5000, 3));
  o = Cli({"find", "--source", In("song.flac"), "--sample", In("noise.flac"), "--quiet"});
  ExpectCleanRun(o);
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, In("noise.flac") + ": cannot be read or converted: ")) << o.err;

  std::filesystem::create_directory(dir / "in" / "lib");
  std::filesystem::copy_file(dir / "in" / "song.flac", dir / "in" / "lib" / "a.flac");
  test::WriteBytes(dir / "in" / "lib" / "b.wav", test::StereoWav(test::MakeTestMusic(20.0, 99, 97.0)));
  test::WriteBytes(dir / "in" / "lib" / "c.ogg", NoiseBytes(3000, 5));
  test::WriteBytes(dir / "in" / "lib" / "notes.txt", {'x'});
  o = Cli({"find", "--source", In("lib"), "--sample", In("piece.wav"), "--json", "--quiet"});
  ExpectCleanRun(o);
  ASSERT_EQ(o.status, 0) << o.Describe();
  report = nlohmann::json::parse(o.out);
  ASSERT_EQ(report["sources"].size(), 3u);
  EXPECT_EQ(report["sources"][0]["path"], In("lib/a.flac"));
  EXPECT_EQ(report["sources"][1]["path"], In("lib/b.wav"));
  EXPECT_EQ(report["sources"][2]["path"], In("lib/c.ogg"));
  EXPECT_TRUE(report["sources"][0]["error"].is_null() && report["sources"][1]["error"].is_null());
  EXPECT_TRUE(Has(report["sources"][2]["error"].get<std::string>(), "cannot be read or converted: "));
  EXPECT_TRUE(Has(o.err, In("lib/c.ogg") + ": cannot be read or converted: ")) << o.err;
  EXPECT_EQ(report["matches"][0]["source"], In("lib/a.flac"));
  EXPECT_NEAR(report["matches"][0]["frame"].get<double>(), static_cast<double>(truth), 128.0);
}

TEST_F(ConvertRun, AnInterruptStopsTheConversionAndLeavesNothing) {
  Sox("-n -r 96000 -c 2 -b 24 '" + In("long.wav") + "' synth 120 whitenoise");
  test::WriteBytes(dir / "out" / "x.wav", {'e', 'a', 'r', 'l', 'i', 'e', 'r'});
  bool sent = false;
  ChildOptions options;
  options.stderrIsTerminal = true;
  options.onStderr = [&](ChildId pid, const std::string& err) {
    if (!sent && Has(err, "Converting sound.")) {
      sent = true;
      ::kill(static_cast<pid_t>(pid), SIGINT);
    }
  };
  ChildOutcome o = Cli({"convert", In("long.wav"), Out("x.wav")}, options);
  ExpectCleanRun(o);
  EXPECT_TRUE(sent);
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "stopped; nothing was written")) << o.err;
  EXPECT_EQ(test::ReadBytes(dir / "out" / "x.wav"), (std::vector<uint8_t>{'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
  EXPECT_EQ(NamesIn(dir / "out"), std::vector<std::string>{"x.wav"});

  // The same inside a job: the temporary copy goes too.
  sent = false;
  o = Cli({"tempo", In("long.wav"), "--convert"}, options);
  ExpectCleanRun(o);
  EXPECT_TRUE(sent);
  EXPECT_EQ(o.status, 1);

  // And inside a search, which converts its sources as it comes to them.
  Sox("-n -r 44100 -c 2 -b 16 '" + In("sample.wav") + "' synth 2 pinknoise");
  sent = false;
  options.onStderr = [&](ChildId pid, const std::string& err) {
    if (!sent && Has(err, "Converting long.wav")) {
      sent = true;
      ::kill(static_cast<pid_t>(pid), SIGINT);
    }
  };
  o = Cli({"find", "--source", In("long.wav"), "--sample", In("sample.wav")}, options);
  ExpectCleanRun(o);
  EXPECT_TRUE(sent);
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "find: stopped")) << o.err;
}

}  // namespace
}  // namespace kestrune::hostile
