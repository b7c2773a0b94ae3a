#include "ui/clip_frames.h"

#include <QFile>

#include <filesystem>

#include "storage/splits_database.h"
#include "storage/wav_file.h"

namespace kestrune::ui {
namespace {

std::filesystem::path ToPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

// Splits longer than this are not played (a split is at most a few seconds).
constexpr uint32_t kMaxClipFrames = 44100 * 120;

}  // namespace

QByteArray WavFrames(const QString& path, uint64_t firstFrame, uint32_t frameCount) {
  if (frameCount == 0 || frameCount > kMaxClipFrames || firstFrame > UINT32_MAX) return {};
  WavInfo info;
  if (!OpenWavFile(info, ToPath(path), false)) return {};
  if (info.blockAlign != 4 || info.channels != 2 || info.bitsPerSample != 16) return {};
  QByteArray bytes(static_cast<qsizetype>(frameCount) * 4, Qt::Uninitialized);
  if (ReadWavFrames(info, bytes.data(), static_cast<uint32_t>(firstFrame), frameCount) != frameCount) return {};
  return bytes;
}

QByteArray SourceSplitFrames(const RunResults& results, uint32_t split) {
  if (!results.databaseSource) {
    return WavFrames(results.sourcePath, uint64_t{split} * results.framesPerSplit, results.framesPerSplit);
  }
  SplitsDatabase database;
  if (!database.Open(ToPath(results.sourcePath)) || split >= database.SplitCount()) return {};
  SplitAudio audio;
  if (!database.ReadSplit(split, audio) || audio.samples == nullptr) return {};
  if (audio.byteCount > kMaxClipFrames * 4) return {};
  return QByteArray(reinterpret_cast<const char*>(audio.samples), static_cast<qsizetype>(audio.byteCount / 4 * 4));
}

QByteArray TemplateSplitFrames(const RunResults& results, uint32_t j) {
  const uint64_t first = (uint64_t{results.startOffset} + j) * results.framesPerSplit;
  return WavFrames(results.samplePath, first, results.framesPerSplit);
}

}  // namespace kestrune::ui
