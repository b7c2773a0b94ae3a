#include "common/worker.h"

namespace kestrune {

bool Fail(JobHost* host, FailureReason reason, FailureFile file, const std::string& path,
          const std::string& details) {
  if (host != nullptr) host->ReportFailure(FailureCause{reason, file, path, details});
  return false;
}

bool CanReport(const WorkerContext* context) {
  return context != nullptr && context->hDlg != nullptr && !context->bTerminate.load() &&
         context->hDlg->IsOpen();
}

void SetProgressText(WorkerContext* context, const std::string& text) {
  if (CanReport(context)) context->hDlg->SetText(text);
}

void SetProgressPos(WorkerContext* context, uint32_t percent) {
  if (CanReport(context)) context->hDlg->SetPos(percent);
}

int RunWorkerRoutine(WorkerContext* context, const std::function<void(int)>& postEnd) {
  context->bRunning.store(true);
  int code = PD_FAILED;
  if (!context->bTerminate.load() && context->pfnWorker != nullptr) {
    code = context->pfnWorker(context) ? PD_SUCCEEDED : PD_FAILED;
  }
  if (postEnd && !context->bTerminate.load()) postEnd(code);
  context->bRunning.store(false);
  return code;
}

}  // namespace kestrune
