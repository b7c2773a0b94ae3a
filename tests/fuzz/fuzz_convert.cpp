// Any bytes through the conversion entry point, read by libsndfile from
// memory: a refusal must give a reason, a success a whole WAV file in the
// target format whose header tells its true size.
#include <array>
#include <cstring>

#include "convert/convert.h"
#include "fuzz/fuzz_support.h"
#include "storage/wav_file.h"

using namespace kestrune;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> output;
  convert::Limits limits;
  // Bounds the work an upsampled input can ask for, as a time limit would.
  limits.maxOutputFrames = 1u << 20;
  const convert::Result result = convert::ConvertMemory(data, size, output, limits);
  if (!result.Succeeded()) {
    fuzz::Require(!result.error.empty(), "a refusal gives its reason");
    return 0;
  }
  fuzz::Require(result.status == convert::Status::Converted, "memory input is always converted");
  fuzz::Require(result.input.has_value() && result.input->channels > 0, "a converted input has a format");
  fuzz::Require(result.outputFrames <= limits.maxOutputFrames, "the limit holds");
  fuzz::Require(output.size() == 44 + result.outputFrames * 4, "the output is the header and whole frames");
  std::array<uint8_t, 44> header{};
  fuzz::Require(MakeWavHeader(header, static_cast<uint32_t>(result.outputFrames * 4), 44100, 4, 1, 2, 16),
                "the header can be made");
  fuzz::Require(std::memcmp(header.data(), output.data(), 44) == 0, "the header is the target format's");
  return 0;
}
