// The search job: opens the sample and the sources, scores every start of
// each source, turns the scores into confident matches and writes them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <system_error>

#include "common/path_text.h"
#include "common/split_geometry.h"
#include "common/threads.h"
#include "matching/find_confidence.h"
#include "matching/find_database_scan.h"
#include "matching/find_ranking.h"
#include "matching/find_request.h"
#include "matching/find_source.h"
#include "matching/find_templates.h"
#include "matching/find_wav_scan.h"
#include "matching/find_write.h"
#include "matching/match_steps.h"
#include "storage/splits_database.h"

namespace kestrune {
namespace {

std::string PathText(const std::filesystem::path& path) { return Utf8Of(path); }

// Reports the progress of the whole search from the shares of its sources.
class SearchProgress {
 public:
  SearchProgress(WorkerContext* context, std::vector<uint64_t> weights) : context_(context), weights_(std::move(weights)) {
    for (uint64_t w : weights_) total_ += w;
  }
  void Within(size_t source, double done) {
    if (total_ == 0) return;
    uint64_t before = 0;
    for (size_t i = 0; i < source && i < weights_.size(); ++i) before += weights_[i];
    const double share = (static_cast<double>(before) + done * static_cast<double>(weights_[source])) / total_;
    SetProgressPos(context_, static_cast<uint32_t>(std::min(100.0, share * 100.0)));
  }

 private:
  WorkerContext* context_;
  std::vector<uint64_t> weights_;
  uint64_t total_ = 0;
};

bool AllZero(FindAudio& audio, uint64_t first, uint64_t frames) {
  std::vector<uint8_t> buffer(size_t{kBlockFrames} * 4 * 64);
  const uint64_t end = std::min<uint64_t>(first + frames, audio.Frames());
  for (uint64_t at = first; at < end;) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(end - at, buffer.size() / 4));
    const uint32_t got = audio.Read(static_cast<uint32_t>(at), n, buffer.data());
    if (got == 0) return true;
    for (size_t i = 0; i < size_t{got} * 4; ++i) {
      if (buffer[i] != 0) return false;
    }
    at += got;
  }
  return true;
}

StartLayout DatabaseLayout(const DatabaseStarts& starts, uint32_t framesPerSplit, uint32_t hop) {
  StartLayout layout;
  layout.count = starts.Count();
  layout.frame = [starts, framesPerSplit, hop](uint64_t i) {
    return static_cast<uint32_t>(uint64_t{starts.Record(i)} * framesPerSplit - uint64_t{starts.Shift(i)} * hop);
  };
  layout.near = [starts, framesPerSplit](uint32_t f, uint32_t window, const std::function<void(uint64_t)>& visit) {
    // Start (r, s) lies at r * framesPerSplit - s, s below a split length.
    const uint64_t lo = f / framesPerSplit >= 1 + window / framesPerSplit ? f / framesPerSplit - 1 - window / framesPerSplit : 0;
    const uint64_t hi = std::min<uint64_t>(starts.records, (uint64_t{f} + window) / framesPerSplit + 2);
    for (uint64_t r = lo; r < hi; ++r) {
      for (uint64_t s = 0; s < starts.shifts; ++s) visit(s * starts.records + r);
    }
  };
  // One hop later is one shift less; across a record the shifts do not meet evenly.
  layout.neighbour = [starts](uint64_t i, int direction) -> std::optional<uint64_t> {
    const uint64_t shift = starts.Shift(i);
    if (direction > 0) return shift > 0 ? std::optional<uint64_t>(i - starts.records) : std::nullopt;
    return shift + 1 < starts.shifts ? std::optional<uint64_t>(i + starts.records) : std::nullopt;
  };
  layout.hop = hop;
  return layout;
}

// Everything a search of one kind needs to know of its fragment.
struct Fragment {
  SplitGeometry g;
  uint32_t splitMilliseconds = 0;
  uint64_t first = 0;  // first frame in the sample
};

// The stretch of frames [first, first + frames) of audio, shorter at its end.
std::vector<uint8_t> ReadStretch(FindAudio& audio, uint32_t first, uint32_t frames) {
  const uint32_t available = first < audio.Frames() ? std::min(frames, audio.Frames() - first) : 0;
  std::vector<uint8_t> bytes(size_t{available} * 4);
  const uint32_t got = available == 0 ? 0 : audio.Read(first, available, bytes.data());
  bytes.resize(size_t{got} * 4);
  return bytes;
}

