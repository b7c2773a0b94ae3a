#include "cli/match_report.h"

#include <string>

#include "common/path_text.h"

namespace kestrune::cli {

void MatchReport::OnGeometry(uint32_t splitMilliseconds, uint32_t framesPerSplit, uint32_t blocksPerSplit,
                             uint32_t sourceSplits) {
  splitMilliseconds_ = splitMilliseconds;
  framesPerSplit_ = framesPerSplit;
  blocksPerSplit_ = blocksPerSplit;
  sourceSplits_ = sourceSplits;
}

MatchReport::Template& MatchReport::At(uint32_t index) {
  if (templates_.size() <= index) templates_.resize(size_t{index} + 1);
  return templates_[index];
}

void MatchReport::OnMatch(uint32_t templateIndex, uint32_t sourceSplit, uint32_t agreement) {
  At(templateIndex).matches.push_back({sourceSplit, agreement});
}

void MatchReport::OnResultFile(int64_t templateIndex, const std::filesystem::path& path, bool written) {
  if (!written) allWritten_ = false;
  if (templateIndex < 0) {
    oneFileFinished_ = true;
    if (written) oneFile_ = path;
  } else if (written) {
    At(static_cast<uint32_t>(templateIndex)).file = path;
  } else {
    At(static_cast<uint32_t>(templateIndex));
  }
}

nlohmann::json MatchReport::ToJson(uint32_t fragmentLength) const {
  nlohmann::json out;
  out["split_ms"] = splitMilliseconds_;
  out["frames_per_split"] = framesPerSplit_;
  out["blocks_per_split"] = blocksPerSplit_;
  out["source_splits"] = sourceSplits_;
  const double bits = 32.0 * blocksPerSplit_;
  nlohmann::json templates = nlohmann::json::array();
  for (uint32_t j = 0; j < fragmentLength; ++j) {
    const Template empty;
    const Template& t = j < templates_.size() ? templates_[j] : empty;
    nlohmann::json entry;
    entry["template"] = j;
    const auto& file = oneFileFinished_ ? oneFile_ : t.file;
    entry["file"] = file ? nlohmann::json(Utf8Of(*file)) : nlohmann::json(nullptr);
    nlohmann::json matches = nlohmann::json::array();
    for (const Match& m : t.matches) {
      matches.push_back({{"split", m.split},
                         {"agreement", m.agreement},
                         {"similarity", bits > 0 ? m.agreement * 100.0 / bits : 0.0}});
    }
    entry["matches"] = std::move(matches);
    templates.push_back(std::move(entry));
  }
  out["templates"] = std::move(templates);
  return out;
}

std::vector<std::string> MatchReport::Summary() const {
  std::vector<std::string> lines;
  auto describe = [&](const std::filesystem::path& file, size_t splits) {
    lines.push_back("wrote " + Utf8Of(file) + " (" + std::to_string(splits) + " splits)");
  };
  if (oneFileFinished_) {
    size_t splits = 0;
    for (const auto& t : templates_) splits += t.matches.size();
    if (oneFile_) describe(*oneFile_, splits);
  } else {
    for (const auto& t : templates_) {
      if (t.file) describe(*t.file, t.matches.size());
    }
  }
  return lines;
}

}  // namespace kestrune::cli
