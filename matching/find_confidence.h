// How sure the search is of a match. The z of a start is how many standard
// deviations its similarity stands above the mean over all starts of its
// source. The best of N unrelated starts drifts upwards as N grows (by about
// sqrt(2 ln N) deviations for Gaussian scores), so the score takes off what
// searching more than 100,000 starts adds by chance (docs/find.md).
#pragma once

#include <cstdint>

namespace kestrune {

inline constexpr double kScoreReferenceStarts = 100000.0;

// sqrt(2 ln N) - sqrt(2 ln 100000) for N above 100000 starts, else 0.
double ScoreAllowance(uint64_t startsSearched);

}  // namespace kestrune
