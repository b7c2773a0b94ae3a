// The declick ramp on fuzzed counts and samples. The buffer holds exactly
// `count` samples, so any write outside it is caught; the 16-bit and the byte
// versions must agree, and a ramp must leave the middle alone and end at 0.
#include <cstring>
#include <vector>

#include "analysis/declick.h"
#include "common/sample_frame.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using kestrune::fuzz::Require;
  if (size < 4) return 0;
  const uint32_t count = kestrune::LoadU32(data) % (1u << 17);
  const uint8_t* fill = data + 4;
  const size_t fillSize = size - 4;
  std::vector<int16_t> samples(count);
  std::vector<uint8_t> bytes(size_t{count} * 2);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = fillSize == 0 ? 0 : fill[i % fillSize];
  for (uint32_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(kestrune::LoadU16(&bytes[2 * size_t{i}]));
  const std::vector<int16_t> original = samples;

  kestrune::ApplyDeclickRamp(samples.data(), count);
  kestrune::ApplyDeclickRampBytes(bytes.data(), count);
  for (uint32_t i = 0; i < count; ++i) {
    Require(static_cast<int16_t>(kestrune::LoadU16(&bytes[2 * size_t{i}])) == samples[i],
            "the byte and the 16-bit ramps agree");
  }
  const uint32_t ramp = 2 * kestrune::kDeclickFrames;  // samples at each end
  if (count < ramp) Require(samples == original, "a fragment shorter than one ramp is left alone");
  if (count >= 2 * ramp) {
    Require(samples[0] == 0 && samples[1] == 0 && samples[count - 1] == 0 && samples[count - 2] == 0,
            "both ends are silent");
    Require(std::memcmp(samples.data() + ramp, original.data() + ramp, (count - 2 * ramp) * sizeof(int16_t)) == 0,
            "the middle is left alone");
  }
  return 0;
}
