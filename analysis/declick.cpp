#include "analysis/declick.h"

#include <cstring>
#include <vector>

#include "common/sample_frame.h"

namespace kestrune {
namespace {

// Every reference value is read before anything is written; one whose
// position lies outside the buffer counts as 0.
template <typename Get, typename Set>
void Ramp(uint32_t count, Get get, Set set) {
  const int64_t n = count;
  auto reference = [&](int64_t index) -> double {
    return (index >= 0 && index < n) ? static_cast<double>(get(index)) / 688.0 : 0.0;
  };
  const double sL = reference(1376);
  const double sR = reference(1377);
  const double tR = reference(n - 1377);
  const double tL = reference(n - 1376);
  for (int64_t i = 0; i < kDeclickFrames; ++i) {
    const auto di = static_cast<double>(i);
    set(2 * i, static_cast<int16_t>(di * sL));
    set(n - 1 - 2 * i, static_cast<int16_t>(di * tR));
    set(2 * i + 1, static_cast<int16_t>(di * sR));
    set(n - 2 - 2 * i, static_cast<int16_t>(di * tL));
  }
}

}  // namespace

void ApplyDeclickRamp(int16_t* samples, uint32_t count) {
  if (samples == nullptr || count < 2 * kDeclickFrames) return;
  Ramp(count, [&](int64_t i) { return samples[i]; }, [&](int64_t i, int16_t v) { samples[i] = v; });
}

void ApplyDeclickRampBytes(uint8_t* bytes, uint32_t count) {
  if (bytes == nullptr || count < 2 * kDeclickFrames) return;
  Ramp(
      count, [&](int64_t i) { return static_cast<int16_t>(LoadU16(bytes + 2 * i)); },
      [&](int64_t i, int16_t v) { StoreU16(bytes + 2 * i, static_cast<uint16_t>(v)); });
}

}  // namespace kestrune
