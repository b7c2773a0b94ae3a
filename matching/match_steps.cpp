#include "matching/match_steps.h"

#include <cstdio>

#include "common/sample_frame.h"
#include "matching/result_files.h"

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
