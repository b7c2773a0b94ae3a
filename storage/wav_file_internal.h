// Entry points of the WAV reader that only the tests use.
#pragma once

#include <filesystem>

#include "storage/wav_file.h"

namespace kestrune::detail {

// Opens path like OpenWavFile but never maps it: the header is walked and the
// samples are read through the file handle, as for a file that cannot be mapped.
bool OpenWavFileUnmapped(WavInfo& info, const std::filesystem::path& path);

}  // namespace kestrune::detail
