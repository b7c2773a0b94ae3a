// Test doubles for the progress window and the main window's services: they
// record every report and message, and run nested progress runs inline.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/worker.h"

namespace kestrune::test {

class RecordingProgress : public ProgressWindow {
 public:
  bool IsOpen() const override { return open; }
  void SetPos(uint32_t percent) override;
  void SetText(const std::string& text) override;

  bool open = true;
  std::vector<uint32_t> positions;
  std::vector<std::string> texts;
  // Called after each report is recorded (tests use it to request termination).
  std::function<void()> onReport;
};

struct Message {
  std::string text;
  std::string caption;
  bool operator==(const Message&) const = default;
};

class RecordingHost : public JobHost {
 public:
  void ShowMessage(const std::string& text, const std::string& caption) override;
  int RunProgress(const std::string& title, WorkerProc worker, void* userData) override;

  std::vector<Message> messages;
  std::vector<std::string> titles;
  // The progress windows of the nested runs, in order.
  std::vector<RecordingProgress> runs;
};

// Runs worker as a progress run with the given window; returns the end code.
int RunRecorded(WorkerProc worker, void* userData, RecordingProgress& window,
                WorkerContext* contextOut = nullptr);

}  // namespace kestrune::test
