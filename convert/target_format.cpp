#include "convert/target_format.h"

#include "convert/convert.h"
#include "storage/wav_file.h"

namespace kestrune::convert {

std::optional<uint64_t> TargetFormatFrames(const std::filesystem::path& path) {
  // The same test as the matching jobs make, on the same reader.
  WavInfo info;
  if (!OpenWavFile(info, path, false)) return std::nullopt;
  if (info.formatTag != 1 || info.channels != 2 || info.bitsPerSample != 16 || info.sampleRate != 44100 ||
      info.blockAlign != 4) {
    return std::nullopt;
  }
  return info.dataSize / 4;
}

bool IsTargetFormat(const std::filesystem::path& path) { return TargetFormatFrames(path).has_value(); }

}  // namespace kestrune::convert
