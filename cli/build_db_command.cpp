#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/terminal_host.h"
#include "common/path_text.h"
#include "storage/splits_database_writer.h"

namespace kestrune::cli {
namespace {

struct BuildOptions {
  std::string source, splitMs, output, name, splitsPerFile = "1000";
  bool quiet = false;
};

struct BuildJob {
  DatabaseBuildRequest request;
  std::string error;
};

bool BuildWorker(WorkerContext* context) {
  auto& job = *static_cast<BuildJob*>(context->pUserData);
  SetProgressText(context, "Analysing source splits..");
  auto progress = [context](uint32_t done, uint32_t total) {
    SetProgressPos(context, total == 0 ? 100u : static_cast<uint32_t>(uint64_t{done} * 100 / total));
    return !context->bTerminate.load();
  };
  return BuildSplitsDatabase(job.request, progress, job.error);
}

}  // namespace

Runner AddBuildDbCommand(CLI::App& app) {
  auto o = std::make_shared<BuildOptions>();
  CLI::App* cmd = app.add_subcommand("build-db", "Cut a WAV source into analysed splits and store them as a splits database");
  cmd->add_option("--source", o->source, "Source WAV file")->required();
  cmd->add_option("--split-ms", o->splitMs, "Split length in milliseconds (100..5000)")->required();
  cmd->add_option("--output", o->output, "Database file to write, for example songs.qlmx")->required();
  cmd->add_option("--name", o->name, "Database name, which names its data folder (default: the output file's base name)");
  cmd->add_option("--splits-per-file", o->splitsPerFile, "Splits per data file (default 1000)");
  cmd->add_flag("--quiet", o->quiet, "No progress bar");

  return [cmd, o]() -> int {
    if (!cmd->parsed()) return -1;
    BuildJob job;
    job.request.sourcePath = PathFromUtf8(o->source);
    job.request.splitMilliseconds = RangedValue("--split-ms", o->splitMs, 100, 5000);
    job.request.outputPath = PathFromUtf8(o->output);
    if (!o->name.empty()) job.request.name = o->name;
    job.request.splitsPerDataFile = RangedValue("--splits-per-file", o->splitsPerFile, 1, 1000000);
    TerminalHost host(o->quiet);
    if (host.RunProgress("Building database", BuildWorker, &job) != PD_SUCCEEDED) {
      std::cerr << "kestrune-cli: cannot build the database: " << job.error << "\n";
      return kExitFailed;
    }
    if (!o->quiet) std::cerr << "wrote " << o->output << "\n";
    return kExitOk;
  };
}

}  // namespace kestrune::cli
