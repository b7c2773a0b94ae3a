// The matches of a run as a table: template split, source split, start,
// similarity and the result file that holds it.
#pragma once

#include <QAbstractTableModel>

#include <memory>

#include "ui/run_results.h"

namespace kestrune::ui {

class ResultsTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTemplate, kSplit, kStart, kSimilarity, kFile, kColumnCount };

  explicit ResultsTableModel(std::shared_ptr<const RunResults> results, QObject* parent = nullptr)
      : QAbstractTableModel(parent), results_(std::move(results)) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  const MatchRow& Row(int row) const { return results_->matches.at(static_cast<size_t>(row)); }

 private:
  std::shared_ptr<const RunResults> results_;
};

}  // namespace kestrune::ui
