#include "matching/find_confidence.h"

#include <cmath>

namespace kestrune {

double ScoreAllowance(uint64_t startsSearched) {
  const auto n = static_cast<double>(startsSearched);
  if (n <= kScoreReferenceStarts) return 0.0;
  return std::sqrt(2.0 * std::log(n)) - std::sqrt(2.0 * std::log(kScoreReferenceStarts));
}

}  // namespace kestrune
