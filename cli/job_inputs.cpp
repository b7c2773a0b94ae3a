#include "cli/job_inputs.h"

#include <iostream>

#include "common/path_text.h"

namespace kestrune::cli {

void AddConvertFlag(CLI::App& cmd, bool& convert) {
  cmd.add_flag("--convert", convert,
               "Convert inputs that are not 44100 Hz 2-channel 16-bit PCM WAV files into temporary copies first");
}

std::optional<std::filesystem::path> JobInputs::Prepare(const std::filesystem::path& file) {
  if (convert::IsTargetFormat(file)) return file;
  if (!convert_) {
    refused_.push_back(file);
    return file;
  }
  std::string error;
  convert::TemporaryCopy& copy = copies_.emplace_back();
  if (!copy.Make(file, &host_, error)) {
    std::cerr << "kestrune-cli: cannot convert " << Utf8Of(file) << ": " << error << "\n";
    return std::nullopt;
  }
  return copy.Path();
}

void JobInputs::ExplainRefusals() const {
  for (const auto& file : refused_) {
    std::string error;
    const auto format = convert::Probe(file, error);
    if (!format) {
      std::cerr << "kestrune-cli: " << Utf8Of(file) << ": " << error << "\n";
      continue;
    }
    std::cerr << "kestrune-cli: " << Utf8Of(file) << " is " << convert::Describe(*format)
              << ", not 44100 Hz, 2 channels, 16-bit PCM WAV; add --convert, or make a copy with: "
              << "kestrune-cli convert " << Utf8Of(file) << " COPY.wav\n";
  }
}

}  // namespace kestrune::cli
