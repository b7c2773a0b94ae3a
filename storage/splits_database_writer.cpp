#include "storage/splits_database_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "analysis/beat_analyzer.h"
#include "common/path_text.h"
#include "common/sample_frame.h"
#include "common/split_geometry.h"
#include "common/utf16.h"
#include "platform/file.h"
#include "storage/splits_database.h"
#include "storage/wav_file.h"

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

// The staging folder and everything in it go when the build ends, whatever
// the outcome; on success only the replaced parts of an old database are left in it.
class StagingFolder {
 public:
  StagingFolder() = default;
  ~StagingFolder() {
    if (!path_.empty()) platform::RemoveTree(path_);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  bool Make(const path& dir) {
    std::optional<path> made = platform::MakeUniqueFolder(dir, kStagingPrefix);
    if (made) path_ = *made;
    return made.has_value();
  }
  path operator/(const std::string& name) const { return path_ / name; }

 private:
  path path_;
};

// The four parts of a database; all lie in the folder of the database file.
struct Targets {
  path database;
  path snd;
  path spl;
  path dataFolder;

  path Staged(const StagingFolder& staging, const path& target) const {
    return staging / kNewParts / target.filename();
  }
};

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

bool ResolveTargets(const DatabaseBuildRequest& request, const std::u16string& name, Targets& targets,
                    std::string& error) {
  const path& output = request.outputPath;
  // The reader finds the tables by the last "." of the whole path; one in the
  // file name keeps them beside the database file.
  if (output.filename().empty() || output.filename().native().find('.') == path::string_type::npos) {
    return Fail(error, "the output file name needs an extension, such as \".qlmx\"");
  }
  targets.database = output;
  targets.snd = DatabaseTablePath(output, "snd");
  targets.spl = DatabaseTablePath(output, "spl");
  targets.dataFolder = DataFolderFor(output.parent_path(), name);
  const path* all[] = {&targets.database, &targets.snd, &targets.spl, &targets.dataFolder};
  for (size_t i = 0; i < 4; ++i) {
    for (size_t j = i + 1; j < 4; ++j) {
      if (*all[i] == *all[j]) {
        return Fail(error, "the output path would make two parts of the database the same file: " +
                               all[i]->string());
      }
    }
  }
  for (const path* file : {&targets.database, &targets.snd, &targets.spl}) {
    const platform::PathKind kind = platform::KindOf(*file);
    if (kind != platform::PathKind::None && kind != platform::PathKind::File) {
      return Fail(error, "something other than a file is in the way: " + file->string());
    }
  }
  const platform::PathKind folderKind = platform::KindOf(targets.dataFolder);
  if (folderKind != platform::PathKind::None && folderKind != platform::PathKind::Folder) {
    return Fail(error, "something other than a folder is in the way: " + Utf8Of(targets.dataFolder));
  }
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

// Cuts the source into splits and writes the split table and the data files
// into the staging folder.
bool WriteSplits(WavInfo& source, const SplitGeometry& geometry, uint32_t splitCount,
                 uint32_t splitsPerDataFile, const path& splTablePath, const path& dataFolder,
                 const BuildProgress& progress, std::string& error) {
  const uint32_t recordSize = kSplitRecordFixedSize + 4 * geometry.blocksPerSplit;
  platform::File splTable = platform::File::Create(splTablePath, false);
  if (!splTable) return Fail(error, "cannot create the split table");
  BeatAnalyzer analyzer;
  if (SetupBeatAnalyzer(analyzer, static_cast<int32_t>(geometry.blocksPerSplit)) != 1) {
    return Fail(error, "out of memory for the beat analyser");
  }
  std::vector<uint8_t> samples(geometry.bytesPerSplit);
  std::vector<uint8_t> record(recordSize, 0);
  platform::File dataFile;
  if (progress && !progress(0, splitCount)) return Fail(error, "stopped");
  for (uint32_t i = 0; i < splitCount; ++i) {
    const uint32_t dataFileId = i / splitsPerDataFile + 1;
    const uint32_t indexInFile = i % splitsPerDataFile;
    if (indexInFile == 0) {
      if (dataFile && !dataFile.Flush()) return Fail(error, "cannot write a data file");
      dataFile = platform::File::Create(dataFolder / DataFileName(dataFileId), false);
      if (!dataFile) return Fail(error, "cannot create a data file");
    }
    if (ReadWavFrames(source, samples.data(), i * geometry.framesPerSplit, geometry.framesPerSplit) !=
        geometry.framesPerSplit) {
      return Fail(error, "cannot read split " + std::to_string(i) + " of the source");
    }
    if (!AnalyseSplit(analyzer, samples.data())) return Fail(error, "the beat analyser failed");
    StoreU32(&record[0], i);
    StoreU32(&record[kSplitRecordDataFileIdOffset], dataFileId);
    StoreU32(&record[kSplitRecordIndexInFileOffset], indexInFile);
    for (uint32_t b = 0; b < geometry.blocksPerSplit; ++b) {
      StoreU32(&record[kSplitRecordMasksOffset + 4 * size_t{b}], analyzer.beatMasks[b]);
    }
    if (!splTable.Write(record.data(), record.size())) return Fail(error, "cannot write the split table");
    if (!dataFile.Write(samples.data(), samples.size())) return Fail(error, "cannot write a data file");
    if (progress && !progress(i + 1, splitCount)) return Fail(error, "stopped");
  }
  if (dataFile && !dataFile.Flush()) return Fail(error, "cannot write a data file");
  if (!splTable.Flush()) return Fail(error, "cannot write the split table");
  return true;
}

// Moves the staged parts into place: the tables, the data folder, the database
// file last. A part already at a target is first moved aside into the staging
// folder (and goes with it); when a step fails, every step is undone.
bool Install(const StagingFolder& staging, const Targets& targets, std::string& error) {
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
  for (const path* target : {&targets.snd, &targets.spl, &targets.dataFolder, &targets.database}) {
    const bool ok = (platform::KindOf(*target) == platform::PathKind::None ||
                     move(*target, staging / kOldParts / target->filename())) &&
                    move(targets.Staged(staging, *target), *target);
    if (!ok) {
      for (auto it = done.rbegin(); it != done.rend(); ++it) platform::RenamePath(it->to, it->from);
      return Fail(error, "cannot move the new database into place at " + Utf8Of(*target));
    }
  }
  return true;
}

}  // namespace

bool BuildSplitsDatabase(const DatabaseBuildRequest& request, const BuildProgress& progress,
                         std::string& error) {
  error.clear();
  if (request.splitMilliseconds < kMinBuildSplitMilliseconds ||
      request.splitMilliseconds > kMaxBuildSplitMilliseconds) {
    return Fail(error, "the split length must be 100 to 5000 ms");
  }
  if (request.splitsPerDataFile == 0) return Fail(error, "a data file must hold at least one split");
  std::u16string name;
  const std::u8string stem = request.outputPath.stem().u8string();
  if (!CheckName(request.name.value_or(std::string(stem.begin(), stem.end())), name, error)) return false;
  Targets targets;
  if (!ResolveTargets(request, name, targets, error)) return false;

  WavInfo source;
  if (!OpenWavFile(source, request.sourcePath, false)) return Fail(error, "cannot open the source as a WAV file");
  if (source.formatTag != 1 || source.channels != 2 || source.bitsPerSample != 16 ||
      source.sampleRate != kSampleRate || source.blockAlign != kBytesPerFrame) {
    return Fail(error, "only 44100 Hz, 2-channel, 16-bit PCM sources are supported");
  }
  const SplitGeometry geometry = SplitGeometryFor(request.splitMilliseconds);
  const uint32_t splitCount = source.dataSize / source.blockAlign / geometry.framesPerSplit;
  // The reader maps no file of 4 GiB or more.
  const uint64_t recordSize = kSplitRecordFixedSize + 4 * uint64_t{geometry.blocksPerSplit};
  const uint64_t largestDataFile =
      std::min<uint64_t>(splitCount, request.splitsPerDataFile) * geometry.bytesPerSplit;
  if (uint64_t{splitCount} * recordSize > std::numeric_limits<uint32_t>::max() ||
      largestDataFile > std::numeric_limits<uint32_t>::max()) {
    return Fail(error, "the database would hold a file of 4 GiB or more");
  }

  const path folder = request.outputPath.parent_path();
  StagingFolder staging;
  if (!staging.Make(folder.empty() ? path(".") : folder)) {
    return Fail(error, "cannot write in the output folder");
  }
  const path stagedData = targets.Staged(staging, targets.dataFolder);
  if (!platform::CreateFolder(staging / kNewParts) || !platform::CreateFolder(staging / kOldParts) ||
      !platform::CreateFolder(stagedData)) {
    return Fail(error, "cannot create the data folder " + Utf8Of(targets.dataFolder.filename()));
  }
  if (!WriteSplits(source, geometry, splitCount, request.splitsPerDataFile,
                   targets.Staged(staging, targets.spl), stagedData, progress, error)) {
    return false;
  }
  CloseWavFile(source);
  if (!WriteFile(targets.Staged(staging, targets.snd),
                 DataFileTableBytes(splitCount, request.splitsPerDataFile))) {
    return Fail(error, "cannot write the data-file table");
  }
  if (!WriteFile(targets.Staged(staging, targets.database),
                 DatabaseHeaderBytes(name, request.splitMilliseconds))) {
    return Fail(error, "cannot write the database file");
  }
  return Install(staging, targets, error);
}

}  // namespace kestrune
