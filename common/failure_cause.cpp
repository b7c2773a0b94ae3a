#include "common/failure_cause.h"

namespace kestrune {
namespace {

std::string Subject(const FailureCause& cause) {
  const std::string quoted = cause.path.empty() ? std::string() : " \"" + cause.path + "\"";
  switch (cause.file) {
    case FailureFile::kSource:
      return "The source" + quoted;
    case FailureFile::kSample:
      return "The sample" + quoted;
    case FailureFile::kOutput:
      return "The output folder" + quoted;
    case FailureFile::kTemporary:
      return "The temporary file" + quoted;
    case FailureFile::kNone:
      break;
  }
  return cause.path.empty() ? std::string("The run") : "\"" + cause.path + "\"";
}

std::string WithDetails(std::string text, const std::string& details) {
  if (!details.empty()) text += ": " + details;
  return text + ".";
}

}  // namespace

std::string DescribeFailure(const FailureCause& cause) {
  const std::string who = Subject(cause);
  switch (cause.reason) {
    case FailureReason::kCannotOpen:
      return WithDetails(who + " cannot be opened", cause.details);
    case FailureReason::kNotWav:
      return WithDetails(who + " is not a WAV file", cause.details);
    case FailureReason::kWrongFormat:
      return WithDetails(who + " is not 44100 Hz, 2 channels, 16-bit PCM", cause.details);
    case FailureReason::kNotDatabase:
      return WithDetails(who + " is not a splits database that can be read", cause.details);
    case FailureReason::kSampleTooShort:
      return WithDetails(who + " is too short", cause.details);
    case FailureReason::kSplitLength:
      return WithDetails("The split length cannot be used", cause.details);
    case FailureReason::kOutputFolder:
      return WithDetails(who + " does not exist or cannot be written", cause.details);
    case FailureReason::kReadFailed:
      return WithDetails(who + " could not be read to the end", cause.details);
    case FailureReason::kWriteFailed:
      return WithDetails(who + " could not be written", cause.details);
    case FailureReason::kOutOfMemory:
      return WithDetails("There is not enough memory for this run", cause.details);
    case FailureReason::kStopped:
      return "Stopped at your request.";
    case FailureReason::kDeclined:
      return WithDetails("Nothing was written, as you chose", cause.details);
  }
  return who + " caused an unknown failure.";
}

}  // namespace kestrune
