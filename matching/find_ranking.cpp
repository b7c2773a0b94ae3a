#include "matching/find_ranking.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

StartLayout WavStartLayout(uint64_t count, uint32_t hop) {
  StartLayout layout;
  layout.count = count;
  layout.frame = [hop](uint64_t i) { return static_cast<uint32_t>(i * hop); };
  layout.near = [count, hop](uint32_t f, uint32_t window, const std::function<void(uint64_t)>& visit) {
    const uint64_t lo = f >= window ? (f - window) / hop : 0;
    const uint64_t hi = std::min<uint64_t>(count, (uint64_t{f} + window) / hop + 1);
    for (uint64_t i = lo; i < hi; ++i) visit(i);
  };
  layout.neighbour = [count](uint64_t i, int direction) -> std::optional<uint64_t> {
    if (direction < 0) return i > 0 ? std::optional<uint64_t>(i - 1) : std::nullopt;
    return i + 1 < count ? std::optional<uint64_t>(i + 1) : std::nullopt;
  };
  layout.hop = hop;
  return layout;
}

namespace {

uint32_t RefinedFrame(const StartScores& scores, uint32_t allPairs, const StartLayout& layout, uint64_t best) {
  const uint32_t frame = layout.frame(best);
  if (!layout.neighbour || layout.hop == 0) return frame;
  const auto before = layout.neighbour(best, -1);
  const auto after = layout.neighbour(best, +1);
  if (!before || !after || !scores.Compared(*before, allPairs) || !scores.Compared(*after, allPairs)) return frame;
  const double a = scores.Similarity(*before), b = scores.Similarity(best), c = scores.Similarity(*after);
  const double fall = b - std::min(a, c);
  if (!(fall > 0.0)) return frame;
  // Symmetric lines through the three points: the peak lies (c - a) / (2 * fall) hops away.
  const double shift = std::clamp((c - a) / (2.0 * fall), -0.5, 0.5) * layout.hop;
  const double refined = std::round(static_cast<double>(frame) + shift);
  return refined < 0.0 ? 0u : static_cast<uint32_t>(refined);
}

// The median of value over the compared starts that forEach visits, and
// how far it lies above their 15.87 % point, from a histogram in steps of
// 1/100 between low and high.
void LowerHalf(const StartScores& scores, uint32_t allPairs, double low, double high,
               const std::function<double(size_t)>& value,
               const std::function<void(const std::function<void(uint64_t)>&)>& forEach, double& median,
               double& lowerDeviation) {
  const auto bins = static_cast<int>((high - low) * 100.0) + 1;
  std::vector<uint64_t> histogram(bins, 0);
  uint64_t count = 0;
  forEach([&](uint64_t i) {
    if (!scores.Compared(i, allPairs)) return;
    histogram[std::clamp(static_cast<int>(std::floor((value(i) - low) * 100.0 + 0.5)), 0, bins - 1)]++;
    ++count;
  });
  const auto quantile = [&](double q) {
    const auto wanted = static_cast<uint64_t>(q * static_cast<double>(count));
    uint64_t seen = 0;
    for (int b = 0; b < bins; ++b) {
      seen += histogram[b];
      if (seen > wanted) return low + b / 100.0;
    }
    return high;
  };
  median = quantile(0.5);
  lowerDeviation = median - quantile(0.158655);
}

}  // namespace

