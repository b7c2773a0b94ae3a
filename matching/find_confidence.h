// How sure the search is of a match (docs/find.md).
//
// The score is a z of the match's agreement beyond chance (BeyondChance in
// find_scores.h) over the source's starts, measured from their median in
// units of the deviation of their lower half, less an allowance for the
// number of starts searched.
// - The deviation is capped at 5 / sqrt(T) percentage points, T the
//   templates compared per start. On rendered music, starts of unrelated
//   recordings spread less than that; wider spreads came from a source of
//   the same tempo and rhythm as the fragment (above all its own song),
//   where they made a strong match look ordinary.
// - The best of N unrelated starts drifts upwards as N grows, like the
//   maximum of an exponential tail, by about 0.6 per factor e of starts
//   (from one minute of source to an hour), not like a Gaussian's
//   sqrt(2 ln N). The allowance takes that growth off beyond 8700 starts.
#pragma once

#include <cstdint>

namespace kestrune {

inline constexpr double kUnrelatedDeviation = 5.0;  // percentage points, for one template
inline constexpr double kScoreReferenceStarts = 8700.0;
inline constexpr double kScoreGrowthPerLog = 0.6;

// The deviation the score divides by: the lower half's, at most 5 / sqrt(T).
double ScoreDeviation(double lowerDeviation, uint32_t templates);

// 0.6 ln(N / 8700) for N above 8700 starts, else 0.
double ScoreAllowance(uint64_t startsSearched);

// (similarity - median) / deviation - allowance; 0 - allowance when the
// deviation is not positive.
double MatchScore(double similarity, double median, double deviation, double allowance);

}  // namespace kestrune
