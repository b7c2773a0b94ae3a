// Analyses the splits of a source on a pool of threads, one beat analyser
// per thread, while the calling thread hears of the finished splits strictly
// in source order. Every split is analysed on its own (reset, then its
// blocks), so the masks do not depend on which thread took it.
#pragma once

#include <cstdint>
#include <functional>

namespace kestrune {

struct SplitPoolWork {
  uint32_t count = 0;           // splits 0..count-1
  uint32_t blocksPerSplit = 0;  // the analyser's H
  uint32_t bytesPerSplit = 0;   // buffer size for one split; at least blocksPerSplit * 4096
  uint32_t threads = 1;         // 1 runs everything on the calling thread
  // Reads split i into buffer; false when it cannot be read whole. Called on
  // the pool's threads, for different splits at the same time.
  std::function<bool(uint32_t i, uint8_t* buffer)> read;
  // Keeps the blocksPerSplit mask words of split i. Called on the pool's
  // threads, once per split, for different splits at the same time.
  std::function<void(uint32_t i, const uint32_t* masks)> store;
  // Called on the calling thread for splits 0, 1, 2, ... in this order, each
  // once it is stored; false stops the run.
  std::function<bool(uint32_t i)> finished;
  // Asked before each split is read (on any thread); true stops the run.
  std::function<bool()> stopRequested;
  // When given: called on a pool thread after every releaseEvery of its own
  // splits with the splits [first, first + count) that it has passed since
  // its last call (splits of other threads among them), whose input will
  // not be read again by this thread.
  std::function<void(uint32_t first, uint32_t count)> release;
  uint32_t releaseEvery = 32;
};

// True when every split was read, analysed, stored and reported as finished.
// On a failed read the splits before it are still all reported, as a serial
// run would; the run then fails. No thread outlives the call.
bool RunSplitPool(const SplitPoolWork& work);

}  // namespace kestrune
