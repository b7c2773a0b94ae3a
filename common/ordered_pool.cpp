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

// The calling thread works too: between its own items it hands the finished
// ones to finished, in order, and at the end it waits for the other threads'
// last items. The other threads wake it only while it waits.
class Pool {
 public:
  explicit Pool(const OrderedPoolWork& work) : work_(work), done_(work.count, 0) {}

  ~Pool() {
    abort_.store(true);
    for (auto& t : threads_) t.join();
  }

  // Starts up to n helper threads.
  void Start(uint32_t n) {
    for (uint32_t t = 0; t < n; ++t) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++running_;
      }
      try {
        threads_.emplace_back([this] { Help(); });
      } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(mutex_);
        --running_;
        break;
      }
    }
  }

  bool Run() {
    const PoolItem worker = work_.makeWorker();
    if (!worker) Fail(next_.load());
    while (worker && !abort_.load()) {
      if (!HandOutReady()) return false;
      if (!DoNext(worker)) break;
    }
    // The rest as it comes.
    while (next_ready_ < work_.count) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        waiting_ = true;
        cv_.wait(lock, [&] { return done_[next_ready_] != 0 || failedAt_ <= next_ready_ || running_ == 0; });
        waiting_ = false;
        if (done_[next_ready_] == 0) return false;  // it failed, or the run stopped before it
      }
      if (!HandOutReady()) return false;
    }
    return true;
  }

 private:
  // Takes the next item and does it; false when there is none to take.
  bool DoNext(const PoolItem& worker) {
    const uint32_t i = next_.fetch_add(1);
    if (i >= work_.count) return false;
    if (Stopped(work_)) {
      abort_.store(true);
      return false;
    }
    const bool ok = worker(i);
    std::lock_guard<std::mutex> lock(mutex_);
    if (ok) {
      done_[i] = 1;
    } else {
      failedAt_ = std::min(failedAt_, i);
      abort_.store(true);
    }
    if (waiting_) cv_.notify_all();
    return ok;
  }

  void Fail(uint32_t at) {
    std::lock_guard<std::mutex> lock(mutex_);
    failedAt_ = std::min(failedAt_, at);
    abort_.store(true);
  }

  // Hands every item that is done and follows the last one handed out to
  // finished, in order; false when finished or a stop request ends the run.
  bool HandOutReady() {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (next_ready_ >= work_.count || done_[next_ready_] == 0) return true;
      }
      if (Stopped(work_) || !work_.finished(next_ready_)) {
        abort_.store(true);
        return false;
      }
      ++next_ready_;
    }
  }

  void Help() {
    const PoolItem worker = work_.makeWorker();
    // Without its worker the thread fails the run at the first item not yet taken.
    if (!worker) Fail(next_.load());
    while (worker && !abort_.load() && DoNext(worker)) {
    }
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    cv_.notify_all();
  }

  const OrderedPoolWork& work_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<uint8_t> done_;
  uint32_t failedAt_ = UINT32_MAX;
  uint32_t running_ = 0;   // helper threads still working
  bool waiting_ = false;   // the calling thread waits for the helpers
  uint32_t next_ready_ = 0;  // the next item to hand to finished; calling thread only
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
  pool.Start(threads - 1);
  return pool.Run();
}

}  // namespace kestrune
