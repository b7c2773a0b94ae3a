// The sound a search reads: where the sources and the sample are opened.
// Files our WAV reader takes as 44100 Hz stereo 16-bit PCM are read as they
// stand; any other file the conversion reads is converted into a temporary
// file first, which goes with the audio.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "convert/convert.h"

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
  // True when these frames are a converted copy of the file.
  virtual bool Converted() const { return false; }
};

// Opens a sound file for the search: as it stands when our WAV reader takes it
// as 44100 Hz stereo 16-bit PCM, otherwise converted into a temporary file
// (removed when the audio is destroyed), reporting to progress, which stops
// the conversion by returning false. Null, with the reason in error, when the
// file can be neither read nor converted, or the conversion was stopped.
std::unique_ptr<FindAudio> OpenFindAudio(const std::filesystem::path& path, std::string& error,
                                         const convert::Progress& progress = {});

// A source as named on the command line: a file, or a folder.
struct SourceEntry {
  std::filesystem::path path;
  std::string error;  // set when the entry itself cannot be used
};

// True when the name of a file in a folder says it holds sound this build
// reads: ".wav" (any case) and, where the conversion is built, the other
// extensions of convert::ReadablePatterns().
bool HasAudioExtension(const std::filesystem::path& path);

// The files a source names: a file stands for itself, whatever its name; a
// folder for every file below it with an audio extension, in name order;
// other files are ignored. A path that does not exist, or a folder that cannot be
// read, gives one entry with the error.
std::vector<SourceEntry> ListSourceFiles(const std::filesystem::path& path);

}  // namespace kestrune
