#include "matching/wav_format_text.h"

namespace kestrune {

bool IsMatchableFormat(const WavInfo& info) {
  return info.formatTag == 1 && info.channels == 2 && info.bitsPerSample == 16 && info.sampleRate == 44100 &&
         info.blockAlign == 4;
}

std::string FormatText(const WavInfo& info) {
  std::string text = std::to_string(info.sampleRate) + " Hz, " + std::to_string(info.channels) +
                     (info.channels == 1 ? " channel, " : " channels, ") + std::to_string(info.bitsPerSample) +
                     "-bit";
  if (info.formatTag != 1) text += ", format " + std::to_string(info.formatTag) + " (not PCM)";
  const uint32_t expectedAlign = uint32_t{info.channels} * ((uint32_t{info.bitsPerSample} + 7) / 8);
  if (info.blockAlign != expectedAlign) text += ", " + std::to_string(info.blockAlign) + " bytes a frame";
  return text;
}

}  // namespace kestrune
