// The settings of one matching job, filled from the main window or the
// command line and read by the job for the whole run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/options.h"
#include "common/worker.h"

namespace kestrune {

struct CandidateScore;

// Optional listener for what a run finds and writes (the command line's JSON
// report uses it). Called on the job's thread.
class MatchObserver {
 public:
  virtual ~MatchObserver() = default;
  virtual void OnGeometry(uint32_t splitMilliseconds, uint32_t framesPerSplit, uint32_t blocksPerSplit,
                          uint32_t sourceSplits) = 0;
  // A candidate split written for a template split, in the order written.
  virtual void OnMatch(uint32_t templateIndex, uint32_t sourceSplit, uint32_t agreement) = 0;
  // A result file finished: templateIndex is the template split it holds in
  // separate-files mode, or -1 for the one file of the run.
  virtual void OnResultFile(int64_t templateIndex, const std::filesystem::path& path, bool written) = 0;
  // Every candidate's agreement with template split templateIndex, best first
  // (equal agreements in no set order); once per template split, before its
  // matches. For pictures of the whole source; the default ignores it.
  virtual void OnScores(uint32_t templateIndex, const CandidateScore* ranked, uint32_t count) {
    (void)templateIndex;
    (void)ranked;
    (void)count;
  }
};

struct MatchSettings {
  std::string outputFolder;        // plain prefix of every result path; ends with a separator
  std::filesystem::path sourcePath;  // a WAV file, or a splits database
  std::filesystem::path samplePath;
  uint32_t splitMilliseconds = kSplitMsOption.byDefault;  // not used with a splits database
  uint32_t startOffset = kStartOffsetOption.byDefault;  // whole splits of the sample skipped
  uint32_t fragmentLength = kFragmentLengthOption.byDefault;  // consecutive template splits
  uint32_t minSimilarity = kMinSimilarityOption.byDefault;  // percent
  bool declick = false;
  bool separateFiles = false;        // one result file per template split
  JobHost* ownerWindow = nullptr;    // shows messages and runs the conversion
  MatchObserver* observer = nullptr;
  // Count what would be written first, and ask ownerWindow before writing a
  // result larger than kLargeResultBytes or holding more than 90 % of the
  // source's splits. Off for the command line, which writes as told.
  bool confirmLargeResults = false;
};

inline constexpr uint64_t kLargeResultBytes = uint64_t{1} << 30;

inline constexpr char kCaption[] = "Sound processing";
inline constexpr char kFormatMessage[] = "Only 44 kHz 2 chanels PCM wav files supported";
inline constexpr char kConvertFailedMessage[] = "Error occurs while converting sound.";
inline constexpr char kProcessFailedMessage[] = "Error occurs while processing sound.";
inline constexpr char kPleaseWait[] = "Please Wait...";

}  // namespace kestrune
