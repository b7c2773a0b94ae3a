// The progress dialog: reports, end codes, termination and waiting for the
// worker, and the job host's calls from a worker into the user interface.
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "left_windows.h"
#include "test_prompts.h"
#include "ui/qt_job_host.h"
#include "ui/up_dialog.h"

namespace kestrune::ui::test {
namespace {

const QString kInitiated = QStringLiteral("Termination Initiated..");
const QString kComplete = QStringLiteral("Termination Complete ..Shutting Down !!");

// What a test worker reads and leaves behind.
struct Job {
  CUPDialog* dialog = nullptr;
  QtJobHost* host = nullptr;
  bool result = true;
  // The dialog's status and position as the worker saw them right after each
  // of its reports.
  QStringList statusSeen;
  std::vector<int> positionSeen;
  std::atomic<bool> release{false};
  std::atomic<bool> finished{false};
  int nestedCode = 0;
  // What the worker of a nested run saw of its dialog.
  QString nestedTitle;
  QWidget* nestedParent = nullptr;
  QStringList nestedStatus;
};

Job& JobOf(WorkerContext* context) { return *static_cast<Job*>(context->pUserData); }

void LookAtDialog(Job& job) {
  job.dialog->CallOnUiThread([&] {
    job.statusSeen << job.dialog->StatusText();
    job.positionSeen.push_back(job.dialog->Position());
  });
}

bool ReportingWorker(WorkerContext* context) {
  Job& job = JobOf(context);
  LookAtDialog(job);
  SetProgressText(context, "one");
  LookAtDialog(job);
  SetProgressPos(context, 10);
  LookAtDialog(job);
  SetProgressText(context, "two");
  SetProgressPos(context, 60);
  LookAtDialog(job);
  return job.result;
}

bool SilentWorker(WorkerContext* context) { return JobOf(context).result; }

// Reports, then works until told to stop and tries to report again.
bool StoppingWorker(WorkerContext* context) {
  Job& job = JobOf(context);
  SetProgressPos(context, 40);
  SetProgressText(context, "working");
  while (!context->bTerminate.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  SetProgressText(context, "late");
  SetProgressPos(context, 90);
  job.finished = true;
  return true;
}

// Told to stop, goes on until the test releases it; then makes calls that a
// worker may have begun just before it was told to stop.
bool LingeringWorker(WorkerContext* context) {
  Job& job = JobOf(context);
  SetProgressText(context, "working");
  while (!job.release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  context->hDlg->SetText("late");  // past CanReport, as a report already under way
  job.host->ShowMessage("late message", "Sound processing");
  job.nestedCode = job.host->RunProgress("Converting sound.", SilentWorker, &job);
  job.finished = true;
  return true;
}

// Runs in the nested run: reports and looks at its own dialog.
bool NestedWorker(WorkerContext* context) {
  Job& job = JobOf(context);
  auto* dialog = dynamic_cast<CUPDialog*>(context->hDlg);
  SetProgressText(context, "Please Wait...");
  dialog->CallOnUiThread([&] {
    job.nestedTitle = dialog->windowTitle();
    job.nestedParent = dialog->parentWidget();
    job.nestedStatus << dialog->StatusText();
  });
  return true;
}

// Asks the job host for a message and a nested run.
bool HostWorker(WorkerContext* context) {
  Job& job = JobOf(context);
  job.host->ShowMessage("Only 44 kHz 2 chanels PCM wav files supported", "Sound processing");
  job.nestedCode = job.host->RunProgress("Converting sound.", NestedWorker, &job);
  return true;
}

// Presses Escape on the dialog once the worker has shown text.
void EscapeOn(CUPDialog& dialog, const QString& text) {
  QObject::connect(&dialog, &CUPDialog::statusChanged, &dialog, [&dialog, text](const QString& shown) {
    if (shown == text) QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
  });
}

}  // namespace

class UpDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    const QString left = LeftTopLevelWindows();
    QVERIFY2(left.isEmpty(), qPrintable("windows left open:\n" + left));
  }

  void reportsArriveInOrderBeforeTheWorkerGoesOn() {
    Job job;
    CUPDialog dialog(nullptr, false, QStringLiteral("Processing sound."), ReportingWorker, &job);
    job.dialog = &dialog;
    QCOMPARE(dialog.DoModal(), PD_SUCCEEDED);
    dialog.Cleanup();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Processing sound."));
    // The status line starts empty; each report has reached the dialog by the
    // time the worker's call returns.
    QCOMPARE(job.statusSeen, (QStringList{"", "one", "one", "two"}));
    QCOMPARE(job.positionSeen, (std::vector<int>{0, 0, 10, 60}));
  }

