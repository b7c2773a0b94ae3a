#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/shared_options.h"
#include "common/path_text.h"
#include "common/sample_frame.h"
#include "common/split_geometry.h"
#include "matching/match_settings.h"
#include "matching/match_steps.h"
#include "matching/source_splits.h"

namespace kestrune::cli {
namespace {

struct MasksOptions {
  SharedOptions shared;
  SplitLengthOptions split;
  std::string file;
};

struct MasksJob {
  std::filesystem::path path;
  uint32_t splitMilliseconds = 0;
  JobHost* host = nullptr;
  std::unique_ptr<SourceSplitTable> table;
};

bool MasksWorker(WorkerContext* context) {
  auto& job = *static_cast<MasksJob*>(context->pUserData);
  WavInfo info;
  if (!OpenWavFile(info, job.path, false) || !CheckWavFormat(info, job.host)) return false;
  const SplitGeometry g = SplitGeometryFor(job.splitMilliseconds);
  try {
    job.table = std::make_unique<SourceSplitTable>(SourceSplitCount(info, g), g.blocksPerSplit);
  } catch (const std::bad_alloc&) {
    return false;
  }
  SetProgressText(context, "Prepare source beats information..");
  return PrepareSourceSplits(info, g, *job.table, context);
}

}  // namespace

Runner AddMasksCommand(CLI::App& app) {
  auto o = std::make_shared<MasksOptions>();
  CLI::App* cmd = app.add_subcommand("masks", "Print the beat mask words of every split of a WAV file");
  cmd->add_option("file", o->file, "WAV file")->required();
  AddSplitLengthOptions(*cmd, o->split, false, true);
  AddJsonFlag(*cmd, o->shared);
  AddQuietFlag(*cmd, o->shared);
  AddThreadsOption(*cmd, o->shared);

  return CommandRunner(cmd, &o->shared, [o](TerminalHost& host) -> int {
    MasksJob job;
    job.path = PathFromUtf8(o->file);
    job.splitMilliseconds = SplitLength(o->split);
    job.host = &host;
    if (!RunJob(host, "Calculating masks", MasksWorker, &job)) {
      host.ShowMessage(kProcessFailedMessage, kCaption);
      return kExitFailed;
    }
    const SourceSplitTable& table = *job.table;
    const uint32_t blocks = SplitGeometryFor(job.splitMilliseconds).blocksPerSplit;
    auto word = [&](uint32_t i, uint32_t k) { return LoadU32(table.Masks(i) + 4 * size_t{k}); };
    if (o->shared.json) {
      nlohmann::json splits = nlohmann::json::array();
      for (uint32_t i = 0; i < table.Count(); ++i) {
        nlohmann::json words = nlohmann::json::array();
        for (uint32_t k = 0; k < blocks; ++k) words.push_back(word(i, k));
        splits.push_back(std::move(words));
      }
      std::cout << nlohmann::json{{"blocks_per_split", blocks}, {"splits", std::move(splits)}}.dump() << "\n";
    } else {
      // "i: XXXXXXXX XXXXXXXX ...", the words as printf's %08X writes them,
      // formatted by hand and written in large pieces: printf's parsing of
      // its format for each of the hour's 151,200 words costs as much as a
      // tenth of the analysis.
      static constexpr char kHex[] = "0123456789ABCDEF";
      std::string text;
      text.reserve(size_t{1} << 16);
      for (uint32_t i = 0; i < table.Count(); ++i) {
        char index[16];
        const int n = std::snprintf(index, sizeof index, "%u:", i);
        text.append(index, static_cast<size_t>(n));
        for (uint32_t k = 0; k < blocks; ++k) {
          const uint32_t w = word(i, k);
          char digits[9] = {' '};
          for (int d = 0; d < 8; ++d) digits[8 - d] = kHex[(w >> (4 * d)) & 0xF];
          text.append(digits, 9);
        }
        text += '\n';
        if (text.size() >= (size_t{1} << 16) - 64 || i + 1 == table.Count()) {
          std::fwrite(text.data(), 1, text.size(), stdout);
          text.clear();
        }
      }
    }
    return kExitOk;
  });
}

}  // namespace kestrune::cli
