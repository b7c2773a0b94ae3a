// Writes a splits database from splits already cut and analysed: the database
// file, its two tables and its data files, in the format the reader of
// splits_database.h requires (docs/database-format.md). It knows the layout
// and nothing of where the splits and their masks come from.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/options.h"
#include "platform/file.h"

namespace kestrune {

// Where a database goes and how it is laid out.
struct DatabaseTarget {
  std::filesystem::path outputPath;  // the database file; its name must hold a "."
  // UTF-8; names the data folder "soundsData_<name>". Without it, the base
  // name of the output file. At most 255 UTF-16 units, no '/' or '\'.
  std::optional<std::string> name;
  uint32_t splitMilliseconds = kSplitMsOption.byDefault;
  uint32_t splitsPerDataFile = kSplitsPerFileOption.byDefault;  // at least 1
};

// Everything is first written into a staging folder beside the output file
// and moved into place only by Finish, so that a database already at the
// target is replaced only by a complete one. A writer that is not finished
// (a failure, a stop) leaves nothing behind, and whatever was at the target
// stays as it was. Each call that fails says why in error.
class SplitsDatabaseWriter {
 public:
  SplitsDatabaseWriter();
  ~SplitsDatabaseWriter();
  SplitsDatabaseWriter(const SplitsDatabaseWriter&) = delete;
  SplitsDatabaseWriter& operator=(const SplitsDatabaseWriter&) = delete;

  // Checks the target's layout, name and paths; writes nothing.
  bool Check(const DatabaseTarget& target, std::string& error);
  // Starts a database of splitCount splits of blocksPerSplit mask words and
  // bytesPerSplit sound bytes each, after Check.
  bool Begin(uint32_t splitCount, uint32_t blocksPerSplit, uint32_t bytesPerSplit, std::string& error);
  // Appends the next split, in source order: its mask words (4 bytes each,
  // little-endian) and its sound.
  bool AddSplit(const uint8_t* masks, const uint8_t* sound, std::string& error);
  // After the last split: writes the tables and the database file and moves
  // the new database into place.
  bool Finish(std::string& error);

 private:
  DatabaseTarget target_;
  std::u16string name_;
  std::filesystem::path database_, snd_, spl_, dataFolder_;
  std::filesystem::path staging_;
  uint32_t splitCount_ = 0;
  uint32_t blocksPerSplit_ = 0;
  uint32_t bytesPerSplit_ = 0;
  uint32_t added_ = 0;
  std::vector<uint8_t> record_;
  platform::File splTable_;
  platform::File dataFile_;
};

}  // namespace kestrune
