#include "matching/result_files.h"

#include <cstdio>
#include <memory>
#include <new>

#include "common/path_text.h"
#include "matching/match_settings.h"
#include "storage/wav_file.h"

namespace kestrune {
namespace {

// Keeps the first maxChars characters of UTF-8 text.
std::string LimitCharacters(const std::string& text, size_t maxChars) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == maxChars) return text.substr(0, i);
      ++chars;
    }
  }
  return text;
}

// Removes a half-written file unless it was handed over.
struct PendingFile {
  std::filesystem::path path;
  ~PendingFile() {
    if (!path.empty()) platform::RemoveFile(path);
  }
};

}  // namespace

std::optional<std::filesystem::path> MakeTempFileName() {
  return platform::MakeUniqueFile(platform::TempFolder(), "QLP");
}

std::string FileBaseName(const std::filesystem::path& path) {
  std::string name = Utf8Of(path.filename());
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return LimitCharacters(name, 255);
}

std::filesystem::path ResultPath(const std::string& outputFolder,
                                 const std::filesystem::path& samplePath,
                                 std::optional<uint32_t> templateIndex) {
  const std::string stem = outputFolder + FileBaseName(samplePath);
  if (!templateIndex) return PathFromUtf8(stem + "_rest.wav");
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_rest_spl%2u.wav", *templateIndex);
  return PathFromUtf8(stem + suffix);
}

void ReportCopyProgress(uint32_t low, uint32_t high, uint32_t current, WorkerContext* context) {
  const uint32_t percent =
      high == low ? 100u
                  : static_cast<uint32_t>((uint64_t{current} - low) * 100u / (uint64_t{high} - low));
  SetProgressPos(context, percent);
}

bool CopyRawToWav(const ConversionRequest& request, CopyProgress progress, WorkerContext* context) {
  if (request.rawFile == nullptr || !request.rawFile->IsOpen()) return false;
  const auto size = request.rawFile->Size();
  // An empty result, or one that a WAV header cannot describe, is not written.
  if (!size || *size == 0 || *size > UINT32_MAX - 36) return false;
  const auto dataBytes = static_cast<uint32_t>(*size);

  // The file is built under a name of our own beside the target and renamed
  // over it when complete.
  std::filesystem::path folder = request.targetPath.parent_path();
  if (folder.empty()) folder = ".";
  const auto staging = platform::MakeUniqueFile(folder, ".QLR");
  if (!staging) return false;
  PendingFile pending{*staging};

  if (!WriteWavHeader(*staging, dataBytes, request.sampleRate, request.blockAlign,
                      request.formatTag, request.channels, request.bitsPerSample)) {
    return false;
  }
  platform::File target = platform::File::OpenWrite(*staging);
  if (!target) return false;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyChunkBytes]);
  if (!buffer || !target.SeekToEnd() || !request.rawFile->Seek(0)) return false;

  const uint32_t chunks = dataBytes / kCopyChunkBytes;
  uint64_t copied = 0;
  // Each chunk is copied inside the kernel where the system can, else read
  // into the buffer and written.
  bool kernelCopy = true;
  for (uint32_t n = 0;; ++n) {
    if (progress != nullptr) progress(0, chunks, n, context);
    if (context != nullptr && context->bTerminate.load()) return false;
    std::optional<int64_t> got;
    if (kernelCopy) got = request.rawFile->CopyTo(target, kCopyChunkBytes);
    if (!got) {
      kernelCopy = false;
      got = request.rawFile->Read(buffer.get(), kCopyChunkBytes);
      // A failed or short write would leave a header that promises more than the file holds.
      if (*got > 0 && !target.Write(buffer.get(), static_cast<size_t>(*got))) return false;
    }
    if (*got < 0) return false;
    if (*got == 0) break;
    copied += static_cast<uint64_t>(*got);
  }
  if (copied != dataBytes || !target.Flush()) return false;
  target.Close();

  if (!platform::RenamePath(*staging, request.targetPath)) return false;
  pending.path.clear();
  return true;
}

bool ConversionWorker(WorkerContext* context) {
  SetProgressText(context, kPleaseWait);
  const auto* request = static_cast<const ConversionRequest*>(context->pUserData);
  return CopyRawToWav(*request, ReportCopyProgress, context);
}

bool ConvertSound(platform::File& rawFile, const std::filesystem::path& target, uint16_t formatTag,
                  uint16_t channels, uint32_t sampleRate, uint16_t blockAlign,
                  uint16_t bitsPerSample, JobHost* host) {
  ConversionRequest request;
  request.rawFile = &rawFile;
  request.targetPath = target;
  request.formatTag = formatTag;
  request.channels = channels;
  request.sampleRate = sampleRate;
  request.blockAlign = blockAlign;
  request.bitsPerSample = bitsPerSample;

  int code = PD_FAILED;
  if (host != nullptr) {
    code = host->RunProgress("Converting sound.", ConversionWorker, &request);
  } else {
    WorkerContext context;
    context.pUserData = &request;
    context.pfnWorker = ConversionWorker;
    code = RunWorkerRoutine(&context);
  }
  if (code == PD_SUCCEEDED) return true;
  if (host != nullptr) {
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    if (code == PD_TERMINATED) {
      Fail(host, FailureReason::kStopped, FailureFile::kNone, {});
    } else if (!platform::FolderIsWritable(folder)) {
      Fail(host, FailureReason::kOutputFolder, FailureFile::kOutput, folder.string());
    } else {
      Fail(host, FailureReason::kWriteFailed, FailureFile::kNone, target.string());
    }
    host->ShowMessage(kConvertFailedMessage, kCaption);
  }
  return false;
}

}  // namespace kestrune
