// The WAV header walks on fuzzed files: the mapped walk over the input bytes
// themselves (so that AddressSanitizer sees any read past their end), the
// same walk over the input as a mapped file, and the walk through a file
// handle; then ReadWavFrames over whatever opened.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "storage/wav_file.h"
#include "storage/wav_file_internal.h"

namespace {

using kestrune::WavInfo;
using kestrune::fuzz::Require;

// What an open WavInfo promises, and reads that must deliver exactly the
// bytes of the data chunk, never more than the file holds.
void CheckOpened(WavInfo& info, const uint8_t* file, size_t size, bool mapped) {
  Require(info.blockAlign != 0, "an open file has a frame size");
  Require(info.fileSize == size, "fileSize is the size of the file");
  Require(info.dataOffset <= size && info.dataSize <= size - info.dataOffset, "the data lies within the file");
  Require(mapped == (info.data != nullptr), "data is set exactly in mapped mode");
  const uint32_t align = info.blockAlign;
  const uint32_t frames = info.dataSize / align;
  const uint32_t most = std::max<uint32_t>(1, (1u << 18) / align);  // frames per read
  const struct {
    uint32_t first, count;
  } reads[] = {{0, std::min(frames + 1, most)},
               {frames > 0 ? frames - 1 : 0, 2},
               {frames / 2, std::min(frames, most)},
               {frames, 1},
               {0x40000000u, 4},
               {0xFFFFFFFFu, 1}};
  for (const auto& r : reads) {
    std::vector<uint8_t> buffer(size_t{r.count} * align);  // exactly what the call may fill
    const uint32_t got = kestrune::ReadWavFrames(info, buffer.data(), r.first, r.count);
    const uint64_t start = uint64_t{r.first} * align;
    const uint64_t expected = start >= info.dataSize ? 0 : std::min<uint64_t>(uint64_t{r.count} * align, info.dataSize - start) / align;
    Require(got == expected, "ReadWavFrames returns the whole frames up to the end of the data");
    Require(got == 0 || std::memcmp(buffer.data(), file + info.dataOffset + start, size_t{got} * align) == 0,
            "ReadWavFrames delivers the bytes of the data chunk");
  }
}

bool SameFields(const WavInfo& a, const WavInfo& b) {
  return a.formatTag == b.formatTag && a.channels == b.channels && a.sampleRate == b.sampleRate &&
         a.byteRate == b.byteRate && a.blockAlign == b.blockAlign && a.bitsPerSample == b.bitsPerSample &&
         a.dataOffset == b.dataOffset && a.dataSize == b.dataSize && a.fileSize == b.fileSize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WavInfo fromBytes;
  const bool bytesOpened = kestrune::detail::OpenWavBytes(fromBytes, data, size);
  if (bytesOpened) CheckOpened(fromBytes, data, size, true);

  const auto path = kestrune::fuzz::ScratchFolder() / "input.wav";
  kestrune::fuzz::WriteFile(path, data, size);
  WavInfo mapped;
  const bool mappedOpened = kestrune::OpenWavFile(mapped, path, true);
  Require(mappedOpened == bytesOpened, "the mapped walk gives the same verdict on the file and on its bytes");
  if (mappedOpened) {
    CheckOpened(mapped, data, size, true);
    Require(SameFields(mapped, fromBytes), "the mapped walk finds the same fields on the file and on its bytes");
  }

  WavInfo unmapped;
  if (kestrune::detail::OpenWavFileUnmapped(unmapped, path)) {
    CheckOpened(unmapped, data, size, false);
    // The file walk stops at the first "fmt " and "data"; the mapped walk
    // takes the last. When they found the same data chunk they agree on it.
    if (mappedOpened && mapped.dataOffset == unmapped.dataOffset) {
      Require(mapped.dataSize == unmapped.dataSize, "both walks limit the same data chunk alike");
    }
  }
  return 0;
}
