// Never losing a result, seen from outside: kestrune-cli on a full disk
// (a file-size limit), stopped by a signal in the middle of a job, and
// writing results whose names take all 255 bytes a file name may have.
#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <atomic>

#include "support/child_process.h"
#include "hostile/hostile_cases.h"
#include "storage/wav_file.h"
#include "support/temp_dir.h"

namespace kestrune::hostile {
namespace {

using std::filesystem::path;

constexpr char kProcessFailed[] = "Sound processing: Error occurs while processing sound.";
constexpr char kConvertFailed[] = "Sound processing: Error occurs while converting sound.";
const std::vector<uint8_t> kEarlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A complete result: its header announces exactly the bytes that follow.
bool IsCompleteResult(const path& file) {
  const std::vector<uint8_t> bytes = test::ReadBytes(file);
  if (bytes.size() < 44) return false;
  std::array<uint8_t, 44> header{};
  const auto dataBytes = static_cast<uint32_t>(bytes.size() - 44);
  return MakeWavHeader(header, dataBytes, 44100, 4, 1, 2, 16) && std::equal(header.begin(), header.end(), bytes.begin());
}

class ResultSafety : public ::testing::Test {
 protected:
  // A source of `splits` 100 ms splits of noise, and a sample made of its
  // first `sampleSplits` splits in reverse order.
  void MakeFiles(uint32_t splits, uint32_t sampleSplits) {
    for (const char* name : {"in", "out", "tmp"}) std::filesystem::create_directories(dir / name);
    const std::vector<uint8_t> source = NoiseBytes(size_t{splits} * kSplitBytes, 21);
    std::vector<uint8_t> sample;
    for (uint32_t s = sampleSplits; s-- > 0;) {
      sample.insert(sample.end(), source.begin() + s * kSplitBytes, source.begin() + (s + 1) * kSplitBytes);
    }
    test::WriteBytes(dir / "in" / "source.wav", PlainWav(source));
    test::WriteBytes(sample_, PlainWav(sample));
  }

  ChildOutcome Cli(std::vector<std::string> args, ChildOptions options = {}) {
    args.insert(args.begin(), KESTRUNE_CLI);
    options.environment.push_back({"TMPDIR", (dir / "tmp").string()});
    return RunChild(args, options);
  }

  std::vector<std::string> Match(const std::string& fragments, const std::string& similarity) const {
    return {"match", "--source", (dir / "in" / "source.wav").string(), "--sample", sample_.string(),
            "--split-ms", "100", "--fragment-length", fragments, "--min-similarity", similarity,
            "--output", (dir / "out").string()};
  }

  // Nothing of a job is left over: no temporary file, no staging file.
  void ExpectNothingLeftOver() {
    EXPECT_TRUE(NamesIn(dir / "tmp").empty());
    for (const std::string& name : NamesIn(dir / "out")) EXPECT_NE(name[0], '.') << name;
  }

