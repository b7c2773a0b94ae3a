// "Find anywhere in the source" in the main dialog: its default and enabling
// rule, the settings it hands on, and real searches from the dialog that
// write what they find and show it, confident or not, or stop when told.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>

#include "escape_on.h"
#include "left_windows.h"
#include "support/temp_dir.h"
#include "support/test_music.h"
#include "support/wav_builder.h"
#include "test_prompts.h"
#include "ui/find_launcher.h"
#include "ui/found_table_model.h"
#include "ui/launchers.h"
#include "ui/results_window.h"
#include "ui/run_results.h"
#include "ui/similarity_plot.h"
#include "ui/tamberly_dlg.h"
#include "ui/up_dialog.h"

namespace kestrune::ui::test {
namespace {

using kestrune::test::TempDir;

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

class RecordingLaunchers : public JobLaunchers {
 public:
  bool WavMatch(QWidget*, const QString&, const QString&, const QString&, uint32_t, uint32_t, uint32_t, uint32_t,
                uint32_t, uint32_t) override {
    ++matches;
    return false;
  }
  bool DatabaseMatch(QWidget*, const QString&, const QString&, const QString&, uint32_t, uint32_t, uint32_t,
                     uint32_t, uint32_t) override {
    ++matches;
    return false;
  }
  bool TempoEstimate(QWidget*, const QString&, double*) override { return false; }
  bool Find(QWidget*, const FindRunSettings& settings) override {
    finds.push_back(settings);
    return false;
  }
  int matches = 0;
  std::vector<FindRunSettings> finds;
};

QString Cell(const QAbstractItemModel* model, int row, int column) {
  return model->data(model->index(row, column)).toString();
}

}  // namespace

class FindAnywhereTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    const QString left = LeftTopLevelWindows();
    QVERIFY2(left.isEmpty(), qPrintable("windows left open:\n" + left));
  }

  void theCheckBoxIsOffAndTakesTheSimilarityFieldsPlace() {
    TestPrompts prompts;
    RecordingLaunchers launchers;
    CTamberlyDlg dlg(prompts, launchers);
    const auto& c = dlg.controls();
    QVERIFY(!c.findAnywhere->isChecked());
    QCOMPARE(c.findAnywhere->text(), QStringLiteral("Find anywhere in the source (any offset)"));
    QVERIFY(!c.findAnywhere->toolTip().isEmpty());
    QVERIFY(c.minSimilarity->isEnabled());
    c.findAnywhere->click();
    QVERIFY(!c.minSimilarity->isEnabled());
    c.findAnywhere->click();
    QVERIFY(c.minSimilarity->isEnabled());

    // Off: "Process.." matches as before. On: it searches with the dialog's
    // settings, the tempo deciding the split length in BPM mode.
    prompts.fileAnswers = {"/music/song.wav", "/music/loop.wav"};
    c.openSource->click();
    c.openSample->click();
    c.process->click();
    QCOMPARE(launchers.matches, 1);
    QVERIFY(launchers.finds.empty());
    c.findAnywhere->click();
    c.startOffset->setText("3");
    c.fragmentLength->setText("6");
    c.declick->setChecked(true);
    c.bpmMode->click();
    c.bpm->setText("120");  // a quarter note: 500 ms
    c.splitMs->setText("250");
    c.process->click();
    QCOMPARE(launchers.matches, 1);
    QCOMPARE(launchers.finds.size(), size_t{1});
    const FindRunSettings& s = launchers.finds[0];
    QCOMPARE(s.sourcePath, QDir::toNativeSeparators("/music/song.wav"));
    QCOMPARE(s.samplePath, QDir::toNativeSeparators("/music/loop.wav"));
    QVERIFY(!s.databaseSource);
    QCOMPARE(s.splitMilliseconds, SplitLengthForTempo(120, c.noteFraction->currentIndex()));
    QCOMPARE(s.startOffset, 3u);
    QCOMPARE(s.fragmentLength, 6u);
    QVERIFY(s.declick);
    QCOMPARE(s.outputFolder, OutputFolderPrefix(QDir::homePath()));

    // A database: searched by shifting the sample, which needs two splits.
    c.source->setCurrentIndex(kSourceDatabase);
    c.fragmentLength->setText("1");
    c.process->click();
    QCOMPARE(launchers.finds.size(), size_t{1});
    QCOMPARE(prompts.messages.size(), size_t{1});
    QVERIFY(prompts.messages[0].text.contains("at least 2 splits"));
    c.fragmentLength->setText("2");
    c.process->click();
    QCOMPARE(launchers.finds.size(), size_t{2});
    QVERIFY(launchers.finds[1].databaseSource);
    QCOMPARE(launchers.matches, 1);
  }

  // A piece cut off the split grid from generated music is found within
  // half a hop, written byte for byte and shown; a piece of other music
  // opens the window as well, marked not confident, with nothing written.
  void aSearchFromTheDialogWritesAndShowsWhatItFound() {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "out");
    const auto music = kestrune::test::MakeTestMusic(30.0, 11);
    kestrune::test::WriteBytes(dir.path() / "source.wav", kestrune::test::StereoWav(music));
    const size_t truth = 22050 * 23 + 7001;  // frames; off the 500 ms grid and the hop
    const size_t length = 44100 * 4;
    kestrune::test::WriteBytes(dir.path() / "sample.wav",
                               kestrune::test::StereoWav(std::vector<int16_t>(music.begin() + 2 * truth,
                                                                              music.begin() + 2 * (truth + length))));
    const auto other = kestrune::test::MakeTestMusic(4.0, 97, 96.0);
    kestrune::test::WriteBytes(dir.path() / "other.wav", kestrune::test::StereoWav(other));

    TestPrompts prompts;
    CoreLaunchers launchers(prompts);
    CTamberlyDlg dlg(prompts, launchers);
    const auto& c = dlg.controls();
    prompts.fileAnswers = {Q(dir.path() / "source.wav"), Q(dir.path() / "sample.wav")};
    prompts.folderAnswers = {Q(dir.path() / "out")};
    c.openSource->click();
    c.openSample->click();
    c.openOutputFolder->click();
    c.splitMs->setText("500");
    c.startOffset->setText("0");
    c.fragmentLength->setText("4");
    c.findAnywhere->click();
    c.process->click();
    QVERIFY2(prompts.messages.empty(), qPrintable(prompts.Texts().join('|')));
    QVERIFY(prompts.questions.empty());

    ResultsWindow* window = dlg.Results();
    QVERIFY(window != nullptr && window->isVisible());
    const auto& w = window->controls();
    const QAbstractItemModel* model = w.table->model();
    QCOMPARE(model->columnCount(), int{FoundTableModel::kColumnCount});
    QVERIFY(model->rowCount() >= 1);
    const auto* found = qobject_cast<const FoundTableModel*>(model);
    QVERIFY(found != nullptr);
    const FoundStretch& best = found->Row(0);
    const uint32_t frame = best.frame;
    QVERIFY2((frame > truth ? frame - truth : truth - frame) <= kDialogFindHop / 2, qPrintable(QString::number(frame)));
    QVERIFY(best.confident);
    const QString written = Q(dir.path() / "out" / "sample_found_01.wav");
    QCOMPARE(Cell(model, 0, FoundTableModel::kSource), QStringLiteral("source.wav"));
    QCOMPARE(Cell(model, 0, FoundTableModel::kStart), ClockText(uint64_t{frame} * 1000 / 44100));
    QCOMPARE(Cell(model, 0, FoundTableModel::kLength), QStringLiteral("00:02.000"));
    QCOMPARE(Cell(model, 0, FoundTableModel::kConfident), QStringLiteral("confident"));
    QCOMPARE(Cell(model, 0, FoundTableModel::kFile), QStringLiteral("sample_found_01.wav"));
    QVERIFY(Cell(model, 0, FoundTableModel::kSimilarity).endsWith(" %"));

    // The stretch written is the source's frames from the reported start.
    const auto bytes = kestrune::test::ReadBytes(dir.path() / "out" / "sample_found_01.wav");
    const auto source = kestrune::test::FrameBytes(music);
    const size_t frames = 4 * 22050;
    QCOMPARE(bytes.size(), size_t{44} + frames * 4);
    QVERIFY(std::equal(bytes.begin() + 44, bytes.end(), source.begin() + frame * 4));
    QCOMPARE(w.files->topLevelItem(0)->text(0), QDir::toNativeSeparators(written));
    QCOMPARE(w.files->topLevelItem(0)->text(1), QLocale().formattedDataSize(qint64(bytes.size())));

    // The picture: the fragment's similarity across the source, its peak
    // where the piece lies, the score's line under it, the place marked.
    const PlotData& plot = w.plot->Data();
    QCOMPARE(plot.strips.size(), size_t{1});
    const PlotStrip& strip = plot.strips[0];
    QCOMPARE(strip.values.size(), size_t{RunResults::kMaxColumns});
    const size_t column = size_t{frame} * strip.values.size() / (music.size() / 2);
    QVERIFY(std::find(strip.marked.begin(), strip.marked.end(), column) != strip.marked.end());
    QCOMPARE(*std::max_element(strip.values.begin(), strip.values.end()), strip.values[column]);
    QVERIFY(plot.threshold < strip.values[column]);
    std::vector<float> sorted = strip.values;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    QVERIFY(plot.threshold > sorted[sorted.size() / 2]);
    QCOMPARE(plot.durationMs, uint64_t{30000});

    // Export: the keys of kestrune-cli find --json.
    const QString json = Q(dir.path() / "found.json");
    QVERIFY(window->ExportTo(json));
    QFile file(json);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(root.keys(), (QStringList{"blocks_per_split", "fragment_frames", "frames_per_split", "hop", "matches",
                                       "sample", "sources", "split_ms"}));
    const QJsonObject match = root["matches"].toArray().at(0).toObject();
    QCOMPARE(match.keys(), (QStringList{"agreement", "bits", "confident", "file", "frame", "score", "seconds",
                                        "similarity", "source"}));
    QCOMPARE(match["frame"].toInt(), int(frame));
    QCOMPARE(match["file"].toString(), written);
    QCOMPARE(root["hop"].toInt(), 128);

    // Again: the found file would be replaced, so the dialog asks; Cancel
    // keeps it and the window.
    QPointer<ResultsWindow> first = window;
    prompts.askAnswers = {false};
    c.process->click();
    QCOMPARE(prompts.questions.size(), size_t{1});
    QVERIFY(prompts.questions[0].details.contains("sample_found_01.wav"));
    QCOMPARE(dlg.Results(), first.data());

    // Music the source does not hold: no error, the best candidate shown
    // not confident, nothing written.
    std::filesystem::remove(dir.path() / "out" / "sample_found_01.wav");
    prompts.fileAnswers = {Q(dir.path() / "other.wav")};
    c.openSample->click();
    c.process->click();
    QVERIFY2(prompts.messages.empty(), qPrintable(prompts.Texts().join('|')));
    ResultsWindow* second = dlg.Results();
    QVERIFY(second != nullptr && second != first.data());
    QTRY_VERIFY(first.isNull());
    const QAbstractItemModel* none = second->controls().table->model();
    QCOMPARE(none->rowCount(), 1);
    QCOMPARE(Cell(none, 0, FoundTableModel::kConfident), QStringLiteral("not confident"));
    QVERIFY(second->controls().summary->text().startsWith("No confident match was found"));
    QVERIFY(std::filesystem::is_empty(dir.path() / "out"));

    // Stopped while searching: the failure box says so, the last window stays.
    {
      EscapeOn stop(QStringLiteral("Searching source.wav"));
      c.process->click();
    }
    QCOMPARE(prompts.messages.size(), size_t{1});
    QCOMPARE(prompts.messages[0].text, QStringLiteral("Error occurs while processing sound."));
    QCOMPARE(prompts.messages[0].details, QStringLiteral("Stopped at your request."));
    QCOMPARE(dlg.Results(), second);
    QVERIFY(std::filesystem::is_empty(dir.path() / "out"));
  }
};

}  // namespace kestrune::ui::test

QTEST_MAIN(kestrune::ui::test::FindAnywhereTest)
#include "find_anywhere_test.moc"
