// The worker that estimates the tempo of a WAV file behind a progress run.
#pragma once

#include <filesystem>

#include "common/worker.h"

namespace kestrune {

struct TempoRequest {
  std::filesystem::path sourcePath;
  double tempo = 0.0;  // beats per minute; stored only when an estimate was made
};

// "Calculating BPM", then the estimate of the request's file; pUserData is a
// TempoRequest. True when a non-zero estimate was stored.
bool TempoWorker(WorkerContext* context);

inline constexpr char kTempoFailedMessage[] = "Error while calculating BPM or source file incorrect.";

}  // namespace kestrune
