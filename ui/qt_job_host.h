// The services a job asks of the desktop program while it runs behind a
// progress dialog: message boxes and the nested progress run of a
// conversion. Both are called from the job's worker thread and carried out
// by the user interface thread while the worker waits.
#pragma once

#include <QString>

#include <mutex>
#include <optional>
#include <string>

#include "common/worker.h"

namespace kestrune::ui {

class CUPDialog;
class UserPrompts;

class QtJobHost : public JobHost {
 public:
  // run is the progress dialog of the job this host serves.
  QtJobHost(CUPDialog& run, UserPrompts& prompts) : m_run(run), m_prompts(prompts) {}

  // A box with the given text and caption, an OK button, no icon and no owner.
  // Nothing is shown once the run has been told to stop.
  void ShowMessage(const std::string& text, const std::string& caption) override;
  // A nested progress dialog in front of the run's dialog. Once the run has
  // been told to stop, no dialog opens and the result is PD_TERMINATED.
  int RunProgress(const std::string& title, WorkerProc worker, void* userData) override;
  // Kept for the boxes that follow: they show it as their details.
  void ReportFailure(const FailureCause& cause) override;
  // "Write" / "Cancel", with the size and the count of splits.
  bool ConfirmLargeResult(uint64_t bytes, uint64_t splits, uint32_t sourceSplits) override;

  std::optional<FailureCause> Cause() const;

 private:
  QString CauseText() const;
  mutable std::mutex m_lock;
  std::optional<FailureCause> m_cause;
  CUPDialog& m_run;
  UserPrompts& m_prompts;
};

}  // namespace kestrune::ui
