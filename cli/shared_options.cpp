#include "cli/shared_options.h"

#include "cli/options.h"

namespace kestrune::cli {

void AddJsonFlag(CLI::App& cmd, SharedOptions& o, const std::string& help) { cmd.add_flag("--json", o.json, help); }

void AddQuietFlag(CLI::App& cmd, SharedOptions& o) { cmd.add_flag("--quiet", o.quiet, "No progress bar"); }

void AddThreadsOption(CLI::App& cmd, SharedOptions& o) { AddNumberOption(cmd, "--threads", o.threads, kThreadsHelp); }

std::string RangeText(const OptionRange& range, bool withDefault) {
  std::string text = std::to_string(range.low) + ".." + std::to_string(range.high);
  if (withDefault) text += ", default " + std::to_string(range.byDefault);
  return text;
}

CLI::Option* AddNumberOption(CLI::App& cmd, const std::string& name, std::string& text, const std::string& help,
                             const std::string& typeName) {
  return cmd.add_option(name, text, help)->type_name(typeName);
}

void AddSplitLengthOptions(CLI::App& cmd, SplitLengthOptions& o, bool withTempo, bool required) {
  o.splitMsOption = AddNumberOption(cmd, "--split-ms", o.splitMs,
                                    "Split length in milliseconds (" + RangeText(kSplitMsOption, !required) + ")");
  if (required) o.splitMsOption->required();
  if (!withTempo) return;
  o.bpmOption = AddNumberOption(cmd, "--bpm", o.bpm,
                                "Tempo in BPM (" + RangeText(kBpmOption, true) + "); the split length follows the note");
  std::string fractions;
  for (const char* fraction : kNoteFractions) fractions += std::string(fractions.empty() ? "" : ", ") + fraction;
  o.noteOption = cmd.add_option("--note", o.note,
                                "Note fraction of the tempo: " + fractions + " (default " +
                                    kNoteFractions[kDefaultNoteFraction] + ")");
  o.splitMsOption->excludes(o.bpmOption)->excludes(o.noteOption);
}

uint32_t SplitLength(const SplitLengthOptions& o) {
  if (o.bpm.empty() && o.note.empty()) {
    return o.splitMs.empty() ? kSplitMsOption.byDefault : RangedValue("--split-ms", o.splitMs, kSplitMsOption);
  }
  const uint32_t bpm = o.bpm.empty() ? kBpmOption.byDefault : RangedValue("--bpm", o.bpm, kBpmOption);
  const int32_t note = o.note.empty() ? kDefaultNoteFraction : NoteFractionIndex(o.note);
  const uint32_t ms = SplitFromTempo(bpm, note);
  if (!kSplitMsOption.Holds(ms)) {
    throw UsageError("--bpm " + std::to_string(bpm) + " with --note " + kNoteFractions[note] +
                     " gives a split length of " + std::to_string(ms) + " ms: Please enter an integer between " +
                     std::to_string(kSplitMsOption.low) + " and " + std::to_string(kSplitMsOption.high) + ".");
  }
  return ms;
}

Runner CommandRunner(CLI::App* cmd, const SharedOptions* shared, std::function<int(TerminalHost&)> body) {
  return [cmd, shared, body = std::move(body)]() -> int {
    if (!cmd->parsed()) return -1;
    ApplyThreadsOption(shared->threads);
    TerminalHost host(shared->quiet);
    return body(host);
  };
}

bool RunJob(TerminalHost& host, const std::string& title, WorkerProc worker, void* data) {
  return host.RunProgress(title, worker, data) == PD_SUCCEEDED;
}

}  // namespace kestrune::cli
