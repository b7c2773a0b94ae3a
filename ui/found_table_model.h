// The stretches an any-offset search found, as a table: source file, start,
// length, similarity, score, confident or not, and the file written.
#pragma once

#include <QAbstractTableModel>

#include <memory>

#include "ui/run_results.h"

namespace kestrune::ui {

class FoundTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kSource, kStart, kLength, kSimilarity, kScore, kConfident, kFile, kColumnCount };

  // results->find must be set.
  explicit FoundTableModel(std::shared_ptr<const RunResults> results, QObject* parent = nullptr)
      : QAbstractTableModel(parent), results_(std::move(results)) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  const FoundStretch& Row(int row) const { return results_->find->stretches.at(static_cast<size_t>(row)); }

 private:
  std::shared_ptr<const RunResults> results_;
};

// Milliseconds of a number of frames at 44100 Hz.
uint64_t FramesToMilliseconds(uint64_t frames);

}  // namespace kestrune::ui