SimilarityStats ComputeStats(const StartScores& scores, uint32_t allPairs) {
  SimilarityStats stats;
  double sum = 0.0;
  for (size_t i = 0; i < scores.Count(); ++i) {
    if (!scores.Compared(i, allPairs)) continue;
    sum += scores.Similarity(i);
    ++stats.starts;
  }
  if (stats.starts == 0) return stats;
  stats.mean = sum / static_cast<double>(stats.starts);
  double squares = 0.0;
  for (size_t i = 0; i < scores.Count(); ++i) {
    if (!scores.Compared(i, allPairs)) continue;
    const double d = scores.Similarity(i) - stats.mean;
    squares += d * d;
  }
  stats.deviation = std::sqrt(squares / static_cast<double>(stats.starts));
  const auto all = [&](const std::function<void(uint64_t)>& visit) {
    for (uint64_t i = 0; i < scores.Count(); ++i) visit(i);
  };
  LowerHalf(scores, allPairs, 0.0, 100.0, [&](size_t i) { return scores.Similarity(i); }, all, stats.median,
            stats.lowerDeviation);
  LowerHalf(scores, allPairs, -100.0, 100.0, [&](size_t i) { return scores.Excess(i); }, all, stats.excessMedian,
            stats.excessLowerDeviation);
  return stats;
}

std::vector<float> SimilarityCurve(const StartScores& scores, uint32_t allPairs, const StartLayout& layout,
                                   uint32_t sourceFrames, uint32_t points) {
  std::vector<float> curve(points, -1.0f);
  if (points == 0 || sourceFrames == 0) return curve;
  for (uint64_t i = 0; i < scores.Count(); ++i) {
    if (!scores.Compared(i, allPairs)) continue;
    const uint64_t at = uint64_t{layout.frame(i)} * points / sourceFrames;
    float& slot = curve[std::min<uint64_t>(at, points - 1)];
    slot = std::max(slot, static_cast<float>(scores.Similarity(i)));
  }
  return curve;
}

std::vector<FindMatch> PickBestStarts(StartScores& scores, uint32_t allPairs, const SimilarityStats& stats,
                                      const StartLayout& layout, uint32_t window, uint32_t count) {
  std::vector<FindMatch> picked;
  while (picked.size() < count) {
    // The best compared start; ties go to the earlier one.
    uint64_t best = UINT64_MAX;
    double bestExcess = 0.0;
    for (uint64_t i = 0; i < scores.Count(); ++i) {
      if (!scores.Compared(i, allPairs)) continue;
      const double excess = scores.Excess(i);
      if (best == UINT64_MAX || excess > bestExcess) {
        best = i;
        bestExcess = excess;
      }
    }
    if (best == UINT64_MAX) break;
    FindMatch m;
    m.frame = RefinedFrame(scores, allPairs, layout, best);
    m.comparedFrame = layout.frame(best);
    m.agreement = scores.agreement[best];
    m.bits = 32u * scores.pairs[best];
    m.similarity = scores.Similarity(best);
    m.excess = bestExcess;
    // The spread of the starts around it alone: in a long recording of
    // many pieces, a piece in the fragment's tempo and rhythm spreads wider
    // than the recording as a whole.
    double localMedian = 0.0;
    const uint32_t at = layout.frame(best);
    LowerHalf(scores, allPairs, -100.0, 100.0, [&](size_t i) { return scores.Excess(i); },
              [&](const std::function<void(uint64_t)>& visit) {
                layout.near(at, kLocalFrames, [&](uint64_t i) {
                  const uint32_t f = layout.frame(i);
                  if ((f > at ? f - at : at - f) < kLocalFrames) visit(i);
                });
              },
              localMedian, m.localDeviation);
    m.z = stats.deviation > 0.0 ? (m.similarity - stats.mean) / stats.deviation : 0.0;
    m.lowerZ = stats.lowerDeviation > 0.0 ? (m.similarity - stats.median) / stats.lowerDeviation : 0.0;
    m.record = static_cast<uint32_t>(best);  // the start's index until the caller says otherwise
    picked.push_back(m);
    layout.near(m.comparedFrame, window, [&](uint64_t i) {
      const uint32_t f = layout.frame(i);
      const uint32_t d = f > m.comparedFrame ? f - m.comparedFrame : m.comparedFrame - f;
      if (d < window) scores.pairs[i] = 0;
    });
  }
  return picked;
}

}  // namespace kestrune
