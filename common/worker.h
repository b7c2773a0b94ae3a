// The contract between a long-running job and the progress window that shows it.
// The desktop program implements the windows with Qt, the command-line front
// end with the terminal, and the tests with recorders. The core never prints
// or shows anything itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/failure_cause.h"

namespace kestrune {

// Every job reports through its WorkerContext (SetProgressText, SetProgressPos)
// and sees a stop request there, so any front end that runs a progress run
// through its JobHost shows any job. Two callbacks stay in front of it
// because the estimator and the conversion are called with them: the tempo
// sink (TempoProgress) and the conversion's report (ReportCopyProgress), each
// ending in SetProgressPos.

// The progress window a worker reports to (a status line and a 0..100 bar).
// Both calls are synchronous: they return once the window has taken the report,
// and reports reach it in the order sent.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  virtual bool IsOpen() const = 0;
  virtual void SetPos(uint32_t percent) = 0;
  virtual void SetText(const std::string& text) = 0;
};

struct WorkerContext;
using WorkerProc = bool (*)(WorkerContext* context);

// End codes of a progress run.
inline constexpr int PD_SUCCEEDED = 1;
inline constexpr int PD_FAILED = 2;
inline constexpr int PD_TERMINATED = 0x10002;

// What a worker receives. hDlg and pUserData are set before the worker starts
// and do not change until the run is cleaned up.
struct WorkerContext {
  ProgressWindow* hDlg = nullptr;
  void* pUserData = nullptr;
  std::atomic<bool> bRunning{false};    // written by the worker's thread routine
  std::atomic<bool> bTerminate{false};  // written by the window; stops every report
  WorkerProc pfnWorker = nullptr;
};

// The services of the main window that jobs use: message boxes (OK button,
// no owner) and a nested progress run, each shown by the window's own thread
// while the calling worker waits.
class JobHost {
 public:
  virtual ~JobHost() = default;
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // Runs worker behind a modal progress window titled title, with userData as
  // its pUserData; returns the end code (PD_SUCCEEDED, PD_FAILED, PD_TERMINATED).
  virtual int RunProgress(const std::string& title, WorkerProc worker, void* userData) = 0;
  // Why the job is about to fail; reported before the job's own message (if
  // any) and before it returns false. The default keeps nothing.
  virtual void ReportFailure(const FailureCause& cause) { (void)cause; }
  // Asked once, before anything is written, when a result would be very
  // large (see MatchSettings::confirmLargeResults); false leaves no file.
  // The default writes as told.
  virtual bool ConfirmLargeResult(uint64_t bytes, uint64_t splits, uint32_t sourceSplits) {
    (void)bytes;
    (void)splits;
    (void)sourceSplits;
    return true;
  }
};

// Reports cause through host when there is one; returns false, so that a
// failing step can end with `return Fail(...)`.
bool Fail(JobHost* host, FailureReason reason, FailureFile file, const std::string& path,
          const std::string& details = {});

// A report is sent only while the progress window exists and no termination
// was requested.
bool CanReport(const WorkerContext* context);
void SetProgressText(WorkerContext* context, const std::string& text);
void SetProgressPos(WorkerContext* context, uint32_t percent);

// The thread routine of a progress run: marks the context running, calls the
// worker unless termination was already requested, and returns the end code.
// When postEnd is given and no termination was requested by the time the
// worker returns, it receives the end code while bRunning is still set (a
// progress window posts its end from there).
int RunWorkerRoutine(WorkerContext* context, const std::function<void(int)>& postEnd = {});

}  // namespace kestrune
