// Runs one search of bench/run.sh: a sample's fragment looked for at every
// hop of a source, on the given threads; prints what was found, so that a
// change in speed can be seen not to change the result.
//
//   kestrune-bench-find SAMPLE.wav SOURCE.wav [HOP] [THREADS]
#include <cstdio>
#include <cstdlib>

#include "matching/find_request.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr, "usage: kestrune-bench-find SAMPLE.wav SOURCE.wav [HOP] [THREADS]\n");
    return 2;
  }
  kestrune::FindRequest request;
  request.samplePath = argv[1];
  request.sources = {argv[2]};
  if (argc > 3) request.hop = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  if (argc > 4) request.threads = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
  kestrune::FindResult result;
  if (!kestrune::RunFind(request, result, nullptr)) {
    std::fprintf(stderr, "kestrune-bench-find: %s\n", result.failure.c_str());
    return 1;
  }
  std::printf("%llu starts\n", static_cast<unsigned long long>(result.startsSearched));
  for (const auto& m : result.matches) {
    std::printf("frame %u: %u of %u bits, z %.17g, score %.17g%s\n", m.frame, m.agreement, m.bits, m.z, m.score,
                m.confident ? ", confident" : "");
  }
  return 0;
}
