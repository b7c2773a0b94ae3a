// Converting any readable audio file into the format the matching jobs take:
// 44100 Hz, 2 channels, 16-bit PCM under the 44-byte header of our writer.
//
// Reading is libsndfile's (WAV in all its variants, AIFF, FLAC, Ogg
// Vorbis/Opus, MP3 and the rest it knows), resampling libsoxr's at very high
// quality. Mono is put on both channels; more channels are mixed down (see
// stereo_mix.h); samples are clipped to full scale and reduced to 16 bits
// with seeded TPDF dither, so that a conversion is reproducible byte for byte.
// A file already in the target format is copied unchanged. The result appears
// only when complete and never replaces an earlier file on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "convert/audio_format.h"

namespace kestrune::convert {

// False in a build without libsndfile and libsoxr: every conversion then
// fails with kUnavailableMessage.
bool Available();
inline constexpr char kUnavailableMessage[] =
    "this build of Kestrune cannot convert audio files (it was built without libsndfile and libsoxr)";

// True when path is a WAV file the matching jobs take as it stands.
bool IsTargetFormat(const std::filesystem::path& path);

// The format of a readable file, or nothing with the reader's reason in error.
std::optional<AudioFormat> Probe(const std::filesystem::path& path, std::string& error);

// Called between chunks with the share done in percent; returning false stops
// the conversion.
using Progress = std::function<bool(uint32_t percent)>;

struct Limits {
  // Output frames beyond this fail the conversion; the default is what a WAV
  // header can describe.
  uint64_t maxOutputFrames = (uint64_t{UINT32_MAX} - 36) / 4;
};

enum class Status { Converted, Copied, Stopped, Failed };

struct Result {
  Status status = Status::Failed;
  std::optional<AudioFormat> input;  // once the input could be read
  uint64_t outputFrames = 0;
  std::string error;                 // why, when it failed
  bool Succeeded() const { return status == Status::Converted || status == Status::Copied; }
};

// Converts (or copies) input into output.
Result ConvertFile(const std::filesystem::path& input, const std::filesystem::path& output,
                   const Progress& progress = {}, const Limits& limits = {});

// The same conversion from bytes in memory into bytes in memory (the whole
// WAV file, header first). Never copies: every input is converted.
Result ConvertMemory(const uint8_t* data, size_t size, std::vector<uint8_t>& output,
                     const Limits& limits = {});

// File name patterns of the formats the reader takes, for file choosers.
std::vector<std::string> ReadablePatterns();

}  // namespace kestrune::convert
