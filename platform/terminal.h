// What the command line needs to know about its terminal.
#pragma once

namespace kestrune::platform {

// True when the standard error stream is an interactive terminal.
bool StderrIsTerminal();

}  // namespace kestrune::platform
