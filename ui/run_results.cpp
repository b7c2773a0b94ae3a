#include "ui/run_results.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include "matching/similarity.h"

namespace kestrune::ui {

double RunResults::Similarity(uint32_t agreement) const {
  const double bits = 32.0 * blocksPerSplit;
  return bits > 0 ? agreement * 100.0 / bits : 0.0;
}

uint64_t RunResults::StartMilliseconds(uint32_t sourceSplit) const {
  return uint64_t{sourceSplit} * framesPerSplit * 1000 / 44100;
}

QString RunResults::FileFor(uint32_t templateIndex) const {
  for (const WrittenFile& f : files) {
    if (f.bytes >= 0 && (f.templateIndex < 0 || f.templateIndex == int64_t{templateIndex})) return f.path;
  }
  return QString();
}

uint32_t RunResults::ColumnCount() const {
  return splitsPerColumn == 0 ? 0 : (sourceSplits + splitsPerColumn - 1) / splitsPerColumn;
}

QByteArray RunResults::ToJson() const {
  if (find) return FoundJson(*find, samplePath, splitMilliseconds, framesPerSplit, blocksPerSplit);
  QJsonObject out;
  out["split_ms"] = static_cast<qint64>(splitMilliseconds);
  out["frames_per_split"] = static_cast<qint64>(framesPerSplit);
  out["blocks_per_split"] = static_cast<qint64>(blocksPerSplit);
  out["source_splits"] = static_cast<qint64>(sourceSplits);
  QJsonArray templates;
  for (uint32_t j = 0; j < fragmentLength; ++j) {
    QJsonObject entry;
    entry["template"] = static_cast<qint64>(j);
    const QString file = FileFor(j);
    entry["file"] = file.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(file);
    QJsonArray list;
    for (const MatchRow& m : matches) {
      if (m.templateIndex != j) continue;
      list.append(QJsonObject{{"split", static_cast<qint64>(m.sourceSplit)},
                              {"agreement", static_cast<qint64>(m.agreement)},
                              {"similarity", Similarity(m.agreement)}});
    }
    entry["matches"] = list;
    templates.append(entry);
  }
  out["templates"] = templates;
  return QJsonDocument(out).toJson(QJsonDocument::Indented);
}

QByteArray RunResults::ToCsv() const {
  if (find) return FoundCsv(*find);
  auto quoted = [](QString text) {
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
  };
  QString out = QStringLiteral("template,split,start,agreement,similarity,file\n");
  for (const MatchRow& m : matches) {
    out += QStringLiteral("%1,%2,%3,%4,%5,%6\n")
               .arg(m.templateIndex)
               .arg(m.sourceSplit)
               .arg(ClockText(StartMilliseconds(m.sourceSplit)))
               .arg(m.agreement)
               .arg(Similarity(m.agreement), 0, 'f', 2)
               .arg(quoted(FileFor(m.templateIndex)));
  }
  return out.toUtf8();
}

QString ClockText(uint64_t milliseconds) {
  return QStringLiteral("%1:%2.%3")
      .arg(milliseconds / 60000, 2, 10, QLatin1Char('0'))
      .arg(milliseconds / 1000 % 60, 2, 10, QLatin1Char('0'))
      .arg(milliseconds % 1000, 3, 10, QLatin1Char('0'));
}

void ResultsCollector::OnGeometry(uint32_t splitMilliseconds, uint32_t framesPerSplit, uint32_t blocksPerSplit,
                                  uint32_t sourceSplits) {
  RunResults& r = *results_;
  r.splitMilliseconds = splitMilliseconds;
  r.framesPerSplit = framesPerSplit;
  r.blocksPerSplit = blocksPerSplit;
  r.sourceSplits = sourceSplits;
  r.splitsPerColumn = std::max<uint32_t>(1, (sourceSplits + RunResults::kMaxColumns - 1) / RunResults::kMaxColumns);
}

void ResultsCollector::OnMatch(uint32_t templateIndex, uint32_t sourceSplit, uint32_t agreement) {
  results_->matches.push_back({templateIndex, sourceSplit, agreement});
}

void ResultsCollector::OnResultFile(int64_t templateIndex, const std::filesystem::path& path, bool written) {
  WrittenFile file;
  file.templateIndex = templateIndex;
  file.path = QFile::decodeName(path.string().c_str());
  if (written) file.bytes = QFileInfo(file.path).size();
  results_->files.push_back(file);
}

void ResultsCollector::OnScores(uint32_t templateIndex, const CandidateScore* ranked, uint32_t count) {
  RunResults& r = *results_;
  if (r.peaks.size() <= templateIndex) r.peaks.resize(size_t{templateIndex} + 1);
  std::vector<uint32_t>& peaks = r.peaks[templateIndex];
  peaks.assign(r.ColumnCount(), 0);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t column = ranked[i].index / r.splitsPerColumn;
    if (column < peaks.size()) peaks[column] = std::max(peaks[column], ranked[i].agreement);
  }
}

}  // namespace kestrune::ui
