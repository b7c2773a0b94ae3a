#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "storage/wav_file.h"
#include "storage/wav_file_internal.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using test::FrameBytes;
using test::StereoWav;
using test::WavBuilder;

// Four stereo frames, 16 bytes.
const std::vector<int16_t> kSamples = {1, -2, 3, -4, 5, -6, 7, -8};

void ExpectClosed(const WavInfo& info) {
  EXPECT_FALSE(info.fileHandle.IsOpen());
  EXPECT_FALSE(info.view.IsMapped());
  EXPECT_EQ(info.fileSize, 0u);
  EXPECT_EQ(info.formType, (std::array<char, 4>{}));
  EXPECT_EQ(info.formatTag | info.channels | info.blockAlign | info.bitsPerSample, 0);
  EXPECT_EQ(info.sampleRate | info.byteRate | info.dataOffset | info.dataSize, 0u);
  EXPECT_EQ(info.data, nullptr);
}

enum class Mode { Mapped, File };

// Every reading test runs on a mapped file and through the file handle.
class WavRead : public ::testing::TestWithParam<Mode> {
 protected:
  bool Open(WavInfo& info, const std::filesystem::path& path) {
    if (GetParam() == Mode::Mapped) {
      bool ok = OpenWavFile(info, path, true);
      if (ok) {
        EXPECT_EQ(info.data, info.view.data() + info.dataOffset);
      }
      return ok;
    }
    bool ok = detail::OpenWavFileUnmapped(info, path);
    if (ok) {
      EXPECT_TRUE(info.data == nullptr && !info.view.IsMapped());
    }
    return ok;
  }
  bool Open(const std::vector<uint8_t>& bytes) {
    CloseWavFile(info_);  // an open reader keeps writers out on Windows
    test::WriteBytes(path_, bytes);
    return Open(info_, path_);
  }
  // The bytes of frames [first, first + count) as ReadWavFrames returns them.
  std::vector<uint8_t> Frames(uint32_t first, uint32_t count, uint32_t expectFrames) {
    std::vector<uint8_t> buffer(size_t{count} * info_.blockAlign, 0xAA);
    EXPECT_EQ(ReadWavFrames(info_, buffer.data(), first, count), expectFrames);
    return buffer;
  }

  test::TempDir dir_;
  std::filesystem::path path_ = dir_ / "sound.wav";
  WavInfo info_;
};

INSTANTIATE_TEST_SUITE_P(BothModes, WavRead, ::testing::Values(Mode::Mapped, Mode::File),
                         [](const auto& p) { return p.param == Mode::Mapped ? "Mapped" : "File"; });

struct Layout {
  std::string name;
  std::vector<uint8_t> bytes;
  uint32_t dataOffset;
};

TEST_P(WavRead, FindsFormatAndDataInEveryLayout) {
  const std::vector<uint8_t> data = FrameBytes(kSamples);
  const std::vector<Layout> layouts = {
      {"plain", StereoWav(kSamples), 44},
      {"data before fmt", WavBuilder().RiffHeader().Chunk("data", data).Fmt(1, 2, 44100, 4, 16).bytes(), 20},
      {"LIST between", WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16)
                           .Chunk("LIST", {'I', 'N', 'F', 'O', 1, 2}).Chunk("data", data).bytes(), 58},
      {"18-byte fmt", WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16, 18).Chunk("data", data).bytes(), 46},
      // Chunks follow one another directly, with no pad byte after an odd body.
      {"odd chunk", WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16)
                        .Chunk("odd ", {1, 2, 3}).Chunk("data", data).bytes(), 55},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    ASSERT_TRUE(Open(layout.bytes));
    EXPECT_EQ(info_.fileSize, layout.bytes.size());
    EXPECT_EQ(std::string(info_.formType.data(), 4), "WAVE");
    EXPECT_EQ(info_.formatTag, 1);
    EXPECT_EQ(info_.channels, 2);
    EXPECT_EQ(info_.sampleRate, 44100u);
    EXPECT_EQ(info_.byteRate, 176400u);
    EXPECT_EQ(info_.blockAlign, 4);
    EXPECT_EQ(info_.bitsPerSample, 16);
    EXPECT_EQ(info_.dataOffset, layout.dataOffset);
    EXPECT_EQ(info_.dataSize, data.size());
    EXPECT_EQ(Frames(0, 4, 4), data);
  }
}

