#include "matching/find_templates.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace kestrune {

uint64_t FindTemplates::AudibleBlocks() const {
  uint64_t audible = 0;
  for (uint32_t s : silentBlocks) audible += blocks - s;
  return audible;
}

uint64_t FindTemplates::ForegroundBlocks() const {
  uint64_t foreground = AudibleBlocks();
  for (uint32_t b : backgroundBlocks) foreground -= b;
  return foreground;
}

double FindTemplates::ComparedTemplates() const {
  if (!HasBackground()) return count;
  return static_cast<double>(count) * static_cast<double>(ForegroundBlocks()) / static_cast<double>(AudibleBlocks());
}

double FindTemplates::InformativeBlocks() const {
  double sum = 0.0;
  for (size_t i = 0; i < masks.size() && i < silent.size(); ++i) {
    if (silent[i] != 0 || (i < faint.size() && faint[i] != 0) ||
        (i < background.size() && background[i] != 0)) continue;
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

uint64_t BlockPower(const uint8_t* block) {
  uint64_t power = 0;
  for (size_t i = 0; i < size_t{kBlockFrames} * 2; ++i) {
    int16_t v;
    std::memcpy(&v, block + 2 * i, 2);
    power += static_cast<uint64_t>(int64_t{v} * v);
  }
  return power;
}

bool FaintBlock(uint64_t power) { return static_cast<double>(power) <= kFaintRms * kFaintRms * (2.0 * kBlockFrames); }

bool BackgroundBlock(uint64_t power, uint64_t loudestPower) {
  return static_cast<double>(power) * std::pow(10.0, kBackgroundDecibels / 10.0) <= static_cast<double>(loudestPower);
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
  out.background.assign(size_t{count} * h, 0);
  out.backgroundBlocks.assign(count, 0);
  std::vector<uint64_t> power(size_t{count} * h, 0);
  std::vector<uint8_t> buffer(size_t{frames} * 4);
  for (uint32_t t = 0; t < count; ++t) {
    const uint64_t at = first + t * spacing;
    if (at + frames > sample.Frames()) return false;
    if (sample.Read(static_cast<uint32_t>(at), frames, buffer.data()) != frames) return false;
    if (!AnalyseSplit(analyzer, buffer.data())) return false;
    std::memcpy(out.masks.data() + size_t{t} * h, analyzer.beatMasks.get(), size_t{h} * 4);
    for (uint32_t i = 0; i < h; ++i) {
      const uint8_t* block = buffer.data() + size_t{i} * kBlockFrames * 4;
      const bool silent = SilentBlock(block);
      out.silent[size_t{t} * h + i] = silent ? 1 : 0;
      out.silentBlocks[t] += silent ? 1 : 0;
      power[size_t{t} * h + i] = BlockPower(block);
      out.faint[size_t{t} * h + i] = silent || FaintBlock(power[size_t{t} * h + i]) ? 1 : 0;
    }
  }
  const uint64_t loudest = power.empty() ? 0 : *std::max_element(power.begin(), power.end());
  for (size_t i = 0; i < power.size(); ++i) {
    if (out.silent[i] != 0 || !BackgroundBlock(power[i], loudest)) continue;
    out.background[i] = 1;
    out.backgroundBlocks[i / h] += 1;
  }
  return true;
}

}  // namespace kestrune
