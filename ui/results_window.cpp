#include "ui/results_window.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/clip_frames.h"
#include "ui/clip_player.h"
#include "ui/found_table_model.h"
#include "ui/results_table_model.h"
#include "ui/similarity_plot.h"

namespace kestrune::ui {

PlotData MatchPlotData(const RunResults& results) {
  PlotData data;
  data.threshold = static_cast<float>(results.minSimilarity);
  data.durationMs = results.StartMilliseconds(results.sourceSplits);
  for (uint32_t j = 0; j < results.peaks.size(); ++j) {
    PlotStrip strip;
    strip.label = QObject::tr("split %1").arg(j);
    for (uint32_t peak : results.peaks[j]) strip.values.push_back(static_cast<float>(results.Similarity(peak)));
    for (const MatchRow& m : results.matches) {
      if (m.templateIndex == j) strip.marked.push_back(m.sourceSplit / results.splitsPerColumn);
    }
    data.strips.push_back(std::move(strip));
  }
  return data;
}

PlotData FindPlotData(const RunResults& results) {
  PlotData data;
  if (!results.find) return data;
  const FindRunData& run = *results.find;
  data.threshold = run.scoreLine;
  data.durationMs = FramesToMilliseconds(run.sourceFrames);
  PlotStrip strip;
  strip.label = QObject::tr("fragment");
  // Stretches of the source without a start compared show as nothing.
  for (float v : run.curve) strip.values.push_back(std::max(v, 0.0f));
  for (const FoundStretch& f : run.stretches) {
    if (!run.curve.empty()) strip.marked.push_back(run.ColumnOf(f.frame));
  }
  std::sort(strip.marked.begin(), strip.marked.end());
  data.strips.push_back(std::move(strip));
  return data;
}

QString FindSummary(const RunResults& r) {
  const FindRunData& run = *r.find;
  const QString fragment =
      QObject::tr("the fragment of %1 (splits %2 to %3, %4 ms each)")
          .arg(QFileInfo(r.samplePath).fileName())
          .arg(r.startOffset)
          .arg(uint64_t{r.startOffset} + r.fragmentLength - 1)
          .arg(r.splitMilliseconds);
  const QString source = QObject::tr("%1 (%2)").arg(QFileInfo(r.sourcePath).fileName(),
                                                   ClockText(FramesToMilliseconds(run.sourceFrames)));
  const QString how = QObject::tr("Searched every %1 frames; a match is confident from a score (z) of %2, "
                                  "the dashed line in the picture.")
                          .arg(run.hop)
                          .arg(run.minScore);
  int confident = 0;
  for (const FoundStretch& f : run.stretches) confident += f.confident ? 1 : 0;
  if (confident == 0) {
    return QObject::tr("No confident match was found for %1 in %2. The best candidate is shown for comparison, "
                       "marked not confident; nothing was written. %3")
        .arg(fragment, source, how);
  }
  const QString found = confident == 1 ? QObject::tr("1 confident stretch")
                                       : QObject::tr("%1 confident stretches").arg(confident);
  return QObject::tr("Found %1 of %2 in %3. %4").arg(found, fragment, source, how);
}

ResultsWindow::ResultsWindow(std::shared_ptr<const RunResults> results, QWidget* parent)
    : QWidget(parent, Qt::Window), results_(std::move(results)) {
  setObjectName("resultsWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Results - %1").arg(QFileInfo(results_->samplePath).fileName()));
  player_ = new ClipPlayer(this);

  const RunResults& r = *results_;
  c_.summary = new QLabel(this);
  c_.summary->setObjectName("summary");
  c_.summary->setWordWrap(true);
  if (r.find) {
    c_.summary->setText(FindSummary(r));
  } else {
    c_.summary->setText(tr("%1 matches for %2 template splits of %3 in %4 (%5 splits of %6 ms, %7). "
                         "Minimum similarity %8 %.")
                          .arg(r.matches.size())
                          .arg(r.fragmentLength)
                          .arg(QFileInfo(r.samplePath).fileName(), QFileInfo(r.sourcePath).fileName())
                          .arg(r.sourceSplits)
                          .arg(r.splitMilliseconds)
                          .arg(ClockText(r.StartMilliseconds(r.sourceSplits)))
                          .arg(r.minSimilarity));
  }

  c_.plot = new SimilarityPlot(this);
  if (r.find) {
    c_.plot->SetData(FindPlotData(r));
    c_.plot->setToolTip(tr("Best similarity of the whole fragment at every place in the source; the dashed line "
                           "is the similarity the minimum score asks for, red ticks mark the stretches listed."));
  } else {
    c_.plot->SetData(MatchPlotData(r));
    c_.plot->setToolTip(tr("Similarity of every source split to each template split (highest per column); "
                           "the dashed line is the minimum similarity, red ticks mark the splits written."));
  }

  c_.table = new QTableView(this);
  c_.table->setObjectName("matches");
  if (r.find) {
    foundModel_ = new FoundTableModel(results_, this);
    c_.table->setModel(foundModel_);
  } else {
    model_ = new ResultsTableModel(results_, this);
    c_.table->setModel(model_);
  }
  c_.table->setSelectionBehavior(QAbstractItemView::SelectRows);
  c_.table->setSelectionMode(QAbstractItemView::SingleSelection);
  c_.table->verticalHeader()->hide();
  c_.table->horizontalHeader()->setStretchLastSection(true);
  c_.table->resizeColumnsToContents();