TEST_P(WavRead, RefusesBrokenFilesAndLeavesNothingOpen) {
  const std::vector<uint8_t> data = FrameBytes(kSamples);
  auto withFmtSize = [&](uint32_t size) {
    return WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16, size).Chunk("data", data).bytes();
  };
  auto lyingChunkBeforeData = [&](uint32_t size) {
    return WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16).ChunkHeader("JUNK", size)
        .Bytes({0, 0, 0, 0}).Chunk("data", data).bytes();
  };
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"empty", {}},
      {"RIFF header only", WavBuilder().RiffHeader().bytes()},
      {"RIFX", WavBuilder().Raw("RIFX").U32(0).Raw("WAVE").Fmt(1, 2, 44100, 4, 16).Chunk("data", data).bytes()},
      {"AVI form", WavBuilder().Raw("RIFF").U32(0).Raw("AVI ").Fmt(1, 2, 44100, 4, 16).Chunk("data", data).bytes()},
      {"no data", WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16).Chunk("LIST", {1, 2}).bytes()},
      {"no fmt", WavBuilder().RiffHeader().Chunk("data", data).bytes()},
      // Relying on a pad byte puts the next chunk one byte later than the walk looks.
      {"pad byte", WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16).Chunk("odd ", {1, 2, 3})
                       .Bytes({0}).Chunk("data", data).bytes()},
      {"fmt 0 bytes", withFmtSize(0)},
      {"fmt 12 bytes", withFmtSize(12)},
      {"fmt 14 bytes", withFmtSize(14)},
      {"short fmt before a good one", WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16, 14)
                                          .Fmt(1, 2, 44100, 4, 16).Chunk("data", data).bytes()},
      {"blockAlign 0", WavBuilder().RiffHeader().Fmt(1, 2, 44100, 0, 16).Chunk("data", data).bytes()},
      {"skip 0xFFFFFFFF", lyingChunkBeforeData(0xFFFFFFFF)},
      {"skip 0xFFFFFFF8", lyingChunkBeforeData(0xFFFFFFF8)},
      {"skip 0x80000000", lyingChunkBeforeData(0x80000000)},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Open(bytes));
    ExpectClosed(info_);
  }
}

TEST_P(WavRead, RepeatedChunks) {
  auto bytes = WavBuilder().RiffHeader()
                   .Fmt(1, 1, 8000, 2, 16).Chunk("data", {1, 2, 3, 4})
                   .Fmt(3, 1, 22050, 4, 32).Chunk("data", {5, 6, 7, 8, 9, 10, 11, 12})
                   .bytes();
  ASSERT_TRUE(Open(bytes));
  if (GetParam() == Mode::Mapped) {
    // Every chunk is visited: the last of each counts.
    EXPECT_EQ(info_.formatTag, 3);
    EXPECT_EQ(info_.sampleRate, 22050u);
    EXPECT_EQ(info_.dataOffset, 80u);
    EXPECT_EQ(Frames(0, 2, 2), (std::vector<uint8_t>{5, 6, 7, 8, 9, 10, 11, 12}));
  } else {
    // The walk stops once both are known.
    EXPECT_EQ(info_.formatTag, 1);
    EXPECT_EQ(info_.sampleRate, 8000u);
    EXPECT_EQ(info_.dataOffset, 44u);
    EXPECT_EQ(Frames(0, 2, 2), (std::vector<uint8_t>{1, 2, 3, 4}));
  }
}

TEST_P(WavRead, TruncatedFilesOpenOnlyWithTheWholeHeader) {
  const std::vector<uint8_t> whole = StereoWav(kSamples);
  for (size_t length = 0; length <= whole.size(); ++length) {
    SCOPED_TRACE(length);
    bool opened = Open(std::vector<uint8_t>(whole.begin(), whole.begin() + length));
    EXPECT_EQ(opened, length >= 44);
    if (opened) {
      EXPECT_EQ(info_.dataSize, length - 44);
      // A partial last frame is copied but not counted.
      EXPECT_EQ(Frames(0, 4, static_cast<uint32_t>((length - 44) / 4)).front(),
                length > 44 ? 1 : 0xAA);
    }
  }
}

TEST_P(WavRead, LyingSizesAreLimitedToTheFile) {
  const std::vector<uint8_t> data = FrameBytes(kSamples);
  for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFF8u, 0x80000000u}) {
    SCOPED_TRACE(size);
    // A skipped chunk after the data ends the walk without harm.
    ASSERT_TRUE(Open(WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16).Chunk("data", data)
                         .ChunkHeader("JUNK", size).Bytes({1, 2}).bytes()));
    EXPECT_EQ(info_.dataSize, 16u);
    // A data chunk claiming more than the file holds keeps what is there.
    ASSERT_TRUE(Open(WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16).ChunkHeader("data", size)
                         .Bytes(data).bytes()));
    EXPECT_EQ(info_.dataSize, 16u);
    std::vector<uint8_t> expect = data;
    expect.resize(20, 0xAA);
    EXPECT_EQ(Frames(0, 5, 4), expect);
  }
}

