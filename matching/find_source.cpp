#include "matching/find_source.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "common/path_text.h"
#include "matching/match_settings.h"
#include "platform/file.h"
#include "storage/wav_file.h"

namespace kestrune {
namespace {

class WavAudio : public FindAudio {
 public:
  uint32_t Frames() const override { return info_.blockAlign == 0 ? 0 : info_.dataSize / info_.blockAlign; }
  // Read once, in order: through the handle, not by touching the mapping.
  uint32_t Read(uint32_t first, uint32_t count, uint8_t* buffer) override {
    return StreamWavFrames(info_, buffer, first, count);
  }
  void Release(uint32_t first, uint32_t count) override { ReleaseWavFrames(info_, first, count); }
  WavInfo& info() { return info_; }

 private:
  WavInfo info_;
};

bool EndsWithWav(const std::filesystem::path& path) {
  std::string ext = Utf8Of(path.extension());
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".wav";
}

}  // namespace

std::unique_ptr<FindAudio> OpenFindAudio(const std::filesystem::path& path, std::string& error) {
  auto audio = std::make_unique<WavAudio>();
  if (!OpenWavFile(audio->info(), path, false)) {
    error = "cannot be read as a WAV file";
    return nullptr;
  }
  const WavInfo& i = audio->info();
  if (i.formatTag != 1 || i.channels != 2 || i.bitsPerSample != 16 || i.sampleRate != 44100 || i.blockAlign != 4) {
    error = kFormatMessage;
    return nullptr;
  }
  return audio;
}

std::vector<SourceEntry> ListSourceFiles(const std::filesystem::path& path) {
  const platform::PathKind kind = platform::KindOf(path);
  if (kind == platform::PathKind::None) return {SourceEntry{path, "does not exist"}};
  if (kind != platform::PathKind::Folder) return {SourceEntry{path, {}}};
  std::vector<SourceEntry> files;
  std::error_code ec;
  // Links to folders are not followed, so a loop of links cannot hang the walk.
  std::filesystem::recursive_directory_iterator it(path, std::filesystem::directory_options::skip_permission_denied, ec);
  if (ec) return {SourceEntry{path, "the folder cannot be read"}};
  for (const std::filesystem::recursive_directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    if (EndsWithWav(it->path()) && platform::KindOf(it->path()) != platform::PathKind::Folder) {
      files.push_back(SourceEntry{it->path(), {}});
    }
  }
  std::sort(files.begin(), files.end(), [](const SourceEntry& a, const SourceEntry& b) { return a.path < b.path; });
  return files;
}

}  // namespace kestrune
