#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/tempo_worker.h"
#include "cli/commands.h"
#include "cli/job_inputs.h"
#include "cli/onset_tempo_command.h"
#include "cli/options.h"
#include "cli/shared_options.h"
#include "common/options.h"
#include "common/path_text.h"

namespace kestrune::cli {
namespace {

struct TempoOptions {
  SharedOptions shared;
  std::string file;
  std::string method, minBpm, maxBpm;
  bool convert = false;
};

OnsetTempoOptions OnsetOptions(const TempoOptions& o) {
  OnsetTempoOptions onset;
  onset.file = o.file;
  onset.json = o.shared.json;
  onset.low = o.minBpm.empty() ? kOnsetMinBpmOption.byDefault : RangedValue("--min-bpm", o.minBpm, kOnsetMinBpmOption);
  onset.high = o.maxBpm.empty() ? kOnsetMaxBpmOption.byDefault : RangedValue("--max-bpm", o.maxBpm, kOnsetMaxBpmOption);
  if (onset.low > onset.high) throw UsageError("--min-bpm must not be above --max-bpm");
  return onset;
}

}  // namespace

Runner AddTempoCommand(CLI::App& app) {
  auto o = std::make_shared<TempoOptions>();
  CLI::App* cmd = app.add_subcommand("tempo", "Estimate the tempo of a WAV file in beats per minute");
  cmd->add_option("file", o->file, "WAV file (44100 Hz, 2 channels, 16-bit PCM)")->required();
  AddJsonFlag(*cmd, o->shared);
  AddQuietFlag(*cmd, o->shared);
  AddThreadsOption(*cmd, o->shared);
  cmd->add_option("--method", o->method,
                  "default: the beat-energy estimator (also without --method); onset: a second estimator that also gives its confidence and "
                  "the likely alternatives")
      ->check(CLI::IsMember({"default", "onset"}));
  AddNumberOption(*cmd, "--min-bpm", o->minBpm,
                  "With --method onset: the slowest tempo to answer (" + RangeText(kOnsetMinBpmOption, true) + ")");
  AddNumberOption(*cmd, "--max-bpm", o->maxBpm,
                  "With --method onset: the fastest tempo to answer (" + RangeText(kOnsetMaxBpmOption, true) + ")");
  AddConvertFlag(*cmd, o->convert);

  return CommandRunner(cmd, &o->shared, [o](TerminalHost& host) -> int {
    const bool onset = o->method == "onset";
    if (!onset && (!o->minBpm.empty() || !o->maxBpm.empty()))
      throw UsageError("--min-bpm and --max-bpm apply to --method onset only");
    // Usage errors come before any conversion.
    OnsetTempoOptions onsetOptions = onset ? OnsetOptions(*o) : OnsetTempoOptions{};
    JobInputs inputs(o->convert, host);
    const auto file = inputs.Prepare(PathFromUtf8(o->file));
    if (!file) return kExitFailed;
    if (onset) {
      onsetOptions.file = Utf8Of(*file);
      return RunOnsetTempo(host, onsetOptions);
    }
    TempoRequest request;
    request.sourcePath = *file;
    if (!RunJob(host, "Calculating BPM", TempoWorker, &request)) {
      std::cerr << kTempoFailedMessage << "\n";
      inputs.ExplainRefusals();
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
