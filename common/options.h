// Every option of a run with its range and default, shared by the desktop
// program, the command line and the jobs, and the rule that turns a tempo
// into a split length.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace kestrune {

// A whole-number option: the values low..high are accepted.
struct OptionRange {
  uint32_t low;
  uint32_t high;
  uint32_t byDefault;
  constexpr bool Holds(uint32_t value) const { return value >= low && value <= high; }
};

// The fields of the main dialog and the options of the command line.
inline constexpr OptionRange kSplitMsOption{100, 5000, 500};
inline constexpr OptionRange kBpmOption{10, 200, 120};
inline constexpr OptionRange kStartOffsetOption{0, 50000, 0};     // whole splits of the sample skipped
inline constexpr OptionRange kFragmentLengthOption{1, 50, 2};     // consecutive template splits
inline constexpr OptionRange kMinSimilarityOption{1, 100, 35};    // percent
inline constexpr OptionRange kSplitsPerFileOption{1, 1000000, 1000};  // splits per database data file
// The tempo range of the onset tempo estimate (tempo --method onset), in BPM.
inline constexpr OptionRange kOnsetMinBpmOption{30, 300, 80};
inline constexpr OptionRange kOnsetMaxBpmOption{30, 300, 180};
// Threads for the analysis; 0 as the default stands for one per processor.
inline constexpr OptionRange kThreadsOption{1, 1024, 0};

// The search for a piece anywhere.
inline constexpr OptionRange kFindTopOption{1, 100, 5};  // confident matches reported at most
inline constexpr uint32_t kFindHops[] = {1024, 512, 256, 128, 64};  // frames between candidate starts
inline constexpr uint32_t kDefaultFindHop = 128;
inline constexpr double kDefaultFindMinScore = 6.0;

// Split lengths the analysis itself can take (a splits database may hold any
// of them): below 24 ms a split holds no whole 1024-frame analysis block,
// beyond 97391 ms milliseconds * 44100 no longer fits in 32 bits.
inline constexpr uint32_t kMinAnalysableSplitMilliseconds = 24;
inline constexpr uint32_t kMaxSplitMilliseconds = 97391;

// Note fractions of a tempo, in the order the main window lists them.
inline constexpr const char* kNoteFractions[] = {"1/2", "1/4", "3/16", "1/8", "1/16"};
inline constexpr int32_t kNoteFractionCount = static_cast<int32_t>(std::size(kNoteFractions));
inline constexpr int32_t kDefaultNoteFraction = 1;  // "1/4"

// The split length in milliseconds for a tempo and a note fraction index, in
// unsigned 32-bit arithmetic; any other index counts as a quarter note. A
// tempo of 0 gives 0.
constexpr uint32_t SplitFromTempo(uint32_t bpm, int32_t noteFraction) {
  if (bpm == 0) return 0;
  const uint32_t base = 60000u / bpm;  // one quarter note
  switch (noteFraction) {
    case 0: return base * 2u;
    case 2: return base / 2u + base / 4u;
    case 3: return base / 2u;
    case 4: return base / 4u;
    default: return base;
  }
}

// The rule can leave the split-length range (10 BPM with 1/4 gives 6000 ms,
// 160 BPM with 1/16 gives 93 ms), and the two front ends answer that
// differently on purpose: the dialog holds the length in range
// (HeldSplitFromTempo), because a value out of range in its field would fail
// every later read and leave no way out but closing it; the command line
// refuses the run, because a script must not get silently different splits
// from the ones it asked for.
constexpr uint32_t HeldSplitFromTempo(uint32_t bpm, int32_t noteFraction) {
  return std::clamp(SplitFromTempo(bpm, noteFraction), kSplitMsOption.low, kSplitMsOption.high);
}

}  // namespace kestrune
