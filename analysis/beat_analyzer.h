// Reduces one split of sound to its beat masks: a 1024-point FFT per block of
// 1024 frames, 32 sub-bands of increasing width, and one bit per band and
// block that tells whether the block's band energy reaches the band's mean
// over the split.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "analysis/beat_vector.h"
#include "analysis/fft.h"
#include "analysis/kernels.h"
#include "common/sample_frame.h"

namespace kestrune {

inline constexpr int32_t kBlockFrames = 1024;  // also the FFT size
inline constexpr int32_t kFftOrder = 10;
inline constexpr int32_t kBandCount = 32;
// Largest history that keeps historyLength * 1024 frames within 32 bits.
inline constexpr int32_t kMaxHistoryLength = INT32_MAX / kBlockFrames;

// Releases what calloc gave.
struct CallocDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

// One analyser per job; it owns every buffer it points to. Constructed with
// every buffer absent; destruction releases them.
struct BeatAnalyzer {
  int32_t blockFrames = 0;
  int32_t bandCount = 0;
  int32_t historyLength = 0;                // H: blocks in one analysis
  std::unique_ptr<int32_t[]> bandWidths;    // [32] bins per band, band 0 first
  std::unique_ptr<double[]> magnitudes;     // [1024] spectrum of the latest block
  std::unique_ptr<double[]> bandMeans;      // [32] running sum of energy / H
  int32_t blocksFed = 0;                    // also the history row the next block fills
  std::unique_ptr<std::unique_ptr<double[]>[]> history;  // H rows of [32] band energies
  std::unique_ptr<uint32_t[]> beatMasks;    // [H] the output, block 0 first
  std::unique_ptr<FftEngine> fft;
  int32_t sampleCapacity = 0;               // H * 1024 frames
  int32_t sampleCount = 0;
  // Left + i*right, scaled to 0..1. From calloc: the system gives large
  // blocks as zero pages that cost memory only once written, so a history
  // whose blocks are never all fed costs only what is fed.
  std::unique_ptr<Complex[], CallocDeleter> samples;
  std::unique_ptr<Complex[]> fftBuffer;     // [1024] the FFT's work area
  // The vector path's tables and work area (beat_vector.h); absent while the
  // scalar path analyses. It reads each block straight from the frames given
  // to FeedBeatAnalyzer, so samples and fftBuffer stay unused then.
  std::unique_ptr<detail::BeatVectorWork> vectorWork;
  // Which vector code uses vectorWork: Avx2 or Avx512.
  KernelChoice vectorKernel = KernelChoice::Scalar;

  BeatAnalyzer() = default;
  ~BeatAnalyzer();
  BeatAnalyzer(const BeatAnalyzer&) = delete;
  BeatAnalyzer& operator=(const BeatAnalyzer&) = delete;
};

// Allocates and clears every buffer for H blocks; 1 on success, 0 when an
// allocation fails (the caller still releases).
int32_t SetupBeatAnalyzer(BeatAnalyzer& analyzer, int32_t historyLength);
// Starts a new analysis with the same H.
void ResetBeatAnalyzer(BeatAnalyzer& analyzer);
// Analyses one block of 1024 frames (4096 bytes, little-endian, left first).
// Returns 1 when this was the H-th block since the reset (beatMasks are then
// valid), else 0. A block beyond the history is refused: 0, nothing changes.
int32_t FeedBeatAnalyzer(BeatAnalyzer& analyzer, const uint8_t* block);
void ReleaseBeatAnalyzer(BeatAnalyzer& analyzer);

// Chooses the code that analyses the blocks of an analyser that is set up;
// the results are the same bits either way. SetupBeatAnalyzer starts with
// DefaultKernelChoice(). Returns the choice in force: the widest available
// code not wider than the one asked for, the scalar code when the vector
// tables cannot be had.
KernelChoice SetBeatAnalyzerKernel(BeatAnalyzer& analyzer, KernelChoice choice);

// Splits n bins into b bands of increasing width; the widths total n.
void PartitionBands(int32_t* widths, int32_t bandCount, int32_t binCount);

// Analyses one block on its own, outside any split: its 32 band energies,
// and each divided by H (the share a block adds to a band's mean), exactly as
// FeedBeatAnalyzer computes them for a block of a split. The masks of a split
// are then the blocks' energies compared with the sum of their shares, added
// from 0.0 in block order. Leaves the split in progress unusable (reset
// before feeding again). False when the analyser is not set up.
bool AnalyseSingleBlock(BeatAnalyzer& analyzer, const uint8_t* block, double* energies, double* shares);

// Blocks that overlap (a hop shorter than a block) share their samples: each
// frame is scaled once with ScaleFrames, then every block analysed from the
// scaled samples with AnalyseScaledBlock, which gives AnalyseSingleBlock's
// energies and shares bit for bit.
// Scales frames 0..n-1 as the analysis does: left[i] and right[i] are the
// samples read as unsigned 16-bit numbers divided by 65535.0.
void ScaleFrames(const BeatAnalyzer& analyzer, const uint8_t* frames, size_t n, double* left, double* right);
// left[0..1023] and right[0..1023] from ScaleFrames. False when the analyser
// is not set up.
bool AnalyseScaledBlock(BeatAnalyzer& analyzer, const double* left, const double* right, double* energies,
                        double* shares);

// Resets the analyser and feeds it the first H blocks of a split; true when
// the masks are valid.
bool AnalyseSplit(BeatAnalyzer& analyzer, const uint8_t* splitBytes);

}  // namespace kestrune
