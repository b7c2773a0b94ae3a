#include "matching/find_wav_scan.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "common/ordered_pool.h"
#include "matching/find_kernels.h"

namespace kestrune {
namespace {

constexpr uint32_t kChunkBlocks = 512;  // blocks read at once

struct Geometry {
  uint32_t hop, step, blocks, templates;  // step: hops per 1024 frames
  uint64_t fragmentHops;                  // hops from one template to the next
  uint64_t lag;                           // hops from a candidate's first block to its last
};

// One thread's state: an analyser for single blocks, the ring of recent
// blocks and a buffer of source frames.
class SegmentScanner {
 public:
  SegmentScanner(const WavScanWork& work, const Geometry& g, StartScores& scores) : work_(work), g_(g), scores_(scores) {}

  bool Setup() {
    if (!SetupBeatAnalyzer(analyzer_, static_cast<int32_t>(g_.blocks))) return false;
    slots_ = static_cast<uint32_t>(g_.lag) + 1;
    try {
      energies_.assign(size_t{slots_} * 32, 0.0);
      shares_.assign(size_t{slots_} * 32, 0.0);
      silent_.assign(slots_, 0);
      masks_.assign(g_.blocks, 0);
      candidateSilent_.assign(g_.blocks, 0);
      chunk_.assign((size_t{kChunkBlocks - 1} * g_.hop + kBlockFrames) * 4, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Scores starts [s0, s1).
  bool Scan(uint64_t s0, uint64_t s1) {
    const uint64_t lastCandidate = s1 - 1 + (g_.templates - 1) * g_.fragmentHops;
    const uint64_t lastBlock = lastCandidate + g_.lag;
    const EnergyRing ring{energies_.data(), shares_.data(), slots_};
    uint64_t chunkFirst = 0, chunkEnd = 0;  // blocks held in chunk_
    uint32_t slot = 0;
    uint32_t silentInRing = 0;
    std::fill(silent_.begin(), silent_.end(), 0);
    for (uint64_t b = s0; b <= lastBlock; ++b) {
      if (b >= chunkEnd) {
        chunkFirst = b;
        chunkEnd = std::min<uint64_t>(lastBlock + 1, b + kChunkBlocks);
        const auto frames = static_cast<uint32_t>((chunkEnd - 1 - b) * g_.hop + kBlockFrames);
        if (work_.audio->Read(static_cast<uint32_t>(b * g_.hop), frames, chunk_.data()) != frames) return false;
      }
      const uint8_t* block = chunk_.data() + (b - chunkFirst) * g_.hop * 4;
      AnalyseSingleBlock(analyzer_, block, energies_.data() + size_t{slot} * 32, shares_.data() + size_t{slot} * 32);
      const uint8_t silent = SilentBlock(block) ? 1 : 0;
      silentInRing = silentInRing - silent_[slot] + silent;
      silent_[slot] = silent;
      if (++slot == slots_) slot = 0;
      if (b < s0 + g_.lag) continue;
      // The candidate whose last block this was; its first block is in the
      // slot the next block will fill.
      const uint64_t c = b - g_.lag;
      CandidateMasks(ring, slot, g_.step, g_.blocks, masks_.data());
      const uint8_t* cs = nullptr;
      if (silentInRing != 0) {
        uint32_t at = slot;
        bool any = false;
        for (uint32_t i = 0; i < g_.blocks; ++i) {
          candidateSilent_[i] = silent_[at];
          any = any || silent_[at] != 0;
          at += g_.step;
          if (at >= slots_) at -= slots_;
        }
        if (any) cs = candidateSilent_.data();
      }
      // Template t compares with this candidate for the start c - t * fragmentHops.
      for (uint32_t t = 0; t < g_.templates; ++t) {
        const uint64_t back = t * g_.fragmentHops;
        if (back > c || c - back < s0) break;
        const uint64_t s = c - back;
        if (s >= s1) continue;
        AddComparison(*work_.templates, t, masks_.data(), cs, scores_.agreement[s], scores_.pairs[s]);
      }
    }
    work_.audio->Release(static_cast<uint32_t>(s0 * g_.hop), static_cast<uint32_t>((lastBlock - s0) * g_.hop));
    return true;
  }

 private:
  const WavScanWork& work_;
  const Geometry g_;
  StartScores& scores_;
  BeatAnalyzer analyzer_;
  uint32_t slots_ = 0;
  std::vector<double> energies_, shares_;
  std::vector<uint8_t> silent_;
  std::vector<uint32_t> masks_;
  std::vector<uint8_t> candidateSilent_;
  std::vector<uint8_t> chunk_;
};

}  // namespace

uint64_t WavStartCount(uint64_t sourceFrames, uint32_t hop, uint32_t templates, uint32_t blocks) {
  const uint64_t fragment = uint64_t{templates} * blocks * kBlockFrames;
  if (hop == 0 || blocks == 0 || sourceFrames < fragment) return 0;
  return (sourceFrames - fragment) / hop + 1;
}

bool ScanWavSource(const WavScanWork& work, StartScores& scores) {
  const FindTemplates& t = *work.templates;
  Geometry g{};
  g.hop = work.hop;
  g.step = kBlockFrames / work.hop;
  g.blocks = t.blocks;
  g.templates = t.count;
  g.fragmentHops = uint64_t{t.blocks} * g.step;
  g.lag = uint64_t{t.blocks - 1} * g.step;
  const uint64_t starts = scores.Count();
  if (starts == 0) return true;
  // Each segment also analyses the blocks of its last starts' later
  // templates; long segments keep that share small.
  const uint64_t overlap = uint64_t{t.count} * t.blocks * g.step;
  const uint64_t segment = std::max<uint64_t>({16 * overlap, 32768, (starts + 255) / 256});
  const auto segments = static_cast<uint32_t>((starts + segment - 1) / segment);

  OrderedPoolWork pool;
  pool.count = segments;
  pool.threads = std::max<uint32_t>(1, std::min(work.threads, segments));
  pool.makeWorker = [&]() -> PoolItem {
    auto scanner = std::make_shared<SegmentScanner>(work, g, scores);
    if (!scanner->Setup()) return {};
    return [scanner, segment, starts](uint32_t item) {
      const uint64_t s0 = uint64_t{item} * segment;
      return scanner->Scan(s0, std::min(starts, s0 + segment));
    };
  };
  pool.finished = [&](uint32_t item) {
    if (work.progress) work.progress(static_cast<double>(item + 1) / segments);
    return true;
  };
  pool.stopRequested = [&] { return work.stopRequested && work.stopRequested(); };
  return RunOrderedPool(pool);
}

}  // namespace kestrune
