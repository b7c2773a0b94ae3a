// The results of a run as the user sees them: the window a successful run
// opens, its table, files, picture, export and the frames it plays.
#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <memory>

#include "matching/similarity.h"
#include "matching/database_build_job.h"
#include "dialog_rig.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"
#include "test_prompts.h"
#include "ui/clip_frames.h"
#include "ui/clip_player.h"
#include "ui/launchers.h"
#include "ui/results_table_model.h"
#include "ui/results_window.h"
#include "ui/run_results.h"
#include "ui/similarity_plot.h"
#include "ui/tamberly_dlg.h"

namespace kestrune::ui::test {
namespace {

using kestrune::test::PcmWav;
using kestrune::test::TempDir;
using kestrune::test::WriteBytes;

QByteArray NoiseSplit(uint32_t seed) {
  const auto bytes = kestrune::test::NoiseBytes(kSplitBytes, seed);
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

QString Cell(const QAbstractItemModel* model, int row, int column) {
  return model->data(model->index(row, column)).toString();
}

}  // namespace

class ResultsWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<DialogRig> rig;
  TempDir* dir = nullptr;
  TestPrompts* prompts = nullptr;
  CoreLaunchers* launchers = nullptr;
  CTamberlyDlg* dlg = nullptr;
  const CTamberlyDlg::Controls* c = nullptr;

  // Ten distinct 100 ms splits; the sample holds source splits 7, 2 and 5
  // after one unrelated split. Only perfect matches are taken.
  void Run(const QString& source) {
    prompts->fileAnswers = {source, Q(dir->path() / "sample.wav")};
    prompts->folderAnswers = {Q(dir->path() / "out")};
    c->openSource->click();
    c->openSample->click();
    c->openOutputFolder->click();
    c->splitMs->setText("100");
    c->minSimilarity->setText("100");
    c->startOffset->setText("1");
    c->fragmentLength->setText("3");
    c->process->click();
    QVERIFY2(prompts->messages.empty(), qPrintable(prompts->Texts().join('|')));
  }

 private slots:
  void init() {
    rig = std::make_unique<DialogRig>();
    dir = &rig->dir;
    prompts = &rig->prompts;
    launchers = &rig->launchers;
    dlg = &rig->dlg;
    c = &rig->c;
  }
  void cleanup() {
    rig.reset();
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
  }

