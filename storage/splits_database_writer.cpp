#include "storage/splits_database_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/path_text.h"
#include "common/sample_frame.h"
#include "common/utf16.h"
#include "storage/splits_database.h"

namespace kestrune {
namespace {

using std::filesystem::path;

// The staging folder holds the new parts in "new" and, while they are being
// replaced, the old ones in "old", each under its final name, so that a name
// the file system refuses fails the build before anything is moved.
constexpr const char* kStagingPrefix = ".kestrune-build-";
constexpr const char* kNewParts = "new";
constexpr const char* kOldParts = "old";

bool Fail(std::string& error, std::string text) {
  error = std::move(text);
  return false;
}

// Checks the name against what the header can hold and the reader accepts.
bool CheckName(const std::string& utf8, std::u16string& name, std::string& error) {
  std::optional<std::u16string> converted = Utf8ToUtf16(utf8);
  if (!converted) return Fail(error, "the database name is not valid UTF-8");
  if (converted->empty()) return Fail(error, "the database name is empty");
  if (converted->size() > kMaxDatabaseNameUnits) {
    return Fail(error, "the database name is longer than 255 UTF-16 units");
  }
  if (converted->find(u'\0') != std::u16string::npos || !IsUsableDatabaseName(*converted)) {
    return Fail(error, "the database name must not contain a path separator or a NUL character");
  }
  name = std::move(*converted);
  return true;
}

bool WriteFile(const path& file, const std::vector<uint8_t>& bytes) {
  platform::File out = platform::File::Create(file, false);
  return out && out.Write(bytes.data(), bytes.size()) && out.Flush();
}

std::vector<uint8_t> DatabaseHeaderBytes(const std::u16string& name, uint32_t splitMilliseconds) {
  std::vector<uint8_t> bytes(kDatabaseHeaderSize, 0);
  std::memcpy(bytes.data(), kDatabaseMagic.data(), kDatabaseMagic.size());
  // The name is at most 255 units, so its terminator (already zero) fits.
  for (size_t i = 0; i < name.size(); ++i) {
    StoreU16(&bytes[kHeaderNameOffset + 2 * i], static_cast<uint16_t>(name[i]));
  }
  StoreU32(&bytes[kHeaderDataBesideOffset], 1);
  StoreU32(&bytes[kHeaderSplitMillisecondsOffset], splitMilliseconds);
  return bytes;
}

// Bytes 0..3 the id, 4..7 the number of splits in the data file, the rest zero.
std::vector<uint8_t> DataFileTableBytes(uint32_t splitCount, uint32_t splitsPerDataFile) {
  const uint32_t fileCount = static_cast<uint32_t>(
      (uint64_t{splitCount} + splitsPerDataFile - 1) / splitsPerDataFile);
  std::vector<uint8_t> bytes(size_t{fileCount} * kDataFileRecordSize, 0);
  for (uint32_t f = 0; f < fileCount; ++f) {
    const uint64_t first = uint64_t{f} * splitsPerDataFile;
    const uint64_t inFile = std::min<uint64_t>(splitsPerDataFile, splitCount - first);
    uint8_t* record = &bytes[size_t{f} * kDataFileRecordSize];
    StoreU32(record, f + 1);
    StoreU32(record + 4, static_cast<uint32_t>(inFile));
  }
  return bytes;
}

}  // namespace

SplitsDatabaseWriter::SplitsDatabaseWriter() = default;

// The staging folder and everything in it go when the writer does, whatever
// the outcome; after Finish only the replaced parts of an old database are in it.
SplitsDatabaseWriter::~SplitsDatabaseWriter() {
  splTable_ = platform::File();
  dataFile_ = platform::File();
  if (!staging_.empty()) platform::RemoveTree(staging_);
}

bool SplitsDatabaseWriter::Check(const DatabaseTarget& target, std::string& error) {
  target_ = target;
  if (target.splitsPerDataFile == 0) return Fail(error, "a data file must hold at least one split");
  const std::u8string stem = target.outputPath.stem().u8string();
  if (!CheckName(target.name.value_or(std::string(stem.begin(), stem.end())), name_, error)) return false;

  const path& output = target.outputPath;
  // The reader finds the tables by the last "." of the whole path; one in the
  // file name keeps them beside the database file.
  if (output.filename().empty() || output.filename().native().find('.') == path::string_type::npos) {
    return Fail(error, "the output file name needs an extension, such as \".qlmx\"");
  }
  database_ = output;
  snd_ = DatabaseTablePath(output, "snd");
  spl_ = DatabaseTablePath(output, "spl");
  dataFolder_ = DataFolderFor(output.parent_path(), name_);
  const path* all[] = {&database_, &snd_, &spl_, &dataFolder_};
  for (size_t i = 0; i < 4; ++i) {
    for (size_t j = i + 1; j < 4; ++j) {
      if (*all[i] == *all[j]) {
        return Fail(error, "the output path would make two parts of the database the same file: " +
                               Utf8Of(*all[i]));
      }
    }
  }
  for (const path* file : {&database_, &snd_, &spl_}) {
    const platform::PathKind kind = platform::KindOf(*file);
    if (kind != platform::PathKind::None && kind != platform::PathKind::File) {
      return Fail(error, "something other than a file is in the way: " + Utf8Of(*file));
    }
  }
  const platform::PathKind folderKind = platform::KindOf(dataFolder_);
  if (folderKind != platform::PathKind::None && folderKind != platform::PathKind::Folder) {
    return Fail(error, "something other than a folder is in the way: " + Utf8Of(dataFolder_));
  }
  return true;
}

bool SplitsDatabaseWriter::Begin(uint32_t splitCount, uint32_t blocksPerSplit, uint32_t bytesPerSplit,
                                 std::string& error) {
  splitCount_ = splitCount;
  blocksPerSplit_ = blocksPerSplit;
  bytesPerSplit_ = bytesPerSplit;
  // The reader maps no file of 4 GiB or more.
  const uint64_t recordSize = kSplitRecordFixedSize + 4 * uint64_t{blocksPerSplit};
  const uint64_t largestDataFile = std::min<uint64_t>(splitCount, target_.splitsPerDataFile) * bytesPerSplit;
  if (uint64_t{splitCount} * recordSize > std::numeric_limits<uint32_t>::max() ||
      largestDataFile > std::numeric_limits<uint32_t>::max()) {
    return Fail(error, "the database would hold a file of 4 GiB or more");
  }
  const path folder = target_.outputPath.parent_path();
  std::optional<path> made = platform::MakeUniqueFolder(folder.empty() ? path(".") : folder, kStagingPrefix);
  if (!made) return Fail(error, "cannot write in the output folder");
  staging_ = *made;
  if (!platform::CreateFolder(staging_ / kNewParts) || !platform::CreateFolder(staging_ / kOldParts) ||
      !platform::CreateFolder(staging_ / kNewParts / dataFolder_.filename())) {
    return Fail(error, "cannot create the data folder " + Utf8Of(dataFolder_.filename()));
  }
  splTable_ = platform::File::Create(staging_ / kNewParts / spl_.filename(), false);
  if (!splTable_) return Fail(error, "cannot create the split table");
  record_.assign(static_cast<size_t>(recordSize), 0);
  return true;
}

bool SplitsDatabaseWriter::AddSplit(const uint8_t* masks, const uint8_t* sound, std::string& error) {
  if (added_ >= splitCount_) return Fail(error, "more splits than the database was begun with");
  const uint32_t i = added_;
  const uint32_t dataFileId = i / target_.splitsPerDataFile + 1;
  const uint32_t indexInFile = i % target_.splitsPerDataFile;
  if (indexInFile == 0) {
    if (dataFile_ && !dataFile_.Flush()) return Fail(error, "cannot write a data file");
    dataFile_ = platform::File::Create(staging_ / kNewParts / dataFolder_.filename() / DataFileName(dataFileId), false);
    if (!dataFile_) return Fail(error, "cannot create a data file");
  }
  StoreU32(&record_[0], i);
  StoreU32(&record_[kSplitRecordDataFileIdOffset], dataFileId);
  StoreU32(&record_[kSplitRecordIndexInFileOffset], indexInFile);
  std::memcpy(&record_[kSplitRecordMasksOffset], masks, 4 * size_t{blocksPerSplit_});
  if (!splTable_.Write(record_.data(), record_.size())) return Fail(error, "cannot write the split table");
  if (!dataFile_.Write(sound, bytesPerSplit_)) return Fail(error, "cannot write a data file");
  ++added_;
  return true;
}

// Moves the staged parts into place: the tables, the data folder, the database
// file last. A part already at a target is first moved aside into the staging
// folder (and goes with it); when a step fails, every step is undone.
bool SplitsDatabaseWriter::Finish(std::string& error) {
  if (added_ != splitCount_) return Fail(error, "fewer splits than the database was begun with");
  if (dataFile_ && !dataFile_.Flush()) return Fail(error, "cannot write a data file");
  if (!splTable_.Flush()) return Fail(error, "cannot write the split table");
  dataFile_ = platform::File();
  splTable_ = platform::File();
  const path fresh = staging_ / kNewParts;
  if (!WriteFile(fresh / snd_.filename(), DataFileTableBytes(splitCount_, target_.splitsPerDataFile))) {
    return Fail(error, "cannot write the data-file table");
  }
  if (!WriteFile(fresh / database_.filename(), DatabaseHeaderBytes(name_, target_.splitMilliseconds))) {
    return Fail(error, "cannot write the database file");
  }

  struct Rename {
    path from;
    path to;
  };
  std::vector<Rename> done;
  auto move = [&done](const path& from, const path& to) {
    if (!platform::RenamePath(from, to)) return false;
    done.push_back({from, to});
    return true;
  };
  for (const path* target : {&snd_, &spl_, &dataFolder_, &database_}) {
    const bool ok = (platform::KindOf(*target) == platform::PathKind::None ||
                     move(*target, staging_ / kOldParts / target->filename())) &&
                    move(fresh / target->filename(), *target);
    if (!ok) {
      for (auto it = done.rbegin(); it != done.rend(); ++it) platform::RenamePath(it->to, it->from);
      return Fail(error, "cannot move the new database into place at " + Utf8Of(*target));
    }
  }
  return true;
}

}  // namespace kestrune
