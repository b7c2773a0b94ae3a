// Finding a piece of a sample anywhere in one or more sources: the request,
// what is found, and how each source fared. The search compares the
// fragment as a whole with a candidate starting at every multiple of a hop,
// not only on the split grid, and says how sure it is of each match.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/options.h"
#include "common/worker.h"

namespace kestrune {

// True for a hop the search accepts (one of kFindHops).
bool ValidFindHop(uint32_t hop);

// Listener for a search in progress; every call comes on the job's thread.
class FindObserver {
 public:
  virtual ~FindObserver() = default;
  // Source index (into FindResult::sources) whose search begins or ends.
  virtual void OnSourceBegin(size_t /*index*/) {}
  virtual void OnSourceEnd(size_t /*index*/) {}
};

struct FindRequest {
  std::filesystem::path samplePath;
  // Sound files, or folders searched for every file with an audio extension
  // below them (see find_source.h). Ignored when database is set.
  std::vector<std::filesystem::path> sources;
  std::filesystem::path database;    // a splits database to search instead
  uint32_t splitMilliseconds = kSplitMsOption.byDefault;  // not used with a database: it has its own
  uint32_t startOffset = kStartOffsetOption.byDefault;  // whole splits of the sample skipped
  uint32_t fragmentLength = kFragmentLengthOption.byDefault;  // F: templates in the fragment
  uint32_t hop = kDefaultFindHop;    // frames between candidate starts
  uint32_t top = kFindTopOption.byDefault;    // confident matches reported at most
  double minScore = kDefaultFindMinScore;
  uint32_t threads = 0;              // 0: WorkerThreads()
  // Writing: each confident match as NAME_found_NN.wav in outputFolder
  // (a plain prefix that ends with a separator), ramped when declick is set.
  bool write = false;
  bool declick = false;
  std::string outputFolder;
  // When nonzero: for each source, the best similarity of the starts within
  // each of this many equal stretches of the source (a curve to draw).
  uint32_t curvePoints = 0;
  JobHost* host = nullptr;           // runs the conversions of written results
  FindObserver* observer = nullptr;
};

struct FindSourceStatus {
  std::filesystem::path path;        // as given, or as found in a folder
  std::optional<uint32_t> frames;    // set when the source was read
  std::string error;                 // why the source was skipped; empty when searched
  uint64_t starts = 0;               // starts compared (silent ones left out)
  double meanSimilarity = 0.0;       // over those starts, percent
  double deviation = 0.0;            // population standard deviation, percent
  double median = 0.0;               // percent
  double lowerDeviation = 0.0;       // the median less the lower 15.87 % point
  // The same two of the starts' agreements beyond chance (FindMatch::excess).
  double excessMedian = 0.0;
  double excessLowerDeviation = 0.0;
  double scoreDeviation = 0.0;       // what the score divides by: excessLowerDeviation, capped (docs/find.md)
  // curvePoints values in percent, -1 where a stretch holds no start.
  std::vector<float> curve;
};

struct FindMatch {
  size_t source = 0;        // index into FindResult::sources
  uint32_t frame = 0;       // start in the source (for a database, in the WAV it was built from)
  uint32_t comparedFrame = 0;  // the start on the hop grid that agreement and bits belong to
  uint32_t record = 0;      // database only: the first split record compared
  uint32_t agreement = 0;   // mask bits that agree
  uint32_t bits = 0;        // mask bits compared
  double similarity = 0.0;  // agreement * 100 / bits
  // The agreement beyond what blocks with these numbers of set bits reach
  // by chance, in percent of the bits compared (BeyondChance in
  // find_scores.h). The score is built on it.
  double excess = 0.0;
  double z = 0.0;           // (similarity - mean) / deviation over the source's starts
  // (similarity - median) / the deviation of the lower half of the source's
  // starts: the upper half holds related material (beat-aligned and
  // repeated passages, the match's own neighbourhood), which inflates a
  // plain deviation.
  double lowerZ = 0.0;
  // The lower-half deviation of the excess of the starts within 30 s of
  // this one, and the deviation the score divided by (docs/find.md).
  double localDeviation = 0.0;
  double scoreDeviation = 0.0;
  double score = 0.0;       // the confidence score compared with minScore (docs/find.md)
  bool confident = false;
  std::optional<std::filesystem::path> file;  // written result
};

struct FindResult {
  // The search ran on at least one source. When false, failure says why.
  bool searched = false;
  std::string failure;
  bool stopped = false;     // the user stopped the run
  bool allWritten = true;   // every requested result file was written
  uint32_t splitMilliseconds = 0;
  uint32_t framesPerSplit = 0;
  uint32_t blocksPerSplit = 0;
  uint32_t hop = 0;
  uint32_t fragmentFrames = 0;   // F * framesPerSplit
  uint32_t sampleFirstFrame = 0; // startOffset * framesPerSplit
  uint64_t startsSearched = 0;   // over all sources
  double scoreAllowance = 0.0;   // what the number of starts takes off the score (see docs/find.md)
  // The informative blocks of the templates compared per start
  // (FindTemplates::InformativeBlocks) and the factor they shrink z by.
  double informativeBlocks = 0.0;
  double scoreShrink = 1.0;
  // The templates' worth of foreground blocks compared per start: the
  // templates times the share of their audible blocks that are not
  // background (FindTemplates::background). The deviation's cap is set by it.
  double comparedTemplates = 0.0;
  std::vector<FindSourceStatus> sources;
  std::vector<FindMatch> matches;  // best first
};

// Runs the search on the calling thread (with a pool of threads for the
// analysis), reporting progress to context (which may be null) and stopping
// when it is terminated. Writes the results when asked. Returns
// result.searched && !result.stopped.
bool RunFind(const FindRequest& request, FindResult& result, WorkerContext* context);

// The pair a job host runs: pUserData points at a FindJob.
struct FindJob {
  FindRequest request;
  FindResult result;
};
bool FindWorker(WorkerContext* context);

}  // namespace kestrune
