#include "ui/qt_job_host.h"

#include "ui/up_dialog.h"
#include "ui/user_prompts.h"

namespace kestrune::ui {

// bTerminate of the run is written only by the user interface thread, so the
// tests below, made there, cannot race with a termination.

void QtJobHost::ShowMessage(const std::string& text, const std::string& caption) {
  const QString qText = QString::fromStdString(text);
  const QString qCaption = QString::fromStdString(caption);
  m_run.CallOnUiThread([&] {
    if (m_run.Context().bTerminate.load()) return;
    m_prompts.ShowMessage(nullptr, qCaption, qText, UserPrompts::Icon::None);
  });
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
