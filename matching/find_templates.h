// The fragment of the sample as the search compares it: templates, each the
// masks of a split-long run of blocks, and which of their blocks are silent.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/beat_analyzer.h"
#include "matching/find_source.h"

namespace kestrune {

struct FindTemplates {
  uint32_t count = 0;              // templates
  uint32_t blocks = 0;             // H: blocks per template
  std::vector<uint32_t> masks;     // count * blocks words, template 0 first
  std::vector<uint8_t> silent;     // count * blocks: 1 where the block is digital silence
  std::vector<uint32_t> silentBlocks;  // per template
  // count * blocks: 1 where the block is at the noise floor (FaintBlock).
  std::vector<uint8_t> faint;
  // count * blocks: 1 where an audible block is background (BackgroundBlock).
  std::vector<uint8_t> background;
  std::vector<uint32_t> backgroundBlocks;  // per template
  // Block pairs compared when no candidate block is silent.
  uint64_t AudibleBlocks() const;
  // Audible blocks that are not background.
  uint64_t ForegroundBlocks() const;
  bool HasBackground() const { return ForegroundBlocks() != AudibleBlocks(); }
  // count, times the share of the audible blocks that are foreground.
  double ComparedTemplates() const;
  // How many of the audible blocks can agree beyond chance at all: each
  // counts 4 a (32 - a) / 1024 for its a set bits, 1 at half set and 0 when
  // all are set or clear (such a block agrees with any other at chance).
  // A block at the noise floor counts 0: its masks follow dither or a
  // renderer's idle output, which is the same in every recording made the
  // same way, so agreeing with it identifies nothing. So does a background
  // block.
  double InformativeBlocks() const;
  const uint32_t* Masks(uint32_t t) const { return masks.data() + size_t{t} * blocks; }
  const uint8_t* Silent(uint32_t t) const { return silent.data() + size_t{t} * blocks; }
  const uint8_t* Background(uint32_t t) const { return background.data() + size_t{t} * blocks; }
};

// True when the block is digital silence: all 1024 frames the same (zero,
// or a constant offset such as -1 that some renderers leave). Such a block
// has the all-ones mask of silence whatever its value.
bool SilentBlock(const uint8_t* block);

// Root mean square, in steps of 16 bits, at or below which a block is at the
// noise floor: -80 dBFS, within about 10 dB of what dither alone gives.
inline constexpr double kFaintRms = 3.2768;

// The sum of the squares of the block's 2048 samples.
uint64_t BlockPower(const uint8_t* block);

// True when a block of that power has a root mean square over both
// channels at or below kFaintRms.
bool FaintBlock(uint64_t power);

// How far below the fragment's loudest block a block is background.
inline constexpr double kBackgroundDecibels = 40.0;

// A block of the fragment is background when it is kBackgroundDecibels or
// more below the fragment's loudest block: a reverb tail or a fade after
// the sound, or the noise floor under it. Its masks follow how a tail
// decays (high bands first) or a renderer's idle output, which recordings
// made alike share, so its agreeing identifies nothing. Background blocks
// count in similarity, agreement and bits as any other, but not in the
// agreement beyond chance the search ranks and scores by, nor in the
// fragment's informative blocks.
bool BackgroundBlock(uint64_t power, uint64_t loudestPower);

// Analyses count templates of the sample, template t from frame
// first + t * spacing, each as a split of analyzer's H blocks starting there.
// False when the sample does not hold them all.
bool AnalyseTemplates(FindAudio& sample, uint64_t first, uint64_t spacing, uint32_t count, BeatAnalyzer& analyzer,
                      FindTemplates& out);

}  // namespace kestrune
