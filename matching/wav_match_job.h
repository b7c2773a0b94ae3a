// Matching against a WAV source: every source split is analysed once, then
// for each template split of the sample the best source splits are written
// into the result, best first.
#pragma once

#include "common/worker.h"
#include "matching/match_settings.h"

namespace kestrune {

bool MatchWavSource(const MatchSettings& settings, WorkerContext* context);

}  // namespace kestrune