// A conversion inside the search: named in the window, its share mapped onto
// [from, to) of the bar by at, stopped with the search.
convert::Progress ConversionProgress(WorkerContext* context, const std::filesystem::path& file,
                                     const std::function<void(double)>& at) {
  return [context, name = "Converting " + PathText(file.filename()), at](uint32_t percent) {
    SetProgressText(context, name);
    at(percent / 100.0);
    return !Terminated(context);
  };
}

void WriteMatches(const FindRequest& request, FindResult& result,
                  const std::function<std::vector<uint8_t>(const FindMatch&)>& stretch, WorkerContext* context) {
  // Numbered in the order reported, written source by source, so that a
  // source read through a converted copy is converted only once.
  std::vector<std::pair<size_t, uint32_t>> order;
  for (size_t k = 0; k < result.matches.size(); ++k) {
    if (result.matches[k].confident) order.emplace_back(k, static_cast<uint32_t>(order.size() + 1));
  }
  std::stable_sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
    return result.matches[a.first].source < result.matches[b.first].source;
  });
  for (const auto& [index, number] : order) {
    FindMatch& m = result.matches[index];
    SetProgressText(context, "Writing " + PathText(FoundResultPath(request.outputFolder, request.samplePath, number).filename()));
    std::vector<uint8_t> bytes;
    try {
      bytes = stretch(m);
    } catch (const std::bad_alloc&) {
      bytes.clear();
    }
    const auto target = FoundResultPath(request.outputFolder, request.samplePath, number);
    if (!bytes.empty() && WriteFoundStretch(bytes, request.declick, target, request.host)) {
      m.file = target;
    } else {
      result.allWritten = false;
    }
  }
}

bool Fail(FindResult& result, std::string why) {
  result.failure = std::move(why);
  return false;
}

