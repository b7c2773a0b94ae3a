// Writing what a search found: each match as one continuous stretch of its
// source, through the same temporary-file-and-rename path as every result.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/worker.h"

namespace kestrune {

// outputFolder + base name of the sample + "_found_NN.wav", NN = number in
// at least two digits.
std::filesystem::path FoundResultPath(const std::string& outputFolder, const std::filesystem::path& samplePath,
                                      uint32_t number);

// Writes frames (4 bytes each) as a WAV file at target, ramped at both ends
// when declick is set. An earlier file at target is replaced only by a
// complete one. False when the file could not be written.
bool WriteFoundStretch(std::vector<uint8_t>& frames, bool declick, const std::filesystem::path& target,
                       JobHost* host);

}  // namespace kestrune
