#include "convert/audio_format.h"

namespace kestrune::convert {

std::string Describe(const AudioFormat& format) {
  std::string text;
  if (format.container != "WAV") text = format.container + ", ";
  text += std::to_string(format.sampleRate) + " Hz, " + std::to_string(format.channels) +
          (format.channels == 1 ? " channel, " : " channels, ");
  if (format.bitsPerSample == 0) {
    text += format.encoding;
  } else {
    text += std::to_string(format.bitsPerSample) + (format.floatingPoint ? "-bit float" : "-bit");
  }
  return text;
}

}  // namespace kestrune::convert