  test::TempDir dir;
  path sample_ = dir / "in" / "sample.wav";
};

TEST_F(ResultSafety, FullDiskFailsCleanlyAndTheNextRunSucceeds) {
  MakeFiles(20, 2);
  const path result = dir / "out" / "sample_rest.wav";
  test::WriteBytes(result, kEarlier);
  const uint64_t raw = 2 * kSplitBytes;  // one split per template split
  std::vector<std::string> match = Match("2", "100");
  match.push_back("--quiet");

  // The temporary file cannot grow: the job fails.
  ChildOptions full;
  full.fileSizeLimit = raw / 2;
  ChildOutcome o = Cli(match, full);
  EXPECT_TRUE(o.EndedCleanly()) << o.Describe();
  EXPECT_EQ(o.status, 1) << o.Describe();
  EXPECT_TRUE(Has(o.err, kProcessFailed)) << o.err;
  EXPECT_EQ(test::ReadBytes(result), kEarlier);
  ExpectNothingLeftOver();

  // The temporary file fits but the result does not: the conversion fails.
  full.fileSizeLimit = raw + 20;
  o = Cli(match, full);
  EXPECT_TRUE(o.EndedCleanly()) << o.Describe();
  EXPECT_EQ(o.status, 1) << o.Describe();
  EXPECT_EQ(Count(o.err, kConvertFailed), 1u) << o.err;
  EXPECT_FALSE(Has(o.err, kProcessFailed)) << o.err;
  EXPECT_EQ(test::ReadBytes(result), kEarlier);
  EXPECT_EQ(NamesIn(dir / "out"), std::vector<std::string>{"sample_rest.wav"});
  ExpectNothingLeftOver();

  // One result per template split: every conversion fails on its own.
  std::vector<std::string> separate = match;
  separate.push_back("--separate");
  full.fileSizeLimit = kSplitBytes + 20;
  o = Cli(separate, full);
  EXPECT_TRUE(o.EndedCleanly()) << o.Describe();
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(Count(o.err, kConvertFailed), 2u) << o.err;
  EXPECT_EQ(NamesIn(dir / "out"), std::vector<std::string>{"sample_rest.wav"});
  ExpectNothingLeftOver();

  // A database that cannot be written leaves the one already there intact.
  const std::vector<std::string> build = {"build-db", "--source", (dir / "in" / "source.wav").string(), "--split-ms",
                                          "100", "--output", (dir / "out" / "db.qlmx").string(), "--quiet"};
  ASSERT_EQ(Cli(build).status, 0);
  const std::vector<uint8_t> oldSpl = test::ReadBytes(dir / "out" / "db.spl");
  full.fileSizeLimit = 1000;
  o = Cli(build, full);
  EXPECT_TRUE(o.EndedCleanly()) << o.Describe();
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(Has(o.err, "cannot build the database")) << o.err;
  EXPECT_EQ(test::ReadBytes(dir / "out" / "db.spl"), oldSpl);
  EXPECT_EQ(NamesIn(dir / "out"),
            (std::vector<std::string>{"db.qlmx", "db.snd", "db.spl", "sample_rest.wav", "soundsData_db"}));
  ExpectNothingLeftOver();

  // With room again, the same run succeeds and replaces the earlier result.
  o = Cli(match);
  EXPECT_TRUE(o.EndedCleanly()) << o.Describe();
  EXPECT_EQ(o.status, 0) << o.Describe();
  EXPECT_EQ(std::filesystem::file_size(result), 44 + raw);
  EXPECT_TRUE(IsCompleteResult(result));
  ExpectNothingLeftOver();
}

// Standard error is a terminal and is read only between the checks of
// onStderr, so the job, which draws its progress after every written split,
// cannot run far past the moment the signal is sent: the signal always
// arrives while it has most of its work still ahead.
ChildOptions SignalWhen(const std::string& text, int signal, std::atomic<bool>& sent) {
  ChildOptions options;
  options.stderrIsTerminal = true;
  options.onStderr = [text, signal, &sent](ChildId pid, const std::string& err) {
    if (!sent && Has(err, text)) {
      sent = true;
      ::kill(static_cast<pid_t>(pid), signal);
    }
  };
  return options;
}

TEST_F(ResultSafety, StoppedJobsLeaveNoTemporaryFileAndNoPartialResult) {
  // 50 template splits, each taking all 100 source splits: 5000 written splits.
  MakeFiles(100, 50);
  const path result = dir / "out" / "sample_rest.wav";
  test::WriteBytes(result, kEarlier);

  std::atomic<bool> sent{false};
  ChildOutcome o = Cli(Match("50", "1"), SignalWhen("Template split - 0, src split written", SIGINT, sent));
  ASSERT_TRUE(sent);
  EXPECT_TRUE(o.EndedCleanly()) << o.Describe();
  EXPECT_EQ(o.status, 1) << o.Describe();
  EXPECT_TRUE(Has(o.err, kProcessFailed)) << o.err;
  EXPECT_EQ(test::ReadBytes(result), kEarlier);
  ExpectNothingLeftOver();

  // Stopped while the first of 50 results is being converted: the results
  // there are are complete, or the earlier file of that name as it was.
  const path first = dir / "out" / "sample_rest_spl 0.wav";
  test::WriteBytes(first, kEarlier);
  std::vector<std::string> separate = Match("50", "1");
  separate.push_back("--separate");
  sent = false;
  o = Cli(separate, SignalWhen("Converting sound.", SIGTERM, sent));
  ASSERT_TRUE(sent);
  EXPECT_TRUE(o.EndedCleanly()) << o.Describe();
  EXPECT_EQ(o.status, 1) << o.Describe();
  EXPECT_TRUE(Has(o.err, kProcessFailed)) << o.err;
  EXPECT_TRUE(test::ReadBytes(first) == kEarlier || IsCompleteResult(first));
  EXPECT_LT(NamesIn(dir / "out").size(), 10u);
  for (const std::string& name : NamesIn(dir / "out")) {
    if (name != "sample_rest.wav" && name != "sample_rest_spl 0.wav") {
      EXPECT_TRUE(IsCompleteResult(dir / "out" / name)) << name;
    }
  }
  ExpectNothingLeftOver();
}

TEST_F(ResultSafety, ResultNamesOf255Bytes) {
  MakeFiles(20, 2);
  // "_rest.wav" after 246 bytes of base name, "_rest_spl 0.wav" after 240.
  for (const auto& [baseLength, separate] : {std::pair<size_t, bool>{246, false}, {240, true}}) {
    const std::string base(baseLength, 'n');
    sample_ = dir / "in" / (base + ".wav");
    std::filesystem::copy_file(dir / "in" / "sample.wav", sample_, std::filesystem::copy_options::overwrite_existing);
    const std::string resultName = base + (separate ? "_rest_spl 0.wav" : "_rest.wav");
    ASSERT_EQ(resultName.size(), 255u);
    test::WriteBytes(dir / "out" / resultName, kEarlier);
    std::vector<std::string> match = Match("2", "100");
    match.push_back("--quiet");
    if (separate) match.push_back("--separate");
    const ChildOutcome o = Cli(match);
    EXPECT_TRUE(o.EndedCleanly()) << o.Describe();
    EXPECT_EQ(o.status, 0) << o.Describe();
    EXPECT_EQ(std::filesystem::file_size(dir / "out" / resultName), 44u + (separate ? 1 : 2) * kSplitBytes);
    EXPECT_TRUE(IsCompleteResult(dir / "out" / resultName));
    ExpectNothingLeftOver();
  }
}

}  // namespace
}  // namespace kestrune::hostile
