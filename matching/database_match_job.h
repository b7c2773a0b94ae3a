// Matching against a splits database: the candidates' masks come from the
// database, so there is no preparation of the source.
#pragma once

#include "common/worker.h"
#include "matching/match_settings.h"

namespace kestrune {

bool MatchDatabaseSource(const MatchSettings& settings, WorkerContext* context);

}  // namespace kestrune
