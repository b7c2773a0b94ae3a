// The main dialog: defaults, checks and their order, showing and enabling,
// the split length from a tempo, the choosers, "Calculate from source" and
// what "Process.." hands to the launchers.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <optional>

#include "left_windows.h"
#include "test_prompts.h"
#include "ui/about_dlg.h"
#include "ui/launchers.h"
#include "ui/other_tempo_line.h"
#include "ui/tamberly_dlg.h"

namespace kestrune::ui::test {
namespace {

// Records what the dialog asks of the launchers.
class FakeLaunchers : public JobLaunchers {
 public:
  struct Call {
    QString kind;
    QString outputFolder, sourcePath, samplePath;
    uint32_t splitMilliseconds, startOffset, fragmentLength, minSimilarity, declick, separateFiles;
  };

  bool WavMatch(QWidget*, const QString& outputFolder, const QString& sourcePath, const QString& samplePath,
                uint32_t splitMilliseconds, uint32_t startOffset, uint32_t fragmentLength,
                uint32_t minSimilarity, uint32_t declick, uint32_t separateFiles) override {
    calls.push_back({"wav", outputFolder, sourcePath, samplePath, splitMilliseconds, startOffset, fragmentLength,
                     minSimilarity, declick, separateFiles});
    return true;
  }
  bool DatabaseMatch(QWidget*, const QString& outputFolder, const QString& databasePath,
                     const QString& samplePath, uint32_t startOffset, uint32_t fragmentLength,
                     uint32_t minSimilarity, uint32_t declick, uint32_t separateFiles) override {
    calls.push_back({"database", outputFolder, databasePath, samplePath, 0, startOffset, fragmentLength,
                     minSimilarity, declick, separateFiles});
    return true;
  }
  bool TempoEstimate(QWidget*, const QString& sourcePath, double* estimate) override {
    tempoSources << sourcePath;
    if (!tempo) return false;
    *estimate = *tempo;
    return true;
  }
  bool TempoEstimates(QWidget* owner, const QString& sourcePath, double* estimate, OnsetTempo* other) override {
    *other = otherTempo;
    return TempoEstimate(owner, sourcePath, estimate);
  }

  std::vector<Call> calls;
  OnsetTempo otherTempo;  // the second estimate; none by default
  QStringList tempoSources;
  std::optional<double> tempo;  // none: the estimate fails
};

void Type(QLineEdit* edit, const QString& text) {
  edit->clear();
  QTest::keyClicks(edit, text);
}

// What a user's choice in a drop-down list does.
void Choose(QComboBox* combo, int index) {
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

QList<QWidget*> SplitGroup(const CTamberlyDlg::Controls& c) {
  return {c.splitLength, c.millisecondsMode, c.splitMs, c.millisecondsUnit, c.bpmMode,
          c.bpm,         c.bpmUnit,          c.noteFraction, c.calculate};
}

}  // namespace

class TamberlyDlgTest : public QObject {
  Q_OBJECT

  TestPrompts* prompts = nullptr;
  FakeLaunchers* launchers = nullptr;
  CTamberlyDlg* dlg = nullptr;
  const CTamberlyDlg::Controls* c = nullptr;

 private slots:
  void init() {
    prompts = new TestPrompts;
    launchers = new FakeLaunchers;
    dlg = new CTamberlyDlg(*prompts, *launchers);
    c = &dlg->controls();
  }
  void cleanup() {
    delete dlg;
    delete launchers;
    delete prompts;
    const QString left = LeftTopLevelWindows();
    QVERIFY2(left.isEmpty(), qPrintable("windows left open:\n" + left));
  }

