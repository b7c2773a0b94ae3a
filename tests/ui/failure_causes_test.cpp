// Runs from the main dialog that fail or would replace or write too much:
// the specified boxes keep their texts and carry the cause in their
// details; the questions before replacing and before a very large result
// are answered both ways, and a "Cancel" leaves no file.
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <memory>

#include "escape_on.h"
#include "dialog_rig.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"
#include "test_prompts.h"
#include "ui/launchers.h"
#include "ui/tamberly_dlg.h"
#include "ui/up_dialog.h"

namespace kestrune::ui::test {
namespace {

using kestrune::test::PcmWav;
using kestrune::test::ReadBytes;
using kestrune::test::TempDir;
using kestrune::test::WriteBytes;

}  // namespace

class FailureCausesTest : public QObject {
  Q_OBJECT

  std::unique_ptr<DialogRig> rig;
  TempDir* dir = nullptr;
  TestPrompts* prompts = nullptr;
  CoreLaunchers* launchers = nullptr;
  CTamberlyDlg* dlg = nullptr;
  const CTamberlyDlg::Controls* c = nullptr;

  std::filesystem::path Out(const std::string& name) const { return dir->path() / "out" / name; }

  void Run(const std::filesystem::path& source, const std::filesystem::path& sample,
           const std::filesystem::path& folder, const QString& startOffset = "1", const QString& similarity = "100") {
    prompts->fileAnswers = {Q(source), Q(sample)};
    prompts->folderAnswers = {Q(folder)};
    c->openSource->click();
    c->openSample->click();
    c->openOutputFolder->click();
    c->splitMs->setText("100");
    c->minSimilarity->setText(similarity);
    c->startOffset->setText(startOffset);
    c->fragmentLength->setText("3");
    c->process->click();
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

  void eachFailureSaysWhy() {
    const auto source = dir->path() / "source.wav";
    const auto sample = dir->path() / "sample.wav";
    const auto out = dir->path() / "out";
    WriteBytes(dir->path() / "notes.wav", {'h', 'e', 'l', 'l', 'o'});
    // A format tag no reader knows: the job refuses it itself (a file that can
    // be converted gets the offer of convert_offer_test.cpp first).
    const std::vector<uint8_t> oddData = Splits({1, 2});
    kestrune::test::WavBuilder odd;
    odd.RiffHeader(static_cast<uint32_t>(36 + oddData.size())).Fmt(0x5A5A, 2, 44100, 4, 16).Chunk("data", oddData);
    WriteBytes(dir->path() / "mono.wav", odd.bytes());
    const QString processFailed = QStringLiteral("Error occurs while processing sound.");
    struct Case {
      std::filesystem::path source, sample, folder;
      QString startOffset;
      QStringList texts;
      QString cause;
    };
    const Case cases[] = {
        {dir->path() / "none.wav", sample, out, "1", {processFailed},
         "The source \"" + Q(dir->path() / "none.wav") + "\" cannot be opened: No such file or directory."},
        {source, dir->path() / "notes.wav", out, "1", {processFailed},
         "The sample \"" + Q(dir->path() / "notes.wav") + "\" is not a WAV file"},
        {source, dir->path() / "mono.wav", out, "1",
         {"Only 44 kHz 2 chanels PCM wav files supported", processFailed},
         "The sample \"" + Q(dir->path() / "mono.wav") +
             "\" is not 44100 Hz, 2 channels, 16-bit PCM"},
        {source, sample, out, "2", {processFailed},
         "The sample \"" + Q(sample) + "\" is too short: the sample has only 4 splits; the fragment needs 5."},
        {source, sample, dir->path() / "gone", "1", {"Error occurs while converting sound."},
         "The output folder \"" + Q(dir->path() / "gone") + "\" does not exist or cannot be written."},
    };
    for (const Case& k : cases) {
      prompts->messages.clear();
      Run(k.source, k.sample, k.folder, k.startOffset);
      QCOMPARE(prompts->Texts(), k.texts);
      for (const ShownMessage& m : prompts->messages) {
        QCOMPARE(m.caption, QStringLiteral("Sound processing"));
        QVERIFY2(m.details.startsWith(k.cause), qPrintable(m.details + " / " + k.cause));
      }
    }

    // A run stopped by the user.
    prompts->messages.clear();
    EscapeOn escape(QStringLiteral("Prepare source beats information.."));
    Run(source, sample, out);
    QCOMPARE(prompts->Texts(), QStringList{processFailed});
    QCOMPARE(prompts->messages[0].details, QStringLiteral("Stopped at your request."));
    QVERIFY(!std::filesystem::exists(Out("sample_rest.wav")));
  }

  void existingResultsAreReplacedOnlyWhenAllowed() {
    const auto source = dir->path() / "source.wav";
    const auto sample = dir->path() / "sample.wav";
    const auto out = dir->path() / "out";
    Run(source, sample, out);
    QVERIFY(prompts->questions.empty());
    const auto result = ReadBytes(Out("sample_rest.wav"));
    QCOMPARE(result.size(), 44 + 3 * kSplitBytes);

    WriteBytes(Out("sample_rest.wav"), {'o', 'l', 'd'});
    prompts->askAnswers = {false};
    Run(source, sample, out);
    QCOMPARE(prompts->questions.size(), size_t{1});
    QCOMPARE(prompts->questions[0].yes, QStringLiteral("Replace"));
    QVERIFY(prompts->questions[0].text.contains(QDir::toNativeSeparators(Q(Out("sample_rest.wav")))));
    QCOMPARE(ReadBytes(Out("sample_rest.wav")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    QVERIFY(dlg->Results() != nullptr);  // the first run's window; no run, no new window
    QVERIFY(prompts->messages.empty());

    prompts->askAnswers = {true};
    Run(source, sample, out);
    QCOMPARE(prompts->questions.size(), size_t{2});
    QCOMPARE(ReadBytes(Out("sample_rest.wav")), result);

    // Separate files: each existing one is listed once, in one question.
    c->collect->setChecked(false);
    WriteBytes(Out("sample_rest_spl 0.wav"), {1});
    WriteBytes(Out("sample_rest_spl 2.wav"), {1});
    prompts->askAnswers = {false};
    Run(source, sample, out);
    QCOMPARE(prompts->questions.size(), size_t{3});
    QCOMPARE(prompts->questions[2].details.split('\n').size(), 2);
    QVERIFY(!std::filesystem::exists(Out("sample_rest_spl 1.wav")));
    QVERIFY(prompts->messages.empty());
  }

  void aResultOfNearlyTheWholeSourceIsWrittenOnlyWhenAllowed() {
    const auto source = dir->path() / "source.wav";
    const auto sample = dir->path() / "sample.wav";
    const auto out = dir->path() / "out";
    for (const bool separate : {false, true}) {
      c->collect->setChecked(!separate);
      prompts->questions.clear();
      // 1 %: every source split is taken for every template split.
      prompts->askAnswers = {false};
      Run(source, sample, out, "1", "1");
      QCOMPARE(prompts->questions.size(), size_t{1});
      QCOMPARE(prompts->questions[0].yes, QStringLiteral("Write"));
      const QString size = QLocale().formattedDataSize(separate ? 44 + 10 * kSplitBytes : 44 + 30 * kSplitBytes);
      QVERIFY2(prompts->questions[0].text.contains(size), qPrintable(prompts->questions[0].text));
      QVERIFY(prompts->messages.empty());
      for (const char* name : {"sample_rest.wav", "sample_rest_spl 0.wav", "sample_rest_spl 1.wav"}) {
        // The one file of the first round was written when allowed.
        if (!(separate && std::string(name) == "sample_rest.wav")) QVERIFY(!std::filesystem::exists(Out(name)));
      }

      prompts->askAnswers = {true};
      Run(source, sample, out, "1", "1");
      QCOMPARE(prompts->questions.size(), size_t{2});
      QVERIFY(prompts->messages.empty());
      if (separate) {
        for (const char* name : {"sample_rest_spl 0.wav", "sample_rest_spl 1.wav", "sample_rest_spl 2.wav"}) {
          QCOMPARE(ReadBytes(Out(name)).size(), 44 + 10 * kSplitBytes);
        }
      } else {
        QCOMPARE(ReadBytes(Out("sample_rest.wav")).size(), 44 + 30 * kSplitBytes);
      }
    }
  }
};

}  // namespace kestrune::ui::test

QTEST_MAIN(kestrune::ui::test::FailureCausesTest)
#include "failure_causes_test.moc"
