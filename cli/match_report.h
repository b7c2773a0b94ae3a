// Collects what a matching run wrote, for the JSON report.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "matching/match_settings.h"

namespace kestrune::cli {

class MatchReport : public MatchObserver {
 public:
  void OnGeometry(uint32_t splitMilliseconds, uint32_t framesPerSplit, uint32_t blocksPerSplit,
                  uint32_t sourceSplits) override;
  void OnMatch(uint32_t templateIndex, uint32_t sourceSplit, uint32_t agreement) override;
  void OnResultFile(int64_t templateIndex, const std::filesystem::path& path, bool written) override;

  // True when every result file that was attempted was written.
  bool AllWritten() const { return allWritten_; }
  nlohmann::json ToJson(uint32_t fragmentLength) const;
  // One line per result file, for people.
  std::vector<std::string> Summary() const;

 private:
  struct Match {
    uint32_t split;
    uint32_t agreement;
  };
  struct Template {
    std::vector<Match> matches;
    std::optional<std::filesystem::path> file;
  };
  Template& At(uint32_t index);

  uint32_t splitMilliseconds_ = 0;
  uint32_t framesPerSplit_ = 0;
  uint32_t blocksPerSplit_ = 0;
  uint32_t sourceSplits_ = 0;
  bool allWritten_ = true;
  std::optional<std::filesystem::path> oneFile_;
  bool oneFileFinished_ = false;
  std::vector<Template> templates_;
};

}  // namespace kestrune::cli
