// Whole runs from the main dialog through the launchers, the progress
// dialogs and the jobs to the result files, on small generated WAV files.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <filesystem>
#include <memory>
#include <random>

#include "matching/match_settings.h"
#include "matching/database_build_job.h"
#include "dialog_rig.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"
#include "left_windows.h"
#include "test_prompts.h"
#include "ui/launchers.h"
#include "ui/other_tempo_line.h"
#include "ui/tamberly_dlg.h"
#include "ui/up_dialog.h"

namespace kestrune::ui::test {
namespace {

using kestrune::test::PcmWav;
using kestrune::test::ReadBytes;
using kestrune::test::TempDir;
using kestrune::test::WriteBytes;

// Quiet noise with a loud decaying burst on every beat.
std::vector<uint8_t> BeatTrack(double bpm, int seconds) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const int frames = seconds * 44100;
  const double period = 60.0 / bpm * 44100.0;
  std::vector<int16_t> s(2 * static_cast<size_t>(frames));
  for (int n = 0; n < frames; ++n) {
    const double sincebeat = std::fmod(n, period);
    const double amplitude = 500.0 + (sincebeat < 882 ? 20000.0 * (882 - sincebeat) / 882 : 0.0);
    s[2 * n] = static_cast<int16_t>(amplitude * unit(rng));
    s[2 * n + 1] = static_cast<int16_t>(amplitude * unit(rng));
  }
  return kestrune::test::StereoWav(s);
}

// Notes every progress dialog shown and every status it shows.
class ProgressWatcher : public QObject {
 public:
  ProgressWatcher() { qApp->installEventFilter(this); }
  ~ProgressWatcher() override { qApp->removeEventFilter(this); }

  bool eventFilter(QObject* object, QEvent* event) override {
    auto* dialog = qobject_cast<CUPDialog*>(object);
    if (dialog != nullptr && event->type() == QEvent::Show) {
      titles << dialog->windowTitle();
      connect(dialog, &CUPDialog::statusChanged, this, [this, dialog](const QString& text) {
        statuses << text;
        if (text == escapeOn) {
          QTimer::singleShot(0, dialog, [dialog] { QTest::keyClick(dialog, Qt::Key_Escape); });
        }
      });
    }
    return false;
  }

  QStringList titles;
  QStringList statuses;
  QString escapeOn;  // Escape is pressed once this status shows
};

}  // namespace

class LaunchersTest : public QObject {
  Q_OBJECT

  std::unique_ptr<DialogRig> rig;
  TempDir* dir = nullptr;
  TestPrompts* prompts = nullptr;
  CoreLaunchers* launchers = nullptr;
  CTamberlyDlg* dlg = nullptr;
  const CTamberlyDlg::Controls* c = nullptr;

  std::filesystem::path Out(const std::string& name) const { return dir->path() / "out" / name; }

  // Source, sample and output folder through the choosers; 100 ms splits,
  // only perfect matches, three template splits from sample split 1 on.
  void ChooseFiles(const QString& source) {
    prompts->fileAnswers = {source, Q(dir->path() / "sample.wav")};
    prompts->folderAnswers = {Q(dir->path() / "out")};
    c->openSource->click();
    c->openSample->click();
    c->openOutputFolder->click();
    c->splitMs->setText("100");
    c->minSimilarity->setText("100");
    c->startOffset->setText("1");
    c->fragmentLength->setText("3");
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
    const QString left = LeftTopLevelWindows();
    QVERIFY2(left.isEmpty(), qPrintable("windows left open:\n" + left));
  }

  void processWritesTheResultFile() {
    ProgressWatcher watcher;
    ChooseFiles(Q(dir->path() / "source.wav"));
    c->process->click();

    QVERIFY2(prompts->messages.empty(), qPrintable(prompts->Texts().join('|')));
    QCOMPARE(ReadBytes(Out("sample_rest.wav")), PcmWav(Splits({17, 12, 15})));
    // The run behind "Processing sound.", its one result converted behind a
    // nested dialog.
    QCOMPARE(watcher.titles, (QStringList{"Processing sound.", "Converting sound."}));
    QCOMPARE(watcher.statuses.first(), QStringLiteral("Please Wait..."));
    QVERIFY(watcher.statuses.contains("Template split - 2, src split written - 5"));
    // The dialog is as before the run.
    QCOMPARE(c->splitMs->text(), QStringLiteral("100"));
    QVERIFY(c->collect->isChecked());
  }

  void processWithADatabaseSource() {
    DatabaseBuildRequest request;
    request.sourcePath = dir->path() / "source.wav";
    request.splitMilliseconds = 100;
    request.outputPath = dir->path() / "songs.qlmx";
    std::string error;
    QVERIFY2(BuildSplitsDatabase(request, nullptr, error), error.c_str());

    c->source->setCurrentIndex(kSourceDatabase);
    emit c->source->activated(kSourceDatabase);
    ChooseFiles(Q(request.outputPath));
    c->splitMs->setText("1000");  // the database decides
    c->process->click();

    QVERIFY2(prompts->messages.empty(), qPrintable(prompts->Texts().join('|')));
    QCOMPARE(prompts->fileRequests.at(0).initialName, QStringLiteral("database.qlmx"));
    QCOMPARE(ReadBytes(Out("sample_rest.wav")), PcmWav(Splits({17, 12, 15})));
  }

