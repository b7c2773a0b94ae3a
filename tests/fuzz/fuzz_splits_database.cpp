// A splits database made of fuzzed files (the database file, both tables and
// the data files, see fuzz_support.h) through Open, every ReadSplit and a
// match of a small sample against it (for long splits, some inputs only).
// Data files are read mapped or, by a flag of the input, through their
// handles into the database's own buffer.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/sample_frame.h"
#include "fuzz/fuzz_support.h"
#include "matching/match_settings.h"
#include "matching/match_workers.h"
#include "storage/mapped_file.h"
#include "storage/splits_database.h"
#include "storage/wav_file.h"
#include "support/recording_host.h"

namespace {

using namespace kestrune;
using fuzz::Require;
using std::filesystem::path;

struct Folders {
  path db, out, tmp, sample;
};

const Folders& Scratch() {
  static const Folders folders = [] {
    const path root = fuzz::ScratchFolder();
    Folders f{root / "db", root / "out", root / "tmp", root / "sample.wav"};
    for (const path& p : {f.db, f.out, f.tmp}) std::filesystem::create_directories(p);
    // 22050 frames of noise: one template split of 500 ms, two of 250 ms.
    std::vector<uint8_t> bytes(44 + 22050 * 4);
    std::array<uint8_t, 44> header{};
    MakeWavHeader(header, 22050 * 4, 44100, 4, 1, 2, 16);
    std::memcpy(bytes.data(), header.data(), 44);
    uint32_t x = 1;
    for (size_t i = 44; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    fuzz::WriteFile(f.sample, bytes);
    // The jobs' temporary files go here, where they can be counted.
    setenv("TMPDIR", f.tmp.c_str(), 1);
    return f;
  }();
  return folders;
}

// Splits of up to about 1.5 s, the usual lengths, are matched for every input.
constexpr uint32_t kAlwaysMatchedBlocks = 64;

bool IsCompleteResult(const path& file, uint32_t bytesPerSplit) {
  WavInfo info;
  if (!OpenWavFile(info, file, true)) return false;
  return info.dataOffset == 44 && info.dataSize == info.fileSize - 44 && bytesPerSplit != 0 &&
         info.dataSize % bytesPerSplit == 0 && info.dataSize > 0;
}

}  // namespace

// What an input put in the database folder, removed when it ends: cheaper
// than listing the folder, and the reader writes nothing there. (Kept within
// the input, so that libFuzzer sees its allocations balanced and does not
// look for a leak.)
struct Written {
  std::vector<path> files;
  path folder;  // a data folder made below the database folder, if any

  Written() = default;
  Written(const Written&) = delete;
  Written& operator=(const Written&) = delete;
  ~Written() {
    std::error_code ec;
    for (const path& p : files) std::filesystem::remove(p, ec);
    if (!folder.empty()) std::filesystem::remove(folder, ec);
  }
  void Write(const path& p, const std::vector<uint8_t>& bytes) {
    fuzz::WriteFile(p, bytes);
    files.push_back(p);
  }
};

// Freed memory waits 16 MB deep before it is used again, not the default
// 256 MB: with the deep wait every input's buffers came from fresh pages, and
// faulting those in took half of each run. A use after free within an input
// or a few inputs is still caught.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Folders& f = Scratch();
  // The output and temporary folders are left empty by the checks at the end.
  Written written;
  const fuzz::DatabaseInput input = fuzz::SplitDatabaseInput(data, size);
  const path dbPath = f.db / "x.qlmx";
  const char* names[] = {"x.qlmx", "x.snd", "x.spl"};
  for (size_t i = 0; i < 3 && i < input.parts.size(); ++i) written.Write(f.db / names[i], input.parts[i]);

  if (input.flags & 1) {
    SetMappingRefusalForTesting([](const path& p) { return p.extension() == ".sdat"; });
  } else {
    SetMappingRefusalForTesting(nullptr);
  }