TEST_P(WavRead, ReadsStopAtTheEndOfTheData) {
  const std::vector<uint8_t> data = FrameBytes(kSamples);
  ASSERT_TRUE(Open(WavBuilder().RiffHeader().Fmt(1, 2, 44100, 4, 16).Chunk("data", data)
                       .Chunk("LIST", {9, 9, 9, 9, 9, 9, 9, 9}).bytes()));
  ASSERT_EQ(info_.dataSize, 16u);

  // From frame 2, ten wanted: two come, the LIST chunk after them does not.
  std::vector<uint8_t> expect(data.begin() + 8, data.end());
  expect.resize(40, 0xAA);
  EXPECT_EQ(Frames(2, 10, 2), expect);

  Frames(4, 1, 0);           // at dataSize
  Frames(0xFFFFFFFF, 1, 0);  // 0xFFFFFFFC bytes in: far past the data
  Frames(0x40000001, 1, 0);  // 0x100000004 bytes in; wrapped to 32 bits it would be frame 1
  // 0x40000001 frames are 0x100000004 bytes: wrapped to 32 bits that would be one
  // frame. The buffer only holds the three frames that can come.
  std::vector<uint8_t> rest(12);
  EXPECT_EQ(ReadWavFrames(info_, rest.data(), 1, 0x40000001), 3u);
  EXPECT_EQ(rest, std::vector<uint8_t>(data.begin() + 4, data.end()));

  CloseWavFile(info_);
  ExpectClosed(info_);
  EXPECT_EQ(ReadWavFrames(info_, rest.data(), 0, 1), 0u);
}

TEST_P(WavRead, OpensTheSameFileTwiceAtOnce) {
  test::WriteBytes(path_, StereoWav(kSamples));
  WavInfo other;
  ASSERT_TRUE(Open(info_, path_));
  ASSERT_TRUE(Open(other, path_));
  uint8_t frame[4];
  EXPECT_EQ(ReadWavFrames(other, frame, 3, 1), 1u);
  EXPECT_EQ(std::vector<uint8_t>(frame, frame + 4), FrameBytes({7, -8}));
  EXPECT_EQ(Frames(3, 1, 1), FrameBytes({7, -8}));
}

TEST_P(WavRead, AFailedOpenReleasesThePreviousFile) {
  test::WriteBytes(path_, StereoWav(kSamples));
  for (const std::filesystem::path& bad : {dir_.path(), dir_ / "missing.wav"}) {
    SCOPED_TRACE(bad.string());
    ASSERT_TRUE(Open(info_, path_));
    EXPECT_FALSE(Open(info_, bad));
    ExpectClosed(info_);
  }
}

TEST(WavOpen, MapsWhenItCanAndNeverMapsAnEmptyFile) {
  test::TempDir dir;
  WavInfo info;
  test::WriteBytes(dir / "a.wav", StereoWav(kSamples));
  ASSERT_TRUE(OpenWavFile(info, dir / "a.wav", false));
  EXPECT_NE(info.data, nullptr);
  // Reopening without a mapping must not keep reading the first file's view.
  test::WriteBytes(dir / "b.wav", StereoWav({9, 9, 9, 9}));
  ASSERT_TRUE(detail::OpenWavFileUnmapped(info, dir / "b.wav"));
  EXPECT_EQ(info.data, nullptr);
  uint8_t frame[4] = {};
  EXPECT_EQ(ReadWavFrames(info, frame, 0, 1), 1u);
  EXPECT_EQ(std::vector<uint8_t>(frame, frame + 4), FrameBytes({9, 9}));

  test::WriteBytes(dir / "empty.wav", {});
  for (bool requireMapping : {true, false}) {
    EXPECT_FALSE(OpenWavFile(info, dir / "empty.wav", requireMapping));
    ExpectClosed(info);
  }
}

TEST(WavOpen, RefusesFilesOver4GiB) {
  test::TempDir dir;
  const auto path = dir / "big.wav";
  test::WriteBytes(path, StereoWav(kSamples));
  std::error_code ec;
  // Sparse: no disk space is used. 2^32 + 60 bytes would look like 60 in 32 bits.
  std::filesystem::resize_file(path, 0x100000000ull + 60, ec);
  if (ec) GTEST_SKIP() << "no sparse files here: " << ec.message();
  WavInfo info;
  EXPECT_FALSE(OpenWavFile(info, path, false));
  EXPECT_FALSE(detail::OpenWavFileUnmapped(info, path));
  ExpectClosed(info);
}

// Released frames of a mapped WAV file read the same as before.
TEST(MappedRelease, ReleasedFramesReadTheSameAgain) {
  test::TempDir dir;
  const auto data = test::NoiseBytes(4 * 300000, 6);
  test::WriteBytes(dir / "a.wav", test::PcmWav(data));
  WavInfo info;
  ASSERT_TRUE(OpenWavFile(info, dir / "a.wav", true));
  std::vector<uint8_t> frames(data.size());
  ASSERT_EQ(ReadWavFrames(info, frames.data(), 0, 300000), 300000u);
  ASSERT_EQ(frames, data);
  ReleaseWavFrames(info, 1000, 200000);
  ReleaseWavFrames(info, 0, 4000000);     // beyond the end: up to the end
  ReleaseWavFrames(info, 400000, 10);     // wholly beyond: nothing
  std::fill(frames.begin(), frames.end(), 0);
  ASSERT_EQ(ReadWavFrames(info, frames.data(), 0, 300000), 300000u);
  EXPECT_EQ(frames, data);
  // The header before the data is untouched.
  EXPECT_EQ(std::memcmp(info.view.data(), "RIFF", 4), 0);
}

}  // namespace
}  // namespace kestrune
