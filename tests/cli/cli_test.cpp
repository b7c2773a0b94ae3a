// kestrune-cli run as a user runs it: exit statuses, messages and JSON.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "analysis/onset_tempo.h"
#include "analysis/tempo_estimator.h"
#include "common/path_text.h"
#include "common/sample_frame.h"
#include "common/version.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using test::TempDir;
using test::WriteBytes;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

Outcome RunCli(const std::string& args, const TempDir&, const hostile::ChildOptions& options = {}) {
  std::vector<std::string> argv = hostile::ShellWords(args);
  argv.insert(argv.begin(), KESTRUNE_CLI);
  const hostile::ChildOutcome child = hostile::RunChild(argv, options);
  Outcome o;
  if (child.exited) o.status = child.status;
  o.out = child.out;
  o.err = child.err;
  return o;
}

std::vector<uint8_t> Noise(size_t bytes, uint32_t seed) { return test::NoiseBytes(bytes, seed); }
std::vector<uint8_t> Wav(const std::vector<uint8_t>& data, uint16_t channels = 2) { return test::PcmWav(data, channels); }

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    // Source: 20 splits of 100 ms noise; sample: source splits 4 and 11.
    source = Noise(20 * 17640, 5);
    std::vector<uint8_t> sample(2 * 17640);
    std::copy_n(source.data() + 4 * 17640, 17640, sample.data());
    std::copy_n(source.data() + 11 * 17640, 17640, sample.data() + 17640);
    WriteBytes(dir / "source.wav", Wav(source));
    WriteBytes(dir / "sample.wav", Wav(sample));
  }
  std::string Files() const {
    return "--source '" + (dir / "source.wav").string() + "' --sample '" + (dir / "sample.wav").string() + "'";
  }
  std::string Out() const { return " --output '" + dir.path().string() + "'"; }

  TempDir dir;
  std::vector<uint8_t> source;
};

TEST_F(Cli, MatchPrintsTheJsonReportAndWritesTheResult) {
  const auto o = RunCli("match " + Files() + Out() + " --split-ms 100 --min-similarity 100 --json", dir);
  ASSERT_EQ(o.status, 0) << o.err;
  const auto j = nlohmann::json::parse(o.out);
  std::vector<std::string> keys;
  for (const auto& [key, value] : j.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"blocks_per_split", "frames_per_split", "source_splits", "split_ms", "templates"}));
  EXPECT_EQ(j["split_ms"], 100);
  EXPECT_EQ(j["frames_per_split"], 4410);
  EXPECT_EQ(j["blocks_per_split"], 4);
  EXPECT_EQ(j["source_splits"], 20);
  ASSERT_EQ(j["templates"].size(), 2u);
  const std::string file = (dir / "sample_rest.wav").string();
  for (int t = 0; t < 2; ++t) {
    const auto& entry = j["templates"][t];
    EXPECT_EQ(entry["template"], t);
    EXPECT_EQ(entry["file"], file);
    ASSERT_EQ(entry["matches"].size(), 1u);
    EXPECT_EQ(entry["matches"][0]["split"], t == 0 ? 4 : 11);
    EXPECT_EQ(entry["matches"][0]["agreement"], 128);
    EXPECT_EQ(entry["matches"][0]["similarity"], 100.0);
  }
  EXPECT_EQ(std::filesystem::file_size(file), 44u + 2 * 17640);
}

TEST_F(Cli, SimilarityIsTheExactQuotient) {
  const auto o = RunCli("match " + Files() + Out() + " --split-ms 100 --min-similarity 1 --fragment-length 1 --json", dir);
  ASSERT_EQ(o.status, 0) << o.err;
  const auto matches = nlohmann::json::parse(o.out)["templates"][0]["matches"];
  ASSERT_EQ(matches.size(), 20u);
  for (const auto& m : matches) EXPECT_EQ(m["similarity"].get<double>(), m["agreement"].get<uint32_t>() * 100.0 / 128.0);
}

TEST_F(Cli, UsageErrorsNameTheOptionAndExitWithTwo) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {" --split-ms 99", "--split-ms: Please enter an integer between 100 and 5000."},
      {" --split-ms 5001", "--split-ms: Please enter an integer between 100 and 5000."},
      {" --fragment-length 51", "--fragment-length: Please enter an integer between 1 and 50."},
      {" --min-similarity 0", "--min-similarity: Please enter an integer between 1 and 100."},
      {" --start-offset 50001", "--start-offset: Please enter an integer between 0 and 50000."},
      {" --bpm 201", "--bpm: Please enter an integer between 10 and 200."},
      {" --start-offset x1", "--start-offset: Please enter a positive integer."},
      {" --bpm 160 --note 1/16", "gives a split length of 93 ms"},
      {" --split-ms 500 --bpm 120", "excludes"},
      {" --frobnicate", "--frobnicate"},
      {" --split-ms", "--split-ms"},
  };
  for (const auto& [args, message] : cases) {
    const auto o = RunCli("match " + Files() + Out() + args, dir);
    EXPECT_EQ(o.status, 2) << args;
    EXPECT_NE(o.err.find(message), std::string::npos) << args << ": " << o.err;
    EXPECT_TRUE(o.out.empty()) << args;
  }
  EXPECT_EQ(RunCli("", dir).status, 2);
  EXPECT_EQ(RunCli("match --help", dir).status, 0);
}

