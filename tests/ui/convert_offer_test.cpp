// "Process.." with a source or sample the jobs refuse for its format: the
// refusal box offers a converted copy; accepted, the copy is written beside
// the original (or in the output folder) and the job runs on it; cancelled,
// nothing is written and nothing runs.
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "convert/convert.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"
#include "test_prompts.h"
#include "ui/launchers.h"
#include "ui/tamberly_dlg.h"

namespace kestrune::ui::test {
namespace {

class RecordingLaunchers : public JobLaunchers {
 public:
  bool WavMatch(QWidget*, const QString&, const QString& sourcePath, const QString& samplePath, uint32_t, uint32_t,
                uint32_t, uint32_t, uint32_t, uint32_t) override {
    matches << (sourcePath + "|" + samplePath);
    return true;
  }
  bool DatabaseMatch(QWidget*, const QString&, const QString&, const QString&, uint32_t, uint32_t, uint32_t,
                     uint32_t, uint32_t) override {
    return true;
  }
  bool TempoEstimate(QWidget*, const QString& sourcePath, double* estimate) override {
    tempoSources << sourcePath;
    *estimate = 120.0;
    return true;
  }
  QStringList matches, tempoSources;
};

QString Native(const std::filesystem::path& p) { return QDir::toNativeSeparators(QString::fromStdString(p.string())); }

}  // namespace

class ConvertOfferTest : public QObject {
  Q_OBJECT

 private:
  struct Setup {
    kestrune::test::TempDir dir;
    TestPrompts prompts;
    RecordingLaunchers launchers;
    CTamberlyDlg dialog{prompts, launchers};
    Setup() {
      // A target-format source and a mono sample of the same rate.
      kestrune::test::WriteBytes(dir / "source.wav", kestrune::test::PcmWav(kestrune::test::NoiseBytes(44100 * 4, 1)));
      kestrune::test::WriteBytes(dir / "mono.wav", kestrune::test::PcmWav(kestrune::test::NoiseBytes(44100 * 2, 2), 1));
      prompts.fileAnswers = {Native(dir / "source.wav"), Native(dir / "mono.wav")};
      prompts.folderAnswers = {Native(dir.path() / "out")};
      std::filesystem::create_directory(dir / "out");
      dialog.controls().openSource->click();
      dialog.controls().openSample->click();
      dialog.controls().openOutputFolder->click();
    }
  };

 private slots:
  void AcceptedTheCopyIsWrittenBesideTheOriginalAndUsed() {
    if (!convert::Available()) QSKIP("this build cannot convert");
    Setup s;
    s.prompts.convertAnswers = {true};
    s.dialog.controls().process->click();

    QCOMPARE(s.prompts.messages.size(), size_t{1});
    QCOMPARE(s.prompts.messages[0].caption, QStringLiteral("Sound processing"));
    QCOMPARE(s.prompts.messages[0].text, QStringLiteral("Only 44 kHz 2 chanels PCM wav files supported"));
    QVERIFY2(s.prompts.conversionDetails[0].startsWith(QStringLiteral("mono.wav is 44100 Hz, 1 channel, 16-bit.")),
             qPrintable(s.prompts.conversionDetails[0]));
    const QString copy = Native(s.dir / "mono_44k.wav");
    QVERIFY(s.prompts.conversionDetails[0].contains(copy));
    QCOMPARE(s.launchers.matches, QStringList{Native(s.dir / "source.wav") + "|" + copy});
    QCOMPARE(s.dialog.controls().sample->text(), copy);
    // The copy holds the mono samples on both sides.
    QVERIFY(convert::IsTargetFormat(s.dir / "mono_44k.wav"));
    const auto mono = kestrune::test::ReadBytes(s.dir / "mono.wav");
    const auto stereo = kestrune::test::ReadBytes(s.dir / "mono_44k.wav");
    QCOMPARE(stereo.size(), size_t{44 + 44100 * 4});
    for (size_t f = 0; f < 44100; ++f) {
      QVERIFY(stereo[44 + 4 * f] == mono[44 + 2 * f] && stereo[45 + 4 * f] == mono[45 + 2 * f]);
      QVERIFY(stereo[46 + 4 * f] == mono[44 + 2 * f] && stereo[47 + 4 * f] == mono[45 + 2 * f]);
    }
    // Once converted, the next run asks nothing.
    s.dialog.controls().process->click();
    QCOMPARE(s.prompts.messages.size(), size_t{1});
    QCOMPARE(s.launchers.matches.size(), 2);
  }

  void CancelledNothingIsWrittenAndNothingRuns() {
    if (!convert::Available()) QSKIP("this build cannot convert");
    Setup s;
    s.prompts.convertAnswers = {false};
    s.dialog.controls().process->click();
    QCOMPARE(s.prompts.messages.size(), size_t{1});
    QVERIFY(s.launchers.matches.isEmpty());
    QCOMPARE(s.dialog.controls().sample->text(), Native(s.dir / "mono.wav"));
    QVERIFY(!std::filesystem::exists(s.dir / "mono_44k.wav"));

    // "Calculate from source" makes the same offer for a source in another format.
    kestrune::test::WriteBytes(s.dir / "source.wav", kestrune::test::PcmWav(kestrune::test::NoiseBytes(44100 * 6, 3), 3));
    s.dialog.controls().bpmMode->click();
    s.prompts.convertAnswers = {false};
    s.dialog.controls().calculate->click();
    QCOMPARE(s.prompts.messages.size(), size_t{2});
    QVERIFY(s.prompts.conversionDetails[1].startsWith(QStringLiteral("source.wav is 44100 Hz, 3 channels, 16-bit.")));
    QVERIFY(s.launchers.tempoSources.isEmpty());
  }
};

}  // namespace kestrune::ui::test

QTEST_MAIN(kestrune::ui::test::ConvertOfferTest)
#include "convert_offer_test.moc"
