#include "matching/find_scores.h"

#include <array>
#include <bit>

#include "matching/find_kernels.h"

namespace kestrune {

void StartScores::Reset(size_t n, uint32_t foreground) {
  agreement.assign(n, 0);
  pairs.assign(n, 0);
  chance.assign(n, 0);
  foregroundPairs = foreground;
  const size_t kept = foreground > 0 ? n : 0;
  backgroundAgreement.assign(kept, 0);
  backgroundPairs.assign(kept, 0);
  backgroundChance.assign(kept, 0);
  backgroundAgreement.shrink_to_fit();
  backgroundPairs.shrink_to_fit();
  backgroundChance.shrink_to_fit();
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
    AddBackground(templates, t, candidate, nullptr, scores, start);
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
  AddBackground(templates, t, candidate, candidateSilent, scores, start);
}

void AddBackground(const FindTemplates& templates, uint32_t t, const uint32_t* candidate, const uint8_t* candidateSilent,
                   StartScores& scores, size_t start) {
  if (!scores.HasBackground() || templates.backgroundBlocks[t] == 0) return;
  const uint32_t h = templates.blocks;
  const uint32_t* masks = templates.Masks(t);
  const uint8_t* background = templates.Background(t);
  uint32_t agreement = 0, pairs = 0, chance = 0;
  // The pairs are gathered and counted by the chosen kernel: this runs for
  // every candidate, and the portable popcount is a library call.
  std::array<uint32_t, 64> a, b;
  uint32_t n = 0;
  const auto count = [&] {
    agreement += 32 * n - DifferingBits(a.data(), b.data(), n);
    chance += PairChance(a.data(), b.data(), n);
    pairs += n;
    n = 0;
  };
  for (uint32_t i = 0; i < h; ++i) {
    // Background blocks are never silent; a silent candidate block is not compared.
    if (background[i] == 0 || (candidateSilent != nullptr && candidateSilent[i] != 0)) continue;
    a[n] = masks[i];
    b[n] = candidate[i];
    if (++n == a.size()) count();
  }
  count();
  scores.backgroundAgreement[start] += agreement;
  scores.backgroundPairs[start] = static_cast<uint16_t>(scores.backgroundPairs[start] + pairs);
  scores.backgroundChance[start] += chance;
}

}  // namespace kestrune
