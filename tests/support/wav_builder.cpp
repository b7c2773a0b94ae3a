#include "support/wav_builder.h"

#include <random>

#include <stdexcept>

namespace kestrune::test {

WavBuilder& WavBuilder::Raw(const std::string& fourBytes) {
  if (fourBytes.size() != 4) throw std::invalid_argument("a chunk identifier has 4 bytes");
  bytes_.insert(bytes_.end(), fourBytes.begin(), fourBytes.end());
  return *this;
}

WavBuilder& WavBuilder::U16(uint16_t v) {
  bytes_.push_back(static_cast<uint8_t>(v & 0xFF));
  bytes_.push_back(static_cast<uint8_t>(v >> 8));
  return *this;
}

WavBuilder& WavBuilder::U32(uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(v >> shift));
  return *this;
}

WavBuilder& WavBuilder::Bytes(const std::vector<uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

WavBuilder& WavBuilder::RiffHeader(uint32_t riffSize) { return Raw("RIFF").U32(riffSize).Raw("WAVE"); }

WavBuilder& WavBuilder::Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t blockAlign,
                            uint16_t bits, uint32_t size) {
  WavBuilder body;
  body.U16(tag).U16(channels).U32(rate).U32(rate * blockAlign).U16(blockAlign).U16(bits);
  std::vector<uint8_t> b = body.bytes();
  b.resize(size);  // cut short, or padded with zeros (an extension size and the like)
  return ChunkHeader("fmt ", size).Bytes(b);
}

WavBuilder& WavBuilder::Chunk(const std::string& id, const std::vector<uint8_t>& body) {
  return ChunkHeader(id, static_cast<uint32_t>(body.size())).Bytes(body);
}

WavBuilder& WavBuilder::ChunkHeader(const std::string& id, uint32_t size) { return Raw(id).U32(size); }

std::vector<uint8_t> FrameBytes(const std::vector<int16_t>& interleaved) {
  WavBuilder b;
  for (int16_t s : interleaved) b.U16(static_cast<uint16_t>(s));
  return b.bytes();
}

std::vector<uint8_t> NoiseBytes(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(count);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

std::vector<uint8_t> PcmWav(const std::vector<uint8_t>& data, uint16_t channels, uint32_t rate,
                            uint16_t blockAlign, uint16_t bits) {
  if (blockAlign == 0) blockAlign = static_cast<uint16_t>(channels * 2);
  WavBuilder b;
  b.RiffHeader(static_cast<uint32_t>(36 + data.size())).Fmt(1, channels, rate, blockAlign, bits).Chunk("data", data);
  return b.bytes();
}

std::vector<uint8_t> StereoWav(const std::vector<int16_t>& interleaved) {
  std::vector<uint8_t> samples = FrameBytes(interleaved);
  return WavBuilder()
      .RiffHeader(static_cast<uint32_t>(36 + samples.size()))
      .Fmt(1, 2, 44100, 4, 16)
      .Chunk("data", samples)
      .bytes();
}

}  // namespace kestrune::test
