// How many threads the analysis may keep busy at once.
#pragma once

#include <cstdint>

namespace kestrune {

// The number of threads for source preparation and tempo estimation: the one
// set with SetWorkerThreads, or else the number of processors (at least 1).
uint32_t WorkerThreads();

// Sets the number of threads for the whole process; 0 returns to the default.
void SetWorkerThreads(uint32_t count);

}  // namespace kestrune
