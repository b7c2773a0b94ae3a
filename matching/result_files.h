// Temporary raw files, result paths and the conversion of a raw result into a
// WAV file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "common/worker.h"
#include "platform/file.h"

namespace kestrune {

inline constexpr uint32_t kCopyChunkBytes = 102400;

// A new, empty file with a unique name starting "QLP" in the temporary folder.
std::optional<std::filesystem::path> MakeTempFileName();

// The file name of path without its folder and its last extension.
std::string FileBaseName(const std::filesystem::path& path);

// outputFolder + base name of the sample + "_rest.wav", or, for a template
// split j, + "_rest_spl%2d.wav" (j right-aligned in two characters).
std::filesystem::path ResultPath(const std::string& outputFolder,
                                 const std::filesystem::path& samplePath,
                                 std::optional<uint32_t> templateIndex);

struct ConversionRequest {
  platform::File* rawFile = nullptr;
  std::filesystem::path targetPath;
  uint16_t formatTag = 1;
  uint16_t channels = 2;
  uint32_t sampleRate = 44100;
  uint16_t blockAlign = 4;
  uint16_t bitsPerSample = 16;
};

using CopyProgress = void (*)(uint32_t low, uint32_t high, uint32_t current, WorkerContext* context);

// The conversion's progress: 100 when high equals low, else the share of
// current between them, sent as a percent.
void ReportCopyProgress(uint32_t low, uint32_t high, uint32_t current, WorkerContext* context);

// Writes the WAV file for the whole raw file: the header, then the raw bytes
// in chunks of 102400. The result appears at the target only when complete;
// an earlier file there stays as it was on any failure.
bool CopyRawToWav(const ConversionRequest& request, CopyProgress progress, WorkerContext* context);

// The conversion worker: "Please Wait...", then CopyRawToWav.
bool ConversionWorker(WorkerContext* context);

// Runs the conversion behind a "Converting sound." progress run of host;
// shows "Error occurs while converting sound." when it does not succeed.
bool ConvertSound(platform::File& rawFile, const std::filesystem::path& target, uint16_t formatTag,
                  uint16_t channels, uint32_t sampleRate, uint16_t blockAlign,
                  uint16_t bitsPerSample, JobHost* host);

}  // namespace kestrune