// Searches the WAV sources; fills the statuses and the candidate matches.
bool SearchWavSources(const FindRequest& request, const Fragment& fragment, FindAudio& sample, FindResult& result,
                      std::vector<FindMatch>& candidates, WorkerContext* context) {
  const SplitGeometry& g = fragment.g;
  const uint32_t f = request.fragmentLength;
  BeatAnalyzer analyzer;
  if (!SetupBeatAnalyzer(analyzer, static_cast<int32_t>(g.blocksPerSplit))) return Fail(result, "not enough memory");
  FindTemplates templates;
  const uint64_t spacing = uint64_t{g.blocksPerSplit} * kBlockFrames;
  if (!AnalyseTemplates(sample, fragment.first, spacing, f, analyzer, templates)) {
    return Fail(result, PathText(request.samplePath) + ": the sample ends before the fragment does");
  }
  if (templates.AudibleBlocks() == 0) return Fail(result, PathText(request.samplePath) + ": the fragment is all digital silence");
  result.informativeBlocks = templates.InformativeBlocks();
  result.comparedTemplates = templates.ComparedTemplates();

  for (const auto& given : request.sources) {
    for (SourceEntry& e : ListSourceFiles(given)) {
      FindSourceStatus status;
      status.path = e.path;
      status.error = e.error;
      result.sources.push_back(std::move(status));
    }
  }
  if (result.sources.empty()) return Fail(result, "no audio file in the sources given");
  std::vector<uint64_t> weights;
  for (const auto& s : result.sources) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(s.path, ec);
    weights.push_back(ec ? 1 : std::max<uint64_t>(1, size));
  }
  SearchProgress progress(context, weights);
  const uint32_t allPairs = f * g.blocksPerSplit;
  bool anyRead = false;
  for (size_t i = 0; i < result.sources.size(); ++i) {
    FindSourceStatus& status = result.sources[i];
    if (!status.error.empty()) continue;
    if (Terminated(context)) return false;
    if (request.observer != nullptr) request.observer->OnSourceBegin(i);
    SetProgressText(context, "Searching " + PathText(status.path.filename()));
    // A converted source: the conversion takes the first half of its share.
    std::unique_ptr<FindAudio> audio = OpenFindAudio(
        status.path, status.error,
        ConversionProgress(context, status.path, [&](double done) { progress.Within(i, done * 0.5); }));
    if (!audio) {
      if (Terminated(context)) {
        status.error.clear();  // stopped, not skipped
        return false;
      }
      continue;
    }
    const double scanFrom = audio->Converted() ? 0.5 : 0.0;
    SetProgressText(context, "Searching " + PathText(status.path.filename()));
    status.frames = audio->Frames();
    const uint64_t count = WavStartCount(audio->Frames(), request.hop, f, g.blocksPerSplit);
    StartScores scores;
    try {
      scores.Reset(count, templates.HasBackground() ? static_cast<uint32_t>(templates.ForegroundBlocks()) : 0);
    } catch (const std::bad_alloc&) {
      status.error = "not enough memory for its scores";
      continue;
    }
    WavScanWork work;
    work.audio = audio.get();
    work.templates = &templates;
    work.hop = request.hop;
    work.threads = request.threads != 0 ? request.threads : WorkerThreads();
    work.stopRequested = [context] { return Terminated(context); };
    work.progress = [&](double done) { progress.Within(i, scanFrom + done * (1.0 - scanFrom)); };
    if (!ScanWavSource(work, scores)) {
      if (Terminated(context)) return false;
      status.error = "could not be read to its end";
      status.frames.reset();
      continue;
    }
    anyRead = true;
    const SimilarityStats stats = ComputeStats(scores, allPairs);
    status.starts = stats.starts;
    status.meanSimilarity = stats.mean;
    status.deviation = stats.deviation;
    status.median = stats.median;
    status.lowerDeviation = stats.lowerDeviation;
    status.excessMedian = stats.excessMedian;
    status.excessLowerDeviation = stats.excessLowerDeviation;
    status.scoreDeviation = ScoreDeviation(stats.excessLowerDeviation, result.comparedTemplates);
    result.startsSearched += stats.starts;
    const StartLayout layout = WavStartLayout(count, request.hop);
    if (request.curvePoints > 0) {
      status.curve = SimilarityCurve(scores, allPairs, layout, audio->Frames(), request.curvePoints);
    }
    for (FindMatch& m : PickBestStarts(scores, allPairs, stats, layout, g.framesPerSplit, request.top)) {
      m.source = i;
      m.record = 0;
      candidates.push_back(m);
    }
    if (request.observer != nullptr) request.observer->OnSourceEnd(i);
  }
  if (!anyRead) return Fail(result, "no source could be read");
  return true;
}

