#include "cli/match_command.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/options.h"
#include "common/path_text.h"
#include "common/split_geometry.h"
#include "matching/match_workers.h"

namespace kestrune::cli {
namespace {

struct MatchOptions {
  std::string source, database, sample, splitMs, bpm, note, startOffset = "0", fragmentLength = "2",
      minSimilarity = "35", output, threads;
  bool declick = false, separate = false, json = false, quiet = false;
};

uint32_t SplitLength(const MatchOptions& o) {
  if (o.bpm.empty() && o.note.empty()) {
    return o.splitMs.empty() ? 500u : RangedValue("--split-ms", o.splitMs, 100, 5000);
  }
  const uint32_t bpm = o.bpm.empty() ? 120u : RangedValue("--bpm", o.bpm, 10, 200);
  const int32_t note = o.note.empty() ? 1 : NoteFractionIndex(o.note);
  const uint32_t ms = SplitFromTempo(bpm, note);
  // The tempo rule can leave the range of split lengths; such a run is refused.
  if (ms < 100 || ms > 5000) {
    throw UsageError("--bpm " + std::to_string(bpm) + " with --note " + kNoteFractions[note] +
                     " gives a split length of " + std::to_string(ms) +
                     " ms: Please enter an integer between 100 and 5000.");
  }
  return ms;
}

}  // namespace

bool RunMatch(MatchSettings& settings, TerminalHost& host, MatchReport& report, bool fromDatabase) {
  settings.ownerWindow = &host;
  settings.observer = &report;
  const int code =
      host.RunProgress("Processing sound.", fromDatabase ? DatabaseMatchWorker : WavMatchWorker, &settings);
  if (code == PD_SUCCEEDED) return true;
  host.ShowMessage(kProcessFailedMessage, kCaption);
  return false;
}

Runner AddMatchCommand(CLI::App& app) {
  auto o = std::make_shared<MatchOptions>();
  CLI::App* cmd = app.add_subcommand("match", "Find the stretches of a source that sound like a piece of a sample");
  auto* source = cmd->add_option("--source", o->source, "Source WAV file to search in");
  auto* database = cmd->add_option("--database", o->database, "Splits database (.qlmx) to search in instead");
  source->excludes(database);
  cmd->add_option("--sample", o->sample, "Sample WAV file to find")->required();
  auto* split = cmd->add_option("--split-ms", o->splitMs, "Split length in milliseconds (100..5000, default 500)");
  auto* bpm = cmd->add_option("--bpm", o->bpm, "Tempo in BPM (10..200, default 120); the split length follows the note");
  auto* note = cmd->add_option("--note", o->note, "Note fraction of the tempo: 1/2, 1/4, 3/16, 1/8, 1/16 (default 1/4)");
  split->excludes(bpm)->excludes(note);
  // A database fixes its own split length.
  database->excludes(split)->excludes(bpm)->excludes(note);
  cmd->add_option("--start-offset", o->startOffset, "Splits of the sample skipped (0..50000, default 0)");
  cmd->add_option("--fragment-length", o->fragmentLength, "Consecutive template splits (1..50, default 2)");
  cmd->add_option("--min-similarity", o->minSimilarity, "Minimum similarity in percent (1..100, default 35)");
  cmd->add_flag("--declick", o->declick, "Ramp both ends of every written split to silence");
  cmd->add_flag("--separate", o->separate, "One result file per template split");
  cmd->add_option("--output", o->output, "Output folder (default: the current folder)");
  cmd->add_flag("--json", o->json, "Print a JSON report on standard output");
  cmd->add_flag("--quiet", o->quiet, "No progress bar");
  cmd->add_option("--threads", o->threads, kThreadsHelp);

  return [cmd, o]() -> int {
    if (!cmd->parsed()) return -1;
    ApplyThreadsOption(o->threads);
    if (o->source.empty() == o->database.empty()) throw UsageError("one of --source and --database is required");
    const bool fromDatabase = !o->database.empty();
    MatchSettings settings;
    settings.sourcePath = PathFromUtf8(fromDatabase ? o->database : o->source);
    settings.samplePath = PathFromUtf8(o->sample);
    settings.splitMilliseconds = fromDatabase ? 0 : SplitLength(*o);
    settings.startOffset = RangedValue("--start-offset", o->startOffset, 0, 50000);
    settings.fragmentLength = RangedValue("--fragment-length", o->fragmentLength, 1, 50);
    settings.minSimilarity = RangedValue("--min-similarity", o->minSimilarity, 1, 100);
    settings.declick = o->declick;
    settings.separateFiles = o->separate;
    settings.outputFolder = OutputFolder(o->output);

    TerminalHost host(o->quiet);
    MatchReport report;
    const bool succeeded = RunMatch(settings, host, report, fromDatabase);
    // A failed job prints nothing on standard output.
    if (succeeded && o->json) {
      std::cout << report.ToJson(settings.fragmentLength).dump(1) << "\n";
    } else if (succeeded && !o->quiet) {
      for (const auto& line : report.Summary()) std::cerr << line << "\n";
    }
    const int status = !succeeded ? kExitFailed : report.AllWritten() ? kExitOk : kExitFailed;
    return status;
  };
}

}  // namespace kestrune::cli
