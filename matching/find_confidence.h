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
// - A fragment whose blocks are mostly all set or all clear (silence, then
//   a loud onset) carries few bits that can agree beyond chance, so its
//   excess rests on a few blocks and its best start stands out by chance
//   more often than the lower half suggests. The z is shrunk by
//   sqrt(n / (n + 2)), n the fragment's informative blocks
//   (FindTemplates::InformativeBlocks): 0.8 for 3.5 of them, 0.97 for 30,
//   0.99 for 150.
#pragma once

#include <cstdint>

namespace kestrune {

inline constexpr double kUnrelatedDeviation = 5.0;  // percentage points, for one template
inline constexpr double kScoreReferenceStarts = 8700.0;
inline constexpr double kScoreGrowthPerLog = 0.6;
inline constexpr double kShrinkBlocks = 2.0;

// The deviation the score divides by: the lower half's, at most 5 / sqrt(T),
// T the templates' worth of blocks compared (FindResult::comparedTemplates).
double ScoreDeviation(double lowerDeviation, double templates);

// 0.6 ln(N / 8700) for N above 8700 starts, else 0.
double ScoreAllowance(uint64_t startsSearched);

// sqrt(n / (n + 2)) for n informative blocks per start; 0 when n is not
// positive.
double ScoreShrink(double informativeBlocks);

// (excess - median) / deviation * shrink - allowance; 0 - allowance when
// the deviation is not positive.
double MatchScore(double excess, double median, double deviation, double shrink, double allowance);

}  // namespace kestrune
