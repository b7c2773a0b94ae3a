// Source preparation on several threads: the same masks and the same
// progress as one thread, in the same order, also when a read fails or the
// run is stopped.
#include "matching/source_splits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <mutex>
#include <vector>

#include "analysis/split_pool.h"
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
  // The file shrinks to 10 whole splits after it was opened unmapped: split 10 reads short.
  {
    WriteAgain();
    const platform::File reader = platform::File::OpenRead(dir / "source.wav", platform::Share::Read);
    std::error_code ec;
    std::filesystem::resize_file(dir / "source.wav", 44 + 10 * 4410 * 4 + 100, ec);
    if (ec) GTEST_SKIP() << "a file open for reading cannot be shortened here (Windows: readers share reading only)";
  }
  truncateAfterOpen = true;
  for (uint32_t threads : {1u, 2u, 5u}) {
    WriteAgain();
    const Prepared run = Prepare(threads, false);
    EXPECT_FALSE(run.ok) << threads << " threads";
    EXPECT_EQ(run.positions, SerialPositions(10)) << threads << " threads";
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

// The pool itself: order of the finished calls, failures in the middle.
TEST(SplitPool, FinishedSplitsAreHandedOutInOrderUpToTheFirstFailure) {
  for (uint32_t threads : {1u, 2u, 4u}) {
    for (uint32_t failAt : {0u, 1u, 13u, 29u, 30u}) {
      std::mutex m;
      std::vector<uint32_t> stored;
      std::vector<uint32_t> finished;
      SplitPoolWork work;
      work.count = 30;
      work.blocksPerSplit = 1;
      work.bytesPerSplit = 4096;
      work.threads = threads;
      work.read = [&](uint32_t i, uint8_t* buffer) {
        std::fill(buffer, buffer + 4096, static_cast<uint8_t>(i));
        return i != failAt;
      };
      work.store = [&](uint32_t i, const uint32_t*) {
        std::lock_guard<std::mutex> lock(m);
        stored.push_back(i);
      };
      work.finished = [&](uint32_t i) {
        finished.push_back(i);
        return true;
      };
      const bool ok = RunSplitPool(work);
      EXPECT_EQ(ok, failAt >= 30) << threads << " threads, failing at " << failAt;
      std::vector<uint32_t> expected;
      for (uint32_t i = 0; i < std::min(failAt, 30u); ++i) expected.push_back(i);
      EXPECT_EQ(finished, expected) << threads << " threads, failing at " << failAt;
      // The failed split is never stored; later ones may have been analysed already.
      EXPECT_EQ(std::count(stored.begin(), stored.end(), failAt), 0);
      for (uint32_t i : expected) EXPECT_EQ(std::count(stored.begin(), stored.end(), i), 1) << i;
    }
  }
}

TEST(SplitPool, ThreadsReleaseTheStretchesTheyHavePassed) {
  for (uint32_t threads : {1u, 3u}) {
    std::mutex m;
    std::vector<std::pair<uint32_t, uint32_t>> spans;
    SplitPoolWork work;
    work.count = 100;
    work.blocksPerSplit = 1;
    work.bytesPerSplit = 4096;
    work.threads = threads;
    work.releaseEvery = 8;
    work.read = [](uint32_t, uint8_t* buffer) {
      std::fill(buffer, buffer + 4096, 3);
      return true;
    };
    work.store = [](uint32_t, const uint32_t*) {};
    work.finished = [](uint32_t) { return true; };
    work.release = [&](uint32_t first, uint32_t count) {
      std::lock_guard<std::mutex> lock(m);
      spans.emplace_back(first, count);
    };
    ASSERT_TRUE(RunSplitPool(work));
    if (threads == 1) {
      // One thread: consecutive stretches of 8, the last 4 splits not yet released.
      std::vector<std::pair<uint32_t, uint32_t>> expected;
      for (uint32_t first = 0; first + 8 <= 100; first += 8) expected.emplace_back(first, 8);
      EXPECT_EQ(spans, expected);
    } else {
      // Several: each thread's stretches follow one another and hold 8 of its splits at least.
      EXPECT_GE(spans.size(), 100u / 8 - 3);
      for (const auto& [first, count] : spans) {
        EXPECT_GE(count, 8u);
        EXPECT_LE(first + count, 100u);
      }
    }
  }
}

TEST(SplitPool, AFinishedCallbackSayingNoStopsTheRun) {
  SplitPoolWork work;
  work.count = 50;
  work.blocksPerSplit = 2;
  work.bytesPerSplit = 8192;
  work.threads = 3;
  work.read = [](uint32_t, uint8_t* buffer) {
    std::fill(buffer, buffer + 8192, 1);
    return true;
  };
  work.store = [](uint32_t, const uint32_t*) {};
  std::vector<uint32_t> finished;
  work.finished = [&](uint32_t i) {
    finished.push_back(i);
    return i < 6;
  };
  EXPECT_FALSE(RunSplitPool(work));
  EXPECT_EQ(finished, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6}));

  work.bytesPerSplit = 8191;  // too small for two blocks
  finished.clear();
  EXPECT_FALSE(RunSplitPool(work));
  EXPECT_TRUE(finished.empty());
}

}  // namespace
}  // namespace kestrune
