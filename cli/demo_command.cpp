#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include "analysis/tempo_worker.h"
#include "cli/commands.h"
#include "cli/demo_sound.h"
#include "cli/match_command.h"
#include "cli/options.h"
#include "cli/shared_options.h"
#include "common/path_text.h"
#include "common/sample_frame.h"
#include "platform/file.h"
#include "storage/wav_file.h"

namespace kestrune::cli {
namespace {

struct DemoOptions {
  SharedOptions shared;
  std::string folder;
};

bool WriteStereoWav(const std::filesystem::path& path, const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  for (size_t i = 0; i < samples.size(); ++i) StoreU16(&bytes[2 * i], static_cast<uint16_t>(samples[i]));
  if (!WriteWavHeader(path, static_cast<uint32_t>(bytes.size()), 44100, 4, 1, 2, 16)) return false;
  platform::File file = platform::File::OpenWrite(path);
  return file && file.SeekToEnd() && file.Write(bytes.data(), bytes.size());
}

std::filesystem::path NewDemoFolder() {
  auto unique = platform::MakeUniqueFile(platform::TempFolder(), "kestrune-demo-");
  if (!unique) return {};
  std::error_code ec;
  std::filesystem::remove(*unique, ec);
  return std::filesystem::create_directory(*unique, ec) ? *unique : std::filesystem::path();
}

}  // namespace

Runner AddDemoCommand(CLI::App& app) {
  auto o = std::make_shared<DemoOptions>();
  CLI::App* cmd = app.add_subcommand(
      "demo", "Synthesise a groove and a re-arranged piece of it, then find the piece in the groove");
  cmd->add_option("folder", o->folder, "Folder for the files (default: a new folder under the temporary folder)");
  AddQuietFlag(*cmd, o->shared);

  return CommandRunner(cmd, &o->shared, [o](TerminalHost& host) -> int {
    const std::filesystem::path folder = o->folder.empty() ? NewDemoFolder() : PathFromUtf8(o->folder);
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
      std::cerr << "kestrune-cli: cannot use the folder " << folder << "\n";
      return kExitFailed;
    }
    const auto groove = SynthesiseGroove();
    // The sample plays beats of the groove in another order.
    const std::vector<uint32_t> order = {9, 10, 3, 4, 22, 23, 24, 25};
    const auto source = folder / "groove.wav";
    const auto sample = folder / "piece.wav";
    if (!WriteStereoWav(source, groove) || !WriteStereoWav(sample, Rearrange(groove, order))) {
      std::cerr << "kestrune-cli: cannot write the demonstration sounds into " << folder << "\n";
      return kExitFailed;
    }
    std::cout << "source: " << Utf8Of(source) << " (16 s of drums and bass at 120 BPM)\n"
              << "sample: " << Utf8Of(sample) << " (beats 9, 10, 3, 4, 22, 23, 24, 25 of the source)\n";

    TempoRequest tempo;
    tempo.sourcePath = source;
    if (RunJob(host, "Calculating BPM", TempoWorker, &tempo)) {
      std::printf("estimated tempo of the source: %.1f BPM\n", tempo.tempo);
    }
    std::cout << "matching the first 4 beats of the sample, 500 ms splits, 80 % minimum similarity\n";

    MatchSettings settings;
    settings.sourcePath = source;
    settings.samplePath = sample;
    settings.splitMilliseconds = 500;
    settings.fragmentLength = 4;
    settings.minSimilarity = 80;
    settings.outputFolder = OutputFolder(Utf8Of(folder));
    MatchReport report;
    if (!RunMatch(settings, host, report)) return kExitFailed;
    const auto json = report.ToJson(settings.fragmentLength);
    for (const auto& t : json["templates"]) {
      std::cout << "template split " << t["template"].get<uint32_t>() << ":";
      for (const auto& m : t["matches"]) {
        std::printf(" source split %u (%.1f %%)", m["split"].get<uint32_t>(), m["similarity"].get<double>());
        std::fflush(stdout);
      }
      std::cout << "\n";
    }
    for (const auto& line : report.Summary()) std::cout << line << "\n";
    return report.AllWritten() ? kExitOk : kExitFailed;
  });
}

}  // namespace kestrune::cli
