// kestrune-cli find as a user runs it: pieces cut anywhere found through the
// JSON, byte-exact written stretches, and the exit statuses.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "analysis/declick.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_music.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using test::TempDir;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

Outcome RunFind(const std::string& args, const TempDir&) {
  std::vector<std::string> argv = hostile::ShellWords(args);
  argv.insert(argv.begin(), {KESTRUNE_CLI, "find", "--quiet"});
  const hostile::ChildOutcome child = hostile::RunChild(argv);
  Outcome o;
  if (child.exited) o.status = child.status;
  o.out = child.out;
  o.err = child.err;
  return o;
}

class FindCli : public ::testing::Test {
 protected:
  void SetUp() override {
    music = test::MakeTestMusic(30.0, 21);
    test::WriteBytes(dir / "song.wav", test::StereoWav(music));
  }
  std::string Cut(size_t first, size_t frames, const std::string& name = "piece.wav") {
    test::WriteBytes(dir / name, test::StereoWav(std::vector<int16_t>(music.begin() + 2 * first,
                                                                      music.begin() + 2 * (first + frames))));
    return "'" + (dir / name).string() + "'";
  }
  std::string Song() const { return "'" + (dir / "song.wav").string() + "'"; }

  TempDir dir;
  std::vector<int16_t> music;
};

TEST_F(FindCli, PiecesCutOffTheGridAreFoundAtTheirStartThroughTheJson) {
  for (const auto& [truth, fragments, hop] : std::vector<std::tuple<size_t, int, int>>{
           {22050 * 7 + 4321, 2, 128}, {22050 * 23 + 17, 1, 128}, {22050 * 3 + 999, 3, 256}, {22050 * 11 + 77, 2, 64}}) {
    SCOPED_TRACE(truth);
    const auto o = RunFind("--source " + Song() + " --sample " + Cut(truth, 22050 * fragments) + " --fragment-length " +
                               std::to_string(fragments) + " --hop " + std::to_string(hop) + " --json",
                           dir);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto j = nlohmann::json::parse(o.out);
    std::vector<std::string> keys;
    for (const auto& [key, value] : j.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"blocks_per_split", "fragment_frames", "frames_per_split", "hop", "matches",
                                              "sample", "sources", "split_ms"}));
    EXPECT_EQ(j["hop"], hop);
    EXPECT_EQ(j["fragment_frames"], 22050 * fragments);
    EXPECT_EQ(j["sources"][0]["frames"], music.size() / 2);
    EXPECT_TRUE(j["sources"][0]["error"].is_null());
    ASSERT_GE(j["matches"].size(), 1u);
    const auto& m = j["matches"][0];
    const double frame = m["frame"].get<double>();
    EXPECT_LE(std::fabs(frame - static_cast<double>(truth)), hop / 2.0);
    EXPECT_TRUE(m["confident"].get<bool>());
    EXPECT_TRUE(m["file"].is_null());
    EXPECT_DOUBLE_EQ(m["seconds"].get<double>(), frame / 44100.0);
    EXPECT_EQ(m["similarity"].get<double>(), m["agreement"].get<double>() * 100.0 / m["bits"].get<double>());
    EXPECT_EQ(m["bits"], fragments * 21 * 32);
  }
}

// --write: the stretch of the source from each match's start, as it stands,
// or ramped at both ends with --declick; --top 1 keeps only the best.
TEST_F(FindCli, WrittenMatchesAreTheSourcesOwnStretches) {
  const size_t truth = 22050 * 12 + 3000;
  const std::string args = "--source " + Song() + " --sample " + Cut(truth, 44100) + " --write --top 1 --json --output '" +
                           dir.path().string() + "'";
  const auto bytes = test::FrameBytes(music);
  for (bool declick : {false, true}) {
    const auto o = RunFind(args + (declick ? " --declick" : ""), dir);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto j = nlohmann::json::parse(o.out);
    ASSERT_EQ(j["matches"].size(), 1u);
    const auto frame = j["matches"][0]["frame"].get<size_t>();
    EXPECT_EQ(j["matches"][0]["file"], (dir / "piece_found_01.wav").string());
    std::vector<uint8_t> expected(bytes.begin() + frame * 4, bytes.begin() + (frame + 44100) * 4);
    if (declick) ApplyDeclickRampBytes(expected.data(), static_cast<uint32_t>(expected.size() / 2));
    const auto written = test::ReadBytes(dir / "piece_found_01.wav");
    ASSERT_EQ(written.size(), 44 + expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin() + 44));
  }
}

TEST_F(FindCli, ExitStatusesSayWhatHappened) {
  const std::string piece = Cut(22050 * 5 + 5555, 44100);
  // Found: the text line names the file, the time, the frame, similarity and z.
  auto o = RunFind("--source " + Song() + " --sample " + piece, dir);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("song.wav  00:02.6"), std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("not confident"), std::string::npos) << o.out;

  // Nothing confident: other music; the best start is still shown.
  test::WriteBytes(dir / "other.wav", test::StereoWav(test::MakeTestMusic(20.0, 99, 97.0)));
  o = RunFind("--source '" + (dir / "other.wav").string() + "' --sample " + piece, dir);
  EXPECT_EQ(o.status, 3) << o.err;
  EXPECT_NE(o.out.find("(not confident)"), std::string::npos) << o.out;

  // Failed: no source readable, or the sample unusable; the reason on stderr.
  o = RunFind("--source '" + (dir / "missing.wav").string() + "' --sample " + piece, dir);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("missing.wav: does not exist (skipped)"), std::string::npos) << o.err;
  EXPECT_TRUE(o.out.empty());
  o = RunFind("--source " + Song() + " --sample " + piece + " --start-offset 2", dir);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("the sample ends before the fragment does"), std::string::npos) << o.err;
  o = RunFind("--source " + Song() + " --sample " + piece + " --write --output '" + (dir / "nowhere").string() + "'", dir);
  EXPECT_EQ(o.status, 1) << o.err;

  // Usage errors.
  for (const std::string wrong : {"--hop 100", "--top 0", "--top 101", "--min-score six", "--fragment-length 51",
                                   "--database x.qlmx --fragment-length 1"}) {
    o = RunFind((wrong.rfind("--database", 0) == 0 ? "" : "--source " + Song() + " ") + "--sample " + piece + " " + wrong, dir);
    EXPECT_EQ(o.status, 2) << wrong << ": " << o.err;
  }
}

}  // namespace
}  // namespace kestrune
