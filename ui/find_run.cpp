#include "ui/find_run.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

#include "matching/find_request.h"

namespace kestrune::ui {
namespace {

QString FromPath(const std::filesystem::path& path) { return QFile::decodeName(path.string().c_str()); }

QJsonValue OrNull(const QString& text) { return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text); }

// The similarity at which a start would reach the minimum score. The score
// is (excess - median) / deviation * shrink - allowance, the excess being the
// similarity less the agreement the start's blocks reach by chance: the line
// is exact for the best start of the source, whose chance is its similarity
// less its excess, and near it for the others. (When the fragment has
// background blocks, the excess is over its other blocks alone and the line
// only near the similarity the best start would need.)
double ScoreLine(const FindRequest& request, const FindResult& result, size_t source) {
  const FindSourceStatus& s = result.sources[source];
  if (!(result.scoreShrink > 0.0)) return 100.0;  // no start can reach it
  const double excess = s.excessMedian + (request.minScore + result.scoreAllowance) / result.scoreShrink * s.scoreDeviation;
  double chance = 50.0;
  for (const FindMatch& m : result.matches) {
    if (m.source == source) {
      chance = m.similarity - m.excess;
      break;
    }
  }
  return std::clamp(chance + excess, 0.0, 100.0);
}

}  // namespace

bool FindRunData::AnyConfident() const {
  return std::any_of(stretches.begin(), stretches.end(), [](const FoundStretch& s) { return s.confident; });
}

uint32_t FindRunData::ColumnOf(uint32_t frame) const {
  // The curve's own rule: frame * points / source frames, the last column
  // taking what lies beyond.
  if (curve.empty() || sourceFrames == 0) return 0;
  const uint64_t column = uint64_t{frame} * curve.size() / sourceFrames;
  return static_cast<uint32_t>(std::min<uint64_t>(column, curve.size() - 1));
}

FindRunData FindRunFrom(const FindRequest& request, const FindResult& result) {
  FindRunData run;
  run.hop = result.hop;
  run.fragmentFrames = result.fragmentFrames;
  run.sampleFirstFrame = result.sampleFirstFrame;
  run.minScore = request.minScore;
  for (const FindSourceStatus& s : result.sources) run.sources.push_back({FromPath(s.path), s.frames, QString::fromStdString(s.error)});
  // The dialog searches one source; its curve and its line are drawn.
  for (size_t i = 0; i < result.sources.size(); ++i) {
    const FindSourceStatus& s = result.sources[i];
    if (!s.frames || s.curve.empty()) continue;
    run.sourceFrames = *s.frames;
    run.curve = s.curve;
    run.scoreLine = static_cast<float>(ScoreLine(request, result, i));
    break;
  }
  const bool database = !request.database.empty();
  const uint32_t fps = result.framesPerSplit;
  for (const FindMatch& m : result.matches) {
    FoundStretch f;
    const FindSourceStatus& source = result.sources.at(m.source);
    f.source = FromPath(source.path);
    f.frame = m.frame;
    f.record = m.record;
    const uint32_t frames = source.frames.value_or(0);
    if (database) {
      // The records r .. r + F - 1, as they are written.
      const uint64_t records = fps == 0 ? 0 : frames / fps;
      const uint64_t left = records > m.record ? records - m.record : 0;
      f.frames = static_cast<uint32_t>(std::min<uint64_t>(left, request.fragmentLength) * fps);
    } else {
      f.frames = frames > m.frame ? std::min(result.fragmentFrames, frames - m.frame) : 0;
    }
    f.agreement = m.agreement;
    f.bits = m.bits;
    f.similarity = m.similarity;
    f.score = m.score;
    f.confident = m.confident;
    if (m.file) {
      f.file = FromPath(*m.file);
      const QFileInfo info(f.file);
      if (info.exists()) f.bytes = info.size();
    }
    run.stretches.push_back(f);
  }
  return run;
}

QByteArray FoundJson(const FindRunData& run, const QString& samplePath, uint32_t splitMilliseconds,
                     uint32_t framesPerSplit, uint32_t blocksPerSplit) {
  QJsonArray sources;
  for (const SearchedSource& s : run.sources) {
    sources.append(QJsonObject{{"path", s.path},
                               {"frames", s.frames ? QJsonValue(static_cast<qint64>(*s.frames)) : QJsonValue(QJsonValue::Null)},
                               {"error", OrNull(s.error)}});
  }
  QJsonArray matches;
  for (const FoundStretch& f : run.stretches) {
    matches.append(QJsonObject{{"source", f.source},
                               {"frame", static_cast<qint64>(f.frame)},
                               {"seconds", f.frame / 44100.0},
                               {"similarity", f.similarity},
                               {"agreement", static_cast<qint64>(f.agreement)},
                               {"bits", static_cast<qint64>(f.bits)},
                               {"score", f.score},
                               {"confident", f.confident},
                               {"file", OrNull(f.file)}});
  }
  const QJsonObject out{{"split_ms", static_cast<qint64>(splitMilliseconds)},
                        {"frames_per_split", static_cast<qint64>(framesPerSplit)},
                        {"blocks_per_split", static_cast<qint64>(blocksPerSplit)},
                        {"hop", static_cast<qint64>(run.hop)},
                        {"fragment_frames", static_cast<qint64>(run.fragmentFrames)},
                        {"sample", QJsonObject{{"path", samplePath}, {"first_frame", static_cast<qint64>(run.sampleFirstFrame)}}},
                        {"sources", sources},
                        {"matches", matches}};
  return QJsonDocument(out).toJson(QJsonDocument::Indented);
}

QByteArray FoundCsv(const FindRunData& run) {
  auto quoted = [](QString text) {
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
  };
  QString out = QStringLiteral("source,frame,seconds,similarity,agreement,bits,score,confident,file\n");
  for (const FoundStretch& f : run.stretches) {
    // Joined, not chained through arg(): a path may hold "%1".
    const QStringList fields{quoted(f.source),
                             QString::number(f.frame),
                             QString::number(f.frame / 44100.0, 'f', 6),
                             QString::number(f.similarity, 'f', 4),
                             QString::number(f.agreement),
                             QString::number(f.bits),
                             QString::number(f.score, 'f', 4),
                             f.confident ? QStringLiteral("true") : QStringLiteral("false"),
                             f.file.isEmpty() ? QString() : quoted(f.file)};
    out += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  return out.toUtf8();
}

}  // namespace kestrune::ui
