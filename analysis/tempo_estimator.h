// Estimates the tempo of a recording in beats per minute. The sound is cut
// into blocks of four seconds; each block is reduced to an envelope of 88-frame
// means (501.136 values per second), passed through an onset detection filter
// and autocorrelated over lags 130..667. The strongest periodicity gives the
// block's tempo; block tempos of 80..180 BPM are kept and their median is the
// estimate.
//
// Frames are 4-byte little-endian stereo frames (signed 16-bit, left first),
// read in place and possibly unaligned.
#pragma once

#include <cstdint>
#include <filesystem>

#include "common/worker.h"

namespace kestrune {

inline constexpr int32_t kTempoDecimation = 88;       // frames per envelope value
inline constexpr double kEnvelopeRate = 501.1363636363636;  // 44100 / 88
inline constexpr int32_t kLowestLag = 130;
inline constexpr int32_t kHighestLag = 667;
inline constexpr int32_t kLagTableSize = 668;         // lags 0..667; 0..129 stay 0
inline constexpr double kLowestTempo = 80.0;
inline constexpr double kHighestTempo = 180.0;

// Called once after every block with the number of blocks and the index of
// the block just finished; 0 stops the estimate (which then ends with 0.0).
using TempoProgressSink = int32_t (*)(int32_t total, int32_t done, WorkerContext* progress);

// The progress sink of the tempo run: sends done * 100 / total (100 when total
// is 0) to the progress window while it may be reported to. Always answers
// nonzero ("go on").
int32_t TempoProgress(int32_t total, int32_t done, WorkerContext* progress);

// Sets tempo to 0.0, then estimates the tempo of the WAV file at path, read
// through a read-only mapping. Only 44100 Hz, two-channel, 16-bit PCM files
// (block align 4) are estimated; others give no estimate. True exactly when
// an estimate (nonzero) was stored in tempo.
bool EstimateFileTempo(WorkerContext* progress, double& tempo, const std::filesystem::path& path);

// Estimates blocks of blockFrames frames, consecutive from frames[0]; the
// frames after the last whole block are not used. Stores the median of the
// accepted block tempos in *tempo, or 0.0 when there is none or the sink asked
// to stop. Nothing is stored when frames or tempo is missing, frameCount or
// blockFrames is not positive, or the list of block results cannot be had.
void EstimateTempo(const uint8_t* frames, int32_t frameCount, int32_t blockFrames, double* tempo,
                   WorkerContext* progress, TempoProgressSink sink = TempoProgress);

// Keeps the estimates within 80.0..180.0 BPM (both inclusive), sorts them into
// descending order and returns the one at index count / 2; 0.0 when none is
// kept. Reorders the array: the kept estimates end up at its front.
double CombineBlockTempos(double* estimates, int32_t count);

// The tempo of one block of frameCount frames in BPM, or 0.0 when none is
// found (fewer than 668 envelope values, no clear peak, no buffers).
double EstimateBlockTempo(const uint8_t* frames, int32_t frameCount);

// The period of the strongest peak of a 668-entry lag table, in envelope
// values (fractional), or 0.0 when the table has no usable peak.
double PickPeakLag(const double* lagTable);

// Walks from start in direction step (+1 or -1) and returns the index of the
// lowest value met before the curve has risen more than 5 times net. The walk
// stays within lags 130..667; a start at or below 130, beyond 667 or an other
// step returns start unwalked.
int32_t FindValley(const double* lagTable, int32_t start, int32_t step);

// Walks outward from start in direction step (+1 or -1) and returns the last
// index whose neighbour further out is below level; -1 when the walk leaves
// lags 130..667 first, when level is above table[start] or start lies outside
// 130..667.
int32_t FindLevelBound(const double* lagTable, int32_t start, int32_t step, double level);

// Sum of i * table[i] over sum of table[i] for i from first to last inclusive,
// both sums in increasing i; 0.0 for an empty or out-of-table range or a zero
// sum of weights.
double LagCentroid(const double* lagTable, int32_t first, int32_t last);

}  // namespace kestrune