  void aWorkerReturningFalseEndsWithFailed() {
    Job job;
    job.result = false;
    CUPDialog dialog(nullptr, false, QStringLiteral("Processing sound."), SilentWorker, &job);
    QCOMPARE(dialog.DoModal(), PD_FAILED);
    // A second run of the same dialog starts afresh.
    job.result = true;
    QCOMPARE(dialog.DoModal(), PD_SUCCEEDED);
  }

  void longTitlesAreCut() {
    const QString title = QString(300, QLatin1Char('t')) + QStringLiteral("end");
    CUPDialog dialog(nullptr, false, title, SilentWorker, nullptr);
    QCOMPARE(dialog.windowTitle(), title.left(255));
  }

  void terminationOfAWorkerThatStopsAtOnce() {
    Job job;
    CUPDialog dialog(nullptr, false, QStringLiteral("Processing sound."), StoppingWorker, &job);
    QStringList shown;
    connect(&dialog, &CUPDialog::statusChanged, this, [&](const QString& s) { shown << s; });
    EscapeOn(dialog, QStringLiteral("working"));
    QCOMPARE(dialog.DoModal(), PD_TERMINATED);
    dialog.Cleanup();
    QVERIFY(job.finished.load());
    // The worker stopped within the first wait: no second text; its late
    // reports changed nothing.
    QCOMPARE(shown, (QStringList{"working", kInitiated}));
    QCOMPARE(dialog.StatusText(), kInitiated);
    QCOMPARE(dialog.Position(), 40);
  }

  void terminationOfAWorkerThatGoesOnIsWaitedFor() {
    TestPrompts prompts;
    Job job;
    CUPDialog dialog(nullptr, false, QStringLiteral("Processing sound."), LingeringWorker, &job);
    QtJobHost host(dialog, prompts);
    job.host = &host;
    QStringList shown;
    connect(&dialog, &CUPDialog::statusChanged, this, [&](const QString& s) { shown << s; });
    EscapeOn(dialog, QStringLiteral("working"));
    QCOMPARE(dialog.DoModal(), PD_TERMINATED);
    QCOMPARE(shown, (QStringList{"working", kInitiated, kComplete}));
    QVERIFY(!job.finished.load());

    // Cleanup waits for the worker, delivering without effect what it sends
    // after the dialog has ended.
    std::thread releaser([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      job.release = true;
    });
    dialog.Cleanup();
    releaser.join();
    QVERIFY(job.finished.load());
    QCOMPARE(dialog.StatusText(), kComplete);
    QVERIFY(prompts.messages.empty());
    QCOMPARE(job.nestedCode, PD_TERMINATED);
  }

  void theJobHostWorksOnTheUserInterfaceThread() {
    TestPrompts prompts;
    Job job;
    CUPDialog dialog(nullptr, false, QStringLiteral("Processing sound."), HostWorker, &job);
    QtJobHost host(dialog, prompts);
    job.host = &host;
    QCOMPARE(dialog.DoModal(), PD_SUCCEEDED);
    dialog.Cleanup();

    QCOMPARE(prompts.messages.size(), size_t{1});
    const ShownMessage& m = prompts.messages[0];
    QCOMPARE(m.text, QStringLiteral("Only 44 kHz 2 chanels PCM wav files supported"));
    QCOMPARE(m.caption, QStringLiteral("Sound processing"));
    QCOMPARE(m.owner, nullptr);
    QVERIFY(m.icon == UserPrompts::Icon::None);
    QCOMPARE(m.thread, QThread::currentThread());
    // The nested run had a dialog of its own in front of the run's dialog.
    QCOMPARE(job.nestedCode, PD_SUCCEEDED);
    QCOMPARE(job.nestedTitle, QStringLiteral("Converting sound."));
    QCOMPARE(job.nestedParent, &dialog);
    QCOMPARE(job.nestedStatus, QStringList{"Please Wait..."});
  }
};

}  // namespace kestrune::ui::test

QTEST_MAIN(kestrune::ui::test::UpDialogTest)
#include "up_dialog_test.moc"