  void firstStartShowsTheDefaults() {
    QCOMPARE(dlg->windowTitle(), QStringLiteral("Kestrune"));
    QCOMPARE(c->source->currentText(), QStringLiteral("Wav File"));
    QCOMPARE(c->source->itemText(0), QStringLiteral("Splits Database"));
    QCOMPARE(c->sourcePath->text(), QString());
    QCOMPARE(c->sample->text(), QString());
    QVERIFY(c->millisecondsMode->isChecked());
    QVERIFY(!c->bpmMode->isChecked());
    QCOMPARE(c->splitMs->text(), QStringLiteral("500"));
    QCOMPARE(c->bpm->text(), QStringLiteral("120"));
    QCOMPARE(c->noteFraction->currentText(), QStringLiteral("1/4"));
    QCOMPARE(c->noteFraction->count(), 5);
    QCOMPARE(c->noteFraction->itemText(2), QStringLiteral("3/16"));
    QCOMPARE(c->startOffset->text(), QStringLiteral("0"));
    QCOMPARE(c->fragmentLength->text(), QStringLiteral("2"));
    QCOMPARE(c->minSimilarity->text(), QStringLiteral("35"));
    QVERIFY(!c->declick->isChecked());
    QVERIFY(c->collect->isChecked());
    QCOMPARE(c->outputFolder->text(), QDir::toNativeSeparators(QDir::homePath()) + QDir::separator());
    QVERIFY(c->sourcePath->isReadOnly() && c->sample->isReadOnly() && c->outputFolder->isReadOnly());
    QVERIFY(c->process->isDefault());

    for (QWidget* w : SplitGroup(*c)) QVERIFY(!w->isHidden());
    QVERIFY(c->splitMs->isEnabled());
    QVERIFY(!c->bpm->isEnabled());
    QVERIFY(!c->noteFraction->isEnabled());
    QVERIFY(!c->calculate->isEnabled());
    QVERIFY(prompts->messages.empty());
  }

  void aFieldOutOfRangeStopsTheCommand_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("bpmMode");
    QTest::addColumn<QString>("message");
    const QString notNumber = QStringLiteral("Please enter a positive integer.");
    auto between = [](int a, int b) { return QStringLiteral("Please enter an integer between %1 and %2.").arg(a).arg(b); };
    QTest::newRow("offset 50001") << "startOffset" << "50001" << false << between(0, 50000);
    QTest::newRow("offset beyond 32 bits") << "startOffset" << "99999999999" << false << between(0, 50000);
    QTest::newRow("fragment 0") << "fragmentLength" << "0" << false << between(1, 50);
    QTest::newRow("fragment 51") << "fragmentLength" << "51" << false << between(1, 50);
    QTest::newRow("fragment empty") << "fragmentLength" << "" << false << notNumber;
    QTest::newRow("similarity 0") << "minSimilarity" << "0" << false << between(1, 100);
    QTest::newRow("similarity 101") << "minSimilarity" << "101" << false << between(1, 100);
    QTest::newRow("split 99") << "splitMs" << "99" << false << between(100, 5000);
    QTest::newRow("split 5001") << "splitMs" << "5001" << false << between(100, 5000);
    QTest::newRow("tempo 9") << "bpm" << "9" << true << between(10, 200);
    QTest::newRow("tempo 201") << "bpm" << "201" << true << between(10, 200);
    QTest::newRow("tempo empty") << "bpm" << "" << true << notNumber;
  }

  void aFieldOutOfRangeStopsTheCommand() {
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(bool, bpmMode);
    QFETCH(QString, message);
    if (bpmMode) c->bpmMode->click();
    auto* edit = dlg->findChild<QLineEdit*>(field);
    QVERIFY(edit != nullptr);
    Type(edit, value);

    c->process->click();
    QVERIFY(launchers->calls.empty());
    QCOMPARE(prompts->Texts(), QStringList{message});
    const ShownMessage& m = prompts->messages[0];
    QCOMPARE(m.caption, QStringLiteral("Kestrune"));
    QVERIFY(m.icon == UserPrompts::Icon::Exclamation);
    QCOMPARE(m.owner, dlg);
    QCOMPARE(dlg->focusWidget(), edit);
    QCOMPARE(edit->selectedText(), value);

    // Every other command that reads the fields stops as well.
    c->openSample->click();
    c->openOutputFolder->click();
    Choose(c->source, kSourceDatabase);
    QCOMPARE(prompts->messages.size(), size_t{4});
    QVERIFY(prompts->fileRequests.empty() && prompts->folderOwners.empty());
    QVERIFY(!c->splitLength->isHidden());
  }

  void enterProcessesCloseChecksEscapeEnds() {
    dlg->show();
    QTest::keyClick(c->fragmentLength, Qt::Key_Return);
    QCOMPARE(launchers->calls.size(), size_t{1});

    Type(c->fragmentLength, "0");
    c->close->click();
    QVERIFY(dlg->isVisible());
    QCOMPARE(prompts->messages.size(), size_t{1});
    QTest::keyClick(dlg, Qt::Key_Escape);
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->result(), int(QDialog::Rejected));
    QCOMPARE(prompts->messages.size(), size_t{1});

