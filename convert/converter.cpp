#include "convert/converter.h"

#include <soxr.h>

#include <algorithm>
#include <memory>
#include <new>

#include "convert/dither.h"
#include "convert/sound_reader.h"
#include "convert/stereo_mix.h"
#include "convert/target_format.h"
#include "platform/file.h"
#include "storage/wav_file.h"

namespace kestrune::convert {
namespace {

constexpr uint32_t kTargetRate = 44100;
constexpr size_t kChunkSamples = 1 << 15;  // input samples read at a time, all channels
constexpr size_t kCopyBytes = 1 << 20;

struct SoxrDeleter {
  void operator()(soxr_t s) const { soxr_delete(s); }
};
using Resampler = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDeleter>;

Resampler MakeResampler(uint32_t inputRate, std::string& error) {
  // libsoxr's defaults for the rest: interleaved 32-bit float in and out,
  // and one thread (conversions run beside other work; one core suffices).
  const auto quality = soxr_quality_spec(SOXR_VHQ, 0);
  soxr_error_t failure = nullptr;
  soxr_t s = soxr_create(inputRate, kTargetRate, 2, &failure, nullptr, &quality, nullptr);
  if (s == nullptr || failure != nullptr) {
    error = std::string("cannot resample: ") + (failure != nullptr ? failure : "unknown reason");
    if (s != nullptr) soxr_delete(s);
    return nullptr;
  }
  return Resampler(s);
}

// Quantises stereo frames and hands them to the sink, counting them.
class Output {
 public:
  Output(ByteSink& sink, bool dither, uint64_t maxFrames) : sink_(sink), quantise_(dither), max_(maxFrames) {}

  bool Put(const float* frames, size_t count, std::string& error) {
    if (count > max_ - written_) {
      error = "the converted sound would be too long for a WAV file";
      return false;
    }
    pcm_.resize(2 * count);
    for (size_t i = 0; i < 2 * count; ++i) pcm_[i] = quantise_(frames[i]);
    // The file holds little-endian samples; so does every machine we build for.
    if (!sink_.Append(pcm_.data(), pcm_.size() * sizeof(int16_t))) {
      error = "cannot write the converted file";
      return false;
    }
    written_ += count;
    return true;
  }
  uint64_t Written() const { return written_; }

 private:
  ByteSink& sink_;
  Quantiser quantise_;
  uint64_t max_;
  uint64_t written_ = 0;
  std::vector<int16_t> pcm_;
};

void Sanitise(float* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const float x = samples[i];
    samples[i] = x == x ? std::clamp(x, -1.0f, 1.0f) : 0.0f;
  }
}

uint32_t Percent(int64_t done, int64_t total) {
  if (total <= 0 || done <= 0) return 0;
  if (done >= total) return 99;
  return static_cast<uint32_t>(done * 100 / total);
}

// Removes the file unless it was handed over.
struct Staged {
  std::filesystem::path path;
  ~Staged() {
    if (!path.empty()) platform::RemoveFile(path);
  }
};

// The result is built under a name of its own beside the output and renamed
// over it only when complete.
template <typename Body>
Result WriteStaged(const std::filesystem::path& output, Body body) {
  Result result;
  std::filesystem::path folder = output.parent_path();
  if (folder.empty()) folder = ".";
  const auto made = platform::MakeUniqueFile(folder, ".QLC");
  if (!made) {
    result.error = "cannot create a file in " + folder.string();
    return result;
  }
  Staged staged{*made};
  {
    platform::File file = platform::File::OpenWrite(staged.path);
    if (!file) {
      result.error = "cannot write in " + folder.string();
      return result;
    }
    result = body(file);
    if (!result.Succeeded()) return result;
    if (!file.Flush()) {
      result.status = Status::Failed;
      result.error = "cannot write the converted file";
      return result;
    }
  }
  if (!platform::RenamePath(staged.path, output)) {
    result.status = Status::Failed;
    result.error = "cannot put the result at " + output.string();
    return result;
  }
  staged.path.clear();
  return result;
}

Result CopyUnchanged(platform::File& input, platform::File& output, const Progress& progress) {
  Result result;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyBytes]);
  const auto size = input.Size();
  if (!buffer || !size) {
    result.error = "cannot read the file";
    return result;
  }
  uint64_t done = 0;
  for (;;) {
    if (progress && !progress(Percent(static_cast<int64_t>(done), static_cast<int64_t>(*size)))) {
      result.status = Status::Stopped;
      return result;
    }
    const int64_t got = input.ReadAt(done, buffer.get(), kCopyBytes);
    if (got < 0) {
      result.error = "cannot read the file";
      return result;
    }
    if (got == 0) break;
    if (!output.Write(buffer.get(), static_cast<size_t>(got))) {
      result.error = "cannot write the copy";
      return result;
    }
    done += static_cast<uint64_t>(got);
  }
  result.status = Status::Copied;
  return result;
}

}  // namespace

