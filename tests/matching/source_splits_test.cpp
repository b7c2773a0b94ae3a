// Source preparation on several threads: the same masks and the same
// progress as one thread, in the same order, also when a read fails or the
// run is stopped.
#include "matching/source_splits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include "storage/wav_file_internal.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

constexpr uint32_t kSplitMs = 100;  // 4410 frames, 4 blocks
constexpr uint32_t kSplits = 37;

struct Prepared {
  bool ok = false;
  std::vector<uint8_t> masks;  // every record's mask words, in order
  std::vector<uint32_t> positions;
};

class SourcePreparation : public ::testing::Test {
 protected:
  void SetUp() override {
    // Noise with a quiet stretch every fifth split, and a tail shorter than a split.
    auto data = test::NoiseBytes(size_t{kSplits} * 4410 * 4 + 1000, 77);
    for (size_t i = 0; i < data.size(); ++i) {
      if ((i / (4410 * 4)) % 5 == 2 && i % 2 == 1) data[i] = 0;
    }
    wav = test::PcmWav(data);
    WriteAgain();
  }

  void WriteAgain() { test::WriteBytes(dir / "source.wav", wav); }

  Prepared Prepare(uint32_t threads, bool mapped = true, const std::function<void()>& onReport = {}) {
    WavInfo info;
    const bool opened = mapped ? OpenWavFile(info, dir / "source.wav", false)
                               : detail::OpenWavFileUnmapped(info, dir / "source.wav");
    EXPECT_TRUE(opened);
    EXPECT_EQ(info.data != nullptr, mapped);
    const SplitGeometry g = SplitGeometryFor(kSplitMs);
    SourceSplitTable table(SourceSplitCount(info, g), g.blocksPerSplit);
    EXPECT_EQ(table.Count(), kSplits);
    if (truncateAfterOpen) std::filesystem::resize_file(dir / "source.wav", 44 + 10 * 4410 * 4 + 100);
    test::RecordingProgress window;
    window.onReport = onReport;
    context.hDlg = &window;
    Prepared out;
    out.ok = PrepareSourceSplits(info, g, table, &context, threads);
    for (uint32_t i = 0; i < table.Count(); ++i) {
      if (out.ok) {
        EXPECT_EQ(table.FramePosition(i), i * g.framesPerSplit);
      }
      out.masks.insert(out.masks.end(), table.Masks(i), table.Masks(i) + 4 * g.blocksPerSplit);
    }
    out.positions = window.positions;
    return out;
  }

  test::TempDir dir;
  std::vector<uint8_t> wav;
  WorkerContext context;
  bool truncateAfterOpen = false;
};

std::vector<uint32_t> SerialPositions(uint32_t upTo) {
  std::vector<uint32_t> p;
  for (uint32_t i = 0; i < upTo; ++i) p.push_back(i * 100 / kSplits);
  return p;
}

TEST_F(SourcePreparation, AnyNumberOfThreadsGivesTheSerialMasksAndProgress) {
  const Prepared serial = Prepare(1);
  ASSERT_TRUE(serial.ok);
  EXPECT_EQ(serial.positions, SerialPositions(kSplits));
  // Masks that were never written would be all zero; these are not.
  EXPECT_NE(std::count(serial.masks.begin(), serial.masks.end(), 0), static_cast<long>(serial.masks.size()));
  for (uint32_t threads : {2u, 3u, 8u, 64u}) {
    for (bool mapped : {true, false}) {
      const Prepared run = Prepare(threads, mapped);
      EXPECT_TRUE(run.ok) << threads << " threads";
      EXPECT_EQ(run.masks, serial.masks) << threads << " threads, mapped " << mapped;
      EXPECT_EQ(run.positions, serial.positions) << threads << " threads, mapped " << mapped;
    }
  }
}

TEST_F(SourcePreparation, AShortReadFailsAfterReportingEverySplitBeforeIt) {
  // The file shrinks to 10 whole splits after it was opened: split 10 reads
  // short. Mapped too: the splits are read through the handle, never by
  // touching the mapping, which would fault past the new end.
  {
    WriteAgain();
    const platform::File reader = platform::File::OpenRead(dir / "source.wav", platform::Share::Read);
    std::error_code ec;
    std::filesystem::resize_file(dir / "source.wav", 44 + 10 * 4410 * 4 + 100, ec);
    if (ec) GTEST_SKIP() << "a file open for reading cannot be shortened here (Windows: readers share reading only)";
  }
  truncateAfterOpen = true;
  for (uint32_t threads : {1u, 2u, 5u}) {
    for (bool mapped : {false, true}) {
      WriteAgain();
      const Prepared run = Prepare(threads, mapped);
      EXPECT_FALSE(run.ok) << threads << " threads, mapped " << mapped;
      EXPECT_EQ(run.positions, SerialPositions(10)) << threads << " threads, mapped " << mapped;
    }
  }
}

TEST_F(SourcePreparation, AStopIsHonouredBetweenSplits) {
  for (uint32_t threads : {1u, 2u, 4u}) {
    context.bTerminate.store(false);
    size_t reports = 0;
    const Prepared run = Prepare(threads, true, [&] {
      if (++reports == 3) context.bTerminate.store(true);
    });
    EXPECT_FALSE(run.ok) << threads << " threads";
    EXPECT_EQ(run.positions, SerialPositions(3)) << threads << " threads";
  }
  // Stopped before it starts: nothing is read or reported.
  context.bTerminate.store(true);
  const Prepared early = Prepare(2);
  EXPECT_FALSE(early.ok);
  EXPECT_TRUE(early.positions.empty());
}

}  // namespace
}  // namespace kestrune