bool SearchDatabase(const FindRequest& request, SplitsDatabase& db, const Fragment& fragment, FindAudio& sample,
                    FindResult& result, std::vector<FindMatch>& candidates, WorkerContext* context) {
  const SplitGeometry& g = fragment.g;
  FindSourceStatus status;
  status.path = request.database;
  status.frames = static_cast<uint32_t>(std::min<uint64_t>(UINT32_MAX, uint64_t{db.SplitCount()} * g.framesPerSplit));
  result.sources.push_back(status);
  const uint32_t templates = request.fragmentLength - 1;
  uint32_t foreground = 0;
  {
    // The templates of shift 0, one split apart, as the scan compares them.
    BeatAnalyzer analyzer;
    FindTemplates shifted;
    if (!SetupBeatAnalyzer(analyzer, static_cast<int32_t>(g.blocksPerSplit)) ||
        !AnalyseTemplates(sample, fragment.first, g.framesPerSplit, templates, analyzer, shifted)) {
      return Fail(result, PathText(request.samplePath) + ": the sample ends before the fragment does");
    }
    result.informativeBlocks = shifted.InformativeBlocks();
    result.comparedTemplates = shifted.ComparedTemplates();
    foreground = static_cast<uint32_t>(shifted.ForegroundBlocks());
  }
  const DatabaseStarts starts = DatabaseStartLayout(db, templates, request.hop);
  StartScores scores;
  try {
    // Each shift has templates of its own, and so background blocks of its
    // own: the background sums are kept whatever shift 0 has.
    scores.Reset(starts.Count(), std::max<uint32_t>(1, foreground));
  } catch (const std::bad_alloc&) {
    return Fail(result, PathText(request.database) + ": not enough memory for its scores");
  }
  SearchProgress progress(context, {1});
  DatabaseScanWork work;
  work.database = &db;
  work.sample = &sample;
  work.fragmentFirst = fragment.first;
  work.templates = templates;
  work.hop = request.hop;
  work.threads = request.threads != 0 ? request.threads : WorkerThreads();
  work.stopRequested = [context] { return Terminated(context); };
  work.progress = [&](double done) { progress.Within(0, done); };
  if (request.observer != nullptr) request.observer->OnSourceBegin(0);
  SetProgressText(context, "Searching " + PathText(request.database.filename()));
  std::string failure;
  if (!ScanDatabase(work, scores, failure)) {
    if (Terminated(context)) return false;
    return Fail(result, failure.empty() ? "the search could not be equipped" : PathText(request.samplePath) + ": " + failure);
  }
  const uint32_t allPairs = templates * g.blocksPerSplit;
  const SimilarityStats stats = ComputeStats(scores, allPairs);
  FindSourceStatus& s = result.sources[0];
  s.starts = stats.starts;
  s.meanSimilarity = stats.mean;
  s.deviation = stats.deviation;
  s.median = stats.median;
  s.lowerDeviation = stats.lowerDeviation;
  s.excessMedian = stats.excessMedian;
  s.excessLowerDeviation = stats.excessLowerDeviation;
  s.scoreDeviation = ScoreDeviation(stats.excessLowerDeviation, result.comparedTemplates);
  result.startsSearched = stats.starts;
  const StartLayout layout = DatabaseLayout(starts, g.framesPerSplit, request.hop);
  if (request.curvePoints > 0 && s.frames) {
    s.curve = SimilarityCurve(scores, allPairs, layout, *s.frames, request.curvePoints);
  }
  for (FindMatch& m : PickBestStarts(scores, allPairs, stats, layout, g.framesPerSplit, request.top)) {
    m.source = 0;
    m.record = starts.Record(m.record);
    candidates.push_back(m);
  }
  if (request.observer != nullptr) request.observer->OnSourceEnd(0);
  return true;
}

}  // namespace

bool ValidFindHop(uint32_t hop) { return std::find(std::begin(kFindHops), std::end(kFindHops), hop) != std::end(kFindHops); }

