// kestrune-cli find: the search for a piece anywhere in one or more sources.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/shared_options.h"
#include "common/path_text.h"
#include "matching/find_request.h"

namespace kestrune::cli {
namespace {

struct FindOptions {
  SharedOptions shared;
  SplitLengthOptions split;
  std::vector<std::string> sources;
  std::string database, sample, output;
  std::string startOffset = std::to_string(kStartOffsetOption.byDefault);
  std::string fragmentLength = std::to_string(kFragmentLengthOption.byDefault);
  std::string hop = std::to_string(kDefaultFindHop);
  std::string top = std::to_string(kFindTopOption.byDefault);
  std::string minScore = "6";
  bool write = false, declick = false;
};

double DecimalValue(const std::string& option, const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || errno != 0 || !std::isfinite(value)) {
    throw UsageError(option + ": Please enter a decimal number.");
  }
  return value;
}

uint32_t HopValue(const std::string& text) {
  const uint32_t hop = RangedValue("--hop", text, OptionRange{1, 1024, kDefaultFindHop});
  if (!ValidFindHop(hop)) throw UsageError("--hop: Please enter 1024, 512, 256, 128 or 64.");
  return hop;
}

// mm:ss.mmm, the minutes counted on past an hour.
std::string Timestamp(uint32_t frame) {
  const uint64_t ms = uint64_t{frame} * 1000 / 44100;
  char text[48];
  std::snprintf(text, sizeof text, "%02llu:%02llu.%03llu", static_cast<unsigned long long>(ms / 60000),
                static_cast<unsigned long long>(ms / 1000 % 60), static_cast<unsigned long long>(ms % 1000));
  return text;
}

nlohmann::json OrNull(const std::string& text) { return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text); }

nlohmann::json ToJson(const FindResult& r, const FindRequest& request) {
  nlohmann::json sources = nlohmann::json::array();
  for (const auto& s : r.sources) {
    sources.push_back({{"path", Utf8Of(s.path)},
                       {"frames", s.frames ? nlohmann::json(*s.frames) : nlohmann::json(nullptr)},
                       {"error", OrNull(s.error)}});
  }
  nlohmann::json matches = nlohmann::json::array();
  for (const auto& m : r.matches) {
    matches.push_back({{"source", Utf8Of(r.sources[m.source].path)},
                       {"frame", m.frame},
                       {"seconds", m.frame / 44100.0},
                       {"similarity", m.similarity},
                       {"agreement", m.agreement},
                       {"bits", m.bits},
                       {"score", m.score},
                       {"confident", m.confident},
                       {"file", m.file ? nlohmann::json(m.file->string()) : nlohmann::json(nullptr)}});
  }
  return {{"split_ms", r.splitMilliseconds},
          {"frames_per_split", r.framesPerSplit},
          {"blocks_per_split", r.blocksPerSplit},
          {"hop", r.hop},
          {"fragment_frames", r.fragmentFrames},
          {"sample", {{"path", Utf8Of(request.samplePath)}, {"first_frame", r.sampleFirstFrame}}},
          {"sources", sources},
          {"matches", matches}};
}

void PrintText(const FindResult& r) {
  for (const auto& m : r.matches) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "  %s  frame %u  similarity %.1f%%  z %.1f%s", Timestamp(m.frame).c_str(),
                  m.frame, m.similarity, m.score, m.confident ? "" : "  (not confident)");
    std::cout << Utf8Of(r.sources[m.source].path) << numbers;
    if (m.file) std::cout << "  -> " << m.file->string();
    std::cout << "\n";
  }
}

}  // namespace

