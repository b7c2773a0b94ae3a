// The command line's progress window and message boxes: a progress bar with
// the status text on standard error, redrawn in place when it is a terminal.
#pragma once

#include <optional>
#include <string>

#include "common/worker.h"

namespace kestrune::cli {

class TerminalProgress : public ProgressWindow {
 public:
  TerminalProgress(std::string title, bool draw) : title_(std::move(title)), draw_(draw) {}
  ~TerminalProgress() override;
  bool IsOpen() const override { return true; }
  void SetPos(uint32_t percent) override;
  void SetText(const std::string& text) override;
  void Clear();

 private:
  void Draw();
  std::string title_;
  bool draw_;
  bool drawn_ = false;
  uint32_t percent_ = 0;
  std::string text_;
};

class TerminalHost : public JobHost {
 public:
  explicit TerminalHost(bool quiet);
  ~TerminalHost() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  int RunProgress(const std::string& title, WorkerProc worker, void* userData) override;
  // Kept, and printed after each message from then on.
  void ReportFailure(const FailureCause& cause) override { cause_ = cause; }
  // Prints the job's failure message, then the cause when there is one.
  void ShowFailure(const std::string& text, const std::string& caption);

 private:
  std::optional<FailureCause> cause_;
  bool draw_;
  TerminalProgress* active_ = nullptr;
};

}  // namespace kestrune::cli
