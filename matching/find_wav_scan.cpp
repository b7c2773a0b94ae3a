#include "matching/find_wav_scan.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/ordered_pool.h"
#include "matching/find_kernels.h"

namespace kestrune {
namespace {

// New frames read at once: with their samples scaled, about 300 KB, which
// stays in the processor's cache while the blocks over them are analysed.
constexpr uint32_t kChunkFrames = 16384;

struct Geometry {
  uint32_t hop, step, blocks, templates;  // step: hops per 1024 frames
  uint64_t fragmentHops;                  // hops from one template to the next
  uint64_t lag;                           // hops from a candidate's first block to its last
};

// One thread's state: an analyser for single blocks, the ring of recent
// blocks and a buffer of source frames.
class SegmentScanner {
 public:
  // templates: the fragment's, in the bit order of the candidates' masks.
  SegmentScanner(const WavScanWork& work, const FindTemplates& templates, const Geometry& g, StartScores& scores)
      : work_(work), templates_(templates), g_(g), scores_(scores) {}

  bool Setup() {
    if (!SetupBeatAnalyzer(analyzer_, static_cast<int32_t>(g_.blocks))) return false;
    // A candidate's blocks in its phase, and the blocks a batch adds: the
    // earliest block of a batch stays until its last candidate is compared.
    perPhase_ = g_.blocks + static_cast<uint32_t>(kBatch / g_.step) + 1;
    slots_ = perPhase_ * g_.step;
    try {
      energies_.assign(size_t{slots_} * 32, 0.0);
      shares_.assign(size_t{slots_} * 32, 0.0);
      silent_.assign(slots_, 0);
      masks_.assign(size_t{g_.blocks} * kScanRun, 0);
      candidateSilent_.assign(g_.blocks, 0);
      differ_.assign(g_.templates, 0);
      templateSet_.assign(g_.templates, 0);
      products_.assign(g_.templates, 0);
      setStride_ = (g_.blocks + 15) / 16 * 16;
      blockSets_.assign(size_t{setStride_} * g_.templates, 0);
      for (uint32_t t = 0; t < g_.templates; ++t) {
        templateSet_[t] = SetBits(templates_.Masks(t), g_.blocks);
        for (uint32_t i = 0; i < g_.blocks; ++i) {
          blockSets_[size_t{t} * setStride_ + i] = static_cast<uint32_t>(std::popcount(templates_.Masks(t)[i]));
        }
      }
      chunkBlocks_ = std::max<uint32_t>(1, kChunkFrames / g_.hop);
      const size_t frames = size_t{chunkBlocks_ - 1} * g_.hop + kBlockFrames;
      chunk_.assign(frames * 4, 0);
      left_.assign(frames, 0.0);
      right_.assign(frames, 0.0);
      quietHops_.assign(frames / g_.hop, 0);
      hopFrame_.assign(frames / g_.hop, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Scores starts [s0, s1).
  bool Scan(uint64_t s0, uint64_t s1) {
    const uint64_t lastCandidate = s1 - 1 + (g_.templates - 1) * g_.fragmentHops;
    const uint64_t lastBlock = lastCandidate + g_.lag;
    uint64_t chunkFirst = 0, chunkEnd = 0;  // blocks held in chunk_
    silentInRing_ = 0;
    std::fill(silent_.begin(), silent_.end(), 0);
    uint64_t pending = s0;  // the first candidate not yet compared
    for (uint64_t b = s0; b <= lastBlock; ++b) {
      if (b >= chunkEnd) {
        chunkFirst = b;
        chunkEnd = std::min<uint64_t>(lastBlock + 1, b + chunkBlocks_);
        const auto frames = static_cast<uint32_t>((chunkEnd - 1 - b) * g_.hop + kBlockFrames);
        if (work_.audio->Read(static_cast<uint32_t>(b * g_.hop), frames, chunk_.data()) != frames) return false;
        TakeChunk(frames);
      }
      // Overlapping blocks share their scaled samples and their silence:
      // each frame is scaled and looked at once.
      const size_t at = (b - chunkFirst) * g_.hop;
      const size_t slot = Slot(b - s0);
      AnalyseScaledBlock(analyzer_, left_.data() + at, right_.data() + at, energies_.data() + slot * 32,
                         shares_.data() + slot * 32);
      const uint8_t silent = SilentAt(at / g_.hop) ? 1 : 0;
      silentInRing_ = silentInRing_ - silent_[slot] + silent;
      silent_[slot] = silent;
      // Candidates up to the one whose last block this was are complete;
      // they are compared a batch at a time, one phase after another.
      if (b < s0 + g_.lag) continue;
      const uint64_t c = b - g_.lag;
      if (c + 1 - pending < kBatch && b < lastBlock) continue;
      for (uint64_t first = pending; first < std::min(pending + g_.step, c + 1); ++first) {
        // The phase's candidates lie in consecutive slots: their masks are
        // made a run at a time.
        for (uint64_t k = first; k <= c;) {
          const auto run = static_cast<uint32_t>(std::min<uint64_t>(kScanRun, (c - k) / g_.step + 1));
          const uint64_t r = k - s0;
          const size_t phase = size_t{static_cast<uint32_t>(r % g_.step)} * perPhase_;
          const EnergyRing ring{energies_.data() + phase * 32, shares_.data() + phase * 32, perPhase_};
          CandidateScanMasksRun(ring, static_cast<uint32_t>((r / g_.step) % perPhase_), run, g_.blocks, masks_.data());
          for (uint32_t q = 0; q < run; ++q, k += g_.step) Compare(k, s0, s1, masks_.data() + size_t{q} * g_.blocks);
        }
      }
      pending = c + 1;
    }
    work_.audio->Release(static_cast<uint32_t>(s0 * g_.hop), static_cast<uint32_t>((lastBlock - s0) * g_.hop));
    return true;
  }

 private:
  // Candidates compared at once. Their blocks stay in the ring meanwhile;
  // the candidates of one phase (a hop apart modulo a block) share all but
  // one block, so comparing them one after another finds those blocks in
  // the processor's nearest cache.
  static constexpr uint64_t kBatch = 64;

  // The ring holds each phase's blocks together: block r of the segment
  // (counted from its first) is in phase r % step at (r / step) % perPhase_.
  size_t Slot(uint64_t r) const {
    return size_t{static_cast<uint32_t>(r % g_.step)} * perPhase_ + static_cast<size_t>((r / g_.step) % perPhase_);
  }

  // Compares candidate c, whose masks these are, with the templates, for
  // the starts in [s0, s1) that use it.
  void Compare(uint64_t c, uint64_t s0, uint64_t s1, const uint32_t* masks) {
    const uint64_t r = c - s0;
    const size_t phase = size_t{static_cast<uint32_t>(r % g_.step)} * perPhase_;
    const auto first = static_cast<uint32_t>((r / g_.step) % perPhase_);
    const uint8_t* cs = nullptr;
    if (silentInRing_ != 0) {
      uint32_t at = first;
      bool any = false;
      for (uint32_t i = 0; i < g_.blocks; ++i) {
        candidateSilent_[i] = silent_[phase + at];
        any = any || silent_[phase + at] != 0;
        if (++at == perPhase_) at = 0;
      }
      if (any) cs = candidateSilent_.data();
    }
    // Template t compares with this candidate for the start c - t * fragmentHops.
    uint32_t candidateSet = 0;
    if (cs == nullptr) {
      candidateSet = CompareWithTemplates(masks, templates_.masks.data(), blockSets_.data(), setStride_,
                                          g_.templates, g_.blocks, differ_.data(), products_.data());
    }
    for (uint32_t t = 0; t < g_.templates; ++t) {
      const uint64_t back = t * g_.fragmentHops;
      if (back > c || c - back < s0) break;
      const uint64_t s = c - back;
      if (s >= s1) continue;
      if (cs == nullptr && templates_.silentBlocks[t] == 0) {
        scores_.agreement[s] += 32 * g_.blocks - differ_[t];
        scores_.pairs[s] = static_cast<uint16_t>(scores_.pairs[s] + g_.blocks);
        // The sum of BlockChance over the blocks.
        scores_.chance[s] += 1024 * g_.blocks - 32 * (templateSet_[t] + candidateSet) + 2 * products_[t];
        if (scores_.HasBackground() && templates_.backgroundBlocks[t] != 0) {
          AddBackground(templates_, t, masks, nullptr, scores_, s);
        }
      } else {
        AddComparison(templates_, t, masks, cs, scores_, s);
      }
    }
  }

  // Scales the frames just read and notes which hops of them are all zero.
  void TakeChunk(uint32_t frames) {
    ScaleFrames(analyzer_, chunk_.data(), frames, left_.data(), right_.data());
    const size_t words = size_t{g_.hop} * 4 / 8;  // a hop is a multiple of 64 frames
    for (uint32_t k = 0; k < frames / g_.hop; ++k) {
      const uint8_t* p = chunk_.data() + size_t{k} * words * 8;
      uint32_t frame;
      std::memcpy(&frame, p, 4);
      const uint64_t pair = (uint64_t{frame} << 32) | frame;
      uint64_t differ = 0;
      for (size_t i = 0; i < words; ++i) {
        uint64_t v;
        std::memcpy(&v, p + 8 * i, 8);
        differ |= v ^ pair;
      }
      quietHops_[k] = differ == 0 ? 1 : 0;
      hopFrame_[k] = frame;
    }
  }

  // The block of the chunk starting at hop k is digital silence (as
  // SilentBlock says): all its hops hold one frame value, the same.
  bool SilentAt(size_t k) const {
    for (uint32_t i = 0; i < g_.step; ++i) {
      if (quietHops_[k + i] == 0 || hopFrame_[k + i] != hopFrame_[k]) return false;
    }
    return true;
  }

  const WavScanWork& work_;
  const FindTemplates& templates_;
  const Geometry g_;
  StartScores& scores_;
  BeatAnalyzer analyzer_;
  uint32_t perPhase_ = 0;  // slots of each phase
  uint32_t slots_ = 0;
  uint32_t silentInRing_ = 0;
  std::vector<double> energies_, shares_;
  std::vector<uint8_t> silent_;
  std::vector<uint32_t> masks_;
  std::vector<uint8_t> candidateSilent_;
  std::vector<uint32_t> differ_;  // per template, against the candidate
  std::vector<uint32_t> templateSet_;  // per template, its set bits
  std::vector<uint32_t> blockSets_;    // per template, each block's set bits, setStride_ apart
  uint32_t setStride_ = 16;
  std::vector<uint32_t> products_;     // per template, SetBitProducts against the candidate
  uint32_t chunkBlocks_ = 1;
  std::vector<uint8_t> chunk_;
  std::vector<double> left_, right_;  // chunk_'s samples, scaled
  std::vector<uint8_t> quietHops_;    // per hop of chunk_: 1 when all its frames are its first
  std::vector<uint32_t> hopFrame_;    // per hop of chunk_: its first frame
};

}  // namespace

uint64_t WavStartCount(uint64_t sourceFrames, uint32_t hop, uint32_t templates, uint32_t blocks) {
  const uint64_t fragment = uint64_t{templates} * blocks * kBlockFrames;
  if (hop == 0 || blocks == 0 || sourceFrames < fragment) return 0;
  return (sourceFrames - fragment) / hop + 1;
}

bool ScanWavSource(const WavScanWork& work, StartScores& scores) {
  // Blocks are whole hops, and a hop whole 8-byte words (all of kFindHops).
  if (work.hop == 0 || kBlockFrames % work.hop != 0 || work.hop % 2 != 0) return false;
  const FindTemplates& t = *work.templates;
  // The templates in the bit order of the candidates' masks.
  FindTemplates scanTemplates;
  try {
    scanTemplates = t;
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (uint32_t& m : scanTemplates.masks) m = ToScanOrder(m);
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
    auto scanner = std::make_shared<SegmentScanner>(work, scanTemplates, g, scores);
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
