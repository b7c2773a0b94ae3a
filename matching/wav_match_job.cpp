#include "matching/wav_match_job.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "matching/match_steps.h"
#include "matching/source_splits.h"

namespace kestrune {

bool MatchWavSource(const MatchSettings& settings, WorkerContext* context) {
  WavInfo source;
  WavInfo sample;
  JobHost* host = settings.ownerWindow;
  if (!OpenJobWav(source, settings.sourcePath, FailureFile::kSource, host)) return false;
  if (!OpenJobWav(sample, settings.samplePath, FailureFile::kSample, host)) return false;
  if (!CheckJobWavFormat(source, settings.sourcePath, FailureFile::kSource, host)) return false;
  if (!CheckJobWavFormat(sample, settings.samplePath, FailureFile::kSample, host)) return false;

  // A split must hold at least one whole analysis block, and its frame count fit 32 bits.
  if (settings.splitMilliseconds < kMinAnalysableSplitMilliseconds ||
      settings.splitMilliseconds > kMaxSplitMilliseconds) {
    return Fail(host, FailureReason::kSplitLength, FailureFile::kNone, {},
                std::to_string(settings.splitMilliseconds) + " ms");
  }
  const SplitGeometry g = SplitGeometryFor(settings.splitMilliseconds);
  const uint32_t sourceSplits = SourceSplitCount(source, g);
  if (settings.observer != nullptr) {
    settings.observer->OnGeometry(settings.splitMilliseconds, g.framesPerSplit, g.blocksPerSplit, sourceSplits);
  }

  std::unique_ptr<SourceSplitTable> table;
  std::vector<CandidateScore> scores;
  SplitBuffer buffer;
  try {
    table = std::make_unique<SourceSplitTable>(sourceSplits, g.blocksPerSplit);
    scores.resize(sourceSplits);
    buffer.resize(g.bytesPerSplit);
  } catch (const std::bad_alloc&) {
    return Fail(host, FailureReason::kOutOfMemory, FailureFile::kNone, {});
  }

  BeatAnalyzer analyzer;
  if (!SetupBeatAnalyzer(analyzer, static_cast<int32_t>(g.blocksPerSplit))) return false;
  SetProgressText(context, "Prepare source beats information..");
  if (!PrepareSourceSplits(source, g, *table, context)) {
    if (Terminated(context)) return Fail(host, FailureReason::kStopped, FailureFile::kNone, {});
    return Fail(host, FailureReason::kReadFailed, FailureFile::kSource, settings.sourcePath.string());
  }
  SetProgressText(context, kPleaseWait);

  Candidates candidates;
  candidates.count = sourceSplits;
  candidates.masks = table->Table();
  candidates.fetch = [&](uint32_t r, uint8_t* out) {
    return ReadWavFrames(source, out, table->FramePosition(r), g.framesPerSplit) == g.framesPerSplit;
  };
  return WriteBestMatches(settings, context, sample, g, candidates, analyzer, buffer, scores);
}

}  // namespace kestrune
