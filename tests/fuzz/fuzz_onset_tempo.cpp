// The onset tempo estimate on fuzzed files, read as the program reads them;
// the estimator fed the input's bytes as frames in fuzzed pieces within a
// fuzzed range; and the tempo picking on a fuzzed lag table.
#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/onset_tempo.h"
#include "common/sample_frame.h"
#include "fuzz/fuzz_support.h"

namespace {

using kestrune::fuzz::Require;

void CheckResult(const kestrune::OnsetTempo& r, double low, double high) {
  if (!r.estimated()) return;
  Require(std::isfinite(r.bpm) && r.bpm >= low && r.bpm <= high, "an estimate lies within the asked range");
  Require(r.confidence >= 0.0 && r.confidence <= 1.0, "a confidence lies within 0..1");
  Require(r.uncertain == (r.confidence < kestrune::kUncertainBelow), "uncertain exactly below 0.25");
  for (double a : r.alternatives) Require(a >= 30.0 && a <= 300.0, "alternatives lie within 30..300");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto path = kestrune::fuzz::ScratchFolder() / "input.wav";
  kestrune::fuzz::WriteFile(path, data, size);
  kestrune::OnsetTempo fromFile;
  const bool estimated = kestrune::EstimateFileOnsetTempo(nullptr, path, 80.0, 180.0, fromFile);
  Require(estimated == fromFile.estimated(), "true exactly when a tempo is stored");
  CheckResult(fromFile, 80.0, 180.0);

  if (size < 8) return 0;
  // A range from the first bytes: 0..655 BPM either way round, clamped by Setup.
  const double low = static_cast<double>(kestrune::LoadU16(data)) / 100.0;
  const double high = static_cast<double>(kestrune::LoadU16(data + 2)) / 100.0;
  const uint32_t piece = 1 + kestrune::LoadU32(data + 4) % 5000u;
  kestrune::OnsetTempoEstimator estimator;
  if (!estimator.Setup(low, high)) return 0;
  // The frames: the input repeated up to 12 seconds, fed in pieces.
  const size_t span = size - 8;
  std::vector<uint8_t> frames(4 * 12 * 44100);
  for (size_t i = 0; i < frames.size(); ++i) frames[i] = span == 0 ? 0 : data[8 + i % span];
  for (size_t at = 0; at < frames.size() / 4; at += piece) {
    const size_t take = std::min<size_t>(piece, frames.size() / 4 - at);
    std::vector<uint8_t> exact(frames.begin() + 4 * at, frames.begin() + 4 * (at + take));  // a read past it is caught
    estimator.Feed(exact.data(), take);
  }
  const double lo = std::clamp(std::min(low, high), 30.0, 300.0), hi = std::clamp(std::max(low, high), 30.0, 300.0);
  CheckResult(estimator.Result(), lo, hi);

  // A lag table of any values.
  std::vector<double> table(kestrune::OnsetTempoEstimator::kSalienceLags);
  for (size_t t = 0; t < table.size(); ++t) {
    const size_t at = 2 * t % size;
    table[t] = static_cast<int16_t>(data[at] | (data[(at + 1) % size] << 8)) * 0.01;
  }
  CheckResult(kestrune::PickOnsetTempo(table.data(), static_cast<int32_t>(table.size()), lo, hi), lo, hi);
  return 0;
}
