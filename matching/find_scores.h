// One score per start of a source: the mask bits that agree, the block
// pairs compared, and how many bits would agree by chance given how many
// each block of either side has set, summed over the templates.
#pragma once

#include <cstdint>
#include <vector>

#include "matching/find_templates.h"

namespace kestrune {

// 32 times the bits two 32-bit mask words with a and b bits set agree in
// by chance (bits placed independently): a b + (32 - a)(32 - b), out of
// 1024.
constexpr uint32_t BlockChance(uint32_t a, uint32_t b) { return 1024 - 32 * a - 32 * b + 2 * a * b; }

// (agreement - chance) * 100 / bits over pairs block pairs, chance32 being
// 32 times the chance agreement: the share of the bits compared that agree
// beyond chance. A block's share of set bits follows its loudness against
// the split (a quiet block clears nearly all, a loud onset sets nearly all),
// so masks with the same loud and quiet blocks agree highly whatever the
// sound: silence then a chord matches any song's lead-in and first chord.
// Such blocks count here as compared but add nothing. (Dividing by the bits
// left beyond chance instead, as Cohen's kappa does, makes a start whose
// blocks are nearly all at chance score on the few left over.)
double BeyondChance(uint32_t agreement, uint32_t pairs, uint32_t chance32);

struct StartScores {
  std::vector<uint32_t> agreement;
  std::vector<uint16_t> pairs;  // block pairs compared; 32 bits each
  // 32 times the bits that agree by chance (BlockChance, summed).
  std::vector<uint32_t> chance;
  // The same three sums over the pairs of the fragment's background blocks
  // (FindTemplates::background) alone; empty when it has none.
  std::vector<uint32_t> backgroundAgreement;
  std::vector<uint16_t> backgroundPairs;
  std::vector<uint32_t> backgroundChance;
  // The pairs of the fragment's foreground blocks per start, when the
  // background sums are kept.
  uint32_t foregroundPairs = 0;
  size_t Count() const { return agreement.size(); }
  bool HasBackground() const { return !backgroundPairs.empty(); }
  // n starts, all zero; with foregroundPairs > 0, the background sums are
  // kept too. Throws std::bad_alloc.
  void Reset(size_t n, uint32_t foregroundPairs = 0);
  // A start is compared when at least half of its block pairs are, and at
  // least half of its foreground pairs: a start whose foreground blocks meet
  // silence would be scored on the few left.
  bool Compared(size_t start, uint32_t allPairs) const {
    if (2 * uint32_t{pairs[start]} < allPairs || pairs[start] == 0) return false;
    if (!HasBackground()) return true;
    const uint32_t foreground = uint32_t{pairs[start]} - backgroundPairs[start];
    return 2 * foreground >= foregroundPairs && foreground > 0;
  }
  double Similarity(size_t start) const {
    return static_cast<double>(agreement[start]) * 100.0 / (32.0 * pairs[start]);
  }
  // The agreement beyond chance, in percent (see BeyondChance), of the
  // pairs of the fragment's foreground blocks.
  double Excess(size_t start) const {
    if (!HasBackground()) return BeyondChance(agreement[start], pairs[start], chance[start]);
    return BeyondChance(agreement[start] - backgroundAgreement[start], pairs[start] - backgroundPairs[start],
                        chance[start] - backgroundChance[start]);
  }
};

// Adds the comparison of template t with a candidate's masks to a start.
// A block pair is left out when either block is silent; candidateSilent is
// null when none of the candidate's blocks is.
void AddComparison(const FindTemplates& templates, uint32_t t, const uint32_t* candidate, const uint8_t* candidateSilent,
                   StartScores& scores, size_t start);

// Adds the pairs of template t's background blocks alone to the background
// sums of a start (when the scores keep them).
void AddBackground(const FindTemplates& templates, uint32_t t, const uint32_t* candidate, const uint8_t* candidateSilent,
                   StartScores& scores, size_t start);

}  // namespace kestrune
