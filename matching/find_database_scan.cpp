#include "matching/find_database_scan.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "common/ordered_pool.h"
#include "common/sample_frame.h"
#include "matching/find_templates.h"

namespace kestrune {

DatabaseStarts DatabaseStartLayout(const SplitsDatabase& database, uint32_t templates, uint32_t hop) {
  DatabaseStarts layout;
  const uint32_t count = database.SplitCount();
  if (hop == 0 || templates == 0 || count < templates || database.blocksPerSplit == 0) return layout;
  layout.shifts = (database.framesPerSplit + hop - 1) / hop;
  layout.records = count - templates + 1;
  return layout;
}

bool SilentRecord(const uint8_t* masks, uint32_t blocks) {
  for (uint32_t i = 0; i < blocks; ++i) {
    if (LoadU32(masks + 4 * size_t{i}) != 0xFFFFFFFFu) return false;
  }
  return blocks > 0;
}

bool ScanDatabase(const DatabaseScanWork& work, StartScores& scores, std::string& failure) {
  const SplitsDatabase& db = *work.database;
  const DatabaseStarts layout = DatabaseStartLayout(db, work.templates, work.hop);
  if (layout.Count() == 0) return true;
  const uint32_t count = db.SplitCount();
  const uint32_t h = db.blocksPerSplit;
  std::vector<uint8_t> recordSilent(count);
  for (uint32_t q = 0; q < count; ++q) recordSilent[q] = SilentRecord(db.MasksAt(q), h) ? 1 : 0;
  const std::vector<uint8_t> allSilent(h, 1);
  std::atomic<bool> sampleShort{false};

  OrderedPoolWork pool;
  pool.count = layout.shifts;
  pool.threads = std::max<uint32_t>(1, std::min(work.threads, layout.shifts));
  pool.makeWorker = [&]() -> PoolItem {
    struct State {
      BeatAnalyzer analyzer;
      FindTemplates templates;
      std::vector<uint32_t> masks;
    };
    auto state = std::make_shared<State>();
    if (!SetupBeatAnalyzer(state->analyzer, static_cast<int32_t>(h))) return {};
    state->masks.resize(h);
    return [&, state](uint32_t shift) {
      const uint64_t first = work.fragmentFirst + uint64_t{shift} * work.hop;
      if (!AnalyseTemplates(*work.sample, first, db.framesPerSplit, work.templates, state->analyzer, state->templates)) {
        sampleShort.store(true);
        return false;
      }
      const uint64_t base = uint64_t{shift} * layout.records;
      for (uint32_t q = 0; q < count; ++q) {
        std::memcpy(state->masks.data(), db.MasksAt(q), size_t{h} * 4);  // little-endian words
        const uint8_t* silent = recordSilent[q] != 0 ? allSilent.data() : nullptr;
        for (uint32_t t = 0; t < work.templates && t <= q; ++t) {
          const uint32_t r = q - t;
          // A start before the beginning of the recording is none.
          if (r >= layout.records || (r == 0 && shift > 0)) continue;
          AddComparison(state->templates, t, state->masks.data(), silent, scores, base + r);
        }
      }
      return true;
    };
  };
  pool.finished = [&](uint32_t item) {
    if (work.progress) work.progress(static_cast<double>(item + 1) / layout.shifts);
    return true;
  };
  pool.stopRequested = [&] { return work.stopRequested && work.stopRequested(); };
  const bool ok = RunOrderedPool(pool);
  if (sampleShort.load()) failure = "the sample ends before the fragment does";
  return ok;
}

}  // namespace kestrune
