// Work items 0..count-1 done by a pool of threads, while the calling thread
// hears of the finished items strictly in order, as if it had done them one
// after another itself.
#pragma once

#include <cstdint>
#include <functional>

namespace kestrune {

using PoolItem = std::function<bool(uint32_t item)>;

struct OrderedPoolWork {
  uint32_t count = 0;
  uint32_t threads = 1;  // threads at work, the calling thread among them
  // Makes the worker of one thread (with whatever state that thread keeps);
  // the worker does one item and says whether it succeeded. An empty worker
  // means the thread could not be equipped, which fails the run.
  std::function<PoolItem()> makeWorker;
  // Called on the calling thread for items 0, 1, 2, ... in this order, each
  // once it is done; false stops the run.
  std::function<bool(uint32_t item)> finished;
  // Asked before each item is started and before each is handed to finished;
  // true stops the run.
  std::function<bool()> stopRequested;
};

// True when every item was done and handed to finished. When an item fails,
// the items before it are all still handed to finished, as in a serial run,
// and then the run fails. No thread outlives the call.
bool RunOrderedPool(const OrderedPoolWork& work);

}  // namespace kestrune
