#include "ui/clip_frames.h"

#include <QFile>

#include <algorithm>
#include <filesystem>

#include "storage/splits_database.h"
#include "storage/wav_file.h"

namespace kestrune::ui {
namespace {

std::filesystem::path ToPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

// Splits longer than this are not played (a split is at most a few seconds).
constexpr uint32_t kMaxClipFrames = 44100 * 120;

// Frames of a 44100 Hz stereo 16-bit WAV file, 0 when it is not one.
uint64_t WavFrameCount(const QString& path) {
  WavInfo info;
  if (!OpenWavFile(info, ToPath(path), false)) return 0;
  if (info.blockAlign != 4 || info.channels != 2 || info.bitsPerSample != 16) return 0;
  return info.dataSize / 4;
}

// Up to frameCount frames from firstFrame, as many as the file holds.
QByteArray WavFramesUpTo(const QString& path, uint64_t firstFrame, uint32_t frameCount) {
  const uint64_t frames = WavFrameCount(path);
  if (firstFrame >= frames) return {};
  const uint64_t count = std::min<uint64_t>({frameCount, frames - firstFrame, kMaxClipFrames});
  return WavFrames(path, firstFrame, static_cast<uint32_t>(count));
}

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

QByteArray FoundStretchFrames(const RunResults& results, size_t row) {
  if (!results.find || row >= results.find->stretches.size()) return {};
  const FoundStretch& f = results.find->stretches[row];
  if (!results.databaseSource) return WavFramesUpTo(f.source, f.frame, f.frames);
  SplitsDatabase database;
  if (!database.Open(ToPath(f.source))) return {};
  QByteArray bytes;
  const uint64_t last = std::min<uint64_t>(uint64_t{f.record} + results.fragmentLength, database.SplitCount());
  for (uint64_t r = f.record; r < last; ++r) {
    SplitAudio audio;
    if (!database.ReadSplit(static_cast<uint32_t>(r), audio) || audio.samples == nullptr) return {};
    if (static_cast<uint64_t>(bytes.size()) + audio.byteCount > uint64_t{kMaxClipFrames} * 4) break;
    bytes.append(reinterpret_cast<const char*>(audio.samples), static_cast<qsizetype>(audio.byteCount / 4 * 4));
  }
  return bytes;
}

QByteArray SampleFragmentFrames(const RunResults& results) {
  if (!results.find) return {};
  return WavFramesUpTo(results.samplePath, results.find->sampleFirstFrame, results.find->fragmentFrames);
}

}  // namespace kestrune::ui