  c_.files = new QTreeWidget(this);
  c_.files->setObjectName("files");
  c_.files->setHeaderLabels({tr("Files written"), tr("Size")});
  c_.files->setRootIsDecorated(false);
  const QLocale locale;
  for (const WrittenFile& f : r.files) {
    auto* item = new QTreeWidgetItem(c_.files);
    item->setText(0, QDir::toNativeSeparators(f.path));
    item->setText(1, f.bytes >= 0 ? locale.formattedDataSize(f.bytes) : tr("not written"));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  }
  if (r.files.empty()) {
    auto* item = new QTreeWidgetItem(c_.files);
    item->setText(0, tr("(no file written)"));
  }
  c_.files->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  c_.files->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  c_.files->setMaximumHeight(110);

  auto button = [this](const QString& text, const char* name) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
  };
  c_.playMatch = button(r.find ? tr("Play stretch") : tr("Play match"), "playMatch");
  c_.playTemplate = button(r.find ? tr("Play sample's fragment") : tr("Play template split"), "playTemplate");
  c_.exportTable = button(tr("Export..."), "exportTable");
  c_.openFolder = button(tr("Open output folder"), "openFolder");
  c_.exportTable->setToolTip(r.find ? tr("Save the table as CSV or JSON (the keys of kestrune-cli find --json)")
                                    : tr("Save the table as CSV or JSON (the keys of kestrune-cli --json)"));
  c_.openFolder->setToolTip(QDir::toNativeSeparators(r.outputFolder));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(c_.playMatch);
  buttons->addWidget(c_.playTemplate);
  buttons->addStretch(1);
  buttons->addWidget(c_.exportTable);
  buttons->addWidget(c_.openFolder);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(c_.summary);
  layout->addWidget(c_.plot, 2);
  layout->addWidget(c_.table, 3);
  layout->addWidget(c_.files);
  layout->addLayout(buttons);

  connect(c_.playMatch, &QPushButton::clicked, this, &ResultsWindow::PlayMatch);
  connect(c_.playTemplate, &QPushButton::clicked, this, &ResultsWindow::PlayTemplate);
  connect(c_.exportTable, &QPushButton::clicked, this, &ResultsWindow::OnExport);
  connect(c_.openFolder, &QPushButton::clicked, this, &ResultsWindow::OnOpenFolder);
  connect(c_.table, &QTableView::doubleClicked, this, &ResultsWindow::PlayMatch);
  connect(c_.table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ResultsWindow::UpdateButtons);
  connect(player_, &ClipPlayer::playingChanged, this, &ResultsWindow::UpdateButtons);
  auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
  space->setContext(Qt::WindowShortcut);
  connect(space, &QShortcut::activated, this, &ResultsWindow::TogglePlay);

  if (c_.table->model()->rowCount() > 0) c_.table->selectRow(0);
  UpdateButtons();
  resize(760, 620);
}

int ResultsWindow::SelectedRow() const {
  const QModelIndexList rows = c_.table->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void ResultsWindow::UpdateButtons() {
  const bool canPlay = player_->Available();
  const bool selected = SelectedRow() >= 0;
  c_.playMatch->setEnabled(canPlay && selected);
  c_.playTemplate->setEnabled(canPlay && selected);
  if (!canPlay) {
    c_.playMatch->setToolTip(player_->UnavailableReason());
    c_.playTemplate->setToolTip(player_->UnavailableReason());
  } else if (results_->find) {
    c_.playMatch->setToolTip(tr("Play the selected stretch of the source (Space plays and stops)"));
    c_.playTemplate->setToolTip(tr("Play the fragment of the sample that was searched for, to compare"));
  } else {
    c_.playMatch->setToolTip(tr("Play the selected source split (Space plays and stops)"));
    c_.playTemplate->setToolTip(tr("Play the sample's template split of the selected row, to compare"));
  }
}

void ResultsWindow::PlayMatch() {
  const int row = SelectedRow();
  if (row < 0 || !player_->Available()) return;
  if (foundModel_ != nullptr) {
    player_->Play(FoundStretchFrames(*results_, static_cast<size_t>(row)));
    return;
  }
  player_->Play(SourceSplitFrames(*results_, model_->Row(row).sourceSplit));
}

void ResultsWindow::PlayTemplate() {
  const int row = SelectedRow();
  if (row < 0 || !player_->Available()) return;
  if (foundModel_ != nullptr) {
    player_->Play(SampleFragmentFrames(*results_));
    return;
  }
  player_->Play(TemplateSplitFrames(*results_, model_->Row(row).templateIndex));
}

void ResultsWindow::TogglePlay() {
  if (player_->Playing()) {
    player_->Stop();
  } else {
    PlayMatch();
  }
}

bool ResultsWindow::ExportTo(const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const bool json = path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive);
  const QByteArray bytes = json ? results_->ToJson() : results_->ToCsv();
  if (file.write(bytes) != bytes.size()) return false;
  return file.commit();
}

void ResultsWindow::OnExport() {
  const QString base = QFileInfo(results_->samplePath).completeBaseName() +
                       (results_->find ? QStringLiteral("_found.csv") : QStringLiteral("_matches.csv"));
  QString filter;
  const QString path = QFileDialog::getSaveFileName(this, tr("Export the table"),
                                                    QDir(results_->outputFolder).filePath(base),
                                                    tr("CSV (*.csv);;JSON (*.json)"), &filter);
  if (path.isEmpty()) return;
  QString target = path;
  if (filter.startsWith(QStringLiteral("JSON")) && !target.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive)) {
    target = QFileInfo(target).path() + QLatin1Char('/') + QFileInfo(target).completeBaseName() +
             QStringLiteral(".json");
  }
  if (!ExportTo(target)) {
    QMessageBox::warning(this, windowTitle(), tr("The table could not be written to %1.")
                                                  .arg(QDir::toNativeSeparators(target)));
  }
}

void ResultsWindow::OnOpenFolder() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(results_->outputFolder));
}

}  // namespace kestrune::ui
