// What the fuzz targets share: invariant checks that stop the run, a scratch
// folder for the files a target must put on disk, and the layout of the
// database target's input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace kestrune::fuzz {

// Stops the run with a report when an invariant does not hold; libFuzzer
// keeps the input as a crash.
void Require(bool holds, const char* what);

// A folder of this process's own, made on first use and removed at exit.
const std::filesystem::path& ScratchFolder();
void WriteFile(const std::filesystem::path& path, const uint8_t* bytes, size_t size);
inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  WriteFile(path, bytes.data(), bytes.size());
}

// The database target's input: two control bytes, then the parts of a
// database separated by kPartSeparator, in this order: the database file,
// the data-file table ("snd"), the split table ("spl"), and one data file for
// each record of the data-file table, in table order. Missing trailing parts
// are missing files.
inline constexpr std::string_view kPartSeparator = "\n--part--\n";
struct DatabaseInput {
  uint8_t flags = 0;       // bit 0: data files are read unmapped; bit 1: declick; bit 2: separate
                           // files; bits 3..5 all set: long splits are matched too
  uint8_t similarity = 0;  // 1 + similarity % 100 percent
  std::vector<std::vector<uint8_t>> parts;
};
DatabaseInput SplitDatabaseInput(const uint8_t* data, size_t size);
std::vector<uint8_t> JoinDatabaseInput(const DatabaseInput& input);

}  // namespace kestrune::fuzz
