#include "matching/match_steps.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "analysis/declick.h"
#include "common/sample_frame.h"
#include "matching/result_files.h"
#include "matching/wav_format_text.h"

namespace kestrune {

bool CheckWavFormat(const WavInfo& info, JobHost* host) {
  // The block align is part of the format: the split buffers assume 4 bytes a frame.
  if (info.formatTag == 1 && info.channels == 2 && info.bitsPerSample == 16 &&
      info.sampleRate == 44100 && info.blockAlign == 4) {
    return true;
  }
  if (host != nullptr) host->ShowMessage(kFormatMessage, kCaption);
  return false;
}

bool OpenJobWav(WavInfo& info, const std::filesystem::path& path, FailureFile which, JobHost* host) {
  if (OpenWavFile(info, path, false)) return true;
  if (platform::KindOf(path) == platform::PathKind::Folder) {
    return Fail(host, FailureReason::kCannotOpen, which, path.string(), "it is a folder");
  }
  const std::string reason = platform::OpenReadFailure(path);
  if (!reason.empty()) return Fail(host, FailureReason::kCannotOpen, which, path.string(), reason);
  return Fail(host, FailureReason::kNotWav, which, path.string(),
              "it has no RIFF/WAVE header with a format and a data chunk");
}

bool CheckJobWavFormat(const WavInfo& info, const std::filesystem::path& path, FailureFile which,
                       JobHost* host) {
  if (!IsMatchableFormat(info)) Fail(host, FailureReason::kWrongFormat, which, path.string(), FormatText(info));
  return CheckWavFormat(info, host);
}

std::string TemplateWrittenText(uint32_t templateIndex, uint32_t sourceSplit) {
  char text[96];
  std::snprintf(text, sizeof text, "Template split - %u, src split written - %u", templateIndex, sourceSplit);
  return text;
}

bool Terminated(const WorkerContext* context) {
  return context != nullptr && context->bTerminate.load();
}

bool AnalyseTemplateSplit(WavInfo& sample, const MatchSettings& settings, const SplitGeometry& g,
                          uint32_t j, uint8_t* buffer, BeatAnalyzer& analyzer) {
  const uint64_t first = uint64_t{settings.startOffset} * g.framesPerSplit + uint64_t{j} * g.framesPerSplit;
  // A split beyond what 32-bit frame positions reach lies beyond any sample.
  if (first > UINT32_MAX) return false;
  if (ReadWavFrames(sample, buffer, static_cast<uint32_t>(first), g.framesPerSplit) != g.framesPerSplit) {
    return false;
  }
  return AnalyseSplit(analyzer, buffer);
}

uint32_t RankAndSelect(const BeatAnalyzer& analyzer, const SplitGeometry& g, uint32_t candidateCount,
                       const MaskTable& candidates, uint32_t minSimilarity,
                       std::vector<CandidateScore>& scores, CandidateRanker& ranker) {
  ScoreCandidates(analyzer.beatMasks.get(), g.blocksPerSplit, candidateCount, candidates, scores.data());
  ranker.Rank(scores, candidateCount);
  return SelectedCount(scores.data(), candidateCount, SelectionThreshold(g.blocksPerSplit, minSimilarity));
}

namespace {

// Why template split j could not be had: most often the fragment runs past
// the end of the sample.
bool TemplateSplitFailure(const WavInfo& sample, const MatchSettings& settings, const SplitGeometry& g,
                          JobHost* host) {
  const uint64_t have = g.bytesPerSplit == 0 ? 0 : uint64_t{sample.dataSize} / g.bytesPerSplit;
  const uint64_t need = uint64_t{settings.startOffset} + settings.fragmentLength;
  if (need > have) {
    return Fail(host, FailureReason::kSampleTooShort, FailureFile::kSample, settings.samplePath.string(),
                "the sample has only " + std::to_string(have) + " splits; the fragment needs " +
                    std::to_string(need));
  }
  return Fail(host, FailureReason::kReadFailed, FailureFile::kSample, settings.samplePath.string());
}

// Counts what the run would write, before anything is written, and asks
// the host when a result would be very large. False when the user declined
// (or the count could not be made because the run stopped).
bool ConfirmResultSize(const MatchSettings& settings, WorkerContext* context, WavInfo& sample,
                       const SplitGeometry& g, const Candidates& candidates, BeatAnalyzer& analyzer,
                       SplitBuffer& buffer, std::vector<CandidateScore>& scores,
                       CandidateRanker& ranker) {
  uint64_t total = 0;
  uint64_t largestFile = 0;
  for (uint32_t j = 0; j < settings.fragmentLength; ++j) {
    if (Terminated(context)) return Fail(settings.ownerWindow, FailureReason::kStopped, FailureFile::kNone, {});
    // A split that cannot be had fails the run itself, with its cause.
    if (!AnalyseTemplateSplit(sample, settings, g, j, buffer.data(), analyzer)) return true;
    const uint32_t taken =
        RankAndSelect(analyzer, g, candidates.count, candidates.masks, settings.minSimilarity, scores, ranker);
    total += taken;
    largestFile = std::max<uint64_t>(largestFile, settings.separateFiles ? taken : total);
  }
  const uint64_t largestBytes = largestFile * g.bytesPerSplit + 44;
  const bool huge = largestBytes > kLargeResultBytes;
  const bool nearlyAll = largestFile * 10 > uint64_t{candidates.count} * 9;
  if (!huge && !nearlyAll) return true;
  if (settings.ownerWindow->ConfirmLargeResult(largestBytes, largestFile, candidates.count)) return true;
  return Fail(settings.ownerWindow, FailureReason::kDeclined, FailureFile::kNone, {},
              std::to_string(largestFile) + " splits, " + std::to_string(largestBytes) + " bytes");
}

}  // namespace

bool WriteBestMatches(const MatchSettings& settings, WorkerContext* context, WavInfo& sample,
                      const SplitGeometry& g, const Candidates& candidates, BeatAnalyzer& analyzer,
                      SplitBuffer& buffer, std::vector<CandidateScore>& scores) {
  // The ranking's buffers, allocated once for the whole job.
  JobHost* host = settings.ownerWindow;
  const std::string source = settings.sourcePath.string();
  auto stopped = [&] { return Fail(host, FailureReason::kStopped, FailureFile::kNone, {}); };
  auto noTemplate = [&] { return TemplateSplitFailure(sample, settings, g, host); };
  auto unreadable = [&] { return Fail(host, FailureReason::kReadFailed, FailureFile::kSource, source); };
  auto noTemp = [&](const ResultWriter& w) {
    return Fail(host, FailureReason::kWriteFailed, FailureFile::kTemporary,
                w.TempPath().empty() ? platform::TempFolder().string() : w.TempPath().string());
  };
  CandidateRanker ranker;
  try {
    ranker.Reserve(candidates.count, 32 * g.blocksPerSplit);
  } catch (const std::bad_alloc&) {
    return Fail(host, FailureReason::kOutOfMemory, FailureFile::kNone, {});
  }
  if (settings.confirmLargeResults && host != nullptr) {
    const auto proceed = ConfirmResultSize(settings, context, sample, g, candidates, analyzer, buffer, scores, ranker);
    if (!proceed) return false;
  }
  ResultWriter writer(settings);
  if (!settings.separateFiles && !writer.Begin()) return noTemp(writer);

  for (uint32_t j = 0; j < settings.fragmentLength; ++j) {
    if (Terminated(context)) return stopped();
    SetProgressPos(context, static_cast<uint32_t>(uint64_t{j} * 100 / settings.fragmentLength));
    if (!AnalyseTemplateSplit(sample, settings, g, j, buffer.data(), analyzer)) return noTemplate();
    const uint32_t taken =
        RankAndSelect(analyzer, g, candidates.count, candidates.masks, settings.minSimilarity, scores, ranker);
    if (settings.observer != nullptr) settings.observer->OnScores(j, scores.data(), candidates.count);
    if (settings.separateFiles && !writer.Begin()) return noTemp(writer);

    for (uint32_t n = 0; n < taken; ++n) {
      if (Terminated(context)) return stopped();
      const uint32_t index = scores[n].index;
      if (candidates.fetchBeforeText && !candidates.fetch(index, buffer.data())) return unreadable();
      SetProgressText(context, TemplateWrittenText(j, index));
      if (!candidates.fetchBeforeText && !candidates.fetch(index, buffer.data())) return unreadable();
      if (settings.declick) ApplyDeclickRampBytes(buffer.data(), g.bytesPerSplit / 2);
      if (!writer.Append(buffer.data(), g.bytesPerSplit)) return noTemp(writer);
      if (settings.observer != nullptr) settings.observer->OnMatch(j, index, scores[n].agreement);
    }
    if (settings.separateFiles) writer.Finish(j, candidates.skipEmptyResults);
  }
  if (!settings.separateFiles) writer.Finish(std::nullopt, candidates.skipEmptyResults);
  return true;
}

ResultWriter::~ResultWriter() { Discard(); }

void ResultWriter::Discard() {
  temp_.Close();
  if (!tempPath_.empty()) platform::RemoveFile(tempPath_);
  tempPath_.clear();
}

bool ResultWriter::Begin() {
  Discard();
  auto path = MakeTempFileName();
  if (!path) return false;
  tempPath_ = *path;
  temp_ = platform::File::Create(tempPath_, true);
  return temp_.IsOpen();
}

bool ResultWriter::Append(const uint8_t* bytes, size_t count) { return temp_.Write(bytes, count); }

void ResultWriter::Finish(std::optional<uint32_t> templateIndex, bool skipEmpty) {
  temp_.Flush();
  const auto size = temp_.Size();
  const bool empty = !size || *size == 0;
  if (!(skipEmpty && empty)) {
    const auto target = ResultPath(settings_.outputFolder, settings_.samplePath, templateIndex);
    const bool written = ConvertSound(temp_, target, 1, 2, 44100, 4, 16, settings_.ownerWindow);
    if (settings_.observer != nullptr) {
      settings_.observer->OnResultFile(templateIndex ? int64_t{*templateIndex} : -1, target, written);
    }
  }
  Discard();
}

}  // namespace kestrune
