// The format of an opened WAV file in words, for messages that say why a
// file cannot be matched.
#pragma once

#include <string>

#include "storage/wav_file.h"

namespace kestrune {

// PCM, 2 channels, 16 bits, 44100 Hz, 4 bytes a frame: what matching reads.
bool IsMatchableFormat(const WavInfo& info);

// "48000 Hz, 1 channel, 24-bit", with the coding named when it is not PCM
// ("format 3") and a block size that does not fit the rest.
std::string FormatText(const WavInfo& info);

}  // namespace kestrune
