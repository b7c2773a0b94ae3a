#include "support/recording_host.h"

namespace kestrune::test {

void RecordingProgress::SetPos(uint32_t percent) {
  positions.push_back(percent);
  if (onReport) onReport();
}

void RecordingProgress::SetText(const std::string& text) {
  texts.push_back(text);
  if (onReport) onReport();
}

void RecordingHost::ShowMessage(const std::string& text, const std::string& caption) {
  messages.push_back({text, caption});
}

int RecordingHost::RunProgress(const std::string& title, WorkerProc worker, void* userData) {
  titles.push_back(title);
  RecordingProgress window;
  const int code = RunRecorded(worker, userData, window);
  runs.push_back(std::move(window));
  return code;
}

int RunRecorded(WorkerProc worker, void* userData, RecordingProgress& window, WorkerContext* contextOut) {
  WorkerContext local;
  WorkerContext& context = contextOut != nullptr ? *contextOut : local;
  context.hDlg = &window;
  context.pUserData = userData;
  context.pfnWorker = worker;
  return RunWorkerRoutine(&context);
}

}  // namespace kestrune::test