    Type(c->fragmentLength, "3");
    dlg->show();
    c->close->click();
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
  }

  void theExchangeOrderDecidesWhichFieldIsReported() {
    Type(c->startOffset, "7");
    Type(c->fragmentLength, "0");
    Type(c->minSimilarity, "0");
    c->process->click();
    QCOMPARE(prompts->Texts(), QStringList{"Please enter an integer between 1 and 50."});
    QCOMPARE(dlg->focusWidget(), c->fragmentLength);

    Type(c->fragmentLength, "3");
    c->process->click();
    QCOMPARE(prompts->Texts().last(), QStringLiteral("Please enter an integer between 1 and 100."));
    QCOMPARE(dlg->focusWidget(), c->minSimilarity);

    // The start offset read before the failures was kept.
    Type(c->minSimilarity, "60");
    c->process->click();
    QCOMPARE(prompts->messages.size(), size_t{2});
    QCOMPARE(launchers->calls.at(0).startOffset, 7u);
    QCOMPARE(launchers->calls.at(0).fragmentLength, 3u);
    QCOMPARE(launchers->calls.at(0).minSimilarity, 60u);
  }

  void theSourceShowsOrHidesTheSplitLengthGroup() {
    c->bpmMode->click();
    Choose(c->source, kSourceDatabase);
    for (QWidget* w : SplitGroup(*c)) QVERIFY2(w->isHidden(), qPrintable(w->objectName()));
    Choose(c->source, kSourceWav);
    for (QWidget* w : SplitGroup(*c)) QVERIFY2(!w->isHidden(), qPrintable(w->objectName()));
    // Shown again with the enabling of the current mode.
    QVERIFY(c->bpm->isEnabled() && c->noteFraction->isEnabled() && c->calculate->isEnabled());
    QVERIFY(!c->splitMs->isEnabled());

    c->millisecondsMode->click();
    QVERIFY(!c->bpm->isEnabled() && !c->noteFraction->isEnabled() && !c->calculate->isEnabled());
    QVERIFY(c->splitMs->isEnabled());
  }

  void theNoteFractionSetsTheSplitLength() {
    c->bpmMode->click();
    Choose(c->noteFraction, 2);  // 3/16
    QCOMPARE(c->splitMs->text(), QStringLiteral("375"));
    Choose(c->noteFraction, 4);  // 1/16
    QCOMPARE(c->splitMs->text(), QStringLiteral("125"));
    Choose(c->noteFraction, 0);  // 1/2
    QCOMPARE(c->splitMs->text(), QStringLiteral("1000"));
    Type(c->bpm, "128");
    Choose(c->noteFraction, 1);  // 1/4
    QCOMPARE(c->splitMs->text(), QStringLiteral("468"));
  }

  void processUsesATempoTypedInBpmMode() {
    c->bpmMode->click();
    Choose(c->noteFraction, 3);  // 1/8 at 120 BPM
    QCOMPARE(c->splitMs->text(), QStringLiteral("250"));
    Type(c->bpm, "150");
    c->process->click();
    QCOMPARE(launchers->calls.size(), size_t{1});
    QCOMPARE(launchers->calls[0].splitMilliseconds, 200u);
    // The field shows the length the new tempo gives, as it is typed.
    QCOMPARE(c->splitMs->text(), QStringLiteral("200"));

    // In milliseconds mode the field decides again.
    c->millisecondsMode->click();
    Type(c->splitMs, "250");
    c->process->click();
    QCOMPARE(launchers->calls.back().splitMilliseconds, 250u);
  }

  void aTempoOutsideTheSplitRangeIsLimited_data() {
    QTest::addColumn<QString>("bpm");
    QTest::addColumn<int>("fraction");
    QTest::addColumn<uint32_t>("limited");
    QTest::newRow("10 BPM, 1/4 (6000)") << "10" << 1 << 5000u;
    QTest::newRow("23 BPM, 1/2 (5216)") << "23" << 0 << 5000u;
    QTest::newRow("160 BPM, 1/16 (93)") << "160" << 4 << 100u;
    QTest::newRow("200 BPM, 1/16 (75)") << "200" << 4 << 100u;
  }

