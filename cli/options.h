// Checks of numeric options, with the main window's messages.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/options.h"

namespace kestrune::cli {

// A wrong option value; what() is the message to show. Exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses text as an unsigned decimal number within range, or throws
// UsageError naming the option.
uint32_t RangedValue(const std::string& option, const std::string& text, const OptionRange& range);

// "1/2", "1/4", "3/16", "1/8", "1/16" to their index, or throws UsageError.
int32_t NoteFractionIndex(const std::string& text);

// --threads: the number of threads for source preparation and tempo
// estimation (kThreadsOption); empty text keeps the default, one per processor.
void ApplyThreadsOption(const std::string& text);
inline constexpr char kThreadsHelp[] = "Threads for the analysis (default: one per processor)";

// A folder with a trailing separator; the current folder when empty.
std::string OutputFolder(const std::string& text);

}  // namespace kestrune::cli
