#include "platform/terminal.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace kestrune::platform {
namespace {

std::atomic<void (*)()> g_stop{nullptr};

extern "C" void OnSignal(int) {
  if (auto* stop = g_stop.load()) stop();
}

}  // namespace

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void WriteStandardStreamsAsBytes() {}  // they always do here

void SetInterruptHandler(void (*stop)()) {
  g_stop.store(stop);
  for (int s : {SIGINT, SIGTERM}) std::signal(s, stop != nullptr ? OnSignal : SIG_DFL);
}

}  // namespace kestrune::platform
