// The target format as our own WAV reader, the one the jobs use, sees it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace kestrune::convert {

// The whole frames of data of a file in the target format; nothing otherwise.
std::optional<uint64_t> TargetFormatFrames(const std::filesystem::path& path);

}  // namespace kestrune::convert
