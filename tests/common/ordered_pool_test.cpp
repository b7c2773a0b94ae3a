// The ordered pool on any number of threads: each item done once, finished
// strictly in order, and a failure, a missing worker, a stop or a refusing
// finished callback ending the run with only the items before it handed out.
#include "common/ordered_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrune {
namespace {

struct Outcome {
  bool ok = false;
  std::vector<uint32_t> finished;
  std::vector<int> doneCount;
  uint32_t workersMade = 0;
};

// Runs count items on threads; item failAt fails, finished refuses after
// refuseAfter, and a stop is requested once stopAfter items were handed out.
Outcome RunPool(uint32_t count, uint32_t threads, uint32_t failAt = UINT32_MAX, uint32_t refuseAfter = UINT32_MAX,
            uint32_t stopAfter = UINT32_MAX, bool noSecondWorker = false) {
  Outcome o;
  o.doneCount.assign(count, 0);
  std::mutex m;
  std::atomic<uint32_t> handedOut{0};
  OrderedPoolWork work;
  work.count = count;
  work.threads = threads;
  work.makeWorker = [&]() -> PoolItem {
    std::lock_guard<std::mutex> lock(m);
    if (++o.workersMade == 2 && noSecondWorker) return {};
    return [&](uint32_t i) {
      // With a thread left unequipped, no item ends before every thread has
      // asked for its worker (bounded, so that a fault cannot hang the test).
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (noSecondWorker && std::chrono::steady_clock::now() < deadline) {
        {
          std::lock_guard<std::mutex> waitLock(m);
          if (o.workersMade >= threads) break;
        }
        std::this_thread::yield();
      }
      std::lock_guard<std::mutex> itemLock(m);
      ++o.doneCount[i];
      return i != failAt;
    };
  };
  work.finished = [&](uint32_t i) {
    o.finished.push_back(i);
    handedOut.store(i + 1);
    return i < refuseAfter;
  };
  work.stopRequested = [&] { return handedOut.load() >= stopAfter; };
  o.ok = RunOrderedPool(work);
  return o;
}

std::vector<uint32_t> Upto(uint32_t n) {
  std::vector<uint32_t> v(n);
  for (uint32_t i = 0; i < n; ++i) v[i] = i;
  return v;
}

TEST(OrderedPool, EveryItemOnceAndFinishedInOrder) {
  for (uint32_t threads : {1u, 2u, 5u}) {
    for (uint32_t count : {0u, 1u, 3u, 200u}) {
      SCOPED_TRACE(testing::Message() << threads << " threads, " << count << " items");
      const Outcome o = RunPool(count, threads);
      EXPECT_TRUE(o.ok);
      EXPECT_EQ(o.finished, Upto(count));
      EXPECT_EQ(o.doneCount, std::vector<int>(count, 1));
      // One worker per thread at work, never more threads than items.
      EXPECT_LE(o.workersMade, std::max(1u, std::min(threads, count)));
    }
  }
}

TEST(OrderedPool, EndsAfterHandingOutOnlyWhatCameBefore) {
  for (uint32_t threads : {1u, 3u}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    for (uint32_t failAt : {0u, 17u, 99u}) {
      const Outcome failed = RunPool(100, threads, failAt);
      EXPECT_FALSE(failed.ok);
      EXPECT_EQ(failed.finished, Upto(failAt)) << "failing at " << failAt;
    }
    const Outcome refused = RunPool(100, threads, UINT32_MAX, 40);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.finished, Upto(41));
    const Outcome stopped = RunPool(100, threads, UINT32_MAX, UINT32_MAX, 25);
    EXPECT_FALSE(stopped.ok);
    EXPECT_EQ(stopped.finished, Upto(25));
    for (int n : stopped.doneCount) EXPECT_LE(n, 1);
  }
  // A thread that cannot be equipped fails the run; nothing is handed out twice.
  const Outcome unequipped = RunPool(100, 3, UINT32_MAX, UINT32_MAX, UINT32_MAX, true);
  EXPECT_FALSE(unequipped.ok);
  EXPECT_LT(unequipped.finished.size(), 100u);
  EXPECT_EQ(unequipped.finished, Upto(static_cast<uint32_t>(unequipped.finished.size())));
}

}  // namespace
}  // namespace kestrune
