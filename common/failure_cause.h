// Why a job failed, as the job knows it: a reason, the file it concerns and
// details, reported through the job host so that the desktop program and
// the command line can say more than their one failure message.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

enum class FailureReason : uint8_t {
  kCannotOpen,      // details: the system's reason
  kNotWav,          // not a RIFF/WAVE file, or its chunks are broken
  kWrongFormat,     // details: the file's format ("48000 Hz, 1 channel, 24-bit")
  kNotDatabase,     // not a splits database, or one that cannot be read
  kSampleTooShort,  // details: how many splits there are and how many are needed
  kSplitLength,     // a split length the analysis cannot take
  kOutputFolder,    // the output folder does not exist or cannot be written
  kReadFailed,      // reading the file failed part way
  kWriteFailed,     // writing a file failed (disk full, removed meanwhile)
  kOutOfMemory,
  kStopped,         // the user asked the run to stop
  kDeclined,        // the user chose not to write a result
};

enum class FailureFile : uint8_t { kNone, kSource, kSample, kOutput, kTemporary };

struct FailureCause {
  FailureReason reason = FailureReason::kReadFailed;
  FailureFile file = FailureFile::kNone;
  std::string path;
  std::string details;
};

// One or two sentences for people: which file, what is wrong with it.
std::string DescribeFailure(const FailureCause& cause);

}  // namespace kestrune
