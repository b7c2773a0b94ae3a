#include "matching/find_source.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "common/path_text.h"
#include "convert/convert_job.h"
#include "matching/match_settings.h"
#include "matching/wav_format_text.h"
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
  bool Converted() const override { return copy_ != nullptr; }
  WavInfo& info() { return info_; }
  std::unique_ptr<convert::TemporaryCopy>& copy() { return copy_; }

 private:
  // Declared first so that it goes last: the file is closed before it is removed.
  std::unique_ptr<convert::TemporaryCopy> copy_;
  WavInfo info_;
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// What this build says of a file it cannot search as it stands.
std::string CannotConvert(const WavInfo* opened) {
  if (opened == nullptr) return std::string("cannot be read as a WAV file, and ") + convert::kUnavailableMessage;
  return std::string(kFormatMessage) + " (it is " + FormatText(*opened) + "; " + convert::kUnavailableMessage + ")";
}

}  // namespace

std::unique_ptr<FindAudio> OpenFindAudio(const std::filesystem::path& path, std::string& error,
                                         const convert::Progress& progress) {
  auto audio = std::make_unique<WavAudio>();
  const bool opened = OpenWavFile(audio->info(), path, false);
  if (opened && IsMatchableFormat(audio->info())) return audio;
  if (!convert::Available()) {
    error = CannotConvert(opened ? &audio->info() : nullptr);
    return nullptr;
  }
  audio = std::make_unique<WavAudio>();
  auto copy = std::make_unique<convert::TemporaryCopy>();
  std::string why;
  if (!copy->MakeWithin(path, progress, why)) {
    error = why == "stopped" ? why : "cannot be read or converted: " + why;
    return nullptr;
  }
  // The copy is in the target format unless something replaced it meanwhile.
  if (!OpenWavFile(audio->info(), copy->Path(), false) || !IsMatchableFormat(audio->info())) {
    audio.reset();  // closed before the copy goes
    error = "its converted copy cannot be read";
    return nullptr;
  }
  audio->copy() = std::move(copy);
  return audio;
}

bool HasAudioExtension(const std::filesystem::path& path) {
  const std::string ext = Lower(Utf8Of(path.extension()));
  if (ext.empty()) return false;
  for (const std::string& pattern : convert::ReadablePatterns()) {
    if (Lower(pattern) == "*" + ext) return true;
  }
  return false;
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
    if (HasAudioExtension(it->path()) && platform::KindOf(it->path()) != platform::PathKind::Folder) {
      files.push_back(SourceEntry{it->path(), {}});
    }
  }
  std::sort(files.begin(), files.end(), [](const SourceEntry& a, const SourceEntry& b) { return a.path < b.path; });
  return files;
}

}  // namespace kestrune
