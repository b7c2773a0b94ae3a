// fuzz_make_corpus FOLDER: writes the seed corpus of every fuzz target into
// FOLDER/<target>, from the hostile cases and a database made by the builder.
#include <fstream>
#include <iostream>
#include <string>

#ifdef KESTRUNE_WITH_CONVERT
#include <sndfile.h>
#endif

#include "common/sample_frame.h"
#include "fuzz/fuzz_support.h"
#include "hostile/hostile_cases.h"
#include "storage/splits_database.h"
#include "matching/database_build_job.h"

namespace {

using namespace kestrune;
using std::filesystem::path;

constexpr size_t kLargestSeed = 64 * 1024;

std::vector<uint8_t> Read(const path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void Seed(const path& folder, const std::string& name, const std::vector<uint8_t>& bytes) {
  if (bytes.size() <= kLargestSeed) fuzz::WriteFile(folder / name, bytes);
}

// A database as the builder writes it: three 100 ms splits of a click track,
// one data file each.
fuzz::DatabaseInput BuiltDatabase(const path& scratch) {
  const path wav = scratch / "clicks.wav";
  fuzz::WriteFile(wav, hostile::PlainWav(hostile::ClickTrack(3 * hostile::kSplitFrames + 10)));
  DatabaseBuildRequest request;
  request.sourcePath = wav;
  request.splitMilliseconds = 100;
  request.outputPath = scratch / "built.qlmx";
  request.splitsPerDataFile = 1;
  std::string error;
  fuzz::DatabaseInput input;
  if (!BuildSplitsDatabase(request, nullptr, error)) {
    std::cerr << "cannot build the seed database: " << error << "\n";
    return input;
  }
  input.parts.push_back(Read(scratch / "built.qlmx"));
  input.parts.push_back(Read(scratch / "built.snd"));
  input.parts.push_back(Read(scratch / "built.spl"));
  const std::vector<uint8_t> snd = input.parts[1];
  for (size_t at = 0; at + kDataFileRecordSize <= snd.size(); at += kDataFileRecordSize) {
    input.parts.push_back(Read(scratch / "soundsData_built" / DataFileName(LoadU32(&snd[at]))));
  }
  return input;
}

#ifdef KESTRUNE_WITH_CONVERT
// Short files in the formats libsndfile writes, each at a rate and channel
// count of its own.
void ConvertSeeds(const path& folder) {
  struct Kind {
    const char* name;
    int format, rate, channels;
  };
  const Kind kinds[] = {
      {"pcm24_48k_mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 1},
      {"float_96k.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 2},
      {"u8_8k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 2},
      {"ext_51.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 44100, 6},
      {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, 11025, 1},
      {"imaadpcm.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 22050, 2},
      {"s16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 32000, 2},
      {"s24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2},
      {"vorbis.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2},
      {"opus.ogg", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 1},
      {"caf_double.caf", SF_FORMAT_CAF | SF_FORMAT_DOUBLE, 44100, 3},
      {"layer3.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2},
  };
  const path scratch = fuzz::ScratchFolder() / "convert-seed";
  for (const Kind& k : kinds) {
    SF_INFO info{};
    info.samplerate = k.rate;
    info.channels = k.channels;
    info.format = k.format;
    SNDFILE* file = sf_open(scratch.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
      std::cerr << "seed " << k.name << ": " << sf_strerror(nullptr) << "\n";
      continue;
    }
    std::vector<float> frames(size_t{2000} * k.channels);
    for (size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<float>(static_cast<int>(i * 7919 % 2001) - 1000) / 1100.0f;
    sf_writef_float(file, frames.data(), 2000);
    sf_close(file);
    Seed(folder, k.name, Read(scratch));
  }
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_corpus FOLDER\n";
    return 2;
  }
  const path root = argv[1];
  for (const char* target : {"fuzz_wav_header", "fuzz_splits_database", "fuzz_declick", "fuzz_tempo",
                             "fuzz_onset_tempo", "fuzz_convert"}) {
    std::filesystem::create_directories(root / target);
  }

  for (const hostile::WavCase& c : hostile::WavCases()) {
    if (c.entry != hostile::Entry::File) continue;
    Seed(root / "fuzz_wav_header", c.name, c.bytes);
    Seed(root / "fuzz_tempo", c.name, c.bytes);
    Seed(root / "fuzz_onset_tempo", c.name, c.bytes);
    Seed(root / "fuzz_convert", c.name, c.bytes);
  }
#ifdef KESTRUNE_WITH_CONVERT
  ConvertSeeds(root / "fuzz_convert");
#endif
  Seed(root / "fuzz_tempo", "clicks_short.wav", hostile::PlainWav(hostile::ClickTrack(8000)));
  Seed(root / "fuzz_onset_tempo", "clicks_short.wav", hostile::PlainWav(hostile::ClickTrack(8000)));

  for (uint32_t count : {0u, 1u, 1375u, 1376u, 1377u, 2751u, 2752u, 4410u, 17640u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> seed(4);
    StoreU32(seed.data(), count);
    const std::vector<uint8_t> noise = hostile::NoiseBytes(512, count);
    seed.insert(seed.end(), noise.begin(), noise.end());
    Seed(root / "fuzz_declick", "count_" + std::to_string(count), seed);
  }

  for (const hostile::DatabaseCase& c : hostile::DatabaseCases()) {
    fuzz::DatabaseInput input;
    input.similarity = 99;
    input.parts.resize(3);
    for (const auto& [name, bytes] : c.files) {
      if (name == "db.qlmx") input.parts[0] = bytes;
      if (name == "db.snd") input.parts[1] = bytes;
      if (name == "db.spl") input.parts[2] = bytes;
      if (name.size() > 5 && name.substr(name.size() - 5) == ".sdat") input.parts.push_back(bytes);
    }
    for (uint8_t flags : {0, 1, 6}) {
      input.flags = flags;
      Seed(root / "fuzz_splits_database", c.name + "_" + std::to_string(flags), fuzz::JoinDatabaseInput(input));
    }
  }
  const path scratch = fuzz::ScratchFolder();
  fuzz::DatabaseInput built = BuiltDatabase(scratch);
  if (built.parts.empty()) return 1;
  for (uint8_t flags : {0, 1, 7}) {
    built.flags = flags;
    built.similarity = 40;
    Seed(root / "fuzz_splits_database", "built_" + std::to_string(flags), fuzz::JoinDatabaseInput(built));
  }
  return 0;
}
