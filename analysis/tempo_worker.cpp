#include "analysis/tempo_worker.h"

#include "analysis/tempo_estimator.h"

namespace kestrune {

bool TempoWorker(WorkerContext* context) {
  SetProgressText(context, "Calculating BPM");
  auto& request = *static_cast<TempoRequest*>(context->pUserData);
  return EstimateFileTempo(context, request.tempo, request.sourcePath);
}

}  // namespace kestrune
