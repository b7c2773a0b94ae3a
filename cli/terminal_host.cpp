#include "cli/terminal_host.h"

#include <array>
#include <atomic>
#include <cstdio>

#include "platform/terminal.h"

namespace kestrune::cli {
namespace {

// The contexts of the runs in progress (a conversion runs inside a match), so
// that an interrupt can ask all of them to stop.
std::array<std::atomic<WorkerContext*>, 4> g_running{};

void StopAll() {
  for (auto& slot : g_running) {
    WorkerContext* context = slot.load();
    if (context != nullptr) context->bTerminate.store(true);
  }
}

class RunningSlot {
 public:
  explicit RunningSlot(WorkerContext* context) {
    for (auto& slot : g_running) {
      WorkerContext* empty = nullptr;
      if (slot.compare_exchange_strong(empty, context)) {
        slot_ = &slot;
        return;
      }
    }
  }
  ~RunningSlot() {
    if (slot_ != nullptr) slot_->store(nullptr);
  }

 private:
  std::atomic<WorkerContext*>* slot_ = nullptr;
};

}  // namespace

TerminalProgress::~TerminalProgress() { Clear(); }

void TerminalProgress::SetPos(uint32_t percent) {
  percent_ = percent > 100 ? 100 : percent;
  Draw();
}

void TerminalProgress::SetText(const std::string& text) {
  text_ = text;
  Draw();
}

void TerminalProgress::Draw() {
  if (!draw_) return;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(percent_ * kWidth / 100);
  std::fprintf(stderr, "\r%s [", title_.c_str());
  for (int i = 0; i < kWidth; ++i) std::fputc(i < filled ? '#' : '.', stderr);
  std::fprintf(stderr, "] %3u%% %s\x1b[K", percent_, text_.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void TerminalProgress::Clear() {
  if (drawn_) {
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
  }
}

TerminalHost::TerminalHost(bool quiet) : draw_(!quiet && platform::StderrIsTerminal()) {
  platform::SetInterruptHandler(StopAll);
}

TerminalHost::~TerminalHost() {
  platform::SetInterruptHandler(nullptr);
}

void TerminalHost::ShowMessage(const std::string& text, const std::string& caption) {
  if (active_ != nullptr) active_->Clear();
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  if (cause_) std::fprintf(stderr, "  %s\n", DescribeFailure(*cause_).c_str());
}

void TerminalHost::ShowFailure(const std::string& text, const std::string& caption) {
  ShowMessage(text, caption);
  cause_.reset();
}

int TerminalHost::RunProgress(const std::string& title, WorkerProc worker, void* userData) {
  TerminalProgress progress(title, draw_);
  TerminalProgress* outer = active_;
  if (outer != nullptr) outer->Clear();
  active_ = &progress;
  WorkerContext context;
  context.hDlg = &progress;
  context.pUserData = userData;
  context.pfnWorker = worker;
  int code;
  {
    RunningSlot slot(&context);
    code = RunWorkerRoutine(&context);
  }
  if (context.bTerminate.load()) code = PD_TERMINATED;
  progress.Clear();
  active_ = outer;
  return code;
}

}  // namespace kestrune::cli
