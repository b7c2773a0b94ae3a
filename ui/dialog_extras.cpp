#include "ui/dialog_extras.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>

#include "common/options.h"
#include "common/split_geometry.h"
#include "matching/wav_format_text.h"
#include "storage/wav_file.h"
#include "ui/tamberly_dlg.h"

namespace kestrune::ui {

std::optional<LiveSplitLength> SplitLengthForTempoText(const QString& bpmText, int32_t noteFraction) {
  bool ok = false;
  const uint32_t bpm = bpmText.trimmed().toUInt(&ok);
  if (!ok || !kBpmOption.Holds(bpm)) return std::nullopt;
  LiveSplitLength live;
  live.milliseconds = SplitLengthForTempo(bpm, noteFraction);
  if (SplitFromTempo(bpm, noteFraction) != live.milliseconds) {
    live.note = QStringLiteral("%1 ms (held to %2..%3)").arg(live.milliseconds)
                    .arg(kSplitMsOption.low)
                    .arg(kSplitMsOption.high);
  }
  return live;
}

DropTarget DropTargetFor(const QString& path, bool sourceEmpty) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QStringLiteral("qlmx")) return DropTarget::Database;
  if (suffix == QStringLiteral("wav")) return sourceEmpty ? DropTarget::Source : DropTarget::Sample;
  return DropTarget::None;
}

QString SampleLengthText(const QString& samplePath, uint32_t splitMilliseconds) {
  if (samplePath.isEmpty()) return QString();
  WavInfo info;
  if (!OpenWavFile(info, std::filesystem::path(QFile::encodeName(samplePath).toStdString()), false)) {
    return QObject::tr("(cannot be read as a WAV file)");
  }
  if (!IsMatchableFormat(info)) {
    return QObject::tr("(%1: not usable)").arg(QString::fromStdString(FormatText(info)));
  }
  if (splitMilliseconds < kMinAnalysableSplitMilliseconds || splitMilliseconds > kMaxSplitMilliseconds) {
    return QString();
  }
  const SplitGeometry g = SplitGeometryFor(splitMilliseconds);
  const uint64_t splits = uint64_t{info.dataSize} / g.bytesPerSplit;
  return splits == 1 ? QObject::tr("(1 split)") : QObject::tr("(%1 splits)").arg(splits);
}

QString FolderOf(const QString& path) {
  if (path.isEmpty()) return QString();
  return QFileInfo(path).absolutePath();
}

}  // namespace kestrune::ui
