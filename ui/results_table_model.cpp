#include "ui/results_table_model.h"

#include <QFileInfo>

namespace kestrune::ui {

int ResultsTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(results_->matches.size());
}

int ResultsTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant ResultsTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const MatchRow& m = Row(index.row());
  if (role == Qt::TextAlignmentRole) {
    return index.column() == kFile ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role == Qt::ToolTipRole && index.column() == kFile) return results_->FileFor(m.templateIndex);
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kTemplate:
      return m.templateIndex;
    case kSplit:
      return m.sourceSplit;
    case kStart:
      return ClockText(results_->StartMilliseconds(m.sourceSplit));
    case kSimilarity:
      return QStringLiteral("%1 %").arg(results_->Similarity(m.agreement), 0, 'f', 1);
    case kFile: {
      const QString file = results_->FileFor(m.templateIndex);
      return file.isEmpty() ? tr("(not written)") : QFileInfo(file).fileName();
    }
    default:
      return {};
  }
}

QVariant ResultsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kTemplate:
      return tr("Template split");
    case kSplit:
      return tr("Source split");
    case kStart:
      return tr("Start");
    case kSimilarity:
      return tr("Similarity");
    case kFile:
      return tr("Result file");
    default:
      return {};
  }
}

}  // namespace kestrune::ui
