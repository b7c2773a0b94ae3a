#include "matching/database_match_job.h"

#include <cstring>
#include <vector>

#include "analysis/declick.h"
#include "matching/match_steps.h"
#include "storage/splits_database.h"

namespace kestrune {

bool MatchDatabaseSource(const MatchSettings& settings, WorkerContext* context) {
  SplitsDatabase database;
  WavInfo sample;
  if (!database.Open(settings.sourcePath)) return false;
  if (!OpenWavFile(sample, settings.samplePath, false)) return false;
  if (!CheckWavFormat(sample, settings.ownerWindow)) return false;

  SplitGeometry g;
  g.framesPerSplit = database.framesPerSplit;
  g.blocksPerSplit = database.blocksPerSplit;
  g.bytesPerSplit = database.bytesPerSplit;
  const uint32_t splits = database.SplitCount();
  if (settings.observer != nullptr) settings.observer->OnGeometry(database.splitMilliseconds, g.framesPerSplit, g.blocksPerSplit, splits);
  const MaskTable candidates{splits > 0 ? database.SplitRecordAt(0) : nullptr, database.recordSize,
                             kSplitRecordMasksOffset};

  std::vector<CandidateScore> scores;
  CandidateRanker ranker;
  std::vector<uint8_t> buffer;
  try {
    scores.resize(splits);
    ranker.Reserve(splits, 32 * g.blocksPerSplit);
    buffer.resize(g.bytesPerSplit);
  } catch (const std::bad_alloc&) {
    return false;
  }
  BeatAnalyzer analyzer;
  if (!SetupBeatAnalyzer(analyzer, static_cast<int32_t>(g.blocksPerSplit))) return false;

  ResultWriter writer(settings);
  if (!settings.separateFiles && !writer.Begin()) return false;

  for (uint32_t j = 0; j < settings.fragmentLength; ++j) {
    if (Terminated(context)) return false;
    SetProgressPos(context, static_cast<uint32_t>(uint64_t{j} * 100 / settings.fragmentLength));
    if (!AnalyseTemplateSplit(sample, settings, g, j, buffer.data(), analyzer)) return false;
    const uint32_t taken = RankAndSelect(analyzer, g, splits, candidates, settings.minSimilarity, scores, ranker);
    if (settings.separateFiles && !writer.Begin()) return false;

    for (uint32_t n = 0; n < taken; ++n) {
      if (Terminated(context)) return false;
      const uint32_t e = scores[n].index;
      SplitAudio audio;
      if (!database.ReadSplit(e, audio) || audio.samples == nullptr) return false;
      SetProgressText(context, TemplateWrittenText(j, e));
      std::memcpy(buffer.data(), audio.samples, g.bytesPerSplit);
      if (settings.declick) ApplyDeclickRampBytes(buffer.data(), g.bytesPerSplit / 2);
      if (!writer.Append(buffer.data(), g.bytesPerSplit)) return false;
      if (settings.observer != nullptr) settings.observer->OnMatch(j, e, scores[n].agreement);
    }
    // An empty result is not converted.
    if (settings.separateFiles) writer.Finish(j, true);
  }
  if (!settings.separateFiles) writer.Finish(std::nullopt, true);
  return true;
}

}  // namespace kestrune
