// Running a matching job from the command line.
#pragma once

#include "cli/match_report.h"
#include "cli/terminal_host.h"
#include "matching/match_settings.h"

namespace kestrune::cli {

// Runs the job behind a terminal progress run; prints "Error occurs while
// processing sound." when it fails. True when the job succeeded.
bool RunMatch(MatchSettings& settings, TerminalHost& host, MatchReport& report, bool fromDatabase = false);

}  // namespace kestrune::cli
