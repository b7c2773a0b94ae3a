// The search through one WAV source: the band energies of the blocks at
// every multiple of the hop are computed once, streamed through a ring, and
// every candidate's masks are built from them and compared with the
// templates as they come; only one score per start is kept.
#pragma once

#include <cstdint>
#include <functional>

#include "matching/find_scores.h"
#include "matching/find_source.h"
#include "matching/find_templates.h"

namespace kestrune {

struct WavScanWork {
  FindAudio* audio = nullptr;
  const FindTemplates* templates = nullptr;
  uint32_t hop = 128;
  uint32_t threads = 1;
  std::function<bool()> stopRequested;
  // Called on the calling thread with the share of the source done, 0..1.
  std::function<void(double done)> progress;
};

// Starts of a source of sourceFrames frames: every multiple of the hop from
// which the fragment's last candidate still ends inside the source.
uint64_t WavStartCount(uint64_t sourceFrames, uint32_t hop, uint32_t templates, uint32_t blocks);

// Scores every start. False when the run was stopped, a read came back
// short or a thread could not be equipped.
bool ScanWavSource(const WavScanWork& work, StartScores& scores);

}  // namespace kestrune
