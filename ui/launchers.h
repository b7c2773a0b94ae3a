// The launchers: each copies its arguments into a record of its own, runs the
// job's worker behind a progress dialog and turns the end code into a result.
// The matching launchers report their failures themselves; the tempo launcher
// leaves that to its caller.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

#include "analysis/onset_tempo.h"

class QWidget;

namespace kestrune::ui {

class UserPrompts;
struct FindRunSettings;
struct RunResults;

inline constexpr char kProcessingTitle[] = "Processing sound.";
inline constexpr char kTempoTitle[] = "Calculating BPM";

// Matches a sample against a WAV source. True when the job succeeded;
// otherwise "Error occurs while processing sound." is shown and the result is
// false.
// When results is given, it receives what the run found and wrote.
bool LaunchWavMatch(QWidget* owner, UserPrompts& prompts, const QString& outputFolder,
                    const QString& sourcePath, const QString& samplePath, uint32_t splitMilliseconds,
                    uint32_t startOffset, uint32_t fragmentLength, uint32_t minSimilarity,
                    uint32_t declick, uint32_t separateFiles, RunResults* results = nullptr);

// Matches a sample against a splits database, which fixes the split length.
// Reports failures like LaunchWavMatch.
bool LaunchDatabaseMatch(QWidget* owner, UserPrompts& prompts, const QString& outputFolder,
                         const QString& databasePath, const QString& samplePath, uint32_t startOffset,
                         uint32_t fragmentLength, uint32_t minSimilarity, uint32_t declick,
                         uint32_t separateFiles, RunResults* results = nullptr);

// The result files of a run that exist already (native paths).
QStringList ExistingResultFiles(const QString& outputFolder, const QString& samplePath, uint32_t fragmentLength,
                                bool separateFiles);

// Asks once, listing them, before files are replaced ("Replace" / "Cancel");
// true to go on (also when the list is empty).
bool MayReplace(QWidget* owner, UserPrompts& prompts, const QStringList& existing);

// Estimates the tempo of a WAV file behind "Calculating BPM". True when an
// estimate was made; it is stored in *estimate only then. Shows nothing.
bool LaunchTempoEstimate(QWidget* owner, const QString& sourcePath, double* estimate);

// The same estimate, then the onset estimate on the same worker behind the
// same dialog; *other receives it unless the run was stopped.
bool LaunchTempoEstimates(QWidget* owner, const QString& sourcePath, double* estimate, OnsetTempo* other);

// The launchers as the main dialog calls them; tests put their own in place.
class JobLaunchers {
 public:
  virtual ~JobLaunchers() = default;
  virtual bool WavMatch(QWidget* owner, const QString& outputFolder, const QString& sourcePath,
                        const QString& samplePath, uint32_t splitMilliseconds, uint32_t startOffset,
                        uint32_t fragmentLength, uint32_t minSimilarity, uint32_t declick,
                        uint32_t separateFiles) = 0;
  virtual bool DatabaseMatch(QWidget* owner, const QString& outputFolder, const QString& databasePath,
                             const QString& samplePath, uint32_t startOffset, uint32_t fragmentLength,
                             uint32_t minSimilarity, uint32_t declick, uint32_t separateFiles) = 0;
  // Stores the estimate in *estimate only when it succeeds.
  virtual bool TempoEstimate(QWidget* owner, const QString& sourcePath, double* estimate) = 0;
  // TempoEstimate, then the second estimate into *other (left empty here).
  virtual bool TempoEstimates(QWidget* owner, const QString& sourcePath, double* estimate, OnsetTempo* other) {
    if (other != nullptr) *other = {};
    return TempoEstimate(owner, sourcePath, estimate);
  }
  // The search at any offset (find_launcher.h). Test doubles that do not
  // search run nothing and say so with false.
  virtual bool Find(QWidget* /*owner*/, const FindRunSettings& /*settings*/) { return false; }
  // What the last successful matching run or search found and wrote, once;
  // null when there is nothing to show.
  virtual std::shared_ptr<RunResults> TakeResults() { return nullptr; }
};

// The launchers above, showing their messages through prompts.
class CoreLaunchers : public JobLaunchers {
 public:
  explicit CoreLaunchers(UserPrompts& prompts) : m_prompts(prompts) {}
  bool WavMatch(QWidget* owner, const QString& outputFolder, const QString& sourcePath,
                const QString& samplePath, uint32_t splitMilliseconds, uint32_t startOffset,
                uint32_t fragmentLength, uint32_t minSimilarity, uint32_t declick,
                uint32_t separateFiles) override;
  bool DatabaseMatch(QWidget* owner, const QString& outputFolder, const QString& databasePath,
                     const QString& samplePath, uint32_t startOffset, uint32_t fragmentLength,
                     uint32_t minSimilarity, uint32_t declick, uint32_t separateFiles) override;
  // Asks before replacing found files, then LaunchFind.
  bool Find(QWidget* owner, const FindRunSettings& settings) override;
  bool TempoEstimate(QWidget* owner, const QString& sourcePath, double* estimate) override;
  bool TempoEstimates(QWidget* owner, const QString& sourcePath, double* estimate, OnsetTempo* other) override;
  std::shared_ptr<RunResults> TakeResults() override { return std::move(m_results); }

 private:
  UserPrompts& m_prompts;
  std::shared_ptr<RunResults> m_results;
};

}  // namespace kestrune::ui
