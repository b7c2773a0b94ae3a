// tempo --method onset: the second estimator, with its confidence and the
// likely alternatives.
#pragma once

#include <string>

namespace kestrune::cli {

class TerminalHost;

struct OnsetTempoOptions {
  std::string file;
  double low = 0.0, high = 0.0;  // BPM
  bool json = false;
};

// Estimates, prints and returns the exit status.
int RunOnsetTempo(TerminalHost& host, const OnsetTempoOptions& options);

}  // namespace kestrune::cli
