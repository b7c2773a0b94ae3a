// The options every command shares (--json, --quiet, --threads, the split
// length) and the running of a command's job behind the terminal host.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/terminal_host.h"
#include "common/options.h"

namespace kestrune::cli {

struct SharedOptions {
  bool json = false;
  bool quiet = false;
  std::string threads;  // empty: one thread per processor
};

void AddJsonFlag(CLI::App& cmd, SharedOptions& o, const std::string& help = "Print JSON");
void AddQuietFlag(CLI::App& cmd, SharedOptions& o);
void AddThreadsOption(CLI::App& cmd, SharedOptions& o);

// "100..5000", or "100..5000, default 500" with the default.
std::string RangeText(const OptionRange& range, bool withDefault);

// A number option read as text, so that a wrong value gets the range message
// of RangedValue rather than the parser's; --help shows it as typeName.
CLI::Option* AddNumberOption(CLI::App& cmd, const std::string& name, std::string& text, const std::string& help,
                             const std::string& typeName = "UINT");

// --split-ms, and with the tempo --bpm and --note, which exclude it.
struct SplitLengthOptions {
  std::string splitMs, bpm, note;
  CLI::Option* splitMsOption = nullptr;
  CLI::Option* bpmOption = nullptr;  // null without the tempo
  CLI::Option* noteOption = nullptr;
};
void AddSplitLengthOptions(CLI::App& cmd, SplitLengthOptions& o, bool withTempo, bool required);

// The split length chosen: --split-ms, the tempo rule, or the default. A
// tempo whose length leaves the range is refused (common/options.h says why).
uint32_t SplitLength(const SplitLengthOptions& o);

// The runner of a command: -1 unless cmd was given on the command line;
// otherwise applies --threads and runs body with a terminal host that honours
// --quiet. shared must live as long as the runner (a member of the options
// that body holds).
Runner CommandRunner(CLI::App* cmd, const SharedOptions* shared, std::function<int(TerminalHost&)> body);

// Runs worker with data behind a progress bar titled title; true when it
// succeeded (not failed, not stopped).
bool RunJob(TerminalHost& host, const std::string& title, WorkerProc worker, void* data);

}  // namespace kestrune::cli
