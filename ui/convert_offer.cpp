#include "ui/convert_offer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "convert/convert_job.h"
#include "matching/match_settings.h"
#include "ui/up_dialog.h"
#include "ui/user_prompts.h"

namespace kestrune::ui {
namespace {

std::filesystem::path ToPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

QString CopyPath(const QString& original, const QString& outputFolder) {
  const QFileInfo info(original);
  const QString name = info.completeBaseName() + QStringLiteral("_44k.wav");
  const QFileInfo folder(info.absolutePath());
  if (folder.isDir() && folder.isWritable()) return QDir::toNativeSeparators(folder.absoluteFilePath() + "/" + name);
  // outputFolder ends with a separator.
  return QDir::toNativeSeparators(outputFolder + name);
}

}  // namespace

OfferOutcome OfferConversion(QWidget* owner, UserPrompts& prompts, const QString& outputFolder, QString& path) {
  if (path.isEmpty()) return OfferOutcome::Unchanged;
  const std::filesystem::path file = ToPath(path);
  if (convert::IsTargetFormat(file)) return OfferOutcome::Unchanged;
  // A file that cannot be read at all is left to the job and its messages.
  std::string error;
  const auto format = convert::Probe(file, error);
  if (!format) return OfferOutcome::Unchanged;

  const QString copy = CopyPath(path, outputFolder);
  const QString detail = QStringLiteral("%1 is %2.\nConvert a copy to 44100 Hz, 2 channels, 16-bit PCM as %3 and use it?")
                             .arg(QFileInfo(path).fileName(), QString::fromStdString(convert::Describe(*format)), copy);
  if (!prompts.AskToConvert(owner, kCaption, kFormatMessage, detail)) return OfferOutcome::Cancelled;

  convert::ConvertJob job;
  job.input = file;
  job.output = ToPath(copy);
  {
    CUPDialog dialog(owner, true, convert::kConvertingTitle, convert::ConvertWorker, &job);
    dialog.DoModal();
    dialog.Cleanup();
  }
  if (job.result.status == convert::Status::Stopped) return OfferOutcome::Cancelled;
  if (!job.result.Succeeded()) {
    prompts.ShowMessage(owner, kCaption,
                        QStringLiteral("Cannot convert %1: %2").arg(path, QString::fromStdString(job.result.error)),
                        UserPrompts::Icon::Exclamation);
    return OfferOutcome::Cancelled;
  }
  path = copy;
  return OfferOutcome::Converted;
}

QString SoundFileFilter(const char* wavFilter) {
  const QString wav = QString::fromUtf8(wavFilter);
  if (!convert::Available()) return wav;
  QStringList patterns;
  for (const std::string& p : convert::ReadablePatterns()) patterns << QString::fromStdString(p);
  // After the WAV entry, before "All Files".
  const qsizetype split = wav.indexOf(QStringLiteral(";;"));
  const QString audio = QStringLiteral("Audio files (%1)").arg(patterns.join(QLatin1Char(' ')));
  return split < 0 ? wav + ";;" + audio : wav.left(split) + ";;" + audio + wav.mid(split);
}

}  // namespace kestrune::ui
