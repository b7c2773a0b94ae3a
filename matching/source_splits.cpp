#include "matching/source_splits.h"

#include <algorithm>

#include "analysis/split_pool.h"
#include "common/sample_frame.h"
#include "common/threads.h"
#include "matching/match_steps.h"

namespace kestrune {

SourceSplitTable::SourceSplitTable(uint32_t splitCount, uint32_t blocksPerSplit)
    : count_(splitCount), blocks_(blocksPerSplit), bytes_(size_t{splitCount} * RecordSize()) {}

uint32_t SourceSplitTable::FramePosition(uint32_t index) const { return LoadU32(Record(index)); }

void SourceSplitTable::Store(uint32_t index, uint32_t framePosition, const uint32_t* masks) {
  uint8_t* record = bytes_.data() + size_t{index} * RecordSize();
  StoreU32(record, framePosition);
  for (uint32_t k = 0; k < blocks_; ++k) StoreU32(record + 4 + 4 * size_t{k}, masks[k]);
}

uint32_t SourceSplitCount(const WavInfo& source, const SplitGeometry& g) {
  if (source.blockAlign == 0 || g.framesPerSplit == 0) return 0;
  return (source.dataSize / source.blockAlign) / g.framesPerSplit;
}

bool PrepareSourceSplits(WavInfo& source, const SplitGeometry& g, SourceSplitTable& table,
                         WorkerContext* context, uint32_t threads, const SplitDone& done) {
  const uint32_t count = table.Count();
  SplitPoolWork work;
  work.count = count;
  work.blocksPerSplit = g.blocksPerSplit;
  work.bytesPerSplit = g.bytesPerSplit;
  work.threads = threads != 0 ? threads : WorkerThreads();
  // Every split is read once, in order: through the file handle, with a
  // copy by the system, rather than by touching the mapping, whose page
  // faults cost several times the copy. Reads are positional, so threads
  // can read at the same time. i < count keeps i * framesPerSplit inside
  // the data chunk, so within 32 bits.
  const bool streamed = source.fileHandle.IsOpen();
  if (streamed) AdviseSequentialWavRead(source);
  work.read = [&](uint32_t i, uint8_t* buffer) {
    return StreamWavFrames(source, buffer, i * g.framesPerSplit, g.framesPerSplit) == g.framesPerSplit;
  };
  work.store = [&](uint32_t i, const uint32_t* masks) { table.Store(i, i * g.framesPerSplit, masks); };
  work.finished = [&](uint32_t i) {
    SetProgressPos(context, static_cast<uint32_t>(uint64_t{i} * 100 / count));
    if (done && !done(i)) return false;
    return true;
  };
  if (!streamed) {
    // Read from the mapping (a source given as bytes): each thread gives
    // back the pages of the stretch it has read every 32 of its splits (one
    // call per stretch: every call interrupts the other threads to flush
    // their address translations), so a thread that runs ahead keeps
    // little; and every split before the one just finished is done with:
    // what the threads' own releases left (the pages at the ends of their
    // stretches) goes back every few megabytes, so memory does not grow with
    // the source.
    work.release = [&](uint32_t first, uint32_t n) {
      ReleaseWavFrames(source, first * g.framesPerSplit, n * g.framesPerSplit);
    };
    constexpr uint32_t kReleaseEvery = 64;
    work.finished = [&](uint32_t i) {
      SetProgressPos(context, static_cast<uint32_t>(uint64_t{i} * 100 / count));
      if (done && !done(i)) return false;
      if ((i + 1) % kReleaseEvery == 0 || i + 1 == count) {
        const uint32_t first = (i + 1 - std::min(i + 1, kReleaseEvery + 1)) * g.framesPerSplit;
        ReleaseWavFrames(source, first, (i + 1) * g.framesPerSplit - first);
      }
      return true;
    };
  }
  work.stopRequested = [context] { return Terminated(context); };
  return RunSplitPool(work);
}

}  // namespace kestrune
