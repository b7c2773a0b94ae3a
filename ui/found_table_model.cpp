#include "ui/found_table_model.h"

#include <QBrush>
#include <QDir>
#include <QFileInfo>

namespace kestrune::ui {

uint64_t FramesToMilliseconds(uint64_t frames) { return frames * 1000 / 44100; }

int FoundTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(results_->find->stretches.size());
}

int FoundTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant FoundTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const FoundStretch& f = Row(index.row());
  const int column = index.column();
  if (role == Qt::TextAlignmentRole) {
    return column == kSource || column == kFile || column == kConfident ? QVariant()
                                                                          : QVariant(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role == Qt::ToolTipRole) {
    if (column == kSource) return QDir::toNativeSeparators(f.source);
    if (column == kFile && !f.file.isEmpty()) return QDir::toNativeSeparators(f.file);
    if (column == kStart) return tr("frame %1").arg(f.frame);
    if (column == kScore) return tr("How far the similarity stands above the source's other places; "
                                    "%1 or more is confident").arg(results_->find->minScore);
    return {};
  }
  if (role == Qt::ForegroundRole && !f.confident) return QBrush(Qt::gray);
  if (role != Qt::DisplayRole) return {};
  switch (column) {
    case kSource:
      return QFileInfo(f.source).fileName();
    case kStart:
      return ClockText(FramesToMilliseconds(f.frame));
    case kLength:
      return ClockText(FramesToMilliseconds(f.frames));
    case kSimilarity:
      return QStringLiteral("%1 %").arg(f.similarity, 0, 'f', 1);
    case kScore:
      return QString::number(f.score, 'f', 1);
    case kConfident:
      return f.confident ? tr("confident") : tr("not confident");
    case kFile:
      if (f.file.isEmpty()) return f.confident ? tr("(not written)") : tr("(not written: not confident)");
      return f.bytes >= 0 ? QFileInfo(f.file).fileName() : tr("(could not be written)");
    default:
      return {};
  }
}

QVariant FoundTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kSource:
      return tr("Source file");
    case kStart:
      return tr("Start");
    case kLength:
      return tr("Length");
    case kSimilarity:
      return tr("Similarity");
    case kScore:
      return tr("z");
    case kConfident:
      return tr("Confident");
    case kFile:
      return tr("File written");
    default:
      return {};
  }
}

}  // namespace kestrune::ui
