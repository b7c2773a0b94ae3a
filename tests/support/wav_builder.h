// Builds WAV files byte by byte for tests, including broken ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::test {

class WavBuilder {
 public:
  WavBuilder& Raw(const std::string& fourBytes);
  WavBuilder& U16(uint16_t v);
  WavBuilder& U32(uint32_t v);
  WavBuilder& Bytes(const std::vector<uint8_t>& bytes);
  // "RIFF", a size, "WAVE".
  WavBuilder& RiffHeader(uint32_t riffSize = 0);
  // A "fmt " chunk declaring size bytes; its body holds the 16 format bytes,
  // then size - 16 zero bytes (or only the first size bytes when size < 16).
  WavBuilder& Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t blockAlign,
                  uint16_t bits, uint32_t size = 16);
  // A chunk with the given identifier and body.
  WavBuilder& Chunk(const std::string& id, const std::vector<uint8_t>& body);
  // A chunk header only, with a declared size.
  WavBuilder& ChunkHeader(const std::string& id, uint32_t size);

  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Pseudo-random bytes, the same for the same seed.
std::vector<uint8_t> NoiseBytes(size_t count, uint32_t seed);

// A 44-byte-header PCM WAV file around data (16 bits, block align = 2 * channels).
std::vector<uint8_t> PcmWav(const std::vector<uint8_t>& data, uint16_t channels = 2, uint32_t rate = 44100,
                            uint16_t blockAlign = 0, uint16_t bits = 16);

// A standard 44-byte-header WAV file: PCM, 2 channels, 16 bits, 44100 Hz.
std::vector<uint8_t> StereoWav(const std::vector<int16_t>& interleaved);
// Interleaved frames as little-endian bytes.
std::vector<uint8_t> FrameBytes(const std::vector<int16_t>& interleaved);

}  // namespace kestrune::test
