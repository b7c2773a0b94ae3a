#include "matching/source_splits.h"

#include "common/sample_frame.h"
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

bool PrepareSourceSplits(WavInfo& source, const SplitGeometry& g, BeatAnalyzer& analyzer,
                         uint8_t* buffer, SourceSplitTable& table, WorkerContext* context) {
  const uint32_t count = table.Count();
  for (uint32_t i = 0; i < count; ++i) {
    if (Terminated(context)) return false;
    // i < count keeps i * framesPerSplit inside the data chunk, so within 32 bits.
    const uint32_t first = i * g.framesPerSplit;
    if (ReadWavFrames(source, buffer, first, g.framesPerSplit) != g.framesPerSplit) return false;
    if (!AnalyseSplit(analyzer, buffer)) return false;
    table.Store(i, first, analyzer.beatMasks.get());
    SetProgressPos(context, static_cast<uint32_t>(uint64_t{i} * 100 / count));
  }
  return true;
}

}  // namespace kestrune
