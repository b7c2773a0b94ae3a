#include "analysis/split_pool.h"

#include <memory>
#include <new>

#include "analysis/beat_analyzer.h"
#include "common/ordered_pool.h"

namespace kestrune {
namespace {

// One thread's analyser and buffer.
struct Lane {
  BeatAnalyzer analyzer;
  std::unique_ptr<uint8_t[]> buffer;
  uint32_t spanStart = UINT32_MAX;  // the first split since the last release
  uint32_t sinceRelease = 0;        // own splits since then
};

}  // namespace

bool RunSplitPool(const SplitPoolWork& work) {
  if (!work.read || !work.store || !work.finished) return false;
  if (work.bytesPerSplit < uint64_t{work.blocksPerSplit} * kBlockFrames * 4) return false;
  OrderedPoolWork pool;
  pool.count = work.count;
  pool.threads = work.threads;
  pool.finished = work.finished;
  pool.stopRequested = work.stopRequested;
  pool.makeWorker = [&work]() -> PoolItem {
    std::shared_ptr<Lane> lane;
    try {
      lane = std::make_shared<Lane>();
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    lane->buffer.reset(new (std::nothrow) uint8_t[work.bytesPerSplit]);
    if (!lane->buffer || SetupBeatAnalyzer(lane->analyzer, static_cast<int32_t>(work.blocksPerSplit)) != 1) {
      return nullptr;
    }
    return [&work, lane](uint32_t i) {
      const bool read = work.read(i, lane->buffer.get());
      if (work.release) {
        if (lane->spanStart == UINT32_MAX) lane->spanStart = i;
        if (++lane->sinceRelease >= work.releaseEvery) {
          work.release(lane->spanStart, i + 1 - lane->spanStart);
          lane->spanStart = i + 1;
          lane->sinceRelease = 0;
        }
      }
      if (!read || !AnalyseSplit(lane->analyzer, lane->buffer.get())) return false;
      work.store(i, lane->analyzer.beatMasks.get());
      return true;
    };
  };
  return RunOrderedPool(pool);
}

}  // namespace kestrune
