// What the command line needs from its terminal and its start.
#pragma once

#include <string>
#include <vector>

namespace kestrune::platform {

// True when the standard error stream is an interactive terminal that can
// draw the progress bar in place.
bool StderrIsTerminal();

// The program's arguments as UTF-8. Windows hands them over in UTF-16 (the
// narrow argv there is in the ANSI code page and loses other names); elsewhere
// they are argv as given.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Standard output and error carry exactly the bytes written: line ends stay
// LF (no CR added on Windows), so scripts read the same output on every
// system, and a console shows the UTF-8 text as such.
void WriteStandardStreamsAsBytes();

// Calls stop when the user interrupts the program (Ctrl+C, Ctrl+Break,
// SIGINT, SIGTERM) instead of ending it; nullptr restores the default. stop
// runs in a signal handler or on a thread of the system's: it may only set
// atomic flags.
void SetInterruptHandler(void (*stop)());

}  // namespace kestrune::platform