Runner AddFindCommand(CLI::App& app) {
  auto o = std::make_shared<FindOptions>();
  CLI::App* cmd = app.add_subcommand(
      "find", "Find where a piece of a sample lies in one or more sources, at any offset, and how sure that is");
  auto* source = cmd->add_option("--source", o->sources, "Source sound file, or a folder of them; may be repeated. Files other than 44100 Hz 2-channel 16-bit PCM WAV are converted first");
  auto* database = cmd->add_option("--database", o->database, "Splits database (.qlmx) to search in instead");
  source->excludes(database);
  cmd->add_option("--sample", o->sample, "Sample sound file that holds the piece (converted first when it is not 44100 Hz 2-channel 16-bit PCM WAV)")->required();
  AddSplitLengthOptions(*cmd, o->split, true, false);
  database->excludes(o->split.splitMsOption)->excludes(o->split.bpmOption)->excludes(o->split.noteOption);
  AddNumberOption(*cmd, "--start-offset", o->startOffset,
                  "Splits of the sample before the piece (" + RangeText(kStartOffsetOption, true) + ")");
  AddNumberOption(*cmd, "--fragment-length", o->fragmentLength,
                  "Splits in the piece (" + RangeText(kFragmentLengthOption, true) + "; at least 2 with --database)");
  AddNumberOption(*cmd, "--hop", o->hop, "Frames between the starts tried: 1024, 512, 256, 128 or 64 (default 128)");
  AddNumberOption(*cmd, "--top", o->top, "Confident matches reported at most (" + RangeText(kFindTopOption, true) + ")");
  cmd->add_option("--min-score", o->minScore, "Score a match needs to be confident (decimal, default 6)")
      ->type_name("NUMBER");
  cmd->add_flag("--write", o->write, "Write each confident match as NAME_found_NN.wav");
  cmd->add_flag("--declick", o->declick, "Ramp both ends of every written match to silence");
  cmd->add_option("--output", o->output, "Output folder (default: the current folder)");
  AddJsonFlag(*cmd, o->shared, "Print a JSON report on standard output");
  AddQuietFlag(*cmd, o->shared);
  AddThreadsOption(*cmd, o->shared);

  return CommandRunner(cmd, &o->shared, [o](TerminalHost& host) -> int {
    if (o->sources.empty() == o->database.empty()) throw UsageError("one of --source and --database is required");
    FindJob job;
    FindRequest& request = job.request;
    request.samplePath = PathFromUtf8(o->sample);
    for (const auto& s : o->sources) request.sources.emplace_back(PathFromUtf8(s));
    request.database = PathFromUtf8(o->database);
    request.splitMilliseconds = o->database.empty() ? SplitLength(o->split) : 0;
    request.startOffset = RangedValue("--start-offset", o->startOffset, kStartOffsetOption);
    request.fragmentLength = RangedValue("--fragment-length", o->fragmentLength, kFragmentLengthOption);
    if (!o->database.empty() && request.fragmentLength < 2) {
      throw UsageError("--fragment-length: a search in a database needs at least 2 splits");
    }
    request.hop = HopValue(o->hop);
    request.top = RangedValue("--top", o->top, kFindTopOption);
    request.minScore = DecimalValue("--min-score", o->minScore);
    request.write = o->write;
    request.declick = o->declick;
    request.outputFolder = OutputFolder(o->output);
    request.host = &host;

    const bool ran = RunJob(host, "Searching.", FindWorker, &job);
    const FindResult& result = job.result;
    for (const auto& s : result.sources) {
      if (!s.error.empty()) std::cerr << "kestrune-cli: " << Utf8Of(s.path) << ": " << s.error << " (skipped)\n";
    }
    if (!ran) {
      std::cerr << "kestrune-cli: find: " << (result.stopped ? "stopped" : result.failure.empty() ? "the search failed" : result.failure)
                << "\n";
      return kExitFailed;
    }
    if (o->shared.json) {
      std::cout << ToJson(result, request).dump(1) << "\n";
    } else {
      PrintText(result);
    }
    const bool confident = !result.matches.empty() && result.matches.front().confident;
    if (!result.allWritten) {
      std::cerr << "kestrune-cli: find: a match could not be written\n";
      return kExitFailed;
    }
    return confident ? kExitOk : kExitNothingFound;
  });
}

}  // namespace kestrune::cli
