#include "matching/database_build_job.h"

#include <memory>
#include <new>
#include <vector>

#include "common/split_geometry.h"
#include "matching/match_steps.h"
#include "matching/source_splits.h"
#include "storage/wav_file.h"

namespace kestrune {
namespace {

bool Fail(std::string& error, std::string text) {
  error = std::move(text);
  return false;
}

// Closes the source however the build ends.
struct OpenSource {
  WavInfo info;
  ~OpenSource() { CloseWavFile(info); }
};

}  // namespace

bool BuildSplitsDatabase(const DatabaseBuildRequest& request, WorkerContext* context, std::string& error) {
  error.clear();
  if (!kSplitMsOption.Holds(request.splitMilliseconds)) {
    return Fail(error, "the split length must be " + std::to_string(kSplitMsOption.low) + " to " +
                           std::to_string(kSplitMsOption.high) + " ms");
  }
  SplitsDatabaseWriter writer;
  if (!writer.Check(request, error)) return false;

  OpenSource source;
  if (!OpenWavFile(source.info, request.sourcePath, false)) {
    return Fail(error, "cannot open the source as a WAV file");
  }
  if (!CheckWavFormat(source.info, nullptr)) {
    return Fail(error, "only 44100 Hz, 2-channel, 16-bit PCM sources are supported");
  }
  const SplitGeometry g = SplitGeometryFor(request.splitMilliseconds);
  const uint32_t count = SourceSplitCount(source.info, g);
  if (!writer.Begin(count, g.blocksPerSplit, g.bytesPerSplit, error)) return false;

  std::unique_ptr<SourceSplitTable> table;
  std::vector<uint8_t> sound;
  try {
    table = std::make_unique<SourceSplitTable>(count, g.blocksPerSplit);
    sound.resize(g.bytesPerSplit);
  } catch (const std::bad_alloc&) {
    return Fail(error, "out of memory for the split table");
  }
  // The pool has read and analysed split i; its sound is read again (through
  // the handle, from the system's cache, so nothing of the mapping stays
  // resident) and goes with its masks to the writer, in order.
  uint32_t written = 0;
  bool readFailed = false;
  auto write = [&](uint32_t i) {
    if (StreamWavFrames(source.info, sound.data(), i * g.framesPerSplit, g.framesPerSplit) != g.framesPerSplit) {
      readFailed = true;
      return false;
    }
    if (!writer.AddSplit(table->Masks(i), sound.data(), error)) return false;
    ++written;
    return true;
  };
  if (!PrepareSourceSplits(source.info, g, *table, context, 0, write)) {
    if (!error.empty()) return false;
    if (Terminated(context)) return Fail(error, "stopped");
    return Fail(error, "cannot read split " + std::to_string(written) + " of the source" +
                           (readFailed ? "" : ", or the beat analyser failed"));
  }
  CloseWavFile(source.info);
  return writer.Finish(error);
}

bool DatabaseBuildWorker(WorkerContext* context) {
  auto& job = *static_cast<DatabaseBuildJob*>(context->pUserData);
  SetProgressText(context, kAnalysingSourceSplits);
  return BuildSplitsDatabase(job.request, context, job.error);
}

}  // namespace kestrune
