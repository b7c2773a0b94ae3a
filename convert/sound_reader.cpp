#include "convert/sound_reader.h"

#include <sndfile.h>

#include <algorithm>

namespace kestrune::convert {
namespace {

struct Named {
  int code;
  const char* name;
};

constexpr Named kContainers[] = {
    {SF_FORMAT_WAV, "WAV"},   {SF_FORMAT_WAVEX, "WAV"}, {SF_FORMAT_RF64, "RF64"}, {SF_FORMAT_W64, "W64"},
    {SF_FORMAT_AIFF, "AIFF"}, {SF_FORMAT_AU, "AU"},     {SF_FORMAT_FLAC, "FLAC"}, {SF_FORMAT_OGG, "OGG"},
    {SF_FORMAT_CAF, "CAF"},   {SF_FORMAT_RAW, "RAW"},   {SF_FORMAT_MPEG, "MP3"},
};

struct Encoding {
  int code;
  const char* name;
  uint32_t bits;   // 0: compressed, no sample size of its own
  bool isFloat;
  bool sixteen;    // whole 16-bit steps
};

constexpr Encoding kEncodings[] = {
    {SF_FORMAT_PCM_S8, "PCM 8-bit", 8, false, true},
    {SF_FORMAT_PCM_U8, "PCM 8-bit", 8, false, true},
    {SF_FORMAT_PCM_16, "PCM 16-bit", 16, false, true},
    {SF_FORMAT_PCM_24, "PCM 24-bit", 24, false, false},
    {SF_FORMAT_PCM_32, "PCM 32-bit", 32, false, false},
    {SF_FORMAT_FLOAT, "float 32-bit", 32, true, false},
    {SF_FORMAT_DOUBLE, "float 64-bit", 64, true, false},
    {SF_FORMAT_ULAW, "u-law", 0, false, true},
    {SF_FORMAT_ALAW, "A-law", 0, false, true},
    {SF_FORMAT_IMA_ADPCM, "IMA ADPCM", 0, false, true},
    {SF_FORMAT_MS_ADPCM, "MS ADPCM", 0, false, true},
    {SF_FORMAT_GSM610, "GSM 6.10", 0, false, true},
    {SF_FORMAT_VORBIS, "Vorbis", 0, false, false},
    {SF_FORMAT_OPUS, "Opus", 0, false, false},
    {SF_FORMAT_MPEG_LAYER_I, "MPEG layer I", 0, false, false},
    {SF_FORMAT_MPEG_LAYER_II, "MPEG layer II", 0, false, false},
    {SF_FORMAT_MPEG_LAYER_III, "MPEG layer III", 0, false, false},
};

}  // namespace

// The virtual I/O callbacks: every byte comes through the ByteSource.
struct SoundReaderIo {
  static SoundReader& Of(void* user) { return *static_cast<SoundReader*>(user); }
  static sf_count_t Length(void* user) { return Of(user).source_->Size(); }
  static sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    SoundReader& r = Of(user);
    const int64_t base = whence == SEEK_CUR ? r.position_ : whence == SEEK_END ? r.source_->Size() : 0;
    // A wrapping or negative position is refused, never taken.
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return -1;
    r.position_ = base + offset;
    return r.position_;
  }
  static sf_count_t Read(void* ptr, sf_count_t count, void* user) {
    SoundReader& r = Of(user);
    if (count <= 0) return 0;
    const int64_t got = r.source_->ReadAt(r.position_, ptr, static_cast<size_t>(count));
    if (got <= 0) return 0;
    r.position_ += got;
    return got;
  }
  static sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
  static sf_count_t Tell(void* user) { return Of(user).position_; }
};

SoundReader::~SoundReader() {
  if (file_ != nullptr) sf_close(static_cast<SNDFILE*>(file_));
}

bool SoundReader::Open(ByteSource& source, std::string& error) {
  source_ = &source;
  position_ = 0;
  static SF_VIRTUAL_IO io = {SoundReaderIo::Length, SoundReaderIo::Seek, SoundReaderIo::Read,
                             SoundReaderIo::Write, SoundReaderIo::Tell};
  SF_INFO info{};
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, this);
  if (file == nullptr) {
    error = sf_strerror(nullptr);
    return false;
  }
  file_ = file;
  if (info.channels < 1) {
    error = "the file has no channels";
    return false;
  }
  if (info.samplerate < static_cast<int>(kMinInputRate) || info.samplerate > static_cast<int>(kMaxInputRate)) {
    error = "sample rate of " + std::to_string(info.samplerate) + " Hz is outside " +
            std::to_string(kMinInputRate) + ".." + std::to_string(kMaxInputRate) + " Hz";
    return false;
  }
  format_.sampleRate = static_cast<uint32_t>(info.samplerate);
  format_.channels = static_cast<uint32_t>(info.channels);
  format_.frames = info.frames;
  const int major = info.format & SF_FORMAT_TYPEMASK;
  const int sub = info.format & SF_FORMAT_SUBMASK;
  format_.container = "other";
  for (const Named& c : kContainers) {
    if (c.code == major) format_.container = c.name;
  }
  format_.encoding = "other";
  for (const Encoding& e : kEncodings) {
    if (e.code != sub) continue;
    format_.encoding = e.name;
    format_.bitsPerSample = e.bits;
    format_.floatingPoint = e.isFloat;
    fitsSixteenBits_ = e.sixteen;
  }
  channelMap_.assign(format_.channels, 0);
  if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, channelMap_.data(),
                 static_cast<int>(channelMap_.size() * sizeof(int))) != SF_TRUE) {
    channelMap_.clear();
  }
  // Float files are read as they are: values beyond full scale are clipped by
  // the converter, not wrapped or rescaled here.
  sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  return true;
}

int64_t SoundReader::Read(float* buffer, int64_t frames) {
  const sf_count_t got = sf_readf_float(static_cast<SNDFILE*>(file_), buffer, frames);
  if (got < 0) return -1;
  if (got == 0 && sf_error(static_cast<SNDFILE*>(file_)) != SF_ERR_NO_ERROR) return -1;
  return got;
}

std::string SoundReader::LastError() const { return sf_strerror(static_cast<SNDFILE*>(file_)); }

}  // namespace kestrune::convert
