#include "matching/find_confidence.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

double ScoreDeviation(double lowerDeviation, double templates) {
  if (!(templates > 0.0)) return lowerDeviation;
  return std::min(lowerDeviation, kUnrelatedDeviation / std::sqrt(templates));
}

double ScoreAllowance(uint64_t startsSearched) {
  const auto n = static_cast<double>(startsSearched);
  if (n <= kScoreReferenceStarts) return 0.0;
  return kScoreGrowthPerLog * std::log(n / kScoreReferenceStarts);
}

double ScoreShrink(double informativeBlocks) {
  if (!(informativeBlocks > 0.0)) return 0.0;
  return std::sqrt(informativeBlocks / (informativeBlocks + kShrinkBlocks));
}

double MatchScore(double excess, double median, double deviation, double shrink, double allowance) {
  const double z = deviation > 0.0 ? (excess - median) / deviation : 0.0;
  return z * shrink - allowance;
}

}  // namespace kestrune