Result ConvertStream(ByteSource& source, ByteSink& sink, const Progress& progress, const Limits& limits) {
  Result result;
  SoundReader reader;
  if (!reader.Open(source, result.error)) return result;
  const AudioFormat& format = reader.Format();
  result.input = format;

  const size_t channels = format.channels;
  const bool resample = format.sampleRate != kTargetRate;
  // Dither only where the steps of 16 bits are left: a 16-bit stereo or mono
  // file at 44100 Hz comes out sample for sample.
  Output out(sink, resample || channels > 2 || !reader.FitsSixteenBits(), limits.maxOutputFrames);
  const StereoMix mix = MakeStereoMix(channels, reader.ChannelMap());
  Resampler resampler;
  if (resample && !(resampler = MakeResampler(format.sampleRate, result.error))) return result;

  const size_t chunk = std::max<size_t>(1, kChunkSamples / channels);
  // Room for what the resampler gives back for one chunk, and more.
  const size_t outChunk = static_cast<size_t>(uint64_t{chunk} * kTargetRate / format.sampleRate) + 1024;
  std::vector<float> input, stereo, resampled;
  try {
    input.resize(chunk * channels);
    stereo.resize(chunk * 2);
    resampled.resize(outChunk * 2);
  } catch (const std::bad_alloc&) {
    result.error = "not enough memory";
    return result;
  }

  auto resampleInto = [&](const float* frames, size_t count) {
    size_t used = 0;
    do {
      size_t taken = 0, given = 0;
      const soxr_error_t failure = soxr_process(resampler.get(), frames == nullptr ? nullptr : frames + 2 * used,
                                                count - used, &taken, resampled.data(), outChunk, &given);
      if (failure != nullptr) {
        result.error = std::string("cannot resample: ") + failure;
        return false;
      }
      Sanitise(resampled.data(), 2 * given);
      if (!out.Put(resampled.data(), given, result.error)) return false;
      used += taken;
      // Flushing ends when nothing more comes out.
      if (frames == nullptr && given == 0) return true;
      if (frames != nullptr && taken == 0 && given == 0) {
        result.error = "cannot resample: the resampler takes no more input";
        return false;
      }
    } while (frames == nullptr || used < count);
    return true;
  };

  int64_t read = 0;
  for (;;) {
    if (progress && !progress(Percent(read, format.frames))) {
      result.status = Status::Stopped;
      return result;
    }
    const int64_t got = reader.Read(input.data(), static_cast<int64_t>(chunk));
    if (got < 0) {
      result.error = "cannot read the file: " + reader.LastError();
      return result;
    }
    if (got == 0) break;
    read += got;
    const auto frames = static_cast<size_t>(got);
    float* two = input.data();
    if (channels != 2) {
      MixToStereo(mix, input.data(), frames, stereo.data());
      two = stereo.data();
    }
    Sanitise(two, 2 * frames);
    if (resample ? !resampleInto(two, frames) : !out.Put(two, frames, result.error)) return result;
  }
  if (resample && !resampleInto(nullptr, 0)) return result;

  std::array<uint8_t, 44> header{};
  const uint64_t bytes = out.Written() * 4;
  if (bytes > UINT32_MAX - 36 || !MakeWavHeader(header, static_cast<uint32_t>(bytes), kTargetRate, 4, 1, 2, 16)) {
    result.error = "the converted sound would be too long for a WAV file";
    return result;
  }
  if (!sink.PutHeader(header)) {
    result.error = "cannot write the converted file";
    return result;
  }
  if (progress) progress(100);
  result.status = Status::Converted;
  result.outputFrames = out.Written();
  return result;
}

bool Available() { return true; }

std::optional<AudioFormat> Probe(const std::filesystem::path& path, std::string& error) {
  platform::File file = platform::File::OpenRead(path, platform::Share::Read);
  if (!file) {
    error = "cannot open the file";
    return std::nullopt;
  }
  FileSource source(file);
  SoundReader reader;
  if (!reader.Open(source, error)) return std::nullopt;
  return reader.Format();
}

Result ConvertFile(const std::filesystem::path& input, const std::filesystem::path& output,
                   const Progress& progress, const Limits& limits) {
  platform::File in = platform::File::OpenRead(input, platform::Share::Read);
  if (!in) {
    Result result;
    result.error = "cannot open the file";
    return result;
  }
  if (const auto frames = TargetFormatFrames(input)) {
    Result result = WriteStaged(output, [&](platform::File& out) { return CopyUnchanged(in, out, progress); });
    result.outputFrames = *frames;
    std::string ignored;
    if (result.Succeeded()) result.input = Probe(input, ignored);
    return result;
  }
  return WriteStaged(output, [&](platform::File& out) {
    FileSource source(in);
    FileSink sink(out);
    return ConvertStream(source, sink, progress, limits);
  });
}

Result ConvertMemory(const uint8_t* data, size_t size, std::vector<uint8_t>& output, const Limits& limits) {
  MemorySource source(data, size);
  MemorySink sink(output);
  return ConvertStream(source, sink, {}, limits);
}

std::vector<std::string> ReadablePatterns() {
  return {"*.wav", "*.wave", "*.aif", "*.aiff", "*.aifc", "*.flac", "*.ogg", "*.oga", "*.opus",
          "*.mp3", "*.au",  "*.snd", "*.caf", "*.w64", "*.rf64"};
}

}  // namespace kestrune::convert
