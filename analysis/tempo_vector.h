// The vector steps of the tempo estimator. They give the bits of the plain
// steps in tempo_estimator.cpp:
//  - the envelope: the mono values (left + right) * 0.5 are half-integers and
//    every running sum of 88 of them stays far below 2^52, so the plain
//    double sum is exact; summing left + right as integers and halving once
//    gives the same double;
//  - the autocorrelation: four lags per register, each lane summing its own
//    lag's products in increasing j, so every lag's order of additions is
//    the plain one.
//
// Shared with a source file compiled for AVX2: declarations only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrune::detail {

// envelope[g] = (sum over frames 88g..88g+87 of left + right) * 0.5 / 88,
// for g < groups. Frames are 4-byte little-endian stereo frames.
void TempoEnvelopeAvx2(const uint8_t* frames, size_t groups, double* envelope);

// table[m] = (double)(float)(sum over j < terms of e[j] * e[j + m], in
// increasing j) for m = 130..667. e holds terms + 668 values.
void AutocorrelateAvx2(const double* e, size_t terms, double* table);

}  // namespace kestrune::detail
