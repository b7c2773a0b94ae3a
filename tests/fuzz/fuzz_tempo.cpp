// The tempo estimator on short fuzzed files, through the mapping as the
// program reads them; its block estimate on the input's bytes taken as
// frames, repeated to lengths where the autocorrelation runs; and its peak
// picking on a fuzzed lag table.
#include <vector>

#include "analysis/tempo_estimator.h"
#include "common/sample_frame.h"
#include "fuzz/fuzz_support.h"

namespace {

using kestrune::fuzz::Require;

bool InRange(double tempo) { return tempo == 0.0 || (tempo >= 80.0 && tempo <= 180.0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto path = kestrune::fuzz::ScratchFolder() / "input.wav";
  kestrune::fuzz::WriteFile(path, data, size);
  double tempo = -1.0;
  const bool estimated = kestrune::EstimateFileTempo(nullptr, tempo, path);
  Require(estimated == (tempo != 0.0), "true exactly when a tempo is stored");
  Require(InRange(tempo), "a file's tempo lies within 80..180 BPM");

  if (size < 8) return 0;
  // Frames: the input repeated, up to 400,000 frames in blocks of any length.
  const uint32_t frames = kestrune::LoadU32(data) % 400000u;
  const uint32_t blockFrames = 1 + kestrune::LoadU32(data + 4) % 200000u;
  std::vector<uint8_t> sound(size_t{frames} * 4);  // exactly the frames: a read past them is caught
  const size_t span = size - 8;
  for (size_t i = 0; i < sound.size(); ++i) sound[i] = span == 0 ? 0 : data[8 + i % span];
  double blocks = -1.0;
  kestrune::EstimateTempo(sound.data(), static_cast<int32_t>(frames), static_cast<int32_t>(blockFrames), &blocks,
                          nullptr, nullptr);
  Require(blocks == -1.0 || InRange(blocks), "a combined tempo lies within 80..180 BPM");

  // A lag table of non-negative values, as autocorrelations are.
  std::vector<double> table(kestrune::kLagTableSize, 0.0);
  for (int32_t m = kestrune::kLowestLag; m <= kestrune::kHighestLag; ++m) {
    const size_t at = 2 * static_cast<size_t>(m) % size;
    table[m] = (data[at] | (data[(at + 1) % size] << 8)) * 0.001;
  }
  const double lag = kestrune::PickPeakLag(table.data());
  Require(lag == 0.0 || (lag >= kestrune::kLowestLag && lag <= kestrune::kHighestLag), "a peak lies within the lags");
  return 0;
}
