// From the scores of every start of a source to its matches: the mean and
// deviation of the similarities, the best starts one split apart, and the
// curve of the best similarity along the source.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "matching/find_request.h"
#include "matching/find_scores.h"

namespace kestrune {

// Where the starts of a source lie in it.
struct StartLayout {
  uint64_t count = 0;
  // Frame of start i.
  std::function<uint32_t(uint64_t i)> frame;
  // Calls visit for every start whose frame may lie within window frames of
  // frame f (it may name a few more; they are checked).
  std::function<void(uint32_t f, uint32_t window, const std::function<void(uint64_t)>& visit)> near;
  // The start one hop later (+1) or earlier (-1) than start i, if any.
  std::function<std::optional<uint64_t>(uint64_t i, int direction)> neighbour;
  uint32_t hop = 0;
};

StartLayout WavStartLayout(uint64_t count, uint32_t hop);

struct SimilarityStats {
  uint64_t starts = 0;   // compared starts
  double mean = 0.0;
  double deviation = 0.0;  // population
  // The median, and how far it lies above the lower 15.87 % point: the
  // deviation the lower half of the similarities alone shows.
  double median = 0.0;
  double lowerDeviation = 0.0;
  // The same two of the agreements beyond chance (StartScores::Excess).
  double excessMedian = 0.0;
  double excessLowerDeviation = 0.0;
};

// allPairs: the block pairs of a start with nothing silent.
SimilarityStats ComputeStats(const StartScores& scores, uint32_t allPairs);

// The best similarity of the starts whose frames lie in each of points equal
// stretches of frames; -1 where none does.
std::vector<float> SimilarityCurve(const StartScores& scores, uint32_t allPairs, const StartLayout& layout,
                                   uint32_t sourceFrames, uint32_t points);

// Frames either side of a match whose starts give its local deviation.
inline constexpr uint32_t kLocalFrames = 30 * 44100;

// Up to count starts, best agreement beyond chance first, each excluding
// every other start within window frames of it. Their z is filled in; the score is not. The
// frame of each lies between the hops: where lines through the best start and
// its two neighbours meet (a peak of similarity is a triangle about a block
// wide), at most half a hop from the best start. Each one's localDeviation
// is the lower-half deviation of the excess of the starts within
// kLocalFrames of it.
// Changes scores: the excluded starts are no longer compared.
std::vector<FindMatch> PickBestStarts(StartScores& scores, uint32_t allPairs, const SimilarityStats& stats,
                                      const StartLayout& layout, uint32_t window, uint32_t count);

}  // namespace kestrune
