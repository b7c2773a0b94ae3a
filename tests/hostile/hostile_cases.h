// A deterministic generator of hostile inputs: WAV files whose headers lie,
// are cut short or describe formats we do not handle, and splits databases
// whose parts are broken in every way a file from another machine can be.
// Each case carries what the reader must make of it, so that a test can
// predict the outcome of every command that takes it.
//
// Used by the hostile suite (tests/hostile), by kestrune-hostile-gen, which
// writes the cases into a folder, and by the seed corpora of the fuzzers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kestrune::hostile {

// The split length every case is made for: 4410 frames, 4 blocks, 17640 bytes.
inline constexpr uint32_t kSplitMs = 100;
inline constexpr uint32_t kSplitFrames = 4410;
inline constexpr uint32_t kSplitBytes = kSplitFrames * 4;
// The frames of sound in the well-formed files: three whole splits and a tail.
inline constexpr uint32_t kSoundFrames = 3 * kSplitFrames + 100;

// What the WAV reader makes of a file.
enum class Reading {
  Refused,      // not a RIFF/WAVE file with a usable "fmt " and "data" chunk
  WrongFormat,  // opens, but is not 44100 Hz, 2-channel, 16-bit PCM with 4-byte frames
  Frames,       // opens as 44100 Hz stereo 16-bit PCM with `frames` whole frames of data
};

// What stands at the case's path.
enum class Entry { File, Folder, Pipe, Missing };

struct WavCase {
  std::string name;  // a file name: letters, digits, '_' and '.'
  Entry entry = Entry::File;
  std::vector<uint8_t> bytes;
  Reading reading = Reading::Refused;
  uint32_t frames = 0;  // only for Reading::Frames
  // The data bytes the reader must deliver, from the file's first data byte.
  uint32_t dataOffset = 0;
  // The tempo the estimator must find (within a few BPM), or 0 for none.
  double tempo = 0.0;
};

// Noise frames: deterministic, distinct for distinct seeds.
std::vector<uint8_t> NoiseBytes(size_t bytes, uint32_t seed);
// A 44-byte-header WAV file: format tag, channels, rate, block align, bits,
// with data declared as dataSize (the real data is appended as it is).
std::vector<uint8_t> PlainWav(const std::vector<uint8_t>& data, uint16_t tag = 1, uint16_t channels = 2,
                              uint32_t rate = 44100, uint16_t blockAlign = 4, uint16_t bits = 16);
// The sound of the well-formed files (kSoundFrames frames).
const std::vector<uint8_t>& Sound();
// A click track at 120 BPM, frames long: something the tempo estimator can measure.
std::vector<uint8_t> ClickTrack(uint32_t frames);

std::vector<WavCase> WavCases();

// What `match --database` makes of a database with the sample of
// DatabaseSample() (one template split).
enum class DatabaseOutcome {
  Fails,   // the job fails: "Error occurs while processing sound."
  Empty,   // no split to offer: success without any result file
  Result,  // success; the result holds `resultSplit` once
};

struct DatabaseCase {
  std::string name;
  // Paths relative to the case's folder and their contents; the database file
  // is always "db.qlmx". A path ending in '/' is an empty folder, one ending
  // in '|' a named pipe (without the '|').
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  DatabaseOutcome outcome = DatabaseOutcome::Fails;
  std::vector<uint8_t> resultSplit;  // the raw bytes of the one split written
};

// The sample matched against every database case: one 100 ms split.
std::vector<uint8_t> DatabaseSample();
std::vector<DatabaseCase> DatabaseCases();

// Writes files into folder (creating the folders they need), folders and pipes.
void WriteCaseFiles(const std::filesystem::path& folder,
                    const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files);

}  // namespace kestrune::hostile
