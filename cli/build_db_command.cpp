#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/job_inputs.h"
#include "cli/options.h"
#include "cli/shared_options.h"
#include "common/path_text.h"
#include "matching/database_build_job.h"

namespace kestrune::cli {
namespace {

struct BuildOptions {
  SharedOptions shared;
  SplitLengthOptions split;
  bool convert = false;
  std::string source, output, name;
  std::string splitsPerFile = std::to_string(kSplitsPerFileOption.byDefault);
};

}  // namespace

Runner AddBuildDbCommand(CLI::App& app) {
  auto o = std::make_shared<BuildOptions>();
  CLI::App* cmd = app.add_subcommand("build-db", "Cut a WAV source into analysed splits and store them as a splits database");
  cmd->add_option("--source", o->source, "Source WAV file")->required();
  AddSplitLengthOptions(*cmd, o->split, false, true);
  cmd->add_option("--output", o->output, "Database file to write, for example songs.qlmx")->required();
  cmd->add_option("--name", o->name, "Database name, which names its data folder (default: the output file's base name)");
  AddNumberOption(*cmd, "--splits-per-file", o->splitsPerFile,
                  "Splits per data file (default " + std::to_string(kSplitsPerFileOption.byDefault) + ")");
  AddQuietFlag(*cmd, o->shared);
  AddThreadsOption(*cmd, o->shared);
  AddConvertFlag(*cmd, o->convert);

  return CommandRunner(cmd, &o->shared, [o](TerminalHost& host) -> int {
    DatabaseBuildJob job;
    job.request.sourcePath = PathFromUtf8(o->source);
    job.request.splitMilliseconds = SplitLength(o->split);
    job.request.outputPath = PathFromUtf8(o->output);
    if (!o->name.empty()) job.request.name = o->name;
    job.request.splitsPerDataFile = RangedValue("--splits-per-file", o->splitsPerFile, kSplitsPerFileOption);
    JobInputs inputs(o->convert, host);
    const auto source = inputs.Prepare(job.request.sourcePath);
    if (!source) return kExitFailed;
    job.request.sourcePath = *source;
    if (!RunJob(host, kBuildingDatabaseTitle, DatabaseBuildWorker, &job)) {
      std::cerr << "kestrune-cli: cannot build the database: " << (job.error.empty() ? "stopped" : job.error) << "\n";
      inputs.ExplainRefusals();
      return kExitFailed;
    }
    if (!o->shared.quiet) std::cerr << "wrote " << o->output << "\n";
    return kExitOk;
  });
}

}  // namespace kestrune::cli
