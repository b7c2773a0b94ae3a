// A build without libsndfile and libsoxr: nothing can be read or converted.
#include "convert/convert.h"

namespace kestrune::convert {

bool Available() { return false; }

std::optional<AudioFormat> Probe(const std::filesystem::path&, std::string& error) {
  error = kUnavailableMessage;
  return std::nullopt;
}

Result ConvertFile(const std::filesystem::path&, const std::filesystem::path&, const Progress&, const Limits&) {
  Result result;
  result.error = kUnavailableMessage;
  return result;
}

Result ConvertMemory(const uint8_t*, size_t, std::vector<uint8_t>&, const Limits&) {
  Result result;
  result.error = kUnavailableMessage;
  return result;
}

std::vector<std::string> ReadablePatterns() { return {"*.wav"}; }

}  // namespace kestrune::convert
