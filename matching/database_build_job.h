// Building a splits database from a WAV source, as a job beside the two
// matching jobs: the source splits are read and analysed on the pool as for a
// match (the same masks, the same progress reports), and handed in source
// order to the database writer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/worker.h"
#include "storage/splits_database_writer.h"

namespace kestrune {

struct DatabaseBuildRequest : DatabaseTarget {
  std::filesystem::path sourcePath;  // 44100 Hz, 2-channel, 16-bit PCM WAV
};

// Builds the database; progress and stops go through context (which may be
// null). On failure error tells why ("stopped" after a stop), nothing of the
// new database is left behind and whatever was at the target is as it was.
bool BuildSplitsDatabase(const DatabaseBuildRequest& request, WorkerContext* context, std::string& error);

// What a build's progress run works on.
struct DatabaseBuildJob {
  DatabaseBuildRequest request;
  std::string error;  // why the build failed
};

inline constexpr char kBuildingDatabaseTitle[] = "Building database";
inline constexpr char kAnalysingSourceSplits[] = "Analysing source splits..";

// The worker of a build's progress run (pUserData: a DatabaseBuildJob): sends
// kAnalysingSourceSplits, then builds.
bool DatabaseBuildWorker(WorkerContext* context);

}  // namespace kestrune
