// The workers of the onset tempo estimate: alone (the command line's
// --method onset), and after the main estimate on the same worker (the
// desktop program's "Calculate from source", which offers it when the main
// estimate fails or disagrees).
#pragma once

#include <filesystem>

#include "analysis/onset_tempo.h"
#include "analysis/tempo_worker.h"
#include "common/worker.h"

namespace kestrune {

struct OnsetTempoRequest {
  std::filesystem::path sourcePath;
  double low = kOnsetTempoDefaultLow;
  double high = kOnsetTempoDefaultHigh;
  OnsetTempo result;
};

// "Calculating BPM", then the onset estimate; pUserData is an
// OnsetTempoRequest. True when an estimate was made.
bool OnsetTempoWorker(WorkerContext* context);

struct TempoPairRequest {
  TempoRequest main;         // main.tempo stays 0.0 when the main estimate fails
  OnsetTempoRequest other;   // within the default range
};

// The main estimate exactly as TempoWorker makes it, then, unless a stop was
// asked for, the onset estimate with its own status line, the bar starting
// again. pUserData is a TempoPairRequest. True when the main estimate
// succeeded: a caller reads the other estimate either way.
bool TempoPairWorker(WorkerContext* context);

inline constexpr char kOtherEstimateText[] = "Checking the tempo with a second method";

// True when a and b lie within 4 % of each other, or of half or double the
// other (positive tempos only).
bool TemposAgree(double a, double b);

}  // namespace kestrune
