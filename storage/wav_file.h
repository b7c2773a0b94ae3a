// Reading and writing RIFF/WAVE files.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

#include "platform/file.h"

namespace kestrune {

// The descriptor of one opened WAV file. All fields are zero while no file is
// open; a failed open leaves them zero. Releases its handles on destruction.
struct WavInfo {
  platform::File fileHandle;   // read access, shared with other readers
  uint32_t fileSize = 0;       // bytes when opened
  platform::MappedView view;   // the read-only mapping of the whole file; empty in file mode
  std::array<char, 4> formType{};
  // The first 16 bytes of the "fmt " body, as they stand.
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint32_t byteRate = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint32_t dataOffset = 0;     // file offset of the first byte of the "data" body
  uint32_t dataSize = 0;       // bytes of the "data" body, limited to what the file holds
  const uint8_t* data = nullptr;  // the "data" body inside view; null in file mode

  WavInfo() = default;
  ~WavInfo();
  WavInfo(const WavInfo&) = delete;
  WavInfo& operator=(const WavInfo&) = delete;
};

// Opens path and fills info. With requireMapping only the mapped mode is tried;
// otherwise a file that cannot be mapped is read through its handle.
bool OpenWavFile(WavInfo& info, const std::filesystem::path& path, bool requireMapping);

// Copies up to frameCount frames from firstFrame of the data chunk into buffer,
// which holds frameCount * blockAlign bytes. Returns the whole frames copied.
uint32_t ReadWavFrames(WavInfo& info, void* buffer, uint32_t firstFrame, uint32_t frameCount);

// Reads as ReadWavFrames does, but through the file handle in mapped mode
// too: one copy by the system and no page of the mapping touched. For a long
// stretch read once, in order, this costs a fraction of the mapping's page
// faults and keeps nothing resident. Without a handle (a file given as bytes)
// it copies from the mapping. A file that shrank since it was opened reads
// short here, where the mapping would fault.
uint32_t StreamWavFrames(WavInfo& info, void* buffer, uint32_t firstFrame, uint32_t frameCount);

// Says that the data will be read once from start to end (StreamWavFrames):
// the system reads further ahead. Only a hint.
void AdviseSequentialWavRead(const WavInfo& info);

// Says that frames [firstFrame, firstFrame + frameCount) will not be read
// again soon: in mapped mode the memory that holds them is given back, so a
// pass over a long file does not keep all of it resident. They can still be
// read. Nothing happens in file mode.
void ReleaseWavFrames(const WavInfo& info, uint32_t firstFrame, uint32_t frameCount);

// Releases the view and the file and zeroes every field.
void CloseWavFile(WavInfo& info);

// Creates path (replacing any file there) holding only the 44-byte header for
// dataBytes bytes of samples.
bool WriteWavHeader(const std::filesystem::path& path, uint32_t dataBytes, uint32_t sampleRate,
                    uint16_t blockAlign, uint16_t formatTag, uint16_t channels,
                    uint16_t bitsPerSample);

// The 44 header bytes that WriteWavHeader writes; false when dataBytes + 36
// would not fit in 32 bits.
bool MakeWavHeader(std::array<uint8_t, 44>& header, uint32_t dataBytes, uint32_t sampleRate,
                   uint16_t blockAlign, uint16_t formatTag, uint16_t channels,
                   uint16_t bitsPerSample);

}  // namespace kestrune
