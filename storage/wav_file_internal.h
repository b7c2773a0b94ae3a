// Entry points of the WAV reader that only the tests use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "storage/wav_file.h"

namespace kestrune::detail {

// Opens path like OpenWavFile but never maps it: the header is walked and the
// samples are read through the file handle, as for a file that cannot be mapped.
bool OpenWavFileUnmapped(WavInfo& info, const std::filesystem::path& path);

// Runs the mapped header walk over n bytes held by the caller, as if they were
// the mapped view of a file: on success info.data points into bytes, which
// must outlive info. No file is opened. Lets a fuzzer hand the walk a buffer
// whose every byte past the end is poisoned.
bool OpenWavBytes(WavInfo& info, const uint8_t* bytes, size_t n);

}  // namespace kestrune::detail
