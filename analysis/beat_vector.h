// The vector path of the beat analyser. It computes what FeedBeatAnalyzer's
// scalar path computes, operation for operation:
//  - the unsigned samples divided by 65535.0 (as a product and a sum that
//    give the quotient's very bits, below);
//  - the decimation-in-frequency FFT, whose butterflies are independent
//    within a stage and so run four at a time; two stages per pass over the
//    data; the twiddles are the values of the recurrence u * w, worked out
//    once at set-up by the same recurrence;
//  - the magnitudes taken straight from the FFT's bit-reversed output order
//    into natural bin order, so no reversal pass;
//  - every band summed in its own vector lane, bin after bin in bin order
//    (the padding past a band's end is +0.0, which leaves a sum of
//    magnitudes unchanged), then divided by its width.
//
// The AVX-512 path does the same, eight values per instruction; the last
// four stages there work on groups of sixteen points, and the bands are
// summed from the magnitudes in bin order, eight bins of eight bands at a
// time through a transpose, each lane adding only its band's bins.
//
// This header is shared with source files compiled for AVX2 and AVX-512: it
// must hold declarations and plain data only, no inline code.
#pragma once

#include <cstdint>

namespace kestrune::detail {

inline constexpr int32_t kVecBins = 1024;
inline constexpr int32_t kVecBands = 32;
inline constexpr int32_t kVecStages = 10;
inline constexpr int32_t kVecBandSteps = 80;  // rows of the band table: the widest band (77) rounded up

// x / 65535.0 for a 16-bit x without a division: 1 / 65535 is
// 2^-16 (1 + 2^-16 + 2^-32 + ...), so x * kScaleHead (exact: x * 65537
// fits in 32 bits) plus x * kScaleTail (the rest of the series, rounded)
// rounds once to the quotient itself. The tests check all 65536 values.
inline constexpr double kScaleHead = 0x1.0001p-16;
inline constexpr double kScaleTail = 0x1.000100010001p-48;

struct alignas(64) BeatVectorWork {
  // Twiddles of stage k (1..10) start at twiddleStart[k]: 2^(10 - k) values.
  double twiddleRe[kVecBins];
  double twiddleIm[kVecBins];
  // The FFT's work area, real and imaginary parts apart.
  double re[kVecBins];
  double im[kVecBins];
  // Row t, lane j: magnitude of the t-th bin of band j, +0.0 past its end.
  double bandTable[kVecBandSteps * kVecBands];
  double bandWidths[kVecBands];
  // Where bin k goes in bandTable.
  uint16_t bandSlot[kVecBins];
  int32_t twiddleStart[kVecStages + 1];
  int32_t bandSteps;  // rows in use: the widest band
  // Rows each run of eight bands (0..7, 8..15, ...) needs: its widest band.
  int32_t bandStepsOfEight[kVecBands / 8];
  // The AVX-512 path: each band's first bin, and the magnitudes in bin
  // order with room for reading a band's eight-row tiles past the end.
  int32_t bandStart[kVecBands];
  alignas(64) double binOrder[kVecBins + kVecBandSteps + 8];
};

// Analyses one block of 1024 frames (4096 bytes): writes the 1024 magnitudes
// in bin order, the 32 band energies into row, and adds row[j] / historyLength
// to bandMeans[j]. Needs AVX2.
void AnalyseBlockAvx2(BeatVectorWork& work, const uint8_t* block, double* magnitudes, double* row,
                      double* bandMeans, double historyLength);

// The same on samples already scaled (ScaleFramesAvx2): left[0..1023] and
// right[0..1023].
void AnalyseScaledBlockAvx2(BeatVectorWork& work, const double* left, const double* right, double* magnitudes,
                            double* row, double* bandMeans, double historyLength);

// The samples of frames 0..n-1 (n a multiple of 4), scaled as the analysis
// scales them: left[i] and right[i] are sample / 65535.0. Needs AVX2.
void ScaleFramesAvx2(const uint8_t* frames, int32_t n, double* left, double* right);

// The same two with AVX-512 (F, DQ, VL). The same bits.
void AnalyseBlockAvx512(BeatVectorWork& work, const uint8_t* block, double* magnitudes, double* row,
                        double* bandMeans, double historyLength);
void AnalyseScaledBlockAvx512(BeatVectorWork& work, const double* left, const double* right, double* magnitudes,
                              double* row, double* bandMeans, double historyLength);

}  // namespace kestrune::detail
