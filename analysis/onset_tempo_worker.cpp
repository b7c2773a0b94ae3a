#include "analysis/onset_tempo_worker.h"

#include <cmath>

#include "analysis/tempo_estimator.h"

namespace kestrune {

bool OnsetTempoWorker(WorkerContext* context) {
  SetProgressText(context, "Calculating BPM");
  auto& request = *static_cast<OnsetTempoRequest*>(context->pUserData);
  return EstimateFileOnsetTempo(context, request.sourcePath, request.low, request.high, request.result);
}

bool TempoPairWorker(WorkerContext* context) {
  auto& request = *static_cast<TempoPairRequest*>(context->pUserData);
  // The main estimate as TempoWorker makes it.
  SetProgressText(context, "Calculating BPM");
  const bool estimated = EstimateFileTempo(context, request.main.tempo, request.main.sourcePath);
  if (context->bTerminate.load()) return estimated;
  SetProgressText(context, kOtherEstimateText);
  SetProgressPos(context, 0);
  EstimateFileOnsetTempo(context, request.other.sourcePath, request.other.low, request.other.high,
                         request.other.result);
  return estimated;
}

bool TemposAgree(double a, double b) {
  if (!(a > 0.0) || !(b > 0.0)) return false;
  for (const double factor : {1.0, 0.5, 2.0}) {
    if (std::fabs(a - b * factor) <= 0.04 * b * factor) return true;
  }
  return false;
}

}  // namespace kestrune
