#include "matching/find_templates.h"

#include <bit>
#include <cstring>

namespace kestrune {

uint64_t FindTemplates::AudibleBlocks() const {
  uint64_t audible = 0;
  for (uint32_t s : silentBlocks) audible += blocks - s;
  return audible;
}

double FindTemplates::InformativeBlocks() const {
  double sum = 0.0;
  for (size_t i = 0; i < masks.size() && i < silent.size(); ++i) {
    if (silent[i] != 0 || (i < faint.size() && faint[i] != 0)) continue;
    const auto a = static_cast<double>(std::popcount(masks[i]));
    sum += 4.0 * a * (32.0 - a) / 1024.0;
  }
  return sum;
}

bool SilentBlock(const uint8_t* block) {
  uint32_t frame;
  std::memcpy(&frame, block, 4);
  const uint64_t pair = (uint64_t{frame} << 32) | frame;
  uint64_t differ = 0;
  for (size_t i = 0; i < size_t{kBlockFrames} * 4; i += 8) {
    uint64_t v;
    std::memcpy(&v, block + i, 8);
    differ |= v ^ pair;
  }
  return differ == 0;
}

bool FaintBlock(const uint8_t* block) {
  uint64_t power = 0;
  for (size_t i = 0; i < size_t{kBlockFrames} * 2; ++i) {
    int16_t v;
    std::memcpy(&v, block + 2 * i, 2);
    power += static_cast<uint64_t>(int64_t{v} * v);
  }
  return static_cast<double>(power) <= kFaintRms * kFaintRms * (2.0 * kBlockFrames);
}

bool AnalyseTemplates(FindAudio& sample, uint64_t first, uint64_t spacing, uint32_t count, BeatAnalyzer& analyzer,
                      FindTemplates& out) {
  const auto h = static_cast<uint32_t>(analyzer.historyLength);
  const uint32_t frames = h * uint32_t{kBlockFrames};
  out.count = count;
  out.blocks = h;
  out.masks.assign(size_t{count} * h, 0);
  out.silent.assign(size_t{count} * h, 0);
  out.silentBlocks.assign(count, 0);
  out.faint.assign(size_t{count} * h, 0);
  std::vector<uint8_t> buffer(size_t{frames} * 4);
  for (uint32_t t = 0; t < count; ++t) {
    const uint64_t at = first + t * spacing;
    if (at + frames > sample.Frames()) return false;
    if (sample.Read(static_cast<uint32_t>(at), frames, buffer.data()) != frames) return false;
    if (!AnalyseSplit(analyzer, buffer.data())) return false;
    std::memcpy(out.masks.data() + size_t{t} * h, analyzer.beatMasks.get(), size_t{h} * 4);
    for (uint32_t i = 0; i < h; ++i) {
      const bool silent = SilentBlock(buffer.data() + size_t{i} * kBlockFrames * 4);
      out.silent[size_t{t} * h + i] = silent ? 1 : 0;
      out.silentBlocks[t] += silent ? 1 : 0;
      out.faint[size_t{t} * h + i] = silent || FaintBlock(buffer.data() + size_t{i} * kBlockFrames * 4) ? 1 : 0;
    }
  }
  return true;
}

}  // namespace kestrune
