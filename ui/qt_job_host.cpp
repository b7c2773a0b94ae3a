#include "ui/qt_job_host.h"

#include <QLocale>

#include "ui/up_dialog.h"
#include "ui/user_prompts.h"

namespace kestrune::ui {
namespace {
const char kCaptionForQuestions[] = "Sound processing";
}  // namespace

// bTerminate of the run is written only by the user interface thread, so the
// tests below, made there, cannot race with a termination.

void QtJobHost::ShowMessage(const std::string& text, const std::string& caption) {
  const QString qText = QString::fromStdString(text);
  const QString qCaption = QString::fromStdString(caption);
  m_run.CallOnUiThread([&] {
    if (m_run.Context().bTerminate.load()) return;
    m_prompts.ShowDetailedMessage(nullptr, qCaption, qText, CauseText(), UserPrompts::Icon::None);
  });
}

void QtJobHost::ReportFailure(const FailureCause& cause) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_cause = cause;
}

std::optional<FailureCause> QtJobHost::Cause() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_cause;
}

QString QtJobHost::CauseText() const {
  const auto cause = Cause();
  return cause ? QString::fromStdString(DescribeFailure(*cause)) : QString();
}

bool QtJobHost::ConfirmLargeResult(uint64_t bytes, uint64_t splits, uint32_t sourceSplits) {
  bool write = false;
  m_run.CallOnUiThread([&] {
    if (m_run.Context().bTerminate.load()) return;
    const QString text =
        QObject::tr("The result would be %1 and hold %2 splits (the source has %3). Write it?")
            .arg(QLocale().formattedDataSize(static_cast<qint64>(bytes)))
            .arg(splits)
            .arg(sourceSplits);
    const QString details = QObject::tr(
        "A raised minimum similarity selects fewer splits; nearly every split of the source is taken now.");
    write = m_prompts.Ask(&m_run, QString::fromUtf8(kCaptionForQuestions), text, details, QObject::tr("Write"));
  });
  return write;
}

int QtJobHost::RunProgress(const std::string& title, WorkerProc worker, void* userData) {
  int code = PD_TERMINATED;
  m_run.CallOnUiThread([&] {
    if (m_run.Context().bTerminate.load()) return;
    CUPDialog nested(&m_run, false, QString::fromStdString(title), worker, userData);
    // Just below the run's dialog, so that its status line stays readable.
    nested.adjustSize();
    nested.move(m_run.frameGeometry().left(), m_run.frameGeometry().bottom() + 8);
    code = nested.DoModal();
    nested.Cleanup();
  });
  return code;
}

}  // namespace kestrune::ui
