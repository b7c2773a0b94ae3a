#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "storage/wav_file.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

uint32_t Le32At(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

TEST(WavWrite, HeaderBytesAndReadingThemBack) {
  test::TempDir dir;
  const auto path = dir / "out.wav";
  // A longer file there already is replaced, not overwritten in part.
  test::WriteBytes(path, std::vector<uint8_t>(100, 0x55));
  for (uint32_t dataBytes : {0u, 1000u}) {
    SCOPED_TRACE(dataBytes);
    const std::vector<uint8_t> expect =
        test::WavBuilder().RiffHeader(dataBytes + 36).Fmt(1, 2, 44100, 4, 16)
            .ChunkHeader("data", dataBytes).bytes();
    std::array<uint8_t, 44> made{};
    ASSERT_TRUE(MakeWavHeader(made, dataBytes, 44100, 4, 1, 2, 16));
    EXPECT_EQ(std::vector<uint8_t>(made.begin(), made.end()), expect);

    ASSERT_TRUE(WriteWavHeader(path, dataBytes, 44100, 4, 1, 2, 16));
    std::vector<uint8_t> written = test::ReadBytes(path);
    EXPECT_EQ(written, expect);
    EXPECT_EQ(Le32At(written, 4), dataBytes + 36);
    EXPECT_EQ(Le32At(written, 28), 176400u);

    std::vector<uint8_t> samples(dataBytes);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 7);
    written.insert(written.end(), samples.begin(), samples.end());
    test::WriteBytes(path, written);
    WavInfo info;
    ASSERT_TRUE(OpenWavFile(info, path, true));
    EXPECT_EQ(info.formatTag, 1);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sampleRate, 44100u);
    EXPECT_EQ(info.byteRate, 176400u);
    EXPECT_EQ(info.bitsPerSample, 16);
    EXPECT_EQ(info.dataOffset, 44u);
    ASSERT_EQ(info.dataSize, dataBytes);
    std::vector<uint8_t> back(dataBytes);
    EXPECT_EQ(ReadWavFrames(info, back.data(), 0, dataBytes / 4), dataBytes / 4);
    EXPECT_EQ(back, samples);
  }
}

TEST(WavWrite, RefusesSizesTheRiffSizeCannotHold) {
  test::TempDir dir;
  std::array<uint8_t, 44> header{};
  // 0xFFFFFFDB + 36 is the largest RIFF size there is.
  ASSERT_TRUE(MakeWavHeader(header, 0xFFFFFFDB, 8000, 1, 1, 1, 8));
  EXPECT_EQ(Le32At(std::vector<uint8_t>(header.begin(), header.end()), 4), 0xFFFFFFFFu);
  for (uint32_t dataBytes : {0xFFFFFFDCu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(dataBytes);
    EXPECT_FALSE(MakeWavHeader(header, dataBytes, 8000, 1, 1, 1, 8));
    EXPECT_FALSE(WriteWavHeader(dir / "big.wav", dataBytes, 8000, 1, 1, 1, 8));
    EXPECT_FALSE(std::filesystem::exists(dir / "big.wav"));
  }
  EXPECT_FALSE(WriteWavHeader(dir / "no such folder" / "a.wav", 0, 8000, 1, 1, 1, 8));
}

}  // namespace
}  // namespace kestrune
