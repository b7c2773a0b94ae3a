// Worker functions that run a matching job behind a progress run; pUserData
// points at the job's MatchSettings.
#pragma once

#include "common/worker.h"

namespace kestrune {

bool WavMatchWorker(WorkerContext* context);
bool DatabaseMatchWorker(WorkerContext* context);

}  // namespace kestrune
