#include "ui/find_launcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <filesystem>
#include <optional>

#include "common/failure_cause.h"
#include "matching/find_request.h"
#include "matching/find_write.h"
#include "matching/match_settings.h"
#include "ui/launchers.h"
#include "ui/qt_job_host.h"
#include "ui/run_results.h"
#include "ui/up_dialog.h"
#include "ui/user_prompts.h"

namespace kestrune::ui {
namespace {

std::filesystem::path ToPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

QString FoundPath(const QString& outputFolder, const QString& samplePath, uint32_t number) {
  const auto path = FoundResultPath(QFile::encodeName(outputFolder).toStdString(), ToPath(samplePath), number);
  return QDir::toNativeSeparators(QFile::decodeName(path.string().c_str()));
}

void ShowFailure(UserPrompts& prompts, const QString& details) {
  prompts.ShowDetailedMessage(nullptr, kCaption, kProcessFailedMessage, details, UserPrompts::Icon::None);
}

QString Describe(const FailureCause& cause) { return QString::fromStdString(DescribeFailure(cause)); }

// Why the search did not run to its end: its own reason, the host's cause
// and the sources it skipped.
QString FailureDetails(const FindResult& result, const std::optional<FailureCause>& cause) {
  QStringList lines;
  if (!result.failure.empty()) lines << QString::fromStdString(result.failure);
  else if (cause) lines << Describe(*cause);
  for (const FindSourceStatus& s : result.sources) {
    if (!s.error.empty()) lines << QFile::decodeName(s.path.string().c_str()) + QStringLiteral(": ") + QString::fromStdString(s.error);
  }
  return lines.join(QLatin1Char('\n'));
}

// The files of the run: each confident stretch has its number, written or not.
void ListFiles(const FindRunSettings& settings, RunResults& results) {
  uint32_t number = 0;
  for (const FoundStretch& f : results.find->stretches) {
    if (!f.confident) continue;
    ++number;  // as the search numbers them, written or not
    WrittenFile file;
    file.path = f.file.isEmpty() ? FoundPath(settings.outputFolder, settings.samplePath, number) : f.file;
    file.bytes = f.bytes;
    results.files.push_back(file);
  }
}

}  // namespace

QStringList ExistingFoundFiles(const QString& outputFolder, const QString& samplePath) {
  QStringList existing;
  for (uint32_t n = 1; n <= kDialogFindTop; ++n) {
    const QString path = FoundPath(outputFolder, samplePath, n);
    if (QFileInfo::exists(path)) existing << path;
  }
  return existing;
}

bool LaunchFind(QWidget* owner, UserPrompts& prompts, const FindRunSettings& settings, RunResults* results) {
  // A missing folder is said before a search that could take minutes.
  if (!QFileInfo(settings.outputFolder).isDir()) {
    ShowFailure(prompts, Describe({FailureReason::kOutputFolder, FailureFile::kOutput,
                                   QDir::toNativeSeparators(settings.outputFolder).toStdString(), {}}));
    return false;
  }
  FindJob job;
  FindRequest& request = job.request;
  request.samplePath = ToPath(settings.samplePath);
  if (settings.databaseSource) {
    request.database = ToPath(settings.sourcePath);
  } else {
    request.sources = {ToPath(settings.sourcePath)};
    request.splitMilliseconds = settings.splitMilliseconds;
  }
  request.startOffset = settings.startOffset;
  request.fragmentLength = settings.fragmentLength;
  request.hop = kDialogFindHop;
  request.top = kDialogFindTop;
  request.minScore = kDialogFindMinScore;
  request.write = true;
  request.declick = settings.declick;
  request.outputFolder = QFile::encodeName(settings.outputFolder).toStdString();
  request.curvePoints = RunResults::kMaxColumns;

  int code;
  std::optional<FailureCause> cause;
  {
    CUPDialog dialog(owner, false, kProcessingTitle, FindWorker, &job);
    QtJobHost host(dialog, prompts);
    request.host = &host;
    code = dialog.DoModal();
    dialog.Cleanup();
    cause = host.Cause();
    request.host = nullptr;
  }
  const FindResult& result = job.result;
  if (code == PD_TERMINATED || result.stopped) {
    ShowFailure(prompts, Describe({FailureReason::kStopped, FailureFile::kNone, {}, {}}));
    return false;
  }
  if (code != PD_SUCCEEDED) {
    ShowFailure(prompts, FailureDetails(result, cause));
    return false;
  }
  if (results != nullptr) {
    results->splitMilliseconds = result.splitMilliseconds;
    results->framesPerSplit = result.framesPerSplit;
    results->blocksPerSplit = result.blocksPerSplit;
    results->find = FindRunFrom(request, result);
    results->sourceSplits = result.framesPerSplit == 0 ? 0 : results->find->sourceFrames / result.framesPerSplit;
    ListFiles(settings, *results);
  }
  if (!result.allWritten) {
    QStringList lines{QObject::tr("The search ran, but a stretch it found could not be written.")};
    lines << (cause ? Describe(*cause)
                    : Describe({FailureReason::kWriteFailed, FailureFile::kOutput,
                                QDir::toNativeSeparators(settings.outputFolder).toStdString(), {}}));
    ShowFailure(prompts, lines.join(QLatin1Char('\n')));
  }
  return true;
}

}  // namespace kestrune::ui
