// The inputs of the jobs that take only 44100 Hz, 2-channel, 16-bit PCM WAV
// files. With --convert, other files are converted into temporary copies
// first (removed on every way out); without it, a refused file is explained
// after the job's own message.
#pragma once

#include <filesystem>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/worker.h"
#include "convert/convert_job.h"

namespace kestrune::cli {

// --convert: inputs that are not 44100 Hz 2-channel 16-bit PCM WAV files are
// converted into temporary copies first.
void AddConvertFlag(CLI::App& cmd, bool& convert);

class JobInputs {
 public:
  JobInputs(bool convert, JobHost& host) : convert_(convert), host_(host) {}

  // The path to give the job: the file itself, or its converted copy. Nothing
  // when the conversion failed or was stopped; the reason is printed.
  std::optional<std::filesystem::path> Prepare(const std::filesystem::path& file);

  // After a failed job: names the actual format of every input that is not in
  // the target format, with the ways to convert it.
  void ExplainRefusals() const;

 private:
  bool convert_;
  JobHost& host_;
  std::vector<std::filesystem::path> refused_;
  std::list<convert::TemporaryCopy> copies_;
};

}  // namespace kestrune::cli
