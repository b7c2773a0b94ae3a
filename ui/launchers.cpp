#include "ui/launchers.h"

#include <QFile>

#include <filesystem>

#include "analysis/tempo_worker.h"
#include "matching/match_settings.h"
#include "matching/match_workers.h"
#include "ui/qt_job_host.h"
#include "ui/run_results.h"
#include "ui/up_dialog.h"
#include "ui/user_prompts.h"

namespace kestrune::ui {
namespace {

std::filesystem::path ToPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

MatchSettings MatchRecord(const QString& outputFolder, const QString& sourcePath, const QString& samplePath,
                          uint32_t startOffset, uint32_t fragmentLength, uint32_t minSimilarity,
                          uint32_t declick, uint32_t separateFiles) {
  MatchSettings settings;
  settings.outputFolder = QFile::encodeName(outputFolder).toStdString();
  settings.sourcePath = ToPath(sourcePath);
  settings.samplePath = ToPath(samplePath);
  settings.startOffset = startOffset;
  settings.fragmentLength = fragmentLength;
  settings.minSimilarity = minSimilarity;
  settings.declick = declick != 0;
  settings.separateFiles = separateFiles != 0;
  return settings;
}

// Runs a matching worker over settings behind "Processing sound."; any end
// but success is reported with the one failure message.
bool RunMatch(QWidget* owner, UserPrompts& prompts, MatchSettings& settings, WorkerProc worker,
              RunResults* results) {
  int code;
  ResultsCollector collector(results);
  if (results != nullptr) settings.observer = &collector;
  {
    CUPDialog dialog(owner, false, kProcessingTitle, worker, &settings);
    QtJobHost host(dialog, prompts);
    settings.ownerWindow = &host;
    code = dialog.DoModal();
    dialog.Cleanup();
  }
  if (code == PD_SUCCEEDED) return true;
  prompts.ShowMessage(nullptr, kCaption, kProcessFailedMessage, UserPrompts::Icon::None);
  return false;
}

// The settings a run's results are read with.
std::shared_ptr<RunResults> NewResults(const QString& outputFolder, const QString& sourcePath,
                                       const QString& samplePath, uint32_t startOffset, uint32_t fragmentLength,
                                       uint32_t minSimilarity) {
  auto results = std::make_shared<RunResults>();
  results->outputFolder = outputFolder;
  results->sourcePath = sourcePath;
  results->samplePath = samplePath;
  results->startOffset = startOffset;
  results->fragmentLength = fragmentLength;
  results->minSimilarity = minSimilarity;
  return results;
}

}  // namespace

bool LaunchWavMatch(QWidget* owner, UserPrompts& prompts, const QString& outputFolder,
                    const QString& sourcePath, const QString& samplePath, uint32_t splitMilliseconds,
                    uint32_t startOffset, uint32_t fragmentLength, uint32_t minSimilarity,
                    uint32_t declick, uint32_t separateFiles, RunResults* results) {
  MatchSettings settings = MatchRecord(outputFolder, sourcePath, samplePath, startOffset, fragmentLength,
                                       minSimilarity, declick, separateFiles);
  settings.splitMilliseconds = splitMilliseconds;
  return RunMatch(owner, prompts, settings, WavMatchWorker, results);
}

bool LaunchDatabaseMatch(QWidget* owner, UserPrompts& prompts, const QString& outputFolder,
                         const QString& databasePath, const QString& samplePath, uint32_t startOffset,
                         uint32_t fragmentLength, uint32_t minSimilarity, uint32_t declick,
                         uint32_t separateFiles, RunResults* results) {
  MatchSettings settings = MatchRecord(outputFolder, databasePath, samplePath, startOffset, fragmentLength,
                                       minSimilarity, declick, separateFiles);
  return RunMatch(owner, prompts, settings, DatabaseMatchWorker, results);
}

bool LaunchTempoEstimate(QWidget* owner, const QString& sourcePath, double* estimate) {
  TempoRequest request;
  request.sourcePath = ToPath(sourcePath);
  CUPDialog dialog(owner, false, kTempoTitle, TempoWorker, &request);
  const int code = dialog.DoModal();
  // The estimate is read once the dialog has ended with success: the worker
  // has stored it before the end was posted.
  const bool estimated = code == PD_SUCCEEDED;
  if (estimated && estimate != nullptr) *estimate = request.tempo;
  dialog.Cleanup();
  return estimated;
}

bool CoreLaunchers::WavMatch(QWidget* owner, const QString& outputFolder, const QString& sourcePath,
                             const QString& samplePath, uint32_t splitMilliseconds, uint32_t startOffset,
                             uint32_t fragmentLength, uint32_t minSimilarity, uint32_t declick,
                             uint32_t separateFiles) {
  auto results = NewResults(outputFolder, sourcePath, samplePath, startOffset, fragmentLength, minSimilarity);
  const bool ok = LaunchWavMatch(owner, m_prompts, outputFolder, sourcePath, samplePath, splitMilliseconds,
                                 startOffset, fragmentLength, minSimilarity, declick, separateFiles, results.get());
  if (ok) m_results = std::move(results);
  return ok;
}

bool CoreLaunchers::DatabaseMatch(QWidget* owner, const QString& outputFolder, const QString& databasePath,
                                  const QString& samplePath, uint32_t startOffset, uint32_t fragmentLength,
                                  uint32_t minSimilarity, uint32_t declick, uint32_t separateFiles) {
  auto results = NewResults(outputFolder, databasePath, samplePath, startOffset, fragmentLength, minSimilarity);
  results->databaseSource = true;
  const bool ok = LaunchDatabaseMatch(owner, m_prompts, outputFolder, databasePath, samplePath, startOffset,
                                      fragmentLength, minSimilarity, declick, separateFiles, results.get());
  if (ok) m_results = std::move(results);
  return ok;
}

bool CoreLaunchers::TempoEstimate(QWidget* owner, const QString& sourcePath, double* estimate) {
  return LaunchTempoEstimate(owner, sourcePath, estimate);
}

}  // namespace kestrune::ui