  void aTempoOutsideTheSplitRangeIsLimited() {
    QFETCH(QString, bpm);
    QFETCH(int, fraction);
    QFETCH(uint32_t, limited);
    c->bpmMode->click();
    Choose(c->noteFraction, fraction);
    // "Process.." limits a tempo typed after the last note choice itself.
    Type(c->bpm, bpm);
    c->process->click();
    QCOMPARE(launchers->calls.at(0).splitMilliseconds, limited);
    // The note choice writes the limited length, and the dialog stays usable.
    Choose(c->noteFraction, fraction);
    QCOMPARE(c->splitMs->text(), QString::number(limited));
    c->millisecondsMode->click();
    QVERIFY(c->splitMs->isEnabled());
    QVERIFY(prompts->messages.empty());
  }

  void theOutputFolderEndsWithASeparator() {
    const QString sep = QDir::separator();
    prompts->folderAnswers = {QDir::toNativeSeparators("/tmp/results"), sep, QString()};
    c->openOutputFolder->click();
    QCOMPARE(c->outputFolder->text(), QDir::toNativeSeparators("/tmp/results") + sep);
    // A root already ends with one.
    c->openOutputFolder->click();
    QCOMPARE(c->outputFolder->text(), sep);
    // Cancelled: unchanged.
    c->openOutputFolder->click();
    QCOMPARE(c->outputFolder->text(), sep);
    QCOMPARE(prompts->folderOwners, (std::vector<QWidget*>{dlg, dlg, dlg}));

    c->process->click();
    QCOMPARE(launchers->calls.at(0).outputFolder, sep);
  }

  void theChoosersAndProcessHandOverTheSettings() {
    prompts->fileAnswers = {"/music/song.wav", "/music/loop.wav", QString(), "/music/database.qlmx"};
    c->openSource->click();
    c->openSample->click();
    c->openSample->click();  // cancelled: nothing changes
    QCOMPARE(c->sample->text(), QDir::toNativeSeparators("/music/loop.wav"));
    c->declick->setChecked(true);
    QTest::keyClick(c->minSimilarity, Qt::Key_Backspace);
    QTest::keyClicks(c->minSimilarity, "0");  // 35 -> 30
    c->process->click();

    c->collect->setChecked(false);
    Choose(c->source, kSourceDatabase);
    c->openSource->click();
    c->process->click();

    QCOMPARE(prompts->fileRequests.size(), size_t{4});
    for (int i = 0; i < 3; ++i) {
      // WAV first, then every format that can be converted, then all files.
      const QString filter = prompts->fileRequests[i].filter;
      QVERIFY2(filter.startsWith(QStringLiteral("WAV files (*.wav);;")), qPrintable(filter));
      QVERIFY2(filter.endsWith(QStringLiteral(";;All Files (*)")), qPrintable(filter));
#ifdef KESTRUNE_WITH_CONVERT
      QVERIFY2(filter.contains(QStringLiteral("Audio files (")) && filter.contains(QStringLiteral("*.flac")) &&
                   filter.contains(QStringLiteral("*.mp3")) && filter.contains(QStringLiteral("*.aiff")),
               qPrintable(filter));
#endif
      QCOMPARE(prompts->fileRequests[i].initialName, QString());
    }
    QCOMPARE(prompts->fileRequests[3].filter, QStringLiteral("Vornic Databases (*.qlmx);;All Files (*)"));
    QCOMPARE(prompts->fileRequests[3].initialName, QStringLiteral("database.qlmx"));

    QCOMPARE(launchers->calls.size(), size_t{2});
    const auto& wav = launchers->calls[0];
    QCOMPARE(wav.kind, QStringLiteral("wav"));
    QCOMPARE(wav.sourcePath, QDir::toNativeSeparators("/music/song.wav"));
    QCOMPARE(wav.samplePath, QDir::toNativeSeparators("/music/loop.wav"));
    QCOMPARE(wav.outputFolder, c->outputFolder->text());
    QCOMPARE(wav.splitMilliseconds, 500u);
    QCOMPARE(wav.startOffset, 0u);
    QCOMPARE(wav.fragmentLength, 2u);
    QCOMPARE(wav.minSimilarity, 30u);
    QCOMPARE(wav.declick, 1u);
    QCOMPARE(wav.separateFiles, 0u);
    const auto& db = launchers->calls[1];
    QCOMPARE(db.kind, QStringLiteral("database"));
    QCOMPARE(db.sourcePath, QDir::toNativeSeparators("/music/database.qlmx"));
    QCOMPARE(db.separateFiles, 1u);
  }