bool RunFind(const FindRequest& request, FindResult& result, WorkerContext* context) {
  result = FindResult{};
  if (!ValidFindHop(request.hop)) return Fail(result, "the hop must be 1024, 512, 256, 128 or 64 frames");
  if (request.top == 0 || !kFindTopOption.Holds(request.top)) return Fail(result, "the number of matches must be 1 to 100");
  if (request.fragmentLength == 0) return Fail(result, "the fragment needs at least one split");
  if (!std::isfinite(request.minScore)) return Fail(result, "the minimum score must be a number");
  const bool fromDatabase = !request.database.empty();

  SplitsDatabase db;
  Fragment fragment;
  if (fromDatabase) {
    if (request.fragmentLength < 2) return Fail(result, "a database search needs a fragment of at least 2 splits");
    if (!db.Open(request.database)) return Fail(result, PathText(request.database) + ": cannot be opened as a splits database");
    fragment.splitMilliseconds = db.splitMilliseconds;
    fragment.g.framesPerSplit = db.framesPerSplit;
    fragment.g.blocksPerSplit = db.blocksPerSplit;
    fragment.g.bytesPerSplit = db.bytesPerSplit;
    if (db.blocksPerSplit == 0 || db.framesPerSplit == 0) {
      return Fail(result, PathText(request.database) + ": its split length holds no whole analysis block");
    }
  } else {
    if (request.splitMilliseconds < kMinAnalysableSplitMilliseconds || request.splitMilliseconds > kMaxSplitMilliseconds) {
      return Fail(result, "the split length holds no whole analysis block");
    }
    fragment.splitMilliseconds = request.splitMilliseconds;
    fragment.g = SplitGeometryFor(request.splitMilliseconds);
  }
  const SplitGeometry& g = fragment.g;
  fragment.first = uint64_t{request.startOffset} * g.framesPerSplit;
  result.splitMilliseconds = fragment.splitMilliseconds;
  result.framesPerSplit = g.framesPerSplit;
  result.blocksPerSplit = g.blocksPerSplit;
  result.hop = request.hop;
  result.fragmentFrames = static_cast<uint32_t>(std::min<uint64_t>(UINT32_MAX, uint64_t{request.fragmentLength} * g.framesPerSplit));
  result.sampleFirstFrame = static_cast<uint32_t>(std::min<uint64_t>(UINT32_MAX, fragment.first));

  std::string why;
  std::unique_ptr<FindAudio> sample = OpenFindAudio(
      request.samplePath, why,
      ConversionProgress(context, request.samplePath, [context](double done) {
        SetProgressPos(context, static_cast<uint32_t>(done * 100.0));
      }));
  if (!sample) {
    if (Terminated(context)) {
      result.stopped = true;
      return false;
    }
    return Fail(result, PathText(request.samplePath) + ": " + why);
  }
  if (fragment.first + uint64_t{request.fragmentLength} * (fromDatabase ? g.framesPerSplit : g.blocksPerSplit * uint64_t{kBlockFrames}) >
      sample->Frames()) {
    return Fail(result, PathText(request.samplePath) + ": the sample ends before the fragment does");
  }
  if (fromDatabase && AllZero(*sample, fragment.first, uint64_t{request.fragmentLength} * g.framesPerSplit)) {
    return Fail(result, PathText(request.samplePath) + ": the fragment is all digital silence");
  }

  std::vector<FindMatch> candidates;
  const bool ok = fromDatabase ? SearchDatabase(request, db, fragment, *sample, result, candidates, context)
                               : SearchWavSources(request, fragment, *sample, result, candidates, context);
  if (Terminated(context)) {
    result.stopped = true;
    return false;
  }
  if (!ok) return false;
  result.searched = true;

  result.scoreAllowance = ScoreAllowance(result.startsSearched);
  result.scoreShrink = ScoreShrink(result.informativeBlocks);
  for (FindMatch& m : candidates) {
    const FindSourceStatus& source = result.sources[m.source];
    // The wider of the source's spread and the spread around the match.
    m.scoreDeviation = ScoreDeviation(std::max(source.excessLowerDeviation, m.localDeviation), result.comparedTemplates);
    m.score = MatchScore(m.excess, source.excessMedian, m.scoreDeviation, result.scoreShrink, result.scoreAllowance);
    m.confident = m.score >= request.minScore;
  }
  std::stable_sort(candidates.begin(), candidates.end(), [](const FindMatch& a, const FindMatch& b) { return a.score > b.score; });
  for (const FindMatch& m : candidates) {
    if (m.confident && result.matches.size() < request.top) result.matches.push_back(m);
  }
  if (result.matches.empty() && !candidates.empty()) result.matches.push_back(candidates.front());

  if (request.write) {
    const uint32_t frames = result.fragmentFrames;
    if (fromDatabase) {
      WriteMatches(request, result, [&](const FindMatch& m) {
        std::vector<uint8_t> bytes;
        for (uint32_t k = 0; k < request.fragmentLength && m.record + k < db.SplitCount(); ++k) {
          SplitAudio split;
          if (!db.ReadSplit(m.record + k, split) || split.samples == nullptr) return std::vector<uint8_t>{};
          bytes.insert(bytes.end(), split.samples, split.samples + split.byteCount);
        }
        return bytes;
      }, context);
    } else {
      // The stretches come from the sound that was searched: for a converted
      // source, the same conversion again (it is reproducible byte for byte).
      size_t openIndex = SIZE_MAX;
      std::unique_ptr<FindAudio> open;
      WriteMatches(request, result, [&](const FindMatch& m) {
        if (m.source != openIndex) {
          open.reset();
          openIndex = m.source;
          std::string error;
          const auto& path = result.sources[m.source].path;
          open = OpenFindAudio(path, error, ConversionProgress(context, path, [context](double done) {
                                 SetProgressPos(context, static_cast<uint32_t>(done * 100.0));
                               }));
        }
        return open ? ReadStretch(*open, m.frame, frames) : std::vector<uint8_t>{};
      }, context);
    }
  }
  return true;
}

bool FindWorker(WorkerContext* context) {
  auto* job = static_cast<FindJob*>(context->pUserData);
  SetProgressText(context, kPleaseWait);
  return RunFind(job->request, job->result, context);
}

}  // namespace kestrune
