#include "matching/match_workers.h"

#include "matching/database_match_job.h"
#include "matching/match_settings.h"
#include "matching/wav_match_job.h"

namespace kestrune {

bool WavMatchWorker(WorkerContext* context) {
  SetProgressText(context, kPleaseWait);
  return MatchWavSource(*static_cast<const MatchSettings*>(context->pUserData), context);
}

bool DatabaseMatchWorker(WorkerContext* context) {
  SetProgressText(context, kPleaseWait);
  return MatchDatabaseSource(*static_cast<const MatchSettings*>(context->pUserData), context);
}

}  // namespace kestrune
