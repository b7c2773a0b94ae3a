#include "matching/result_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "matching/match_settings.h"
#include "storage/wav_file.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace kestrune {
namespace {

using test::ReadBytes;
using test::RecordingHost;
using test::RecordingProgress;
using test::TempDir;
using test::WriteBytes;

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
  return bytes;
}

struct Conversion {
  TempDir dir;
  std::filesystem::path raw = dir / "raw";
  std::filesystem::path target = dir / "out.wav";
  platform::File file;
  ConversionRequest request;
  explicit Conversion(size_t bytes) {
    WriteBytes(raw, Pattern(bytes));
    file = platform::File::OpenRead(raw, platform::Share::Read);
    request.rawFile = &file;
    request.targetPath = target;
  }
  int Run(RecordingProgress& window) { return test::RunRecorded(ConversionWorker, &request, window); }
};

TEST(Conversion, CopiesInChunksWithProgressPerChunk) {
  Conversion c(250000);
  RecordingProgress window;
  EXPECT_EQ(c.Run(window), PD_SUCCEEDED);
  EXPECT_EQ(window.texts, std::vector<std::string>{"Please Wait..."});
  EXPECT_EQ(window.positions, (std::vector<uint32_t>{0, 50, 100, 150}));
  const auto out = ReadBytes(c.target);
  ASSERT_EQ(out.size(), 250044u);
  std::array<uint8_t, 44> header;
  ASSERT_TRUE(MakeWavHeader(header, 250000, 44100, 4, 1, 2, 16));
  EXPECT_TRUE(std::equal(header.begin(), header.end(), out.begin()));
  EXPECT_TRUE(std::equal(out.begin() + 44, out.end(), Pattern(250000).begin()));
  // Nothing of our own is left beside the result.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(c.dir.path()), {}), 2);
}

TEST(Conversion, SmallResultReportsFullProgressAndReplacesAnExistingFile) {
  Conversion c(1000);
  WriteBytes(c.target, std::vector<uint8_t>(5000, 0xAA));
  RecordingProgress window;
  EXPECT_EQ(c.Run(window), PD_SUCCEEDED);
  EXPECT_EQ(window.positions, (std::vector<uint32_t>{100, 100}));
  EXPECT_EQ(ReadBytes(c.target).size(), 1044u);
}

TEST(Conversion, SymbolicLinkAtTheTargetIsReplacedNotFollowed) {
  Conversion c(4000);
  const auto elsewhere = c.dir / "elsewhere.wav";
  WriteBytes(elsewhere, {1, 2, 3});
  std::error_code ec;
  std::filesystem::create_symlink(elsewhere, c.target, ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  RecordingProgress window;
  EXPECT_EQ(c.Run(window), PD_SUCCEEDED);
  EXPECT_FALSE(std::filesystem::is_symlink(c.target));
  EXPECT_EQ(ReadBytes(c.target).size(), 4044u);
  EXPECT_EQ(ReadBytes(elsewhere), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Conversion, FailuresShowTheMessageAndLeaveAnEarlierResultAlone) {
  RecordingHost host;
  {
    Conversion empty(0);
    EXPECT_FALSE(ConvertSound(empty.file, empty.target, 1, 2, 44100, 4, 16, &host));
    EXPECT_FALSE(std::filesystem::exists(empty.target));
  }
  {
    Conversion noFolder(100);
    EXPECT_FALSE(ConvertSound(noFolder.file, noFolder.dir / "missing" / "out.wav", 1, 2, 44100, 4, 16, &host));
  }
  EXPECT_EQ(host.titles, (std::vector<std::string>{"Converting sound.", "Converting sound."}));
  EXPECT_EQ(host.messages, (std::vector<test::Message>{{kConvertFailedMessage, kCaption},
                                                       {kConvertFailedMessage, kCaption}}));
}

TEST(Conversion, TerminationStopsTheCopyBetweenChunks) {
  Conversion c(500000);
  RecordingProgress window;
  WorkerContext context;
  window.onReport = [&] {
    if (window.positions.size() == 2) context.bTerminate.store(true);
  };
  EXPECT_EQ(test::RunRecorded(ConversionWorker, &c.request, window, &context), PD_FAILED);
  EXPECT_FALSE(std::filesystem::exists(c.target));

  // A stopped conversion leaves an earlier file of that name as it was.
  WriteBytes(c.target, {9, 9, 9});
  RecordingProgress again;
  WorkerContext stopped;
  again.onReport = [&] {
    if (again.positions.size() == 3) stopped.bTerminate.store(true);
  };
  EXPECT_EQ(test::RunRecorded(ConversionWorker, &c.request, again, &stopped), PD_FAILED);
  EXPECT_EQ(ReadBytes(c.target), (std::vector<uint8_t>{9, 9, 9}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(c.dir.path()), {}), 2);
}

TEST(Conversion, AResultBeyondTheWavLimitFailsBeforeWritingAnything) {
  // The largest data chunk a WAV header can describe is 2^32 - 1 - 36 bytes.
  // Sparse raw files just past it, and one whose size wraps to 1 GiB in 32 bits.
  for (const uint64_t size : {uint64_t{UINT32_MAX} - 35, uint64_t{5} << 30}) {
    Conversion c(0);
    std::error_code ec;
    std::filesystem::resize_file(c.raw, size, ec);
    if (ec) GTEST_SKIP() << "no sparse files here: " << ec.message();
    WriteBytes(c.target, {9, 9, 9});
    RecordingHost host;
    EXPECT_FALSE(ConvertSound(c.file, c.target, 1, 2, 44100, 4, 16, &host)) << size;
    EXPECT_EQ(host.messages, (std::vector<test::Message>{{kConvertFailedMessage, kCaption}}));
    EXPECT_EQ(ReadBytes(c.target), (std::vector<uint8_t>{9, 9, 9}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(c.dir.path()), {}), 2);
  }
}

TEST(ResultNames, BaseNamesAndPaddedIndexes) {
  EXPECT_EQ(FileBaseName("/music/loop.wav"), "loop");
  EXPECT_EQ(FileBaseName("/music/loop"), "loop");
  EXPECT_EQ(FileBaseName("/music/my.old.loop.wav"), "my.old.loop");
  EXPECT_EQ(FileBaseName("/mu.sic/loop"), "loop");
  EXPECT_EQ(ResultPath("/out/", "/music/loop.wav", std::nullopt), "/out/loop_rest.wav");
  EXPECT_EQ(ResultPath("/out/", "/music/loop.wav", 0u), "/out/loop_rest_spl 0.wav");
  EXPECT_EQ(ResultPath("/out/", "/music/loop.wav", 7u), "/out/loop_rest_spl 7.wav");
  EXPECT_EQ(ResultPath("/out/", "/music/loop.wav", 12u), "/out/loop_rest_spl12.wav");
  EXPECT_EQ(ResultPath("/out/x", "a.wav", std::nullopt), "/out/xa_rest.wav");  // a plain prefix
  const std::string longName(300, 'n');
  EXPECT_EQ(FileBaseName("/m/" + longName + ".wav").size(), 255u);
}

TEST(ResultNames, TemporaryFilesAreNewAndEmpty) {
  const auto a = MakeTempFileName();
  const auto b = MakeTempFileName();
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  EXPECT_EQ(a->filename().string().rfind("QLP", 0), 0u);
  EXPECT_EQ(std::filesystem::file_size(*a), 0u);
  platform::RemoveFile(*a);
  platform::RemoveFile(*b);
}

}  // namespace
}  // namespace kestrune
