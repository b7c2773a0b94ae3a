#include "support/wav_builder.h"

namespace kestrune::test {

WavBuilder& WavBuilder::Raw(const std::string& fourBytes) {
  bytes_.insert(bytes_.end(), fourBytes.begin(), fourBytes.end());
  return *this;
}

WavBuilder& WavBuilder::U16(uint16_t v) {
  bytes_.push_back(static_cast<uint8_t>(v));
  bytes_.push_back(static_cast<uint8_t>(v >> 8));
  return *this;
}

WavBuilder& WavBuilder::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
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
  b.resize(size, 0);
  return ChunkHeader("fmt ", size).Bytes(b);
}

WavBuilder& WavBuilder::Chunk(const std::string& id, const std::vector<uint8_t>& body) {
  return ChunkHeader(id, static_cast<uint32_t>(body.size())).Bytes(body);
}

WavBuilder& WavBuilder::ChunkHeader(const std::string& id, uint32_t size) { return Raw(id).U32(size); }

std::vector<uint8_t> FrameBytes(const std::vector<int16_t>& interleaved) {
  std::vector<uint8_t> out;
  out.reserve(interleaved.size() * 2);
  for (int16_t s : interleaved) {
    auto u = static_cast<uint16_t>(s);
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
  }
  return out;
}

std::vector<uint8_t> StereoWav(const std::vector<int16_t>& interleaved) {
  std::vector<uint8_t> data = FrameBytes(interleaved);
  WavBuilder b;
  b.RiffHeader(static_cast<uint32_t>(36 + data.size())).Fmt(1, 2, 44100, 4, 16).Chunk("data", data);
  return b.bytes();
}

}  // namespace kestrune::test
