#include "matching/find_scores.h"

#include <bit>

#include "matching/find_kernels.h"

namespace kestrune {

void StartScores::Reset(size_t n) {
  agreement.assign(n, 0);
  pairs.assign(n, 0);
  chance.assign(n, 0);
}

double BeyondChance(uint32_t agreement, uint32_t pairs, uint32_t chance32) {
  if (pairs == 0) return 0.0;
  return static_cast<double>(int64_t{agreement} * 32 - chance32) * 100.0 / (1024.0 * pairs);
}

void AddComparison(const FindTemplates& templates, uint32_t t, const uint32_t* candidate, const uint8_t* candidateSilent,
                   StartScores& scores, size_t start) {
  const uint32_t h = templates.blocks;
  const uint32_t* masks = templates.Masks(t);
  if (candidateSilent == nullptr && templates.silentBlocks[t] == 0) {
    scores.agreement[start] += 32 * h - DifferingBits(masks, candidate, h);
    scores.pairs[start] = static_cast<uint16_t>(scores.pairs[start] + h);
    scores.chance[start] += PairChance(masks, candidate, h);
    return;
  }
  const uint8_t* silent = templates.Silent(t);
  uint32_t agreement = 0, pairs = 0, chance = 0;
  for (uint32_t i = 0; i < h; ++i) {
    if (silent[i] != 0 || (candidateSilent != nullptr && candidateSilent[i] != 0)) continue;
    agreement += 32 - static_cast<uint32_t>(std::popcount(masks[i] ^ candidate[i]));
    chance += BlockChance(static_cast<uint32_t>(std::popcount(masks[i])), static_cast<uint32_t>(std::popcount(candidate[i])));
    ++pairs;
  }
  scores.agreement[start] += agreement;
  scores.pairs[start] = static_cast<uint16_t>(scores.pairs[start] + pairs);
  scores.chance[start] += chance;
}

}  // namespace kestrune