TEST_F(Cli, VersionAndHelpShowNumbersAsNumbers) {
  auto o = RunCli("--version", dir);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, std::string(kVersion) + "\n");
  o = RunCli("match --help", dir);
  for (const char* option : {"--split-ms UINT", "--bpm UINT", "--start-offset UINT", "--fragment-length UINT",
                             "--min-similarity UINT", "--threads UINT"}) {
    EXPECT_NE(o.out.find(option), std::string::npos) << option << "\n" << o.out;
  }
  // Read as numbers by the command, not by the parser: its message stays.
  o = RunCli("match " + Files() + Out() + " --split-ms 1e3", dir);
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("--split-ms: Please enter a positive integer."), std::string::npos) << o.err;
}

TEST_F(Cli, FailedJobsAndUnwritableResultsExitWithOne) {
  WriteBytes(dir / "mono.wav", Wav(Noise(8820, 1), 1));
  auto o = RunCli("match --source '" + (dir / "mono.wav").string() + "' --sample '" + (dir / "sample.wav").string() +
                      "'" + Out() + " --json",
                  dir);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("Sound processing: Only 44 kHz 2 chanels PCM wav files supported"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("Error occurs while processing sound."), std::string::npos);
  // The cause follows the message: which file, and its format.
  EXPECT_NE(o.err.find("Error occurs while processing sound.\n  The source \"" + (dir / "mono.wav").string() +
                       "\" is not 44100 Hz, 2 channels, 16-bit PCM: 44100 Hz, 1 channel, 16-bit."),
            std::string::npos)
      << o.err;
  EXPECT_TRUE(o.out.empty());

  // The output folder is never created: the conversion fails with its message.
  o = RunCli("match " + Files() + " --output '" + (dir / "nowhere").string() + "' --split-ms 100 --json", dir);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("Error occurs while converting sound.\n  The output folder"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("does not exist or cannot be written."), std::string::npos) << o.err;
  EXPECT_TRUE(nlohmann::json::parse(o.out)["templates"][0]["file"].is_null());
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}

TEST_F(Cli, TempoModeDerivesTheSplitLength) {
  const auto o = RunCli("match " + Files() + Out() + " --bpm 150 --note 1/16 --json", dir);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(nlohmann::json::parse(o.out)["split_ms"], 100);
}

TEST_F(Cli, MasksOfTheFormulaSignalMatchTheRecordedWords) {
  std::ifstream in(std::string(KESTRUNE_TEST_DATA) + "/golden_masks.json");
  const auto golden = nlohmann::json::parse(in);
  std::vector<uint8_t> data(88200 * 4);
  uint32_t x = 12345;
  for (uint32_t n = 0; n < 88200; ++n) {
    x = x * 1103515245u + 12345u;
    const int32_t left = static_cast<int32_t>((x >> 16) % 16384) - 8192 + (n % 100 < 50 ? 6000 : -6000);
    const int32_t right = (n / 2205) % 4 == 3 ? 0 : static_cast<int32_t>((n * 7919u) % 65536) - 32768;
    StoreU16(&data[4 * n], static_cast<uint16_t>(left));
    StoreU16(&data[4 * n + 2], static_cast<uint16_t>(right));
  }
  WriteBytes(dir / "golden.wav", Wav(data));
  const auto o = RunCli("masks '" + (dir / "golden.wav").string() + "' --split-ms 500 --json", dir);
  ASSERT_EQ(o.status, 0) << o.err;
  const auto j = nlohmann::json::parse(o.out);
  EXPECT_EQ(j["blocks_per_split"], 21);
  EXPECT_EQ(j["splits"], golden["masks_500ms"]);
  // The same words with the kernels the environment can force (the default
  // is the widest the processor runs).
  for (const char* kernels : {"scalar", "avx2"}) {
    hostile::ChildOptions forced;
    forced.environment = {{"KESTRUNE_KERNELS", kernels}};
    const auto f = RunCli("masks '" + (dir / "golden.wav").string() + "' --split-ms 500 --json", dir, forced);
    ASSERT_EQ(f.status, 0) << kernels << ": " << f.err;
    EXPECT_EQ(nlohmann::json::parse(f.out)["splits"], golden["masks_500ms"]) << kernels;
  }

  // The text form: every line "i:" and the words as printf's " %08X" writes them.
  const auto text = RunCli("masks '" + (dir / "golden.wav").string() + "' --split-ms 100", dir);
  ASSERT_EQ(text.status, 0);
  EXPECT_EQ(text.out.substr(0, 40), "0: 064D8400 69A238A9 D9D96B57 D43E67DE\n1");
  std::string expected;
  for (size_t i = 0; i < golden["masks_100ms"].size(); ++i) {
    expected += std::to_string(i) + ":";
    for (const auto& word : golden["masks_100ms"][i]) {
      char hex[16];
      std::snprintf(hex, sizeof hex, " %08X", word.get<uint32_t>());
      expected += hex;
    }
    expected += "\n";
  }
  EXPECT_EQ(text.out, expected);
}

