// The sub-commands of kestrune-cli. Each registers its options on the
// application and returns the function that runs it, giving the exit status.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace kestrune::cli {

using Runner = std::function<int()>;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNothingFound = 3;  // find: the search ran but found nothing confident

Runner AddMatchCommand(CLI::App& app);
Runner AddMasksCommand(CLI::App& app);
Runner AddDemoCommand(CLI::App& app);
Runner AddTempoCommand(CLI::App& app);
Runner AddBuildDbCommand(CLI::App& app);
Runner AddFindCommand(CLI::App& app);
Runner AddConvertCommand(CLI::App& app);

}  // namespace kestrune::cli
