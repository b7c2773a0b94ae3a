// The results of a run, shown after it in a window of its own beside the main
// dialog: the picture of similarity across the source, the matches, the
// files written, listening and export.
#pragma once

#include <QWidget>

#include <memory>

#include "ui/run_results.h"

class QLabel;
class QPushButton;
class QTableView;
class QTreeWidget;

namespace kestrune::ui {

class ClipPlayer;
class FoundTableModel;
class ResultsTableModel;
class SimilarityPlot;

// The picture's data for a matching run: one strip per template split.
struct PlotData;
PlotData MatchPlotData(const RunResults& results);
// For a search at any offset: one strip, the fragment's best similarity
// across the source, the line at the similarity the minimum score asks for
// and the stretches found marked.
PlotData FindPlotData(const RunResults& results);
// The line above the picture of a search at any offset.
QString FindSummary(const RunResults& results);

class ResultsWindow : public QWidget {
  Q_OBJECT

 public:
  // A window of its own (parent only owns it), deleted when closed.
  ResultsWindow(std::shared_ptr<const RunResults> results, QWidget* parent);

  struct Controls {
    QLabel* summary;
    SimilarityPlot* plot;
    QTableView* table;
    QTreeWidget* files;
    QPushButton* playMatch;
    QPushButton* playTemplate;
    QPushButton* exportTable;
    QPushButton* openFolder;
  };
  const Controls& controls() const { return c_; }
  ClipPlayer& Player() { return *player_; }

  // Writes the table to path: JSON when it ends with ".json", else CSV.
  bool ExportTo(const QString& path);

 public slots:
  void PlayMatch();
  void PlayTemplate();
  // Space: stops what plays, else plays the selected match.
  void TogglePlay();
  void OnExport();
  void OnOpenFolder();

 private:
  int SelectedRow() const;
  void UpdateButtons();

  std::shared_ptr<const RunResults> results_;
  ResultsTableModel* model_ = nullptr;      // a matching run's
  FoundTableModel* foundModel_ = nullptr;   // a search's at any offset
  ClipPlayer* player_ = nullptr;
  Controls c_{};
};

}  // namespace kestrune::ui