// Names outside ASCII and the system's code page reach the files and come
// back in the report unchanged (Windows passes them as UTF-16).
TEST_F(Cli, FileNamesInAnyScriptWork) {
  const std::filesystem::path folder = dir / "R\xC3\xA9sultats \xE2\x99\xAB \xE6\x9B\xB2";  // "Résultats ♫ 曲"
  auto in = [&](const std::string& name) { return folder / PathFromUtf8(name); };
  std::filesystem::create_directory(folder);
  std::filesystem::copy_file(dir / "sample.wav", in("\xC3\x9C" "ber.wav"));  // "Über.wav"
  const auto o = RunCli("match --source '" + Utf8Of(dir / "source.wav") + "' --sample '" +
                            Utf8Of(in("\xC3\x9C" "ber.wav")) + "' --output '" + Utf8Of(folder) +
                            "' --split-ms 100 --min-similarity 100 --json",
                        dir);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(nlohmann::json::parse(o.out)["templates"][0]["file"], Utf8Of(in("\xC3\x9C" "ber_rest.wav")));
  EXPECT_EQ(std::filesystem::file_size(in("\xC3\x9C" "ber_rest.wav")), 44u + 2 * 17640);

  const auto db = RunCli("build-db --source '" + Utf8Of(in("\xC3\x9C" "ber.wav")) + "' --split-ms 100 --output '" +
                             Utf8Of(in("\xC3\xA9t\xC3\xA9.qlmx")) + "' --quiet",  // "été.qlmx"
                         dir);
  ASSERT_EQ(db.status, 0) << db.err;
  EXPECT_TRUE(std::filesystem::is_directory(in("soundsData_\xC3\xA9t\xC3\xA9")));
}

TEST_F(Cli, DemoFindsThePieceInTheGroove) {
  const auto o = RunCli("demo '" + (dir / "demo").string() + "' --quiet", dir);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("template split 0: source split 9 (100.0 %)"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("template split 3: source split 4 (100.0 %)"), std::string::npos) << o.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "demo" / "piece_rest.wav"));
}


TEST_F(Cli, TempoPrintsTheEstimateAndItsSplitLengths) {
  const auto demo = RunCli("demo '" + (dir / "demo").string() + "' --quiet", dir);
  ASSERT_EQ(demo.status, 0) << demo.err;
  const auto groove = dir / "demo" / "groove.wav";
  double expected = 0.0;
  ASSERT_TRUE(EstimateFileTempo(nullptr, expected, groove));

  const auto json = RunCli("tempo '" + groove.string() + "' --json", dir);
  ASSERT_EQ(json.status, 0) << json.err;
  const auto j = nlohmann::json::parse(json.out);
  EXPECT_EQ(j["bpm"].get<double>(), expected);  // reads back to the same double
  const auto bpm = static_cast<uint32_t>(expected);
  EXPECT_EQ(j["tempo"], bpm);
  EXPECT_EQ(j["split_ms"]["1/4"], 60000 / bpm);

  const auto text = RunCli("tempo '" + groove.string() + "'", dir);
  char line[32];
  std::snprintf(line, sizeof line, "%.1f BPM\n", expected);
  EXPECT_EQ(text.out.substr(0, std::string(line).size()), line);

  WriteBytes(dir / "silence.wav", Wav(std::vector<uint8_t>(44100 * 4 * 6, 0)));
  const auto none = RunCli("tempo '" + (dir / "silence.wav").string() + "'", dir);
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("Error while calculating BPM or source file incorrect."), std::string::npos);
  EXPECT_TRUE(none.out.empty());
}

