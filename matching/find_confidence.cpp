#include "matching/find_confidence.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

double ScoreDeviation(double lowerDeviation, uint32_t templates) {
  if (templates == 0) return lowerDeviation;
  return std::min(lowerDeviation, kUnrelatedDeviation / std::sqrt(static_cast<double>(templates)));
}

double ScoreAllowance(uint64_t startsSearched) {
  const auto n = static_cast<double>(startsSearched);
  if (n <= kScoreReferenceStarts) return 0.0;
  return kScoreGrowthPerLog * std::log(n / kScoreReferenceStarts);
}

double MatchScore(double similarity, double median, double deviation, double allowance) {
  const double z = deviation > 0.0 ? (similarity - median) / deviation : 0.0;
  return z - allowance;
}

}  // namespace kestrune
