#include "storage/wav_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/sample_frame.h"
#include "storage/wav_file_internal.h"

namespace kestrune {
namespace {

// The largest file, and so the largest offset or size, a 32-bit RIFF file can describe.
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFu;
constexpr size_t kChunkHeaderSize = 8;
constexpr size_t kFormatBytes = 16;  // the part of the "fmt " body we keep
constexpr size_t kHeaderSize = 44;

enum class Mapping { Required, Preferred, Never };

bool IdIs(const uint8_t* id, const char (&name)[5]) { return std::memcmp(id, name, 4) == 0; }

void TakeFormat(WavInfo& info, const uint8_t* body) {
  info.formatTag = LoadU16(body);
  info.channels = LoadU16(body + 2);
  info.sampleRate = LoadU32(body + 4);
  info.byteRate = LoadU32(body + 8);
  info.blockAlign = LoadU16(body + 12);
  info.bitsPerSample = LoadU16(body + 14);
}

// The checks both walks share once the chunks are known. dataOffset may lie
// beyond fileSize (a data chunk header at the very end); the data is then empty.
bool Finish(WavInfo& info, uint64_t dataOffset, uint32_t declaredDataSize) {
  if (info.blockAlign == 0) return false;  // no frame size: nothing could be read
  uint64_t held = dataOffset < info.fileSize ? info.fileSize - dataOffset : 0;
  info.dataOffset = static_cast<uint32_t>(dataOffset);
  info.dataSize = static_cast<uint32_t>(std::min<uint64_t>(declaredDataSize, held));
  return true;
}

// Walks the chunks of the mapped file at bytes. Chunks follow one another with
// no pad byte after an odd-sized body. Every chunk is visited, so when "fmt "
// or "data" appear more than once the last one counts. Any "fmt " chunk that
// declares fewer than 16 bytes, or whose 16 bytes run past the end, fails the
// open, even when a later "fmt " chunk would be good: such a file is damaged.
bool WalkMapped(WavInfo& info, const uint8_t* bytes, uint64_t n) {
  if (n < 12 || !IdIs(bytes, "RIFF")) return false;
  std::memcpy(info.formType.data(), bytes + 8, 4);
  if (!IdIs(bytes + 8, "WAVE")) return false;

  bool haveFormat = false;
  bool haveData = false;
  uint64_t dataOffset = 0;
  uint32_t dataSize = 0;
  // 64-bit positions: no declared size can wrap the walk back to an earlier chunk.
  for (uint64_t pos = 12; pos < n && n - pos >= kChunkHeaderSize;) {
    const uint8_t* id = bytes + pos;
    uint32_t size = LoadU32(bytes + pos + 4);
    uint64_t body = pos + kChunkHeaderSize;
    if (IdIs(id, "fmt ")) {
      if (size < kFormatBytes || n - body < kFormatBytes) return false;
      TakeFormat(info, bytes + body);
      haveFormat = true;
    } else if (IdIs(id, "data")) {
      dataOffset = body;
      dataSize = size;
      haveData = true;
    }
    pos = body + size;
  }
  if (!haveFormat || !haveData) return false;
  info.fileSize = static_cast<uint32_t>(n);
  if (!Finish(info, dataOffset, dataSize)) return false;
  info.data = bytes + info.dataOffset;
  return true;
}

// Walks the chunks through the file handle. Unlike the mapped walk it stops as
// soon as both a format and data are known, so later repetitions are not seen.
// Otherwise the rules are the mapped walk's: no pad bytes, and a short "fmt "
// chunk fails the open.
bool WalkFile(WavInfo& info) {
  const platform::File& file = info.fileHandle;
  uint8_t head[8];
  if (file.ReadAt(0, head, 8) != 8 || !IdIs(head, "RIFF")) return false;
  if (file.ReadAt(8, info.formType.data(), 4) != 4) return false;
  if (std::memcmp(info.formType.data(), "WAVE", 4) != 0) return false;

  bool haveFormat = false;
  bool haveData = false;
  uint64_t dataOffset = 0;
  uint32_t dataSize = 0;
  uint64_t pos = 12;
  while (!(haveFormat && haveData)) {
    uint8_t header[kChunkHeaderSize];
    int64_t got = file.ReadAt(pos, header, sizeof header);
    if (got == 0) break;  // the end of the file
    if (got != int64_t{kChunkHeaderSize}) return false;
    uint32_t size = LoadU32(header + 4);
    uint64_t body = pos + kChunkHeaderSize;
    if (body > kMaxFileSize) return false;  // the file grew past what we can describe
    if (IdIs(header, "fmt ")) {
      uint8_t format[kFormatBytes];
      if (size < kFormatBytes) return false;
      if (file.ReadAt(body, format, sizeof format) != int64_t{kFormatBytes}) return false;
      TakeFormat(info, format);
      haveFormat = true;
    } else if (IdIs(header, "data")) {
      dataOffset = body;
      dataSize = size;
      haveData = true;
    }
    pos = body + size;
  }
  return haveFormat && haveData && Finish(info, dataOffset, dataSize);
}

bool Open(WavInfo& info, const std::filesystem::path& path, Mapping mapping) {
  CloseWavFile(info);
  info.fileHandle = platform::File::OpenRead(path, platform::Share::Read);
  bool ok = false;
  if (info.fileHandle) {
    std::optional<uint64_t> size = info.fileHandle.Size();
    if (size && *size <= kMaxFileSize) {
      if (mapping != Mapping::Never) info.view = platform::MappedView::Map(info.fileHandle, *size);
      if (info.view) {
        ok = WalkMapped(info, info.view.data(), *size);
      } else if (mapping != Mapping::Required) {
        info.fileSize = static_cast<uint32_t>(*size);
        ok = WalkFile(info);
      }
    }
  }
  if (!ok) CloseWavFile(info);
  return ok;
}

}  // namespace

WavInfo::~WavInfo() { CloseWavFile(*this); }

bool OpenWavFile(WavInfo& info, const std::filesystem::path& path, bool requireMapping) {
  return Open(info, path, requireMapping ? Mapping::Required : Mapping::Preferred);
}

bool detail::OpenWavFileUnmapped(WavInfo& info, const std::filesystem::path& path) {
  return Open(info, path, Mapping::Never);
}

bool detail::OpenWavBytes(WavInfo& info, const uint8_t* bytes, size_t n) {
  CloseWavFile(info);
  const bool ok = bytes != nullptr && n <= kMaxFileSize && WalkMapped(info, bytes, n);
  if (!ok) CloseWavFile(info);
  return ok;
}

namespace {

uint32_t ReadFrames(WavInfo& info, void* buffer, uint32_t firstFrame, uint32_t frameCount, bool fromMapping) {
  if (info.blockAlign == 0 || buffer == nullptr) return 0;
  // 64-bit products: a huge firstFrame or frameCount must not wrap into range.
  uint64_t start = uint64_t{firstFrame} * info.blockAlign;
  uint64_t wanted = uint64_t{frameCount} * info.blockAlign;
  if (start >= info.dataSize) return 0;
  // Never more than dataSize (32 bits), so it fits in size_t.
  static_assert(SIZE_MAX >= UINT32_MAX);
  size_t count = static_cast<size_t>(std::min<uint64_t>(wanted, info.dataSize - start));
  uint64_t copied = 0;
  if (fromMapping && info.data != nullptr) {
    std::memcpy(buffer, info.data + start, count);
    copied = count;
  } else {
    int64_t got = info.fileHandle.ReadAt(uint64_t{info.dataOffset} + start, buffer, count);
    if (got <= 0) return 0;
    copied = static_cast<uint64_t>(got);
  }
  return static_cast<uint32_t>(copied / info.blockAlign);
}

}  // namespace

uint32_t ReadWavFrames(WavInfo& info, void* buffer, uint32_t firstFrame, uint32_t frameCount) {
  return ReadFrames(info, buffer, firstFrame, frameCount, true);
}

uint32_t StreamWavFrames(WavInfo& info, void* buffer, uint32_t firstFrame, uint32_t frameCount) {
  return ReadFrames(info, buffer, firstFrame, frameCount, !info.fileHandle.IsOpen());
}

void AdviseSequentialWavRead(const WavInfo& info) { info.fileHandle.AdviseSequential(); }

void ReleaseWavFrames(const WavInfo& info, uint32_t firstFrame, uint32_t frameCount) {
  if (info.data == nullptr || info.blockAlign == 0) return;
  const uint64_t start = uint64_t{firstFrame} * info.blockAlign;
  if (start >= info.dataSize) return;
  const uint64_t length = std::min<uint64_t>(uint64_t{frameCount} * info.blockAlign, info.dataSize - start);
  info.view.Release(static_cast<size_t>(info.dataOffset + start), static_cast<size_t>(length));
}

void CloseWavFile(WavInfo& info) {
  info.view.Unmap();
  info.fileHandle.Close();
  info.fileSize = 0;
  info.formType = {};
  info.formatTag = 0;
  info.channels = 0;
  info.sampleRate = 0;
  info.byteRate = 0;
  info.blockAlign = 0;
  info.bitsPerSample = 0;
  info.dataOffset = 0;
  info.dataSize = 0;
  info.data = nullptr;
}

bool MakeWavHeader(std::array<uint8_t, 44>& header, uint32_t dataBytes, uint32_t sampleRate,
                   uint16_t blockAlign, uint16_t formatTag, uint16_t channels,
                   uint16_t bitsPerSample) {
  if (dataBytes > kMaxFileSize - 36) return false;
  uint8_t* h = header.data();
  std::memcpy(h, "RIFF", 4);
  StoreU32(h + 4, dataBytes + 36);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  StoreU32(h + 16, kFormatBytes);
  StoreU16(h + 20, formatTag);
  StoreU16(h + 22, channels);
  StoreU32(h + 24, sampleRate);
  // The byte rate field is 32 bits; an impossible rate keeps its low 32 bits.
  StoreU32(h + 28, static_cast<uint32_t>(uint64_t{sampleRate} * blockAlign));
  StoreU16(h + 32, blockAlign);
  StoreU16(h + 34, bitsPerSample);
  std::memcpy(h + 36, "data", 4);
  StoreU32(h + 40, dataBytes);
  return true;
}

bool WriteWavHeader(const std::filesystem::path& path, uint32_t dataBytes, uint32_t sampleRate,
                    uint16_t blockAlign, uint16_t formatTag, uint16_t channels,
                    uint16_t bitsPerSample) {
  std::array<uint8_t, kHeaderSize> header;
  if (!MakeWavHeader(header, dataBytes, sampleRate, blockAlign, formatTag, channels,
                     bitsPerSample)) {
    return false;
  }
  platform::File file = platform::File::Create(path, false);
  if (!file) return false;
  // "RIFF" and its size, "WAVE", the "fmt " header, its body, the "data" header.
  static constexpr size_t kPieces[] = {8, 4, 8, 16, 8};
  size_t offset = 0;
  for (size_t piece : kPieces) {
    if (!file.Write(header.data() + offset, piece)) {
      file.Close();
      return false;
    }
    offset += piece;
  }
  file.Close();
  return true;
}

}  // namespace kestrune
