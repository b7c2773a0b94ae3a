#include "ui/launchers.h"

#include <QFile>

#include <filesystem>

#include "analysis/onset_tempo_worker.h"
#include "analysis/tempo_worker.h"
#include "matching/match_settings.h"
#include "matching/match_workers.h"
#include "ui/qt_job_host.h"
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
bool RunMatch(QWidget* owner, UserPrompts& prompts, MatchSettings& settings, WorkerProc worker) {
  int code;
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

}  // namespace

bool LaunchWavMatch(QWidget* owner, UserPrompts& prompts, const QString& outputFolder,
                    const QString& sourcePath, const QString& samplePath, uint32_t splitMilliseconds,
                    uint32_t startOffset, uint32_t fragmentLength, uint32_t minSimilarity,
                    uint32_t declick, uint32_t separateFiles) {
  MatchSettings settings = MatchRecord(outputFolder, sourcePath, samplePath, startOffset, fragmentLength,
                                       minSimilarity, declick, separateFiles);
  settings.splitMilliseconds = splitMilliseconds;
  return RunMatch(owner, prompts, settings, WavMatchWorker);
}

bool LaunchDatabaseMatch(QWidget* owner, UserPrompts& prompts, const QString& outputFolder,
                         const QString& databasePath, const QString& samplePath, uint32_t startOffset,
                         uint32_t fragmentLength, uint32_t minSimilarity, uint32_t declick,
                         uint32_t separateFiles) {
  MatchSettings settings = MatchRecord(outputFolder, databasePath, samplePath, startOffset, fragmentLength,
                                       minSimilarity, declick, separateFiles);
  return RunMatch(owner, prompts, settings, DatabaseMatchWorker);
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

bool LaunchTempoEstimates(QWidget* owner, const QString& sourcePath, double* estimate, OnsetTempo* other) {
  TempoPairRequest request;
  request.main.sourcePath = request.other.sourcePath = ToPath(sourcePath);
  CUPDialog dialog(owner, false, kTempoTitle, TempoPairWorker, &request);
  const int code = dialog.DoModal();
  // Read once the dialog has ended: the worker stored both before the end
  // was posted. A stopped run offers nothing.
  const bool estimated = code == PD_SUCCEEDED;
  if (estimated && estimate != nullptr) *estimate = request.main.tempo;
  if (other != nullptr) *other = code == PD_TERMINATED ? OnsetTempo{} : request.other.result;
  dialog.Cleanup();
  return estimated;
}

bool CoreLaunchers::WavMatch(QWidget* owner, const QString& outputFolder, const QString& sourcePath,
                             const QString& samplePath, uint32_t splitMilliseconds, uint32_t startOffset,
                             uint32_t fragmentLength, uint32_t minSimilarity, uint32_t declick,
                             uint32_t separateFiles) {
  return LaunchWavMatch(owner, m_prompts, outputFolder, sourcePath, samplePath, splitMilliseconds,
                        startOffset, fragmentLength, minSimilarity, declick, separateFiles);
}

bool CoreLaunchers::DatabaseMatch(QWidget* owner, const QString& outputFolder, const QString& databasePath,
                                  const QString& samplePath, uint32_t startOffset, uint32_t fragmentLength,
                                  uint32_t minSimilarity, uint32_t declick, uint32_t separateFiles) {
  return LaunchDatabaseMatch(owner, m_prompts, outputFolder, databasePath, samplePath, startOffset,
                             fragmentLength, minSimilarity, declick, separateFiles);
}

bool CoreLaunchers::TempoEstimate(QWidget* owner, const QString& sourcePath, double* estimate) {
  return LaunchTempoEstimate(owner, sourcePath, estimate);
}

bool CoreLaunchers::TempoEstimates(QWidget* owner, const QString& sourcePath, double* estimate, OnsetTempo* other) {
  return LaunchTempoEstimates(owner, sourcePath, estimate, other);
}

}  // namespace kestrune::ui
