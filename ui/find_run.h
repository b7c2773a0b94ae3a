// What an any-offset search run from the dialog found and wrote, kept for
// the results window: the stretches (confident or the best candidate), the
// similarity curve across the source and the settings the export repeats.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrune {
struct FindRequest;
struct FindResult;
}  // namespace kestrune

namespace kestrune::ui {

struct FoundStretch {
  QString source;          // the searched file, as given
  uint32_t frame = 0;      // start in the source (for a database, in the WAV it was built from)
  uint32_t frames = 0;     // length of the stretch, shorter at the source's end
  uint32_t record = 0;     // database only: the first split record of the stretch
  uint32_t agreement = 0;
  uint32_t bits = 0;
  double similarity = 0.0;
  double score = 0.0;
  bool confident = false;
  QString file;            // written result, empty when none
  int64_t bytes = -1;      // its size, -1 when not written
};

struct SearchedSource {
  QString path;
  std::optional<uint32_t> frames;
  QString error;           // why it was skipped; empty when searched
};

struct FindRunData {
  uint32_t hop = 0;
  uint32_t fragmentFrames = 0;
  uint32_t sampleFirstFrame = 0;
  double minScore = 0.0;
  uint32_t sourceFrames = 0;          // of the searched source
  std::vector<float> curve;           // best similarity per stretch of the source, -1 where none
  float scoreLine = 0.0f;             // the similarity the minimum score asks for, percent
  std::vector<SearchedSource> sources;
  std::vector<FoundStretch> stretches;  // best first

  bool AnyConfident() const;
  // The curve's column that holds a frame of the source.
  uint32_t ColumnOf(uint32_t frame) const;
};

// The run's record from a finished search (files' sizes read from disk).
FindRunData FindRunFrom(const FindRequest& request, const FindResult& result);

// The export in the shape of kestrune-cli find --json; splitMs etc. as run.
QByteArray FoundJson(const FindRunData& run, const QString& samplePath, uint32_t splitMilliseconds,
                     uint32_t framesPerSplit, uint32_t blocksPerSplit);
// One line per stretch, under the keys of that report's matches.
QByteArray FoundCsv(const FindRunData& run);

}  // namespace kestrune::ui
