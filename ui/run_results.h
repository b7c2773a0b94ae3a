// What a matching run found and wrote, collected while it runs, for the
// results window: the selected splits per template split, the files written
// and a summary of every candidate's similarity across the source.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "matching/match_settings.h"
#include "ui/find_run.h"

namespace kestrune::ui {

struct MatchRow {
  uint32_t templateIndex = 0;
  uint32_t sourceSplit = 0;
  uint32_t agreement = 0;
};

struct WrittenFile {
  int64_t templateIndex = -1;  // -1: the one file of the run
  QString path;
  int64_t bytes = -1;  // -1 when it was not written
};

struct RunResults {
  // Highest number of columns in the similarity summary of one template
  // split, whatever the length of the source: keeps the summary small and
  // drawing it fast on long sources.
  static constexpr uint32_t kMaxColumns = 4096;

  QString sourcePath;
  QString samplePath;
  QString outputFolder;
  bool databaseSource = false;
  uint32_t startOffset = 0;
  uint32_t fragmentLength = 0;
  uint32_t minSimilarity = 0;

  uint32_t splitMilliseconds = 0;
  uint32_t framesPerSplit = 0;
  uint32_t blocksPerSplit = 0;
  uint32_t sourceSplits = 0;

  std::vector<MatchRow> matches;  // in the order written
  std::vector<WrittenFile> files;

  // peaks[j][c]: the highest agreement of any source split in column c for
  // template split j; each column covers splitsPerColumn source splits.
  uint32_t splitsPerColumn = 1;
  std::vector<std::vector<uint32_t>> peaks;

  // Set for a run of the search at any offset: what it found, in place of
  // the matches and peaks above.
  std::optional<FindRunData> find;

  double Similarity(uint32_t agreement) const;
  // Milliseconds from the start of the source to the start of a split.
  uint64_t StartMilliseconds(uint32_t sourceSplit) const;
  // The file that holds template split j's matches, or empty.
  QString FileFor(uint32_t templateIndex) const;
  uint32_t ColumnCount() const;

  // The table in the shape of the command line's JSON report (of find for
  // a search at any offset).
  QByteArray ToJson() const;
  // One line per match: template,split,start,agreement,similarity,file.
  QByteArray ToCsv() const;
};

// mm:ss.mmm (minutes keep counting past 59).
QString ClockText(uint64_t milliseconds);

// Fills a RunResults from a run's observer calls (on the job's thread; read
// the results only after the run has ended).
class ResultsCollector : public MatchObserver {
 public:
  explicit ResultsCollector(RunResults* results) : results_(results) {}
  void OnGeometry(uint32_t splitMilliseconds, uint32_t framesPerSplit, uint32_t blocksPerSplit,
                  uint32_t sourceSplits) override;
  void OnMatch(uint32_t templateIndex, uint32_t sourceSplit, uint32_t agreement) override;
  void OnResultFile(int64_t templateIndex, const std::filesystem::path& path, bool written) override;
  void OnScores(uint32_t templateIndex, const CandidateScore* ranked, uint32_t count) override;

 private:
  RunResults* results_;
};

}  // namespace kestrune::ui
