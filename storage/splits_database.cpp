#include "storage/splits_database.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "common/path_text.h"
#include "common/sample_frame.h"
#include "common/split_geometry.h"
#include "common/utf16.h"

namespace kestrune {
namespace {

bool IsUsableSplitLength(uint32_t milliseconds) {
  return milliseconds >= kMinAnalysableSplitMilliseconds && milliseconds <= kMaxSplitMilliseconds;
}

}  // namespace

bool IsUsableDatabaseName(std::u16string_view name) {
  if (name.find_first_of(u"/\\") != std::u16string_view::npos) return false;
  return Utf16ToUtf8(name).has_value();
}

bool ParseDatabaseHeader(const uint8_t* bytes, DatabaseHeader& header) {
  header = DatabaseHeader{};
  if (std::memcmp(bytes, kDatabaseMagic.data(), kDatabaseMagic.size()) != 0) return false;
  std::u16string name;
  for (uint32_t i = 0; i < kHeaderNameUnits; ++i) {
    const uint16_t unit = LoadU16(bytes + kHeaderNameOffset + 2 * i);
    if (unit == 0) break;
    name += static_cast<char16_t>(unit);
  }
  const uint32_t milliseconds = LoadU32(bytes + kHeaderSplitMillisecondsOffset);
  if (!IsUsableDatabaseName(name) || !IsUsableSplitLength(milliseconds)) return false;
  header.name = std::move(name);
  header.dataBesideDatabase = LoadU32(bytes + kHeaderDataBesideOffset);
  header.splitMilliseconds = milliseconds;
  return true;
}

std::filesystem::path DatabaseTablePath(const std::filesystem::path& databasePath,
                                        std::string_view suffix) {
  const auto& text = databasePath.native();
  const size_t dot = text.rfind('.');
  std::filesystem::path::string_type base;
  if (dot != std::filesystem::path::string_type::npos) base = text.substr(0, dot + 1);
  base.append(suffix.begin(), suffix.end());
  return std::filesystem::path(std::move(base));
}

std::filesystem::path DataFolderFor(const std::filesystem::path& folder, std::u16string_view name) {
  const std::optional<std::string> utf8 = Utf16ToUtf8(name);
  return folder / PathFromUtf8("soundsData_" + utf8.value_or(std::string()));
}

std::string DataFileName(uint32_t id) {
  char text[32];
  std::snprintf(text, sizeof text, "data_%08X.sdat", static_cast<unsigned>(id));
  return text;
}

bool SplitsDatabase::Open(const std::filesystem::path& path) {
  Close();  // an open database would hold its own files against the new opens
  uint8_t bytes[kDatabaseHeaderSize];
  {
    platform::File file = platform::File::OpenRead(path, platform::Share::Read);
    if (!file || file.Read(bytes, sizeof bytes) != static_cast<int64_t>(sizeof bytes)) {
      Close();
      return false;
    }
  }
  DatabaseHeader header;
  if (!ParseDatabaseHeader(bytes, header)) {
    Close();
    return false;
  }
  LoadTables(path, header.name, header.dataBesideDatabase, header.splitMilliseconds);
  return true;
}

void SplitsDatabase::LoadTables(const std::filesystem::path& path, const std::u16string& headerName,
                                uint32_t dataBesideDatabase, uint32_t headerSplitMilliseconds) {
  if (!IsUsableDatabaseName(headerName) || !IsUsableSplitLength(headerSplitMilliseconds)) return;
  name = headerName;
  splitMilliseconds = headerSplitMilliseconds;
  folder = path.parent_path();
  // Without dataBesideDatabase the data files lie beside the database file.
  dataFolder = dataBesideDatabase != 0 ? DataFolderFor(folder, name) : folder;
  sndPath = DatabaseTablePath(path, "snd");
  OpenMappedFile(sndFile, sndPath, MapMode::MapRequired);
  splPath = DatabaseTablePath(path, "spl");
  OpenMappedFile(splFile, splPath, MapMode::MapRequired);
  const SplitGeometry geometry = SplitGeometryFor(splitMilliseconds);
  blocksPerSplit = geometry.blocksPerSplit;
  framesPerSplit = geometry.framesPerSplit;
  bytesPerSplit = geometry.bytesPerSplit;
  recordSize = blocksPerSplit * 4 + kSplitRecordFixedSize;
  OpenDataFiles();
}

void SplitsDatabase::OpenDataFiles() {
  if (dataFiles) {
    for (uint32_t i = 0; i < dataFileCount; ++i) CloseMappedFile(dataFiles[i].file);
    dataFiles.reset();
    dataFileCount = 0;
  }
  dataFileLookup.clear();
  const uint32_t count = sndFile.IsMapped() ? sndFile.size / kDataFileRecordSize : 0;
  dataFiles = std::make_unique<DataFileEntry[]>(count);
  dataFileCount = count;
  // Records of one id together, in table order. Only the first of them is
  // opened: a later one could not take the data file's exclusive lock anyway,
  // and a table that repeats one id a million times costs one open, not a
  // million.
  std::vector<uint64_t> byId(count);
  for (uint32_t i = 0; i < count; ++i) {
    byId[i] = uint64_t{LoadU32(sndFile.data() + size_t{i} * kDataFileRecordSize)} << 32 | i;
  }
  std::sort(byId.begin(), byId.end());
  for (uint32_t k = 0; k < count; ++k) {
    const auto id = static_cast<uint32_t>(byId[k] >> 32);
    if (k > 0 && static_cast<uint32_t>(byId[k - 1] >> 32) == id) continue;
    DataFileEntry& entry = dataFiles[static_cast<uint32_t>(byId[k])];
    if (OpenMappedFile(entry.file, DataFilePath(id), MapMode::MapOptional)) entry.id = id;
  }
  // A split's data file is the first record, in table order, holding its id
  // (a record that could not be opened holds 0): found by a binary search,
  // so that a long table and a long split table do not multiply.
  for (uint32_t i = 0; i < count; ++i) byId[i] = uint64_t{dataFiles[i].id} << 32 | i;
  std::sort(byId.begin(), byId.end());
  dataFileLookup = std::move(byId);
}

DataFileEntry* SplitsDatabase::FindDataFile(uint32_t id) {
  const auto at = std::lower_bound(dataFileLookup.begin(), dataFileLookup.end(), uint64_t{id} << 32);
  if (at == dataFileLookup.end() || static_cast<uint32_t>(*at >> 32) != id) return nullptr;
  return &dataFiles[static_cast<uint32_t>(*at)];
}

std::filesystem::path SplitsDatabase::DataFilePath(uint32_t id) const {
  return dataFolder / DataFileName(id);
}

uint32_t SplitsDatabase::SplitCount() const {
  if (recordSize == 0 || !splFile.IsMapped()) return 0;
  return splFile.size / recordSize;
}

const uint8_t* SplitsDatabase::SplitRecordAt(uint32_t index) const {
  return splFile.data() + uint64_t{index} * recordSize;
}

bool SplitsDatabase::ReadSplit(uint32_t index, SplitAudio& out) {
  out = SplitAudio{};
  if (index >= SplitCount()) return false;
  const uint8_t* record = SplitRecordAt(index);
  const uint32_t dataFileId = LoadU32(record + kSplitRecordDataFileIdOffset);
  const uint32_t indexInFile = LoadU32(record + kSplitRecordIndexInFileOffset);
  DataFileEntry* entry = FindDataFile(dataFileId);
  if (entry == nullptr) return false;
  out.byteCount = bytesPerSplit;
  out.frameCount = framesPerSplit;
  // A cleared entry (id 0) stands for a data file that could not be opened.
  if (!entry->file.IsOpen()) return false;
  // In 64 bits, so that no index can wrap around to a place inside the file.
  const uint64_t start = uint64_t{indexInFile} * bytesPerSplit;
  const uint64_t end = start + bytesPerSplit;
  if (entry->file.IsMapped()) {
    if (entry->file.size < end) {
      out = SplitAudio{};
      return false;
    }
    out.samples = entry->file.data() + start;
    return true;
  }
  // Made at the first read through a handle: mapped databases never need it,
  // and a header may ask for splits of many megabytes. Not cleared: every
  // read fills it before it is handed out.
  if (!splitBuffer) {
    splitBuffer.reset(new (std::nothrow) uint8_t[bytesPerSplit]);
    if (!splitBuffer) {
      out = SplitAudio{};
      return false;
    }
  }
  const int64_t got = entry->file.fileHandle.ReadAt(start, splitBuffer.get(), bytesPerSplit);
  if (got < 0) return false;
  if (static_cast<uint64_t>(got) < bytesPerSplit) {
    out = SplitAudio{};
    return false;
  }
  out.samples = splitBuffer.get();
  return true;
}

void SplitsDatabase::Close() {
  name.clear();
  folder.clear();
  dataFolder.clear();
  sndPath.clear();
  CloseMappedFile(sndFile);
  splPath.clear();
  CloseMappedFile(splFile);
  splitMilliseconds = 0;
  recordSize = 0;
  blocksPerSplit = 0;
  framesPerSplit = 0;
  bytesPerSplit = 0;
  splitBuffer.reset();
  dataFiles.reset();  // each entry closes its data file
  dataFileCount = 0;
  dataFileLookup.clear();
}

}  // namespace kestrune
