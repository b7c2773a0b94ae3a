// One score per start of a source: the mask bits that agree and the block
// pairs compared, summed over the templates of the fragment.
#pragma once

#include <cstdint>
#include <vector>

#include "matching/find_templates.h"

namespace kestrune {

struct StartScores {
  std::vector<uint32_t> agreement;
  std::vector<uint16_t> pairs;  // block pairs compared; 32 bits each
  size_t Count() const { return agreement.size(); }
  // n starts, all zero. Throws std::bad_alloc.
  void Reset(size_t n);
  // A start is compared when at least half of its block pairs are.
  bool Compared(size_t start, uint32_t allPairs) const { return 2 * uint32_t{pairs[start]} >= allPairs && pairs[start] > 0; }
  double Similarity(size_t start) const {
    return static_cast<double>(agreement[start]) * 100.0 / (32.0 * pairs[start]);
  }
};

// Adds the comparison of template t with a candidate's masks to one start.
// A block pair is left out when either block is silent; candidateSilent is
// null when none of the candidate's blocks is.
void AddComparison(const FindTemplates& templates, uint32_t t, const uint32_t* candidate, const uint8_t* candidateSilent,
                   uint32_t& agreement, uint16_t& pairs);

}  // namespace kestrune
