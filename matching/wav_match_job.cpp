#include "matching/wav_match_job.h"

#include <memory>
#include <new>
#include <vector>

#include "analysis/declick.h"
#include "matching/match_steps.h"
#include "matching/source_splits.h"

namespace kestrune {

bool MatchWavSource(const MatchSettings& settings, WorkerContext* context) {
  WavInfo source;
  WavInfo sample;
  if (!OpenWavFile(source, settings.sourcePath, false)) return false;
  if (!OpenWavFile(sample, settings.samplePath, false)) return false;
  if (!CheckWavFormat(source, settings.ownerWindow)) return false;
  if (!CheckWavFormat(sample, settings.ownerWindow)) return false;

  // A split must hold at least one whole analysis block, and its frame count fit 32 bits.
  if (settings.splitMilliseconds < kMinAnalysableSplitMilliseconds ||
      settings.splitMilliseconds > kMaxSplitMilliseconds) {
    return false;
  }
  const SplitGeometry g = SplitGeometryFor(settings.splitMilliseconds);
  const uint32_t sourceSplits = SourceSplitCount(source, g);
  if (settings.observer != nullptr) settings.observer->OnGeometry(settings.splitMilliseconds, g.framesPerSplit, g.blocksPerSplit, sourceSplits);

  std::unique_ptr<SourceSplitTable> table;
  std::vector<CandidateScore> scores;
  CandidateRanker ranker;
  std::vector<uint8_t> buffer;
  try {
    table = std::make_unique<SourceSplitTable>(sourceSplits, g.blocksPerSplit);
    scores.resize(sourceSplits);
    ranker.Reserve(sourceSplits, 32 * g.blocksPerSplit);
    buffer.resize(g.bytesPerSplit);
  } catch (const std::bad_alloc&) {
    return false;
  }

  BeatAnalyzer analyzer;
  if (!SetupBeatAnalyzer(analyzer, static_cast<int32_t>(g.blocksPerSplit))) return false;
  SetProgressText(context, "Prepare source beats information..");
  if (!PrepareSourceSplits(source, g, *table, context)) return false;
  SetProgressText(context, kPleaseWait);

  ResultWriter writer(settings);
  if (!settings.separateFiles && !writer.Begin()) return false;

  for (uint32_t j = 0; j < settings.fragmentLength; ++j) {
    if (Terminated(context)) return false;
    SetProgressPos(context, static_cast<uint32_t>(uint64_t{j} * 100 / settings.fragmentLength));
    if (!AnalyseTemplateSplit(sample, settings, g, j, buffer.data(), analyzer)) return false;
    const uint32_t taken =
        RankAndSelect(analyzer, g, sourceSplits, table->Table(), settings.minSimilarity, scores, ranker);
    if (settings.separateFiles && !writer.Begin()) return false;

    for (uint32_t n = 0; n < taken; ++n) {
      if (Terminated(context)) return false;
      const uint32_t r = scores[n].index;
      SetProgressText(context, TemplateWrittenText(j, r));
      if (ReadWavFrames(source, buffer.data(), table->FramePosition(r), g.framesPerSplit) != g.framesPerSplit) {
        return false;
      }
      if (settings.declick) ApplyDeclickRampBytes(buffer.data(), g.framesPerSplit * 2);
      if (!writer.Append(buffer.data(), g.bytesPerSplit)) return false;
      if (settings.observer != nullptr) settings.observer->OnMatch(j, r, scores[n].agreement);
    }
    if (settings.separateFiles) writer.Finish(j, false);
  }
  if (!settings.separateFiles) writer.Finish(std::nullopt, false);
  return true;
}

}  // namespace kestrune