  void aSuccessfulRunOpensItsResults() {
    Run(Q(dir->path() / "source.wav"));
    ResultsWindow* window = dlg->Results();
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    QVERIFY(window->isWindow());
    QVERIFY(!window->isModal());
    const auto& w = window->controls();
    const QString result = Q(dir->path() / "out" / "sample_rest.wav");

    // One row per split written: template split, source split, start, similarity, file.
    const QAbstractItemModel* model = w.table->model();
    QCOMPARE(model->rowCount(), 3);
    const QStringList expected[] = {{"0", "7", "00:00.700", "100.0 %", "sample_rest.wav"},
                                    {"1", "2", "00:00.200", "100.0 %", "sample_rest.wav"},
                                    {"2", "5", "00:00.500", "100.0 %", "sample_rest.wav"}};
    for (int row = 0; row < 3; ++row) {
      for (int column = 0; column < ResultsTableModel::kColumnCount; ++column) {
        QCOMPARE(Cell(model, row, column), expected[row][column]);
      }
    }
    // The file written, with its size.
    QCOMPARE(w.files->topLevelItemCount(), 1);
    QCOMPARE(w.files->topLevelItem(0)->text(0), QDir::toNativeSeparators(result));
    QCOMPARE(QFileInfo(result).size(), qint64{44 + 3 * kSplitBytes});
    QCOMPARE(w.files->topLevelItem(0)->text(1), QLocale().formattedDataSize(44 + 3 * kSplitBytes));

    // The picture: one strip per template split, a column per source split
    // here, its peak where the sample's split lies in the source, marked.
    const PlotData& plot = w.plot->Data();
    QCOMPARE(plot.strips.size(), size_t{3});
    QCOMPARE(plot.threshold, 100.0f);
    QCOMPARE(plot.durationMs, uint64_t{1000});
    const uint32_t at[] = {7, 2, 5};
    for (size_t j = 0; j < 3; ++j) {
      const PlotStrip& strip = plot.strips[j];
      QCOMPARE(strip.values.size(), size_t{10});
      QCOMPARE(strip.values[at[j]], 100.0f);
      for (size_t s = 0; s < 10; ++s) {
        if (s != at[j]) QVERIFY2(strip.values[s] < 90.0f, qPrintable(QString::number(strip.values[s])));
      }
      QCOMPARE(strip.marked, std::vector<uint32_t>{at[j]});
    }

    // Export: JSON in the command line's shape, and CSV.
    const QString json = Q(dir->path() / "table.json");
    QVERIFY(window->ExportTo(json));
    QFile jsonFile(json);
    QVERIFY(jsonFile.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(jsonFile.readAll()).object();
    QCOMPARE(root.keys(), (QStringList{"blocks_per_split", "frames_per_split", "source_splits", "split_ms", "templates"}));
    QCOMPARE(root["split_ms"].toInt(), 100);
    QCOMPARE(root["frames_per_split"].toInt(), 4410);
    QCOMPARE(root["source_splits"].toInt(), 10);
    const int bits = 32 * root["blocks_per_split"].toInt();
    const QJsonArray templates = root["templates"].toArray();
    QCOMPARE(templates.size(), 3);
    for (int j = 0; j < 3; ++j) {
      const QJsonObject t = templates[j].toObject();
      QCOMPARE(t.keys(), (QStringList{"file", "matches", "template"}));
      QCOMPARE(t["template"].toInt(), j);
      QCOMPARE(t["file"].toString(), result);
      const QJsonObject m = t["matches"].toArray().at(0).toObject();
      QCOMPARE(m.keys(), (QStringList{"agreement", "similarity", "split"}));
      QCOMPARE(m["split"].toInt(), static_cast<int>(at[j]));
      QCOMPARE(m["agreement"].toInt(), bits);
      QCOMPARE(m["similarity"].toDouble(), 100.0);
    }
    const QString csv = Q(dir->path() / "table.csv");
    QVERIFY(window->ExportTo(csv));
    QFile csvFile(csv);
    QVERIFY(csvFile.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csvFile.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QStringLiteral("template,split,start,agreement,similarity,file"));
    QCOMPARE(lines[1], QStringLiteral("0,7,00:00.700,%1,100.00,\"%2\"").arg(bits).arg(result));

    // Listening: exactly the frames of the selected source split and of the
    // sample's template split; without an output device the buttons say why.
    QCOMPARE(SourceSplitFrames(*std::make_shared<RunResults>(), 0), QByteArray());
    w.table->selectRow(1);
    if (!window->Player().Available()) {
      QVERIFY(!w.playMatch->isEnabled());
      QVERIFY(!w.playTemplate->isEnabled());
      QVERIFY(w.playMatch->toolTip().contains("No audio output device"));
      QTest::keyClick(window, Qt::Key_Space);  // nothing to play, nothing breaks
      QVERIFY(!window->Player().Playing());
    } else {
      QVERIFY(w.playMatch->isEnabled());
      QVERIFY(w.playTemplate->isEnabled());
    }

    // A new run replaces the window.
    QPointer<ResultsWindow> first = window;
    prompts->askAnswers = {true};  // "Replace"
    c->process->click();
    QVERIFY(dlg->Results() != nullptr);
    QTRY_VERIFY(first.isNull());
  }

  void theFramesPlayedAreThoseOfTheSplits() {
    RunResults wav;
    wav.sourcePath = Q(dir->path() / "source.wav");
    wav.samplePath = Q(dir->path() / "sample.wav");
    wav.framesPerSplit = 4410;
    wav.startOffset = 1;
    QCOMPARE(SourceSplitFrames(wav, 7), NoiseSplit(17));
    QCOMPARE(SourceSplitFrames(wav, 0), NoiseSplit(10));
    QCOMPARE(TemplateSplitFrames(wav, 2), NoiseSplit(15));
    QCOMPARE(SourceSplitFrames(wav, 10), QByteArray());  // past the end
    QCOMPARE(TemplateSplitFrames(wav, 3), QByteArray());

    DatabaseBuildRequest request;
    request.sourcePath = dir->path() / "source.wav";
    request.splitMilliseconds = 100;
    request.outputPath = dir->path() / "songs.qlmx";
    std::string error;
    QVERIFY2(BuildSplitsDatabase(request, nullptr, error), error.c_str());
    RunResults database = wav;
    database.databaseSource = true;
    database.sourcePath = Q(request.outputPath);
    QCOMPARE(SourceSplitFrames(database, 7), NoiseSplit(17));
    QCOMPARE(SourceSplitFrames(database, 10), QByteArray());
  }

  void theSummaryStaysSmallOnALongSource() {
    // An hour of 100 ms splits: 36000 candidates summarised in at most 4096 columns.
    RunResults results;
    ResultsCollector collector(&results);
    collector.OnGeometry(100, 4410, 4, 36000);
    std::vector<CandidateScore> ranked(36000);
    for (uint32_t i = 0; i < 36000; ++i) ranked[i] = {i % 7 == 0 ? 64u : 10u, i};
    ranked[35999] = {128, 35999};
    collector.OnScores(0, ranked.data(), 36000);
    QVERIFY(results.ColumnCount() <= RunResults::kMaxColumns);
    QCOMPARE(results.peaks.at(0).size(), size_t{results.ColumnCount()});
    QCOMPARE(results.peaks[0].back(), 128u);
    QCOMPARE(results.peaks[0].front(), 64u);  // split 0 (64) outranks the 10s beside it
    QCOMPARE(results.StartMilliseconds(35999), uint64_t{3599900});
    QCOMPARE(ClockText(3599900), QStringLiteral("59:59.900"));
    QCOMPARE(ClockText(3723004), QStringLiteral("62:03.004"));

    // The picture takes the highest value under each pixel.
    QCOMPARE(PixelPeaks({1, 5, 2, 8, 3, 9}, 3), (std::vector<float>{5, 8, 9}));
    QCOMPARE(PixelPeaks({1, 5}, 4), (std::vector<float>{1, 1, 5, 5}));
    QCOMPARE(PixelPeaks({}, 2), (std::vector<float>{0, 0}));
  }
};

}  // namespace kestrune::ui::test

QTEST_MAIN(kestrune::ui::test::ResultsWindowTest)
#include "results_window_test.moc"
