// The sound a search reads: where the sources and the sample are opened, so
// that other formats can be added in this one place.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kestrune {

// 44100 Hz stereo 16-bit frames, read by position, from several threads at
// once.
class FindAudio {
 public:
  virtual ~FindAudio() = default;
  virtual uint32_t Frames() const = 0;
  // Copies frames [first, first + count) into buffer (4 bytes a frame);
  // returns the frames copied, fewer only at the end.
  virtual uint32_t Read(uint32_t first, uint32_t count, uint8_t* buffer) = 0;
  // Frames [first, first + count) will not be read again soon.
  virtual void Release(uint32_t /*first*/, uint32_t /*count*/) {}
};

// Opens a sound file for the search; null, with the reason in error, when it
// cannot be read or is not 44100 Hz stereo 16-bit PCM.
std::unique_ptr<FindAudio> OpenFindAudio(const std::filesystem::path& path, std::string& error);

// A source as named on the command line: a file, or a folder.
struct SourceEntry {
  std::filesystem::path path;
  std::string error;  // set when the entry itself cannot be used
};

// The files a source names: a file stands for itself; a folder for every
// file below it whose name ends in ".wav" (any case), in name order; other
// files are ignored. A path that does not exist, or a folder that cannot be
// read, gives one entry with the error.
std::vector<SourceEntry> ListSourceFiles(const std::filesystem::path& path);

}  // namespace kestrune