  void aFailedRunIsReportedAfterTheJobsOwnMessage() {
    // A format tag that no reader knows: the job refuses it itself (a file
    // that can be converted gets the offer of convert_offer_test.cpp first).
    const std::vector<uint8_t> data = Splits({1, 2});
    kestrune::test::WavBuilder odd;
    odd.RiffHeader(static_cast<uint32_t>(36 + data.size())).Fmt(0x5A5A, 2, 44100, 4, 16).Chunk("data", data);
    WriteBytes(dir->path() / "mono.wav", odd.bytes());
    ChooseFiles(Q(dir->path() / "mono.wav"));
    c->process->click();
    QCOMPARE(prompts->Texts(), (QStringList{"Only 44 kHz 2 chanels PCM wav files supported",
                                            "Error occurs while processing sound."}));
    for (const ShownMessage& m : prompts->messages) {
      QCOMPARE(m.caption, QStringLiteral("Sound processing"));
      QCOMPARE(m.owner, nullptr);
      QVERIFY(m.icon == UserPrompts::Icon::None);
      QCOMPARE(m.thread, QThread::currentThread());
    }
    QVERIFY(!std::filesystem::exists(Out("sample_rest.wav")));

    // A database that cannot be opened fails the same way.
    prompts->messages.clear();
    QVERIFY(!LaunchDatabaseMatch(nullptr, *prompts, Q(dir->path() / "out") + "/", Q(dir->path() / "none.qlmx"),
                                 Q(dir->path() / "sample.wav"), 0, 1, 35, 0, 0));
    QCOMPARE(prompts->Texts(), QStringList{"Error occurs while processing sound."});
  }

  void escapeTerminatesARun() {
    ProgressWatcher watcher;
    watcher.escapeOn = QStringLiteral("Prepare source beats information..");
    ChooseFiles(Q(dir->path() / "source.wav"));
    c->process->click();

    QCOMPARE(watcher.titles, QStringList{"Processing sound."});
    QVERIFY(watcher.statuses.contains("Termination Initiated.."));
    QCOMPARE(prompts->Texts(), QStringList{"Error occurs while processing sound."});
    QVERIFY(!std::filesystem::exists(Out("sample_rest.wav")));
  }

  void theTempoLauncher() {
    WriteBytes(dir->path() / "beat.wav", BeatTrack(120.0, 12));
    double estimate = -1.0;
    ProgressWatcher watcher;
    QVERIFY(LaunchTempoEstimate(nullptr, Q(dir->path() / "beat.wav"), &estimate));
    QCOMPARE(watcher.titles, QStringList{"Calculating BPM"});
    QCOMPARE(watcher.statuses.first(), QStringLiteral("Calculating BPM"));
    QVERIFY2(estimate > 115.0 && estimate < 125.0, qPrintable(QString::number(estimate)));

    // No estimate: the caller's value stays, nothing is shown.
    estimate = 42.0;
    QVERIFY(!LaunchTempoEstimate(nullptr, Q(dir->path() / "missing.wav"), &estimate));
    QCOMPARE(estimate, 42.0);
    QVERIFY(prompts->messages.empty());

    // From the dialog.
    prompts->fileAnswers = {Q(dir->path() / "beat.wav")};
    c->openSource->click();
    c->bpmMode->click();
    c->calculate->click();
    QVERIFY(prompts->messages.empty());
    const uint32_t bpm = c->bpm->text().toUInt();
    QVERIFY2(bpm >= 115 && bpm <= 125, qPrintable(c->bpm->text()));
    QCOMPARE(c->splitMs->text(), QString::number(60000 / bpm));
    // The two estimates agree on this beat: no other estimate is offered.
    QVERIFY(!c->otherTempo->isVisibleTo(dlg));

    // Both estimates behind the one dialog, the second with its own status line.
    ProgressWatcher both;
    OnsetTempo other;
    estimate = -1.0;
    QVERIFY(LaunchTempoEstimates(nullptr, Q(dir->path() / "beat.wav"), &estimate, &other));
    QCOMPARE(both.titles, QStringList{"Calculating BPM"});
    QVERIFY(both.statuses.contains(QStringLiteral("Checking the tempo with a second method")));
    QVERIFY2(estimate > 115.0 && estimate < 125.0, qPrintable(QString::number(estimate)));
    QVERIFY2(other.bpm > 117.0 && other.bpm < 123.0, qPrintable(QString::number(other.bpm)));
  }
};

}  // namespace kestrune::ui::test

QTEST_MAIN(kestrune::ui::test::LaunchersTest)
#include "launchers_test.moc"
