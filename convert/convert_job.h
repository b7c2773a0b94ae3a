// A conversion run behind a progress window of the job host, and a converted
// copy in the temporary folder for the jobs that take only the target format.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "common/worker.h"
#include "convert/convert.h"

namespace kestrune::convert {

struct ConvertJob {
  std::filesystem::path input, output;
  Limits limits;
  Result result;
};

inline constexpr char kConvertingTitle[] = "Converting sound.";

// The worker: pUserData is a ConvertJob. Shows the input's name, the share
// done, and stops between chunks when asked.
bool ConvertWorker(WorkerContext* context);

// Converts input into output behind host's progress window (or without a
// window when host is null). The job's result tells how it went.
Result RunConversion(const std::filesystem::path& input, const std::filesystem::path& output, JobHost* host);

// A converted copy of a file, named NAME.wav after the original so that
// results named after it keep its name, in a folder of its own in the
// temporary folder. Removed with its folder when this goes.
class TemporaryCopy {
 public:
  TemporaryCopy() = default;
  ~TemporaryCopy();
  TemporaryCopy(const TemporaryCopy&) = delete;
  TemporaryCopy& operator=(const TemporaryCopy&) = delete;

  // False with the reason in error; a stopped run says so.
  bool Make(const std::filesystem::path& input, JobHost* host, std::string& error);
  // The same inside a job already running: progress is reported to it, and
  // the conversion stops when it returns false.
  bool MakeWithin(const std::filesystem::path& input, const Progress& progress, std::string& error);
  const std::filesystem::path& Path() const { return path_; }

 private:
  bool MakeWith(const std::filesystem::path& input,
                const std::function<Result(const std::filesystem::path& copy)>& convert, std::string& error);
  std::filesystem::path folder_, path_;
};

}  // namespace kestrune::convert
