// Builds a splits database from a WAV source: the source is cut into splits of
// one length, each split is analysed into beat masks, and the database file,
// its two tables and its data files are written in the format the reader of
// splits_database.h requires (docs/database-format.md).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "common/options.h"

namespace kestrune {

struct DatabaseBuildRequest {
  std::filesystem::path sourcePath;  // 44100 Hz, 2-channel, 16-bit PCM WAV
  uint32_t splitMilliseconds = kSplitMsOption.byDefault;  // within kSplitMsOption
  std::filesystem::path outputPath;  // the database file; its name must hold a "."
  // UTF-8; names the data folder "soundsData_<name>". Without it, the base
  // name of the output file. At most 255 UTF-16 units, no '/' or '\'.
  std::optional<std::string> name;
  uint32_t splitsPerDataFile = kSplitsPerFileOption.byDefault;  // at least 1
};

// Called once before the first split (done 0) and after every split. Returning
// false stops the build, which then fails.
using BuildProgress = std::function<bool(uint32_t done, uint32_t total)>;

// Builds the database. Everything is first written into a staging folder
// beside the output file and moved into place only when complete, so that a
// database already at the target is replaced only by a complete one. On
// failure error tells why, nothing of the new database is left behind and
// whatever was at the target is as it was.
bool BuildSplitsDatabase(const DatabaseBuildRequest& request, const BuildProgress& progress,
                         std::string& error);

}  // namespace kestrune
