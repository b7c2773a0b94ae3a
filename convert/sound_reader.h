// libsndfile over a ByteSource: every file it reads, as float samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/audio_format.h"
#include "convert/byte_io.h"

namespace kestrune::convert {

class SoundReader {
 public:
  SoundReader() = default;
  ~SoundReader();
  SoundReader(const SoundReader&) = delete;
  SoundReader& operator=(const SoundReader&) = delete;

  // Opens source, which must outlive the reader. False with libsndfile's
  // reason (or ours) in error.
  bool Open(ByteSource& source, std::string& error);

  const AudioFormat& Format() const { return format_; }
  // Channel positions (SF_CHANNEL_MAP_*), empty when the file names none.
  const std::vector<int>& ChannelMap() const { return channelMap_; }
  // True when every sample is a whole number of 16-bit steps (integer
  // encodings of at most 16 bits).
  bool FitsSixteenBits() const { return fitsSixteenBits_; }

  // Reads up to frames interleaved frames, as floats with full scale at 1.0.
  // Returns the frames read (0 at the end), or -1 on a read error.
  int64_t Read(float* buffer, int64_t frames);
  // libsndfile's text for the last failure.
  std::string LastError() const;

 private:
  ByteSource* source_ = nullptr;
  int64_t position_ = 0;
  void* file_ = nullptr;  // SNDFILE*
  AudioFormat format_;
  std::vector<int> channelMap_;
  bool fitsSixteenBits_ = false;
  friend struct SoundReaderIo;
};

// Input sample rates outside this range are refused: no recording is made so,
// and the range bounds the work a hostile header can ask for.
inline constexpr uint32_t kMinInputRate = 1000;
inline constexpr uint32_t kMaxInputRate = 1536000;

}  // namespace kestrune::convert
