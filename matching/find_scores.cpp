#include "matching/find_scores.h"

#include <bit>

#include "matching/find_kernels.h"

namespace kestrune {

void StartScores::Reset(size_t n) {
  agreement.assign(n, 0);
  pairs.assign(n, 0);
}

void AddComparison(const FindTemplates& templates, uint32_t t, const uint32_t* candidate, const uint8_t* candidateSilent,
                   uint32_t& agreement, uint16_t& pairs) {
  const uint32_t h = templates.blocks;
  const uint32_t* masks = templates.Masks(t);
  if (candidateSilent == nullptr && templates.silentBlocks[t] == 0) {
    agreement += 32 * h - DifferingBits(masks, candidate, h);
    pairs = static_cast<uint16_t>(pairs + h);
    return;
  }
  const uint8_t* silent = templates.Silent(t);
  for (uint32_t i = 0; i < h; ++i) {
    if (silent[i] != 0 || (candidateSilent != nullptr && candidateSilent[i] != 0)) continue;
    agreement += 32 - static_cast<uint32_t>(std::popcount(masks[i] ^ candidate[i]));
    pairs = static_cast<uint16_t>(pairs + 1);
  }
}

}  // namespace kestrune
