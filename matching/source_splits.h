// The analysed splits of a WAV source: for each split its first frame and its
// beat masks, in one contiguous table in source order.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "analysis/beat_analyzer.h"
#include "common/split_geometry.h"
#include "common/worker.h"
#include "matching/similarity.h"
#include "storage/wav_file.h"

namespace kestrune {

class SourceSplitTable {
 public:
  // Throws std::bad_alloc when the table does not fit in memory.
  SourceSplitTable(uint32_t splitCount, uint32_t blocksPerSplit);

  uint32_t Count() const { return count_; }
  size_t RecordSize() const { return 4 + 4 * size_t{blocks_}; }
  uint32_t FramePosition(uint32_t index) const;
  const uint8_t* Masks(uint32_t index) const { return Record(index) + 4; }
  MaskTable Table() const { return MaskTable{bytes_.data(), RecordSize(), 4}; }
  void Store(uint32_t index, uint32_t framePosition, const uint32_t* masks);

 private:
  const uint8_t* Record(uint32_t index) const { return bytes_.data() + size_t{index} * RecordSize(); }
  uint32_t count_;
  uint32_t blocks_;
  std::vector<uint8_t> bytes_;
};

// Splits of framesPerSplit frames that the source holds whole.
uint32_t SourceSplitCount(const WavInfo& source, const SplitGeometry& g);

// Called on the calling thread after each split's progress report, for
// splits 0, 1, 2, ... in order, once the split is in the table; false stops
// the run.
using SplitDone = std::function<bool(uint32_t i)>;

// Reads and analyses every split of the source into table on threads
// threads (0: WorkerThreads()), each with its own analyser and buffer. The
// percent i * 100 / count is sent from the calling thread after split i,
// for i = 0, 1, 2, ... in order, as a serial run sends it; then done(i), when
// given. False when a read comes back short, an analyser cannot be set up,
// done says no, or the run is stopped; a stop is seen between splits.
bool PrepareSourceSplits(WavInfo& source, const SplitGeometry& g, SourceSplitTable& table,
                         WorkerContext* context, uint32_t threads = 0, const SplitDone& done = {});

}  // namespace kestrune