  // The data files go where the header says, under the ids of the data-file
  // table, before anything is opened: the reader then opens them once, and
  // its own idea of the folder is checked against this one. (The job below
  // opens the whole database afresh.)
  std::map<std::string, const std::vector<uint8_t>*> dataFiles;
  DatabaseHeader header;
  path dataFolder;
  if (!input.parts.empty() && input.parts[0].size() >= kDatabaseHeaderSize &&
      ParseDatabaseHeader(input.parts[0].data(), header)) {
    dataFolder = header.dataBesideDatabase != 0 ? DataFolderFor(f.db, header.name) : f.db;
    std::error_code ec;
    if (dataFolder != f.db && std::filesystem::create_directory(dataFolder, ec)) written.folder = dataFolder;
    const size_t records = input.parts.size() > 1 ? input.parts[1].size() / kDataFileRecordSize : 0;
    for (size_t i = 3; i < input.parts.size() && i - 3 < records; ++i) {
      const std::string name = DataFileName(LoadU32(input.parts[1].data() + (i - 3) * kDataFileRecordSize));
      written.Write(dataFolder / name, input.parts[i]);
      if (std::filesystem::exists(dataFolder / name, ec)) dataFiles[name] = &input.parts[i];
    }
  }
  uint32_t bytesPerSplit = 0;
  uint32_t blocksPerSplit = 0;
  bool noSplits = false;
  {
    SplitsDatabase db;
    if (db.Open(dbPath)) {
      Require(db.dataFolder == f.db || db.dataFolder.parent_path() == f.db,
              "the data folder lies beside the database file");
      Require(db.dataFolder == dataFolder, "the data folder is the one the header names");
      bytesPerSplit = db.bytesPerSplit;
      blocksPerSplit = db.blocksPerSplit;
      noSplits = db.SplitCount() == 0;
      Require(uint64_t{db.SplitCount()} * db.recordSize <= db.splFile.size, "whole records lie in the split table");
      const uint32_t count = std::min<uint32_t>(db.SplitCount(), 4096);
      for (uint32_t i = 0; i < count; ++i) {
        SplitAudio audio;
        if (!db.ReadSplit(i, audio)) {
          Require(audio.samples == nullptr, "a failed read gives no samples");
          continue;
        }
        Require(audio.byteCount == db.bytesPerSplit && audio.frameCount == db.framesPerSplit, "a split is whole");
        // The sound is the one the record names, from the file we wrote.
        const uint8_t* record = db.SplitRecordAt(i);
        const auto file = dataFiles.find(DataFileName(LoadU32(record + kSplitRecordDataFileIdOffset)));
        Require(file != dataFiles.end(), "a split is read only from a data file of the database");
        const uint64_t start = uint64_t{LoadU32(record + kSplitRecordIndexInFileOffset)} * db.bytesPerSplit;
        Require(start + db.bytesPerSplit <= file->second->size(), "a split lies within its data file");
        Require(std::memcmp(audio.samples, file->second->data() + start, db.bytesPerSplit) == 0,
                "a split holds the bytes of its data file");
      }
    } else {
      Require(db.SplitCount() == 0 && db.dataFileCount == 0 && db.bytesPerSplit == 0, "a failed open leaves it closed");
    }
  }

  // The match job's buffers grow with the split length (about 16 KiB a block
  // for the analyser alone), and the sanitizer's bookkeeping of tens of
  // megabytes would make every input slow. Long splits are matched for one
  // input in eight (bits 3..5 of the flags); the reading above ran for all.
  // So is a database without splits: its job only sets up and analyses the
  // sample, three quarters of such an input's time, the same way every time.
  if ((blocksPerSplit > kAlwaysMatchedBlocks || noSplits) && (input.flags & 0x38) != 0x38) {
    SetMappingRefusalForTesting(nullptr);
    return 0;
  }
  MatchSettings settings;
  settings.sourcePath = dbPath;
  settings.samplePath = f.sample;
  settings.outputFolder = f.out.string() + "/";
  settings.fragmentLength = 2;
  settings.minSimilarity = 1 + input.similarity % 100;
  settings.declick = (input.flags & 2) != 0;
  settings.separateFiles = (input.flags & 4) != 0;
  test::RecordingHost host;
  settings.ownerWindow = &host;
  test::RecordingProgress window;
  test::RunRecorded(DatabaseMatchWorker, &settings, window);
  SetMappingRefusalForTesting(nullptr);

  Require(std::filesystem::is_empty(f.tmp), "no temporary file is left behind");
  Require(host.messages.empty(), "a database job shows no message of its own for a good sample");
  std::vector<path> results;
  for (const auto& entry : std::filesystem::directory_iterator(f.out)) {
    const std::string name = entry.path().filename().string();
    Require(name == "sample_rest.wav" || name == "sample_rest_spl 0.wav" || name == "sample_rest_spl 1.wav",
            "only results are written to the output folder");
    Require(IsCompleteResult(entry.path(), bytesPerSplit), "a result is complete: whole splits under a true header");
    results.push_back(entry.path());
  }
  for (const path& p : results) std::filesystem::remove(p);
  return 0;
}
