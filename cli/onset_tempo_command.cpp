#include "cli/onset_tempo_command.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include <nlohmann/json.hpp>

#include "analysis/onset_tempo_worker.h"
#include "cli/commands.h"
#include "cli/shared_options.h"
#include "common/options.h"
#include "common/path_text.h"

namespace kestrune::cli {
namespace {

// Tempos to one decimal, as printed.
double Tenths(double bpm) { return std::round(bpm * 10.0) / 10.0; }

}  // namespace

int RunOnsetTempo(TerminalHost& host, const OnsetTempoOptions& options) {
  OnsetTempoRequest request;
  request.sourcePath = PathFromUtf8(options.file);
  request.low = options.low;
  request.high = options.high;
  if (!RunJob(host, "Calculating BPM", OnsetTempoWorker, &request)) {
    std::cerr << kTempoFailedMessage << "\n";
    return kExitFailed;
  }
  const OnsetTempo& r = request.result;
  // The split lengths as for the main estimate: from the tempo truncated.
  const auto bpm = static_cast<uint32_t>(r.bpm);
  if (options.json) {
    nlohmann::json splits;
    for (int32_t i = 0; i < kNoteFractionCount; ++i) splits[kNoteFractions[i]] = SplitFromTempo(bpm, i);
    nlohmann::json alternatives = nlohmann::json::array();
    for (double a : r.alternatives) alternatives.push_back(Tenths(a));
    std::cout << nlohmann::json{{"bpm", r.bpm},
                                {"tempo", bpm},
                                {"split_ms", splits},
                                {"method", "onset"},
                                {"confidence", std::round(r.confidence * 100.0) / 100.0},
                                {"uncertain", r.uncertain},
                                {"alternatives", alternatives}}
                     .dump()
              << "\n";
    return kExitOk;
  }
  std::printf("%.1f BPM%s\n", r.bpm, r.uncertain ? " (uncertain)" : "");
  std::printf("confidence %.2f\n", r.confidence);
  std::printf("alternatives:");
  for (size_t i = 0; i < r.alternatives.size(); ++i) std::printf("%s %.1f", i ? "," : "", r.alternatives[i]);
  std::printf(" BPM\n");
  std::printf("split lengths at %u BPM:", bpm);
  for (int32_t i = 0; i < kNoteFractionCount; ++i) std::printf("%s %s %u ms", i ? "," : "", kNoteFractions[i], SplitFromTempo(bpm, i));
  std::printf("\n");
  return kExitOk;
}

}  // namespace kestrune::cli
