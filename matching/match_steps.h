// The steps that both matching jobs share: the format check, the template
// splits of the sample, the selection walk and the result files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/beat_analyzer.h"
#include "common/split_buffer.h"
#include "common/split_geometry.h"
#include "common/worker.h"
#include "matching/match_settings.h"
#include "matching/similarity.h"
#include "platform/file.h"
#include "storage/wav_file.h"

namespace kestrune {

// PCM, 2 channels, 16 bits, 44100 Hz and 4 bytes a frame; otherwise shows the
// format message through host and returns false.
bool CheckWavFormat(const WavInfo& info, JobHost* host);

// OpenWavFile for a job's source or sample; a failure reports its cause
// (the system's reason, or not a WAV file) through host.
bool OpenJobWav(WavInfo& info, const std::filesystem::path& path, FailureFile which, JobHost* host);
// CheckWavFormat, reporting the file's actual format as the cause first.
bool CheckJobWavFormat(const WavInfo& info, const std::filesystem::path& path, FailureFile which,
                       JobHost* host);

// "Template split - %d, src split written - %d", both counted from 0.
std::string TemplateWrittenText(uint32_t templateIndex, uint32_t sourceSplit);

// True once the user asked the run to stop.
bool Terminated(const WorkerContext* context);

// Reads template split j of the sample (from split startOffset + j) into
// buffer and leaves its masks in the analyser. False when the split does not
// lie wholly inside the sample.
bool AnalyseTemplateSplit(WavInfo& sample, const MatchSettings& settings, const SplitGeometry& g,
                          uint32_t j, uint8_t* buffer, BeatAnalyzer& analyzer);

// Scores every candidate against the analyser's masks, ranks them (ranker
// reserved for candidateCount and 32 * blocksPerSplit) and returns how many
// leading ranked positions are taken.
uint32_t RankAndSelect(const BeatAnalyzer& analyzer, const SplitGeometry& g, uint32_t candidateCount,
                       const MaskTable& candidates, uint32_t minSimilarity,
                       std::vector<CandidateScore>& scores, CandidateRanker& ranker);

// The candidates of a job and how their sound is had.
struct Candidates {
  uint32_t count = 0;
  MaskTable masks;
  // Fills buffer with the bytes of candidate index; false when its sound cannot be had.
  std::function<bool(uint32_t index, uint8_t* buffer)> fetch;
  bool fetchBeforeText = false;    // announce a split only once its sound is there
  bool skipEmptyResults = false;   // an empty result is not converted
};

// For each template split: analyse it, rank the candidates, and write the
// best ones (declicked when asked) into the result, converting each result
// when complete. False on the first failure or when the run is stopped.
bool WriteBestMatches(const MatchSettings& settings, WorkerContext* context, WavInfo& sample,
                      const SplitGeometry& g, const Candidates& candidates, BeatAnalyzer& analyzer,
                      SplitBuffer& buffer, std::vector<CandidateScore>& scores);

// One result in the making: a temporary raw file in the temporary folder,
// converted into a WAV file when complete. The temporary file is removed on
// every way out.
class ResultWriter {
 public:
  explicit ResultWriter(const MatchSettings& settings) : settings_(settings) {}
  ~ResultWriter();
  ResultWriter(const ResultWriter&) = delete;
  ResultWriter& operator=(const ResultWriter&) = delete;

  bool Begin();
  bool Append(const uint8_t* bytes, size_t count);
  const std::filesystem::path& TempPath() const { return tempPath_; }
  // Flushes, converts (unless the result is empty and skipEmpty is set), then
  // closes and removes the temporary file. templateIndex names the result
  // of one template split; without it the result of the whole run.
  void Finish(std::optional<uint32_t> templateIndex, bool skipEmpty);

 private:
  void Discard();
  const MatchSettings& settings_;
  std::filesystem::path tempPath_;
  platform::File temp_;
};

}  // namespace kestrune
