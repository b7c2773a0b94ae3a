#include "platform/terminal.h"

#include <unistd.h>

namespace kestrune::platform {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace kestrune::platform
