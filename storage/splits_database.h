// Reader of splits databases: a source already cut into splits and analysed.
// A database is a 524-byte database file, a data-file table ("snd"), a split
// table ("spl") and data files holding the raw frames of the splits; see
// docs/database-format.md. Everything is only read.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/mapped_file.h"

namespace kestrune {

// The database file.
inline constexpr uint32_t kDatabaseHeaderSize = 524;
inline constexpr std::array<char, 4> kDatabaseMagic = {'Q', 'L', 'M', 'X'};
inline constexpr uint32_t kHeaderNameOffset = 4;
inline constexpr uint32_t kHeaderNameUnits = 256;  // UTF-16 code units, terminator included
inline constexpr uint32_t kMaxDatabaseNameUnits = kHeaderNameUnits - 1;
inline constexpr uint32_t kHeaderDataBesideOffset = 516;
inline constexpr uint32_t kHeaderSplitMillisecondsOffset = 520;

// The data-file table: one record per data file, its id first.
inline constexpr uint32_t kDataFileRecordSize = 552;

// The split table: recordSize = kSplitRecordFixedSize + 4 * blocksPerSplit.
inline constexpr uint32_t kSplitRecordFixedSize = 64;
inline constexpr uint32_t kSplitRecordDataFileIdOffset = 4;
inline constexpr uint32_t kSplitRecordIndexInFileOffset = 8;
inline constexpr uint32_t kSplitRecordMasksOffset = 60;

// The header fields a database is opened with.
struct DatabaseHeader {
  std::u16string name;
  uint32_t dataBesideDatabase = 0;
  uint32_t splitMilliseconds = 0;
};

// Reads the header from the first kDatabaseHeaderSize bytes of a database file.
// Refuses a wrong magic, a name with an unpaired surrogate or a path separator
// ('/' or '\'), and a split length outside 24..97391 ms (no whole analysis
// block, or a geometry that no longer fits in 32 bits). The name ends at its
// terminator or after 256 units.
bool ParseDatabaseHeader(const uint8_t* bytes, DatabaseHeader& header);
// True when name may name the data folder: no separator, valid UTF-16.
bool IsUsableDatabaseName(std::u16string_view name);
// The database path up to and including its last "." (even one in a folder
// name; nothing when there is none), followed by suffix ("snd" or "spl").
std::filesystem::path DatabaseTablePath(const std::filesystem::path& databasePath,
                                        std::string_view suffix);
// The data folder of a database with dataBesideDatabase set: "soundsData_" +
// name inside folder (the current folder when folder is empty).
std::filesystem::path DataFolderFor(const std::filesystem::path& folder, std::u16string_view name);
// The file name of a data file: "data_%08X.sdat".
std::string DataFileName(uint32_t id);

// The sound of one split, owned by the database: inside a data file's view
// (valid until Close) or in splitBuffer (valid until the next ReadSplit).
struct SplitAudio {
  const uint8_t* samples = nullptr;
  uint32_t byteCount = 0;
  uint32_t frameCount = 0;
};

// One record of the data-file table; id 0 while its data file is not open.
struct DataFileEntry {
  uint32_t id = 0;
  MappedFile file;
};

class SplitsDatabase {
 public:
  SplitsDatabase() = default;
  ~SplitsDatabase() { Close(); }
  SplitsDatabase(const SplitsDatabase&) = delete;
  SplitsDatabase& operator=(const SplitsDatabase&) = delete;

  // Opens the database whose database file is path; on a closed database.
  // Fails only for the database file itself: unreadable, shorter than 524
  // bytes, or a header ParseDatabaseHeader refuses. Tables and data files that
  // cannot be opened leave the database open without them.
  bool Open(const std::filesystem::path& path);
  // Derives the paths, opens both tables and the data files, and sets the
  // geometry. Loads nothing when the name or the split length would be refused.
  void LoadTables(const std::filesystem::path& path, const std::u16string& headerName,
                  uint32_t dataBesideDatabase, uint32_t headerSplitMilliseconds);
  // (Re)opens the data file of each id of the data-file table, at the id's
  // first record; the other records of that id stay closed.
  void OpenDataFiles();
  // The first record, in table order, whose id is id; nullptr when none.
  DataFileEntry* FindDataFile(uint32_t id);
  std::filesystem::path DataFilePath(uint32_t id) const;

  // Whole records in the split table; 0 when it is not open.
  uint32_t SplitCount() const;
  // Record index of the split table, for index < SplitCount().
  const uint8_t* SplitRecordAt(uint32_t index) const;
  // The masks of split index: blocksPerSplit little-endian words.
  const uint8_t* MasksAt(uint32_t index) const { return SplitRecordAt(index) + kSplitRecordMasksOffset; }
  bool ReadSplit(uint32_t index, SplitAudio& out);

  // Releases everything; the database is as constructed. Harmless when closed.
  void Close();

  std::u16string name;
  std::filesystem::path folder;      // of the database file; empty when its path has none
  std::filesystem::path dataFolder;  // of the data files
  std::filesystem::path sndPath;
  MappedFile sndFile;
  std::filesystem::path splPath;
  MappedFile splFile;
  uint32_t splitMilliseconds = 0;
  uint32_t recordSize = 0;
  uint32_t blocksPerSplit = 0;
  uint32_t framesPerSplit = 0;
  uint32_t bytesPerSplit = 0;
  std::unique_ptr<uint8_t[]> splitBuffer;  // bytesPerSplit bytes, made at the first unmapped read
  uint32_t dataFileCount = 0;
  std::unique_ptr<DataFileEntry[]> dataFiles;
  std::vector<uint64_t> dataFileLookup;  // id << 32 | record index, sorted
};

}  // namespace kestrune
