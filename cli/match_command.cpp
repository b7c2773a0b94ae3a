#include "cli/match_command.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/job_inputs.h"
#include "cli/options.h"
#include "cli/shared_options.h"
#include "common/path_text.h"
#include "matching/match_workers.h"

namespace kestrune::cli {
namespace {

struct MatchOptions {
  SharedOptions shared;
  SplitLengthOptions split;
  bool convert = false;
  std::string source, database, sample, output;
  std::string startOffset = std::to_string(kStartOffsetOption.byDefault);
  std::string fragmentLength = std::to_string(kFragmentLengthOption.byDefault);
  std::string minSimilarity = std::to_string(kMinSimilarityOption.byDefault);
  bool declick = false, separate = false;
};

}  // namespace

bool RunMatch(MatchSettings& settings, TerminalHost& host, MatchReport& report, bool fromDatabase) {
  settings.ownerWindow = &host;
  settings.observer = &report;
  if (RunJob(host, "Processing sound.", fromDatabase ? DatabaseMatchWorker : WavMatchWorker, &settings)) return true;
  host.ShowFailure(kProcessFailedMessage, kCaption);
  return false;
}

Runner AddMatchCommand(CLI::App& app) {
  auto o = std::make_shared<MatchOptions>();
  CLI::App* cmd = app.add_subcommand("match", "Find the stretches of a source that sound like a piece of a sample");
  auto* source = cmd->add_option("--source", o->source, "Source WAV file to search in");
  auto* database = cmd->add_option("--database", o->database, "Splits database (.qlmx) to search in instead");
  source->excludes(database);
  cmd->add_option("--sample", o->sample, "Sample WAV file to find")->required();
  AddSplitLengthOptions(*cmd, o->split, true, false);
  // A database fixes its own split length.
  database->excludes(o->split.splitMsOption)->excludes(o->split.bpmOption)->excludes(o->split.noteOption);
  AddNumberOption(*cmd, "--start-offset", o->startOffset,
                  "Splits of the sample skipped (" + RangeText(kStartOffsetOption, true) + ")");
  AddNumberOption(*cmd, "--fragment-length", o->fragmentLength,
                  "Consecutive template splits (" + RangeText(kFragmentLengthOption, true) + ")");
  AddNumberOption(*cmd, "--min-similarity", o->minSimilarity,
                  "Minimum similarity in percent (" + RangeText(kMinSimilarityOption, true) + ")");
  cmd->add_flag("--declick", o->declick, "Ramp both ends of every written split to silence");
  cmd->add_flag("--separate", o->separate, "One result file per template split");
  cmd->add_option("--output", o->output, "Output folder (default: the current folder)");
  AddJsonFlag(*cmd, o->shared, "Print a JSON report on standard output");
  AddQuietFlag(*cmd, o->shared);
  AddThreadsOption(*cmd, o->shared);
  AddConvertFlag(*cmd, o->convert);

  return CommandRunner(cmd, &o->shared, [o](TerminalHost& host) -> int {
    if (o->source.empty() == o->database.empty()) throw UsageError("one of --source and --database is required");
    const bool fromDatabase = !o->database.empty();
    MatchSettings settings;
    settings.sourcePath = PathFromUtf8(fromDatabase ? o->database : o->source);
    settings.samplePath = PathFromUtf8(o->sample);
    settings.splitMilliseconds = fromDatabase ? 0 : SplitLength(o->split);
    settings.startOffset = RangedValue("--start-offset", o->startOffset, kStartOffsetOption);
    settings.fragmentLength = RangedValue("--fragment-length", o->fragmentLength, kFragmentLengthOption);
    settings.minSimilarity = RangedValue("--min-similarity", o->minSimilarity, kMinSimilarityOption);
    settings.declick = o->declick;
    settings.separateFiles = o->separate;
    settings.outputFolder = OutputFolder(o->output);

    JobInputs inputs(o->convert, host);
    if (!fromDatabase) {
      const auto source = inputs.Prepare(settings.sourcePath);
      if (!source) return kExitFailed;
      settings.sourcePath = *source;
    }
    const auto sample = inputs.Prepare(settings.samplePath);
    if (!sample) return kExitFailed;
    settings.samplePath = *sample;
    MatchReport report;
    const bool succeeded = RunMatch(settings, host, report, fromDatabase);
    if (!succeeded) inputs.ExplainRefusals();
    // A failed job prints nothing on standard output.
    if (succeeded && o->shared.json) {
      std::cout << report.ToJson(settings.fragmentLength).dump(1) << "\n";
    } else if (succeeded && !o->shared.quiet) {
      for (const auto& line : report.Summary()) std::cerr << line << "\n";
    }
    return !succeeded ? kExitFailed : report.AllWritten() ? kExitOk : kExitFailed;
  });
}

}  // namespace kestrune::cli
