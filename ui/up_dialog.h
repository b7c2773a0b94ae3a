// The progress dialog: a modal window with a status line and a 0..100 bar,
// fed by one worker function that runs on a thread of its own.
//
// The worker reports through its WorkerContext (SetProgressText,
// SetProgressPos). Each report is a blocking call into the user interface
// thread, so reports arrive in the order sent; the end of the run is posted
// without waiting. Escape or the window's close request terminates a run:
// bTerminate is set, the worker's reports stop, and the dialog ends with
// PD_TERMINATED once the worker has stopped or after at most two waits of
// 500 ms. No thread is ever stopped forcibly: Cleanup tells the worker to stop
// and waits for it, so the record behind pUserData always outlives its worker.
#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "common/worker.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestrune::ui {

class CUPDialog : public QDialog, public ProgressWindow {
  Q_OBJECT

 public:
  // The longest title kept; longer titles are cut.
  static constexpr int kMaxTitleLength = 255;

  CUPDialog(QWidget* parent, bool allowCancel, const QString& title, WorkerProc worker, void* userData);
  ~CUPDialog() override;

  // Runs the worker behind the dialog; returns PD_SUCCEEDED, PD_FAILED or
  // PD_TERMINATED. Must be called on the user interface thread.
  int DoModal();
  // Tells a worker still running to stop, waits until it has returned and
  // resets the run. Returns at once when there is no worker. May run any
  // number of times.
  void Cleanup();

  // Runs fn on the user interface thread and returns once it has run (at
  // once when called there). Used by the worker's reports and by the job
  // host for message boxes and nested runs.
  void CallOnUiThread(const std::function<void()>& fn);

  WorkerContext& Context() { return m_context; }
  QString StatusText() const;
  int Position() const;
  // "Stop": asks the run to stop, as Escape does.
  QPushButton* StopButton() const { return m_stop; }

  // ProgressWindow, called from the worker thread after CanReport.
  bool IsOpen() const override { return m_bOpen.load(); }
  void SetPos(uint32_t percent) override;
  void SetText(const std::string& text) override;

 signals:
  // The status line changed (worker reports and the termination texts).
  void statusChanged(const QString& text);

 public slots:
  // Escape and the window's close request end up here: terminates the run.
  void reject() override;

 public:
  void done(int code) override;

 private:
  void ShowStatus(const QString& text);
  void Terminate();
  void ThreadMain(uint64_t generation);
  void OnFinished(int code, uint64_t generation);
  // Delivers reports the worker is blocked on while waiting for it.
  void WaitForWorker(int64_t limitMs);

  QWidget* m_hParent;
  bool m_bAllowCancel;
  QString m_szTitle;
  WorkerContext m_context;
  std::thread m_hThread;
  std::atomic<bool> m_bThreadDone{true};
  std::atomic<bool> m_bOpen{false};
  uint64_t m_generation = 0;
  QLabel* m_status = nullptr;
  QProgressBar* m_progress = nullptr;
  QPushButton* m_stop = nullptr;
};

}  // namespace kestrune::ui
