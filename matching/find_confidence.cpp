#include "matching/find_confidence.h"

#include <cmath>

namespace kestrune {

double ScoreAllowance(uint64_t startsSearched) {
  const auto n = static_cast<double>(startsSearched);
  if (n <= kScoreReferenceStarts) return 0.0;
  return kScoreGrowthPerLog * std::log(n / kScoreReferenceStarts);
}

}  // namespace kestrune
