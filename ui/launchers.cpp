#include "ui/launchers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <filesystem>
#include <optional>
#include <vector>

#include "analysis/onset_tempo_worker.h"
#include "analysis/tempo_worker.h"
#include "matching/match_settings.h"
#include "matching/match_workers.h"
#include "matching/result_files.h"
#include "ui/find_launcher.h"
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
// but success is reported with the one failure message, its cause in the
// details. A result the user chose not to write is no failure.
bool RunMatch(QWidget* owner, UserPrompts& prompts, MatchSettings& settings, WorkerProc worker,
              RunResults* results) {
  int code;
  std::optional<FailureCause> cause;
  ResultsCollector collector(results);
  if (results != nullptr) settings.observer = &collector;
  settings.confirmLargeResults = true;
  {
    CUPDialog dialog(owner, false, kProcessingTitle, worker, &settings);
    QtJobHost host(dialog, prompts);
    settings.ownerWindow = &host;
    code = dialog.DoModal();
    dialog.Cleanup();
    cause = host.Cause();
  }
  if (code == PD_SUCCEEDED) return true;
  if (code == PD_TERMINATED) cause = FailureCause{FailureReason::kStopped, FailureFile::kNone, {}, {}};
  if (cause && cause->reason == FailureReason::kDeclined) return false;
  prompts.ShowDetailedMessage(nullptr, kCaption, kProcessFailedMessage,
                              cause ? QString::fromStdString(DescribeFailure(*cause)) : QString(),
                              UserPrompts::Icon::None);
  return false;
}

// Asks once before a run whose results would replace files; true to go on.
bool MayReplaceResults(QWidget* owner, UserPrompts& prompts, const QString& outputFolder,
                       const QString& samplePath, uint32_t fragmentLength, uint32_t separateFiles) {
  return MayReplace(owner, prompts, ExistingResultFiles(outputFolder, samplePath, fragmentLength, separateFiles != 0));
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

bool MayReplace(QWidget* owner, UserPrompts& prompts, const QStringList& existing) {
  if (existing.isEmpty()) return true;
  const QString text = existing.size() == 1
                           ? QObject::tr("The result file %1 exists already. Replace it?").arg(existing.first())
                           : QObject::tr("%1 result files exist already. Replace them?").arg(existing.size());
  return prompts.Ask(owner, kCaption, text, existing.join(QLatin1Char('\n')), QObject::tr("Replace"));
}

QStringList ExistingResultFiles(const QString& outputFolder, const QString& samplePath, uint32_t fragmentLength,
                                bool separateFiles) {
  const std::string folder = QFile::encodeName(outputFolder).toStdString();
  const std::filesystem::path sample = ToPath(samplePath);
  std::vector<std::optional<uint32_t>> names;
  if (separateFiles) {
    for (uint32_t j = 0; j < fragmentLength; ++j) names.emplace_back(j);
  } else {
    names.emplace_back(std::nullopt);
  }
  QStringList existing;
  for (const auto& j : names) {
    const QString path = QFile::decodeName(ResultPath(folder, sample, j).string().c_str());
    if (QFileInfo::exists(path)) existing << QDir::toNativeSeparators(path);
  }
  return existing;
}

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
  if (!MayReplaceResults(owner, m_prompts, outputFolder, samplePath, fragmentLength, separateFiles)) return false;
  auto results = NewResults(outputFolder, sourcePath, samplePath, startOffset, fragmentLength, minSimilarity);
  const bool ok = LaunchWavMatch(owner, m_prompts, outputFolder, sourcePath, samplePath, splitMilliseconds,
                                 startOffset, fragmentLength, minSimilarity, declick, separateFiles, results.get());
  if (ok) m_results = std::move(results);
  return ok;
}

bool CoreLaunchers::DatabaseMatch(QWidget* owner, const QString& outputFolder, const QString& databasePath,
                                  const QString& samplePath, uint32_t startOffset, uint32_t fragmentLength,
                                  uint32_t minSimilarity, uint32_t declick, uint32_t separateFiles) {
  if (!MayReplaceResults(owner, m_prompts, outputFolder, samplePath, fragmentLength, separateFiles)) return false;
  auto results = NewResults(outputFolder, databasePath, samplePath, startOffset, fragmentLength, minSimilarity);
  results->databaseSource = true;
  const bool ok = LaunchDatabaseMatch(owner, m_prompts, outputFolder, databasePath, samplePath, startOffset,
                                      fragmentLength, minSimilarity, declick, separateFiles, results.get());
  if (ok) m_results = std::move(results);
  return ok;
}

bool CoreLaunchers::Find(QWidget* owner, const FindRunSettings& settings) {
  if (!MayReplace(owner, m_prompts, ExistingFoundFiles(settings.outputFolder, settings.samplePath))) return false;
  auto results = NewResults(settings.outputFolder, settings.sourcePath, settings.samplePath, settings.startOffset,
                            settings.fragmentLength, 0);
  results->databaseSource = settings.databaseSource;
  const bool ok = LaunchFind(owner, m_prompts, settings, results.get());
  if (ok) m_results = std::move(results);
  return ok;
}

bool CoreLaunchers::TempoEstimate(QWidget* owner, const QString& sourcePath, double* estimate) {
  return LaunchTempoEstimate(owner, sourcePath, estimate);
}

bool CoreLaunchers::TempoEstimates(QWidget* owner, const QString& sourcePath, double* estimate, OnsetTempo* other) {
  return LaunchTempoEstimates(owner, sourcePath, estimate, other);
}

}  // namespace kestrune::ui
