// The split pool: finished splits in order up to the first failure, the
// stretches each thread releases, and a stop from the finished callback.
#include "analysis/split_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace kestrune {
namespace {

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
