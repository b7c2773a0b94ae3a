// What the main dialog and the progress dialog add for the user: the "Stop"
// button, the split length a tempo gives shown live, dropped files, choosers
// opening where the current file lies and the sample's length in splits.
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/temp_dir.h"
#include "support/wav_builder.h"
#include "test_prompts.h"
#include "ui/launchers.h"
#include "ui/tamberly_dlg.h"
#include "ui/up_dialog.h"

namespace kestrune::ui::test {
namespace {

using kestrune::test::PcmWav;
using kestrune::test::TempDir;
using kestrune::test::WriteBytes;

class NoLaunchers : public JobLaunchers {
 public:
  bool WavMatch(QWidget*, const QString&, const QString&, const QString&, uint32_t splitMs, uint32_t, uint32_t,
                uint32_t, uint32_t, uint32_t) override {
    splits.push_back(splitMs);
    return false;
  }
  bool DatabaseMatch(QWidget*, const QString&, const QString&, const QString&, uint32_t, uint32_t, uint32_t,
                     uint32_t, uint32_t) override {
    return false;
  }
  bool TempoEstimate(QWidget*, const QString&, double*) override { return false; }
  std::vector<uint32_t> splits;
};

void Type(QLineEdit* edit, const QString& text) {
  edit->clear();
  QTest::keyClicks(edit, text);
}

// Drags paths over the dialog and drops them; true when the drag was accepted.
bool Drop(QWidget* target, const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

bool WaitForStop(WorkerContext* context) {
  while (!context->bTerminate.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return false;
}

}  // namespace

class DialogAdditionsTest : public QObject {
  Q_OBJECT

  TestPrompts* prompts = nullptr;
  NoLaunchers* launchers = nullptr;
  CTamberlyDlg* dlg = nullptr;
  const CTamberlyDlg::Controls* c = nullptr;

 private slots:
  void init() {
    prompts = new TestPrompts;
    launchers = new NoLaunchers;
    dlg = new CTamberlyDlg(*prompts, *launchers);
    c = &dlg->controls();
  }
  void cleanup() {
    delete dlg;
    delete launchers;
    delete prompts;
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
  }

  void stopEndsARunLikeEscape() {
    CUPDialog dialog(nullptr, false, "Processing sound.", WaitForStop, nullptr);
    QPushButton* stop = dialog.StopButton();
    QCOMPARE(stop->text(), QStringLiteral("Stop"));
    QTimer::singleShot(50, stop, [stop] {
      QVERIFY(stop->isVisible());
      QVERIFY(stop->isEnabled());
      stop->click();
    });
    QCOMPARE(dialog.DoModal(), PD_TERMINATED);
    QCOMPARE(dialog.StatusText(), QStringLiteral("Termination Initiated.."));
    QVERIFY(!stop->isEnabled());  // stopping has begun
    dialog.Cleanup();
    // A new run may be stopped again.
    QTimer::singleShot(50, stop, [stop] { stop->click(); });
    QCOMPARE(dialog.DoModal(), PD_TERMINATED);
  }

  void bpmModeShowsTheSplitLengthLive_data() {
    QTest::addColumn<QString>("bpm");
    QTest::addColumn<int>("fraction");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("note");
    QTest::newRow("120, 1/4") << "120" << 1 << "500" << "";
    QTest::newRow("120, 3/16") << "120" << 2 << "375" << "";
    QTest::newRow("160, 1/16 (93)") << "160" << 4 << "100" << "100 ms (held to 100..5000)";
    QTest::newRow("10, 1/4 (6000)") << "10" << 1 << "5000" << "5000 ms (held to 100..5000)";
  }

  void bpmModeShowsTheSplitLengthLive() {
    QFETCH(QString, bpm);
    QFETCH(int, fraction);
    QFETCH(QString, shown);
    QFETCH(QString, note);
    c->bpmMode->click();
    c->noteFraction->setCurrentIndex(fraction);
    Type(c->bpm, bpm);
    QCOMPARE(c->splitMs->text(), shown);
    QCOMPARE(c->splitNote->text(), note);
    c->process->click();
    QCOMPARE(launchers->splits.back(), shown.toUInt());
    // A tempo being typed ("1" on the way to "120") leaves the last length.
    Type(c->bpm, "1");
    QCOMPARE(c->splitMs->text(), shown);
    // Milliseconds mode: the field is the user's again, with no note.
    Type(c->bpm, bpm);
    c->millisecondsMode->click();
    QCOMPARE(c->splitNote->text(), QString());
    Type(c->splitMs, "700");
    c->process->click();
    QCOMPARE(launchers->splits.back(), 700u);
    QVERIFY(prompts->messages.empty());
  }

  void droppedFilesFindTheirPlace() {
    TempDir dir;
    const QString sample = QString::fromStdString((dir.path() / "loop.wav").string());
    WriteBytes(dir.path() / "loop.wav", PcmWav(std::vector<uint8_t>(10 * 4410 * 4 + 100, 0)));
    const QString song = QDir::toNativeSeparators("/music/song.wav");

    QVERIFY(!Drop(dlg, {"/music/notes.txt"}));
    // A WAV goes to the source while it is empty, then to the sample.
    QVERIFY(Drop(dlg, {"/music/song.wav"}));
    QCOMPARE(c->sourcePath->text(), song);
    QCOMPARE(c->sample->text(), QString());
    QVERIFY(Drop(dlg, {sample}));
    QCOMPARE(c->sourcePath->text(), song);
    QCOMPARE(c->sample->text(), QDir::toNativeSeparators(sample));
    // Its length in splits shows beside it, following the split length.
    QCOMPARE(c->sampleLength->text(), QStringLiteral("(2 splits)"));
    Type(c->splitMs, "100");
    QCOMPARE(c->sampleLength->text(), QStringLiteral("(10 splits)"));

    // A database becomes the source, and the split-length group goes.
    QVERIFY(Drop(dlg, {"/music/all.qlmx"}));
    QCOMPARE(c->source->currentIndex(), kSourceDatabase);
    QCOMPARE(c->sourcePath->text(), QDir::toNativeSeparators("/music/all.qlmx"));
    QVERIFY(c->splitMs->isHidden());
    QVERIFY(prompts->messages.empty());

    // Into an empty dialog showing "Splits Database", a WAV is the source again.
    delete dlg;
    dlg = new CTamberlyDlg(*prompts, *launchers);
    c = &dlg->controls();
    c->source->setCurrentIndex(kSourceDatabase);
    emit c->source->activated(kSourceDatabase);
    QVERIFY(Drop(dlg, {"/music/song.wav", sample}));
    QCOMPARE(c->source->currentIndex(), kSourceWav);
    QVERIFY(!c->splitMs->isHidden());
    QCOMPARE(c->sourcePath->text(), song);
    QCOMPARE(c->sample->text(), QDir::toNativeSeparators(sample));
  }

  void choosersOpenInTheFolderOfTheCurrentFile() {
    prompts->fileAnswers = {"/music/a/song.wav", QString(), "/music/b/loop.wav", QString(), QString()};
    c->openSource->click();
    c->openSample->click();  // no sample yet: the source's folder
    c->openSample->click();
    c->openSample->click();
    c->openSource->click();
    QCOMPARE(prompts->fileRequests.size(), size_t{5});
    const QStringList folders = {"", "/music/a", "/music/a", "/music/b", "/music/a"};
    for (int i = 0; i < 5; ++i) QCOMPARE(prompts->fileRequests[i].folder, folders[i]);
  }
};

}  // namespace kestrune::ui::test

QTEST_MAIN(kestrune::ui::test::DialogAdditionsTest)
#include "dialog_additions_test.moc"
