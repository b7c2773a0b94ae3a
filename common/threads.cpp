#include "common/threads.h"

#include <atomic>
#include <thread>

namespace kestrune {
namespace {

std::atomic<uint32_t> chosen{0};

}  // namespace

uint32_t WorkerThreads() {
  const uint32_t set = chosen.load(std::memory_order_relaxed);
  if (set != 0) return set;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1u : static_cast<uint32_t>(cores);
}

void SetWorkerThreads(uint32_t count) { chosen.store(count, std::memory_order_relaxed); }

}  // namespace kestrune
