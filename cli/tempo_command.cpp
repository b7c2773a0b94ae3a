#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/tempo_worker.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/shared_options.h"
#include "common/options.h"
#include "common/path_text.h"

namespace kestrune::cli {
namespace {

struct TempoOptions {
  SharedOptions shared;
  std::string file;
};

}  // namespace

Runner AddTempoCommand(CLI::App& app) {
  auto o = std::make_shared<TempoOptions>();
  CLI::App* cmd = app.add_subcommand("tempo", "Estimate the tempo of a WAV file in beats per minute");
  cmd->add_option("file", o->file, "WAV file (44100 Hz, 2 channels, 16-bit PCM)")->required();
  AddJsonFlag(*cmd, o->shared);
  AddQuietFlag(*cmd, o->shared);
  AddThreadsOption(*cmd, o->shared);

  return CommandRunner(cmd, &o->shared, [o](TerminalHost& host) -> int {
    TempoRequest request;
    request.sourcePath = PathFromUtf8(o->file);
    if (!RunJob(host, "Calculating BPM", TempoWorker, &request)) {
      std::cerr << kTempoFailedMessage << "\n";
      return kExitFailed;
    }
    // As the main window does: the tempo is truncated, then gives the split lengths.
    const auto bpm = static_cast<uint32_t>(request.tempo);
    if (o->shared.json) {
      nlohmann::json splits;
      for (int32_t i = 0; i < kNoteFractionCount; ++i) splits[kNoteFractions[i]] = SplitFromTempo(bpm, i);
      std::cout << nlohmann::json{{"bpm", request.tempo}, {"tempo", bpm}, {"split_ms", splits}}.dump() << "\n";
    } else {
      std::printf("%.1f BPM\n", request.tempo);
      std::printf("split lengths at %u BPM:", bpm);
      for (int32_t i = 0; i < kNoteFractionCount; ++i) std::printf("%s %s %u ms", i ? "," : "", kNoteFractions[i], SplitFromTempo(bpm, i));
      std::printf("\n");
    }
    return kExitOk;
  });
}

}  // namespace kestrune::cli