  void calculateFromSourceFillsTempoAndSplitLength() {
    c->bpmMode->click();
    c->calculate->click();
    QCOMPARE(prompts->Texts(), QStringList{"Source file incorrect."});
    QVERIFY(launchers->tempoSources.isEmpty());

    prompts->fileAnswers = {"/music/song.wav"};
    c->openSource->click();
    launchers->tempo = 128.7;
    c->calculate->click();
    QCOMPARE(launchers->tempoSources, QStringList{QDir::toNativeSeparators("/music/song.wav")});
    QCOMPARE(c->bpm->text(), QStringLiteral("128"));
    QCOMPARE(c->splitMs->text(), QStringLiteral("468"));

    // A failed estimate leaves both as they are.
    launchers->tempo.reset();
    c->calculate->click();
    QCOMPARE(prompts->Texts().last(), QStringLiteral("Error while calculating BPM or source file incorrect."));
    QCOMPARE(prompts->messages.back().caption, QStringLiteral("Kestrune"));
    QVERIFY(prompts->messages.back().icon == UserPrompts::Icon::Exclamation);
    QCOMPARE(c->bpm->text(), QStringLiteral("128"));
    QCOMPARE(c->splitMs->text(), QStringLiteral("468"));
  }

  void otherEstimateIsOfferedWhenTheMainOneFailsOrDisagrees() {
    prompts->fileAnswers = {"/music/song.wav"};
    c->openSource->click();
    c->bpmMode->click();
    dlg->show();
    auto offered = [&](double tempo, double other, bool uncertain = false) {
      launchers->otherTempo = {};
      launchers->otherTempo.bpm = other;
      launchers->otherTempo.uncertain = uncertain;
      launchers->tempo = tempo;
      if (tempo == 0.0) launchers->tempo.reset();
      c->calculate->click();
      return c->otherTempo->isVisible();
    };
    // Agreement within 4 %, also at half or double, offers nothing.
    QVERIFY(!offered(128.7, 131.0));
    QVERIFY(!offered(128.7, 64.9));
    QVERIFY(!offered(90.0, 179.0));
    QVERIFY(!offered(128.7, 0.0));
    QVERIFY(offered(128.7, 97.04));
    QCOMPARE(c->otherTempo->text(), QStringLiteral("Other estimate: 97.0 BPM (confident) \u2014 <a href=\"use\">use it</a>"));
    QCOMPARE(c->bpm->text(), QStringLiteral("128"));
    emit c->otherTempo->linkActivated("use");
    QCOMPARE(c->bpm->text(), QStringLiteral("97"));
    QCOMPARE(c->splitMs->text(), QString::number(SplitLengthForTempo(97, 1)));
    QVERIFY(!c->otherTempo->isVisible());

    // The main estimate failing keeps its message; the other is offered beside it.
    QVERIFY(offered(0.0, 140.26, true));
    QCOMPARE(prompts->Texts().last(), QStringLiteral("Error while calculating BPM or source file incorrect."));
    QVERIFY(c->otherTempo->text().startsWith(QStringLiteral("Other estimate: 140.3 BPM (uncertain)")));
    QCOMPARE(c->bpm->text(), QStringLiteral("97"));
    Choose(c->source, kSourceDatabase);
    QVERIFY(!c->otherTempo->isVisible());
  }

  void aboutIsReachable() {
    QStringList seen;
    auto look = [&] {
      auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
      if (about == nullptr) return;
      seen << about->windowTitle();
      for (auto* label : about->findChildren<QLabel*>()) seen << label->text();
      about->accept();
    };
    QTimer::singleShot(0, this, look);
    c->about->click();
    QVERIFY(seen.contains(QStringLiteral("About Kestrune")));
    QVERIFY(seen.contains(QStringLiteral("Kestrune 1.0")));

    seen.clear();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowActive(dlg));
    QTimer::singleShot(0, this, look);
    QTest::keyClick(dlg, Qt::Key_F1);
    QVERIFY(seen.contains(QStringLiteral("About Kestrune")));
  }
};

}  // namespace kestrune::ui::test

QTEST_MAIN(kestrune::ui::test::TamberlyDlgTest)
#include "tamberly_dlg_test.moc"