TEST_F(Cli, TempoMethodOnsetAddsConfidenceAndAlternatives) {
  const auto demo = RunCli("demo '" + (dir / "demo").string() + "' --quiet", dir);
  ASSERT_EQ(demo.status, 0) << demo.err;
  const std::string groove = " '" + (dir / "demo" / "groove.wav").string() + "'";
  OnsetTempo expected;
  ASSERT_TRUE(EstimateFileOnsetTempo(nullptr, dir / "demo" / "groove.wav", 80.0, 180.0, expected));

  const auto json = RunCli("tempo" + groove + " --method onset --json", dir);
  ASSERT_EQ(json.status, 0) << json.err;
  const auto j = nlohmann::json::parse(json.out);
  EXPECT_EQ(j["method"], "onset");
  EXPECT_EQ(j["bpm"].get<double>(), expected.bpm);
  EXPECT_EQ(j["tempo"], static_cast<uint32_t>(expected.bpm));
  EXPECT_EQ(j["uncertain"], expected.uncertain);
  EXPECT_NEAR(j["confidence"].get<double>(), expected.confidence, 0.005);
  ASSERT_EQ(j["alternatives"].size(), expected.alternatives.size());
  EXPECT_NEAR(j["alternatives"][0].get<double>(), expected.bpm / 2, 0.05);

  const auto text = RunCli("tempo" + groove + " --method onset", dir);
  char line[64];
  std::snprintf(line, sizeof line, "%.1f BPM%s\nconfidence %.2f\nalternatives: %.1f", expected.bpm,
                expected.uncertain ? " (uncertain)" : "", expected.confidence, expected.bpm / 2);
  EXPECT_EQ(text.out.substr(0, std::string(line).size()), line);

  // "--method default" names the estimator used without --method: the same output, word for word; the range options belong to onset.
  EXPECT_EQ(RunCli("tempo" + groove + " --method default --json", dir).out, RunCli("tempo" + groove + " --json", dir).out);
  EXPECT_EQ(RunCli("tempo" + groove + " --min-bpm 60", dir).status, 2);
  EXPECT_EQ(RunCli("tempo" + groove + " --method onset --min-bpm 29", dir).status, 2);
  EXPECT_EQ(RunCli("tempo" + groove + " --method onset --max-bpm 301", dir).status, 2);
  EXPECT_EQ(RunCli("tempo" + groove + " --method onset --min-bpm 150 --max-bpm 100", dir).status, 2);
  EXPECT_EQ(RunCli("tempo" + groove + " --method fast", dir).status, 2);
  const auto slow = nlohmann::json::parse(RunCli("tempo" + groove + " --method onset --min-bpm 30 --max-bpm 60 --json", dir).out);
  EXPECT_GE(slow["bpm"].get<double>(), 30.0);
  EXPECT_LE(slow["bpm"].get<double>(), 60.0);

  WriteBytes(dir / "silence.wav", Wav(std::vector<uint8_t>(44100 * 4 * 6, 0)));
  const auto none = RunCli("tempo '" + (dir / "silence.wav").string() + "' --method onset --json", dir);
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("Error while calculating BPM or source file incorrect."), std::string::npos);
  EXPECT_TRUE(none.out.empty());
}

TEST_F(Cli, DatabaseBuiltFromTheSourceGivesTheSameMatches) {
  const auto db = (dir / "songs.qlmx").string();
  auto o = RunCli("build-db --source '" + (dir / "source.wav").string() + "' --split-ms 100 --output '" + db +
                      "' --splits-per-file 7 --quiet",
                  dir);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "soundsData_songs" / "data_00000003.sdat"));

  std::filesystem::create_directory(dir / "a");
  std::filesystem::create_directory(dir / "b");
  const std::string common = " --sample '" + (dir / "sample.wav").string() + "' --min-similarity 60 --separate --json";
  const auto fromWav = RunCli("match --source '" + (dir / "source.wav").string() + "' --split-ms 100 --output '" +
                                  (dir / "a").string() + "'" + common,
                              dir);
  const auto fromDb = RunCli("match --database '" + db + "' --output '" + (dir / "b").string() + "'" + common, dir);
  ASSERT_EQ(fromWav.status, 0) << fromWav.err;
  ASSERT_EQ(fromDb.status, 0) << fromDb.err;
  auto a = nlohmann::json::parse(fromWav.out);
  auto b = nlohmann::json::parse(fromDb.out);
  for (auto* j : {&a, &b}) {
    for (auto& t : (*j)["templates"]) t.erase("file");
  }
  EXPECT_EQ(a, b);
  for (const char* name : {"sample_rest_spl 0.wav", "sample_rest_spl 1.wav"}) {
    EXPECT_EQ(test::ReadBytes(dir / "a" / name), test::ReadBytes(dir / "b" / name)) << name;
  }

  o = RunCli("match --database '" + db + "' --split-ms 100" + common, dir);
  EXPECT_EQ(o.status, 2);
  o = RunCli("match --database '" + db + "' --bpm 120" + common, dir);
  EXPECT_EQ(o.status, 2);
  o = RunCli("match --sample x.wav", dir);
  EXPECT_EQ(o.status, 2);
}

}  // namespace
}  // namespace kestrune
