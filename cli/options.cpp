#include "cli/options.h"

#include <filesystem>

#include "common/path_text.h"
#include "common/threads.h"

namespace kestrune::cli {

uint32_t RangedValue(const std::string& option, const std::string& text, const OptionRange& range) {
  const uint32_t lo = range.low;
  const uint32_t hi = range.high;
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
  for (int32_t i = 0; i < kNoteFractionCount; ++i) {
    if (text == kNoteFractions[i]) return i;
  }
  std::string expected;
  for (const char* fraction : kNoteFractions) expected += std::string(expected.empty() ? "" : ", ") + fraction;
  throw UsageError("--note: expected one of " + expected);
}

void ApplyThreadsOption(const std::string& text) {
  if (!text.empty()) SetWorkerThreads(RangedValue("--threads", text, kThreadsOption));
}

std::string OutputFolder(const std::string& text) {
  std::string folder = text.empty() ? Utf8Of(std::filesystem::current_path()) : text;
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  // Windows takes '/' as a separator too.
  if (folder.empty() || (folder.back() != separator && folder.back() != '/')) folder += separator;
  return folder;
}

}  // namespace kestrune::cli
