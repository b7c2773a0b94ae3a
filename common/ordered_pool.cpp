#include "common/ordered_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrune {
namespace {

bool Stopped(const OrderedPoolWork& work) { return work.stopRequested && work.stopRequested(); }

bool RunSerial(const OrderedPoolWork& work) {
  const PoolItem worker = work.makeWorker();
  if (!worker) return false;
  for (uint32_t i = 0; i < work.count; ++i) {
    if (Stopped(work) || !worker(i) || !work.finished(i)) return false;
  }
  return true;
}

class Pool {
 public:
  explicit Pool(const OrderedPoolWork& work) : work_(work), done_(work.count, 0) {}

  ~Pool() {
    abort_.store(true);
    for (auto& t : threads_) t.join();
  }

  // Starts up to n threads; false when none could be started.
  bool Start(uint32_t n) {
    for (uint32_t t = 0; t < n; ++t) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++running_;
      }
      try {
        threads_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(mutex_);
        --running_;
        break;
      }
    }
    return !threads_.empty();
  }

  bool Report() {
    for (uint32_t r = 0; r < work_.count; ++r) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return done_[r] != 0 || failedAt_ <= r || running_ == 0; });
        if (done_[r] == 0) return false;  // it failed, or the run stopped before it
      }
      if (Stopped(work_) || !work_.finished(r)) return false;
    }
    return true;
  }

 private:
  void Work() {
    const PoolItem worker = work_.makeWorker();
    while (worker && !abort_.load()) {
      const uint32_t i = next_.fetch_add(1);
      if (i >= work_.count) break;
      if (Stopped(work_)) {
        abort_.store(true);
        break;
      }
      const bool ok = worker(i);
      std::lock_guard<std::mutex> lock(mutex_);
      if (ok) {
        done_[i] = 1;
      } else {
        failedAt_ = std::min(failedAt_, i);
        abort_.store(true);
      }
      cv_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!worker) {
      // Without its worker the thread fails the run at the first item not yet taken.
      failedAt_ = std::min(failedAt_, next_.load());
      abort_.store(true);
    }
    --running_;
    cv_.notify_all();
  }

  const OrderedPoolWork& work_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<uint8_t> done_;
  uint32_t failedAt_ = UINT32_MAX;
  uint32_t running_ = 0;
  std::atomic<uint32_t> next_{0};
  std::atomic<bool> abort_{false};
  std::vector<std::thread> threads_;
};

}  // namespace

bool RunOrderedPool(const OrderedPoolWork& work) {
  if (!work.makeWorker || !work.finished) return false;
  const uint32_t threads = std::min(std::max(work.threads, 1u), std::max(work.count, 1u));
  if (threads == 1) return RunSerial(work);
  Pool pool(work);
  if (!pool.Start(threads)) return RunSerial(work);
  return pool.Report();
}

}  // namespace kestrune
