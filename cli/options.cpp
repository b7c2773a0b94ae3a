#include "cli/options.h"

#include <filesystem>

#include "common/path_text.h"
#include "common/split_geometry.h"
#include "common/threads.h"

namespace kestrune::cli {

uint32_t RangedValue(const std::string& option, const std::string& text, uint32_t lo, uint32_t hi) {
  uint64_t value = 0;
  bool digits = !text.empty();
  for (char c : text) {
    if (c < '0' || c > '9') {
      digits = false;
      break;
    }
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) value = uint64_t{UINT32_MAX} + 1;  // out of range either way
  }
  if (!digits) throw UsageError(option + ": Please enter a positive integer.");
  if (value < lo || value > hi) {
    throw UsageError(option + ": Please enter an integer between " + std::to_string(lo) + " and " +
                     std::to_string(hi) + ".");
  }
  return static_cast<uint32_t>(value);
}

int32_t NoteFractionIndex(const std::string& text) {
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(kNoteFractions)); ++i) {
    if (text == kNoteFractions[i]) return i;
  }
  throw UsageError("--note: expected one of 1/2, 1/4, 3/16, 1/8, 1/16");
}

void ApplyThreadsOption(const std::string& text) {
  if (!text.empty()) SetWorkerThreads(RangedValue("--threads", text, 1, 1024));
}

std::string OutputFolder(const std::string& text) {
  std::string folder = text.empty() ? Utf8Of(std::filesystem::current_path()) : text;
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  // Windows takes '/' as a separator too.
  if (folder.empty() || (folder.back() != separator && folder.back() != '/')) folder += separator;
  return folder;
}

}  // namespace kestrune::cli
