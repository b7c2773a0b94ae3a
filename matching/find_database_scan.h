// The search through a splits database. The database holds masks on its own
// grid only, so the sample is shifted instead: for every shift s = 0, h,
// 2h, ... below a split length, the templates start s frames into the
// fragment, one split apart, and are compared with consecutive records.
// Start (r, s) stands for the frame r * framesPerSplit - s of the WAV the
// database was made from.
#pragma once

#include <cstdint>
#include <functional>

#include "matching/find_scores.h"
#include "matching/find_source.h"
#include "storage/splits_database.h"

namespace kestrune {

struct DatabaseScanWork {
  const SplitsDatabase* database = nullptr;
  FindAudio* sample = nullptr;
  uint64_t fragmentFirst = 0;  // first frame of the fragment in the sample
  uint32_t templates = 1;      // F - 1: the whole splits inside the fragment at any shift
  uint32_t hop = 128;
  uint32_t threads = 1;
  std::function<bool()> stopRequested;
  std::function<void(double done)> progress;
};

struct DatabaseStarts {
  uint32_t shifts = 0;   // framesPerSplit / hop, rounded up
  uint32_t records = 0;  // first records r of a start
  uint64_t Count() const { return uint64_t{shifts} * records; }
  // Start index = shift * records + record.
  uint32_t Record(uint64_t index) const { return static_cast<uint32_t>(index % records); }
  uint32_t Shift(uint64_t index) const { return static_cast<uint32_t>(index / records); }
};

DatabaseStarts DatabaseStartLayout(const SplitsDatabase& database, uint32_t templates, uint32_t hop);

// A record whose every mask word has all bits set comes from a split of
// digital silence (any sound leaves some band below its mean in some block).
bool SilentRecord(const uint8_t* masks, uint32_t blocks);

// Scores every start. False when stopped, or a thread could not be equipped
// (failure then names the cause, when there is one to name).
bool ScanDatabase(const DatabaseScanWork& work, StartScores& scores, std::string& failure);

}  // namespace kestrune
