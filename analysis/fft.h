// A radix-2 decimation-in-frequency complex FFT with the forward sign, no
// scaling, natural order in and out. The per-bin twiddles come from the
// recurrence u * w of each stage, not from a table: the last bits of every
// result depend on it.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>

namespace kestrune {

using Complex = std::complex<double>;

struct FftEngine {
  int32_t size = 0;   // 2 to the power order
  int32_t order = 0;
  std::unique_ptr<double[]> cosines;  // [order + 1]; index k: cos(angles[k]); index 0 is 0.0
  std::unique_ptr<double[]> sines;    // [order + 1]; index k: sin(angles[k]); index 0 is 0.0
  std::unique_ptr<double[]> angles;   // [order + 1]; index k: pi / 2^(order - k); index 0 is 0.0

  bool HasTables() const { return cosines && sines && angles; }
};

// Fills the engine for 2^order points. A table that cannot be allocated stays
// absent; the caller then skips the transform.
void SetupFft(FftEngine& engine, int32_t order);
void ReleaseFft(FftEngine& engine);

// Transforms data (2^order points) in place.
void RunFft(const FftEngine& engine, Complex* data, int32_t order);

// The twiddles u_0 .. u_{half-1} that RunFft's recurrence produces in stage
// (1..order), where half = 2^(order - stage): u_0 = (1, 0), u_{j+1} = u_j * w.
// False when the engine has no tables or the stage is out of range.
bool FftStageTwiddles(const FftEngine& engine, int32_t stage, double* re, double* im);

}  // namespace kestrune
