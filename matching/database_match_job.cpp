#include "matching/database_match_job.h"

#include <cstring>
#include <vector>

#include "matching/match_steps.h"
#include "storage/splits_database.h"

namespace kestrune {

bool MatchDatabaseSource(const MatchSettings& settings, WorkerContext* context) {
  SplitsDatabase database;
  WavInfo sample;
  JobHost* host = settings.ownerWindow;
  if (!database.Open(settings.sourcePath)) {
    const std::string reason = platform::OpenReadFailure(settings.sourcePath);
    return Fail(host, reason.empty() ? FailureReason::kNotDatabase : FailureReason::kCannotOpen,
                FailureFile::kSource, settings.sourcePath.string(), reason);
  }
  if (!OpenJobWav(sample, settings.samplePath, FailureFile::kSample, host)) return false;
  if (!CheckJobWavFormat(sample, settings.samplePath, FailureFile::kSample, host)) return false;

  SplitGeometry g;
  g.framesPerSplit = database.framesPerSplit;
  g.blocksPerSplit = database.blocksPerSplit;
  g.bytesPerSplit = database.bytesPerSplit;
  const uint32_t splits = database.SplitCount();
  if (settings.observer != nullptr) {
    settings.observer->OnGeometry(database.splitMilliseconds, g.framesPerSplit, g.blocksPerSplit, splits);
  }
  const MaskTable masks{splits > 0 ? database.SplitRecordAt(0) : nullptr, database.recordSize,
                        kSplitRecordMasksOffset};

  std::vector<CandidateScore> scores;
  SplitBuffer buffer;
  try {
    scores.resize(splits);
    buffer.resize(g.bytesPerSplit);
  } catch (const std::bad_alloc&) {
    return Fail(host, FailureReason::kOutOfMemory, FailureFile::kNone, {});
  }
  BeatAnalyzer analyzer;
  if (!SetupBeatAnalyzer(analyzer, static_cast<int32_t>(g.blocksPerSplit))) return false;

  Candidates candidates;
  candidates.count = splits;
  candidates.masks = masks;
  candidates.fetch = [&](uint32_t e, uint8_t* out) {
    SplitAudio audio;
    if (!database.ReadSplit(e, audio) || audio.samples == nullptr) return false;
    std::memcpy(out, audio.samples, g.bytesPerSplit);
    return true;
  };
  candidates.fetchBeforeText = true;
  candidates.skipEmptyResults = true;
  return WriteBestMatches(settings, context, sample, g, candidates, analyzer, buffer, scores);
}

}  // namespace kestrune
