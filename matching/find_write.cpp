#include "matching/find_write.h"

#include <cstdio>

#include "analysis/declick.h"
#include "common/path_text.h"
#include "matching/result_files.h"
#include "platform/file.h"

namespace kestrune {

std::filesystem::path FoundResultPath(const std::string& outputFolder, const std::filesystem::path& samplePath,
                                      uint32_t number) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_found_%02u.wav", number);
  return PathFromUtf8(outputFolder + FileBaseName(samplePath) + suffix);
}

bool WriteFoundStretch(std::vector<uint8_t>& frames, bool declick, const std::filesystem::path& target,
                       JobHost* host) {
  if (frames.empty() || frames.size() > UINT32_MAX - 36) return false;
  if (declick) ApplyDeclickRampBytes(frames.data(), static_cast<uint32_t>(frames.size() / 2));
  const auto tempPath = MakeTempFileName();
  if (!tempPath) return false;
  bool written = false;
  {
    platform::File temp = platform::File::Create(*tempPath, true);
    if (temp && temp.Write(frames.data(), frames.size()) && temp.Flush()) {
      written = ConvertSound(temp, target, 1, 2, 44100, 4, 16, host);
    }
  }
  platform::RemoveFile(*tempPath);
  return written;
}

}  // namespace kestrune
