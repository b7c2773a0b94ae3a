// What an audio file holds, as the reader of other formats sees it.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune::convert {

struct AudioFormat {
  std::string container;   // "WAV", "AIFF", "FLAC", "OGG", "MP3", ...
  std::string encoding;    // "PCM 24-bit", "float 32-bit", "Vorbis", ...
  uint32_t sampleRate = 0;
  uint32_t channels = 0;
  uint32_t bitsPerSample = 0;  // integer and float samples; 0 for compressed ones
  bool floatingPoint = false;
  int64_t frames = 0;          // as the file states it; may be wrong in a damaged file
};

// "48000 Hz, 1 channel, 24-bit" for a WAV file; other containers and
// encodings are named in front and behind ("FLAC, 44100 Hz, 2 channels,
// 16-bit"; "OGG, 48000 Hz, 2 channels, Vorbis").
std::string Describe(const AudioFormat& format);

}  // namespace kestrune::convert
