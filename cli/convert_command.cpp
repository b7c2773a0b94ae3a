#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/shared_options.h"
#include "convert/convert_job.h"

namespace kestrune::cli {
namespace {

struct ConvertOptions {
  SharedOptions shared;
  std::string input, output;
};

nlohmann::json FormatJson(const convert::AudioFormat& f) {
  return {{"container", f.container}, {"encoding", f.encoding},   {"sample_rate", f.sampleRate},
          {"channels", f.channels},   {"bits_per_sample", f.bitsPerSample}, {"float", f.floatingPoint},
          {"frames", f.frames},       {"description", convert::Describe(f)}};
}

}  // namespace

Runner AddConvertCommand(CLI::App& app) {
  auto o = std::make_shared<ConvertOptions>();
  CLI::App* cmd = app.add_subcommand(
      "convert", "Convert an audio file (WAV, AIFF, FLAC, Ogg Vorbis/Opus, MP3, ...) into a 44100 Hz 2-channel 16-bit WAV file");
  cmd->add_option("input", o->input, "Audio file to read")->required();
  cmd->add_option("output", o->output, "WAV file to write")->required();
  AddJsonFlag(*cmd, o->shared, "Print JSON: the input's format and the output's frames");
  AddQuietFlag(*cmd, o->shared);

  return CommandRunner(cmd, &o->shared, [o](TerminalHost& host) -> int {
    if (!convert::Available()) {
      std::cerr << "kestrune-cli: " << convert::kUnavailableMessage << "\n";
      return kExitFailed;
    }
    const convert::Result result = convert::RunConversion(o->input, o->output, &host);
    if (result.status == convert::Status::Stopped) {
      std::cerr << "kestrune-cli: conversion of " << o->input << " stopped; nothing was written\n";
      return kExitFailed;
    }
    if (!result.Succeeded()) {
      std::cerr << "kestrune-cli: cannot convert " << o->input << ": " << result.error << "\n";
      return kExitFailed;
    }
    const bool copied = result.status == convert::Status::Copied;
    if (o->shared.json) {
      nlohmann::json report = {{"input", o->input},
                               {"output", o->output},
                               {"copied", copied},
                               {"output_frames", result.outputFrames}};
      if (result.input) report["input_format"] = FormatJson(*result.input);
      std::cout << report.dump(1) << "\n";
    } else if (!o->shared.quiet) {
      std::cerr << (copied ? "copied " : "converted ") << o->input;
      if (result.input) std::cerr << " (" << convert::Describe(*result.input) << ")";
      std::cerr << " to " << o->output << ": " << result.outputFrames << " frames\n";
    }
    return kExitOk;
  });
}

}  // namespace kestrune::cli
