// How sure the search is of a match. The best of N unrelated starts drifts
// upwards as N grows. On rendered music the lower-half z of the best start
// of an unrelated source grew like the maximum of an exponential tail, by
// about 0.6 per factor e of starts (from one minute to an hour of source),
// not like a Gaussian's sqrt(2 ln N); the score takes that growth off
// beyond 8700 starts, where the default minimum score of 6 let about one
// unrelated search in a thousand through (docs/find.md).
#pragma once

#include <cstdint>

namespace kestrune {

inline constexpr double kScoreReferenceStarts = 8700.0;
inline constexpr double kScoreGrowthPerLog = 0.6;

// 0.6 ln(N / 8700) for N above 8700 starts, else 0.
double ScoreAllowance(uint64_t startsSearched);

}  // namespace kestrune
