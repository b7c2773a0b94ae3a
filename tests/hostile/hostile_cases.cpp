#include "hostile/hostile_cases.h"

#ifndef _WIN32
#include <sys/stat.h>  // mkfifo
#endif

#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "support/wav_builder.h"

namespace kestrune::hostile {
namespace {

using test::WavBuilder;

// Named pipes live in folders only on POSIX (on Windows they have a
// namespace of their own), and only there may a name end with a dot: the
// cases with either are POSIX's.
#ifdef _WIN32
constexpr bool kPosixOnlyCases = false;
bool MakePipe(const std::filesystem::path&) { return false; }
#else
constexpr bool kPosixOnlyCases = true;
bool MakePipe(const std::filesystem::path& path) { return ::mkfifo(path.c_str(), 0666) == 0; }
#endif
using Files = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

void PutU16(std::vector<uint8_t>& bytes, size_t at, uint16_t v) {
  bytes[at] = static_cast<uint8_t>(v);
  bytes[at + 1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(v));
  return text;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                              bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::vector<WavCase> MakeWavCases() {
  std::vector<WavCase> cases;
  const std::vector<uint8_t>& sound = Sound();
  auto add = [&cases](std::string name, std::vector<uint8_t> bytes, Reading reading, uint32_t frames = 0,
                      uint32_t dataOffset = 44) {
    WavCase c;
    c.name = std::move(name) + ".wav";
    c.bytes = std::move(bytes);
    c.reading = reading;
    c.frames = frames;
    c.dataOffset = dataOffset;
    cases.push_back(std::move(c));
  };
  auto fmt = [](WavBuilder& b) -> WavBuilder& { return b.Fmt(1, 2, 44100, 4, 16); };

  const std::vector<uint8_t> valid = PlainWav(sound);
  add("valid", valid, Reading::Frames, kSoundFrames);

  // Every cut of the 44-byte header: only the whole header opens, with no data.
  for (size_t length = 0; length <= 44; ++length) {
    char name[32];
    std::snprintf(name, sizeof name, "cut_%02zu", length);
    add(name, Slice(valid, 0, length), length == 44 ? Reading::Frames : Reading::Refused, 0);
  }

  // Not RIFF/WAVE.
  auto renamed = [&valid](size_t at, const char* four) {
    std::vector<uint8_t> bytes = valid;
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(four[i]);
    return bytes;
  };
  add("riff_form_avi", renamed(8, "AVI "), Reading::Refused);
  {
    WavBuilder b;
    b.Raw("RIFF").U32(36 + kSoundFrames * 4);
    fmt(b).Chunk("data", sound);  // no form type at all
    add("riff_without_wave", b.bytes(), Reading::Refused);
  }
  {
    // Big-endian RIFF: "RIFX" and every number the other way round.
    WavBuilder b;
    b.Raw("RIFX").Bytes({0, 0, 0xCF, 0x04}).Raw("WAVE").Raw("fmt ").Bytes({0, 0, 0, 16}).Bytes(
        {0, 1, 0, 2, 0, 0, 0xAC, 0x44, 0, 2, 0xB1, 0x10, 0, 4, 0, 16});
    b.Raw("data").Bytes({0, 0, 0xCE, 0xB8}).Bytes(sound);
    add("rifx", b.bytes(), Reading::Refused);
  }
  {
    WavBuilder b;
    b.Raw("RF64").U32(0xFFFFFFFF).Raw("WAVE").ChunkHeader("ds64", 28).Bytes(std::vector<uint8_t>(28, 0));
    fmt(b).ChunkHeader("data", 0xFFFFFFFF).Bytes(sound);
    add("rf64", b.bytes(), Reading::Refused);
  }

  // Missing or misnamed chunks.
  add("no_fmt", WavBuilder().RiffHeader(0).Chunk("data", sound).bytes(), Reading::Refused);
  {
    WavBuilder b;
    fmt(b.RiffHeader(28));
    add("no_data", b.bytes(), Reading::Refused);
  }
  add("fmt_upper_case", renamed(12, "FMT "), Reading::Refused);
  add("fmt_nul", renamed(12, std::string("fmt\0", 4).c_str()), Reading::Refused);
  add("data_upper_case", renamed(36, "DATA"), Reading::Refused);
  add("data_misspelt", renamed(36, "dat "), Reading::Refused);
  {
    WavBuilder b;
    b.RiffHeader(0).Chunk("data", sound);
    fmt(b);
    add("data_before_fmt", b.bytes(), Reading::Frames, kSoundFrames, 20);
  }
  {
    // A repeated data chunk: the last one counts.
    WavBuilder b;
    fmt(b.RiffHeader(0)).Chunk("data", NoiseBytes(kSplitBytes, 9)).Chunk("data", sound);
    add("data_twice", b.bytes(), Reading::Frames, kSoundFrames, 44 + kSplitBytes + 8);
  }

  // Data declared larger than the file holds: limited to what is there.
  {
    std::vector<uint8_t> bytes = valid;
    PutU32(bytes, 40, kSoundFrames * 4 + 1000);
    add("data_larger_than_file", bytes, Reading::Frames, kSoundFrames);
    PutU32(bytes, 40, 0xFFFFFFFF);
    add("data_size_FFFFFFFF", bytes, Reading::Frames, kSoundFrames);
    PutU32(bytes, 40, 0x80000000);
    add("data_size_80000000", bytes, Reading::Frames, kSoundFrames);
    std::vector<uint8_t> short_ = PlainWav(Slice(sound, 0, kSplitBytes - 4));
    PutU32(short_, 40, 0xFFFFFFFF);
    add("data_size_FFFFFFFF_under_one_split", short_, Reading::Frames, kSplitFrames - 1);
    std::vector<uint8_t> ragged = sound;
    ragged.insert(ragged.end(), {1, 2, 3});
    add("data_not_whole_frames", PlainWav(ragged), Reading::Frames, kSoundFrames);
  }

  // "fmt " chunks too short to hold the format, and one with an extension.
  for (uint32_t size : {0u, 12u, 14u}) {
    WavBuilder b;
    b.RiffHeader(0).Fmt(1, 2, 44100, 4, 16, size).Chunk("data", sound);
    add("fmt_size_" + std::to_string(size), b.bytes(), Reading::Refused);
  }
  {
    WavBuilder b;
    b.RiffHeader(0).Fmt(1, 2, 44100, 4, 16, 18).Chunk("data", sound);
    add("fmt_size_18", b.bytes(), Reading::Frames, kSoundFrames, 46);
  }

  // Block align: 0 is refused outright, anything but 4 is not our format.
  add("block_align_0", PlainWav(sound, 1, 2, 44100, 0, 16), Reading::Refused);
  for (uint16_t align : {2, 3, 8, 65535}) {
    add("block_align_" + std::to_string(align), PlainWav(sound, 1, 2, 44100, align, 16), Reading::WrongFormat);
  }

  // Chunk sizes near and past 2^31 and 2^32: a walk in 32 bits would wrap
  // back to an earlier chunk (0xFFFFFFF8 to the same one) and never end.
  for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFF8u, 0xFFFFFFF0u, 0x80000000u}) {
    const std::vector<uint8_t> junk(16, 0x5A);
    {
      WavBuilder b;
      fmt(b.RiffHeader(0)).ChunkHeader("JUNK", size).Bytes(junk).Chunk("data", sound);
      add("junk_" + Hex(size) + "_before_data", b.bytes(), Reading::Refused);
    }
    {
      WavBuilder b;
      fmt(b.RiffHeader(0)).Chunk("data", sound).ChunkHeader("JUNK", size).Bytes(junk);
      add("junk_" + Hex(size) + "_after_data", b.bytes(), Reading::Frames, kSoundFrames);
    }
    {
      WavBuilder b;
      b.RiffHeader(size).Chunk("data", sound).Fmt(1, 2, 44100, 4, 16, 16);
      std::vector<uint8_t> bytes = b.bytes();
      PutU32(bytes, 20 + kSoundFrames * 4 + 4, size);  // the "fmt " size
      add("fmt_size_" + Hex(size) + "_last", bytes, Reading::Frames, kSoundFrames, 20);
    }
  }

  // 100,000 empty chunks before the data.
  {
    WavBuilder b;
    fmt(b.RiffHeader(0));
    for (int i = 0; i < 100000; ++i) b.ChunkHeader("JUNK", 0);
    b.Chunk("data", sound);
    add("empty_chunks_100000", b.bytes(), Reading::Frames, kSoundFrames, 44 + 800000);
  }

  // An odd-sized chunk followed by its pad byte: chunks are stepped over by
  // 8 + size exactly, so the data chunk after the pad byte is not found.
  {
    WavBuilder b;
    fmt(b.RiffHeader(0)).Chunk("LIST", {'a', 'b', 'c'}).Bytes({0}).Chunk("data", sound);
    add("odd_chunk_with_pad", b.bytes(), Reading::Refused);
  }
  {
    WavBuilder b;
    fmt(b.RiffHeader(0)).Chunk("LIST", {'a', 'b', 'c'}).Chunk("data", sound);
    add("odd_chunk_without_pad", b.bytes(), Reading::Frames, kSoundFrames, 44 + 11);
  }

  // Formats we do not handle.
  add("mono", PlainWav(sound, 1, 1, 44100, 2, 16), Reading::WrongFormat);
  add("8bit", PlainWav(sound, 1, 2, 44100, 2, 8), Reading::WrongFormat);
  add("48k", PlainWav(sound, 1, 2, 48000, 4, 16), Reading::WrongFormat);
  add("float", PlainWav(sound, 3, 2, 44100, 8, 32), Reading::WrongFormat);
  add("channels_0", PlainWav(sound, 1, 0, 44100, 4, 16), Reading::WrongFormat);
  add("rate_0", PlainWav(sound, 1, 2, 0, 4, 16), Reading::WrongFormat);
  {
    // WAVE_FORMAT_EXTENSIBLE with a PCM sub-format: 44100 Hz stereo 16-bit
    // sound, but its format tag is not 1.
    WavBuilder b;
    b.RiffHeader(0).ChunkHeader("fmt ", 40).U16(0xFFFE).U16(2).U32(44100).U32(176400).U16(4).U16(16);
    b.U16(22).U16(16).U32(3).Bytes({1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
    b.Chunk("data", sound);
    add("extensible", b.bytes(), Reading::WrongFormat);
  }

  add("empty", {}, Reading::Refused);
  {
    WavCase folder;
    folder.name = "folder.wav";
    folder.entry = Entry::Folder;
    cases.push_back(folder);
    if (kPosixOnlyCases) {
      WavCase pipe;
      pipe.name = "pipe.wav";
      pipe.entry = Entry::Pipe;
      cases.push_back(pipe);
    }
    WavCase missing;
    missing.name = "missing.wav";
    missing.entry = Entry::Missing;
    cases.push_back(missing);
  }

  // Sound the tempo estimator can measure, once plainly and once behind a
  // header that declares far more data than there is.
  {
    const std::vector<uint8_t> clicks = ClickTrack(6 * 44100);
    add("clicks_120", PlainWav(clicks), Reading::Frames, 6 * 44100);
    cases.back().tempo = 120.0;
    std::vector<uint8_t> lying = PlainWav(clicks);
    PutU32(lying, 40, 0xFFFFFFFF);
    PutU32(lying, 4, 0xFFFFFFFF);
    add("clicks_120_data_size_FFFFFFFF", lying, Reading::Frames, 6 * 44100);
    cases.back().tempo = 120.0;
  }
  return cases;
}

// The parts of a database, at 100 ms unless a case says otherwise.
std::vector<uint8_t> DbHeader(const std::u16string& name, uint32_t dataBeside = 1, uint32_t ms = kSplitMs,
                              size_t length = 524) {
  std::vector<uint8_t> h(524, 0);
  h[0] = 'Q';
  h[1] = 'L';
  h[2] = 'M';
  h[3] = 'X';
  for (size_t i = 0; i < name.size() && i < 256; ++i) PutU16(h, 4 + 2 * i, static_cast<uint16_t>(name[i]));
  PutU32(h, 516, dataBeside);
  PutU32(h, 520, ms);
  h.resize(length, 0x33);
  return h;
}

std::vector<uint8_t> SndTable(const std::vector<uint32_t>& ids) {
  std::vector<uint8_t> t(ids.size() * 552, 0xEE);
  for (size_t i = 0; i < ids.size(); ++i) PutU32(t, i * 552, ids[i]);
  return t;
}

// One 80-byte record (4 blocks) per (dataFileId, indexInFile).
std::vector<uint8_t> SplTable(const std::vector<std::pair<uint32_t, uint32_t>>& records) {
  std::vector<uint8_t> t(records.size() * 80, 0);
  for (size_t i = 0; i < records.size(); ++i) {
    PutU32(t, i * 80, static_cast<uint32_t>(i));
    PutU32(t, i * 80 + 4, records[i].first);
    PutU32(t, i * 80 + 8, records[i].second);
    for (size_t b = 0; b < 4; ++b) PutU32(t, i * 80 + 60 + 4 * b, 0x0F0F0F0Fu);
  }
  return t;
}

const std::vector<uint8_t>& DataSound() {
  static const std::vector<uint8_t> data = NoiseBytes(2 * kSplitBytes, 7);
  return data;
}

std::vector<DatabaseCase> MakeDatabaseCases() {
  std::vector<DatabaseCase> cases;
  const std::vector<uint8_t>& data = DataSound();
  const std::string dataPath = "soundsData_song/data_00000001.sdat";
  // The well-formed database: one data file of two splits, one split record
  // naming the second of them.
  const Files valid = {{"db.qlmx", DbHeader(u"song")},
                       {"db.snd", SndTable({1})},
                       {"db.spl", SplTable({{1, 1}})},
                       {dataPath, data}};
  const std::vector<uint8_t> second = Slice(data, kSplitBytes, kSplitBytes);

  auto add = [&cases](std::string name, Files files, DatabaseOutcome outcome, std::vector<uint8_t> split = {}) {
    cases.push_back({std::move(name), std::move(files), outcome, std::move(split)});
  };
  // The valid database with one file replaced (empty contents and no path: removed).
  auto with = [&valid](const std::string& path, std::optional<std::vector<uint8_t>> bytes) {
    Files files;
    for (const auto& f : valid) {
      if (f.first != path) files.push_back(f);
    }
    if (bytes) files.push_back({path, *bytes});
    return files;
  };

  add("valid", valid, DatabaseOutcome::Result, second);

  for (size_t length = 520; length <= 528; ++length) {
    add("header_length_" + std::to_string(length), with("db.qlmx", DbHeader(u"song", 1, kSplitMs, length)),
        length < 524 ? DatabaseOutcome::Fails : DatabaseOutcome::Result, second);
  }
  for (const char* magic : {"qlmx", "QLM\0", "RIFF"}) {
    std::vector<uint8_t> header = DbHeader(u"song");
    for (int i = 0; i < 4; ++i) header[i] = static_cast<uint8_t>(magic[i]);
    add(std::string("magic_") + (magic[3] == 0 ? "QLM0" : magic), with("db.qlmx", header), DatabaseOutcome::Fails);
  }
  add("database_empty", with("db.qlmx", std::vector<uint8_t>{}), DatabaseOutcome::Fails);
  add("database_missing", with("db.qlmx", std::nullopt), DatabaseOutcome::Fails);
  {
    Files files = with("db.qlmx", std::nullopt);
    files.push_back({"db.qlmx/", {}});
    add("database_is_a_folder", files, DatabaseOutcome::Fails);
  }

  // Split lengths: below one analysis block, the smallest and largest usable
  // ones, and beyond what 32-bit geometry holds.
  for (uint32_t ms : {0u, 1u, 23u, 97392u, 0xFFFFFFFFu}) {
    add("split_ms_" + std::to_string(ms), with("db.qlmx", DbHeader(u"song", 1, ms)), DatabaseOutcome::Fails);
  }
  // 24 ms: 1058 frames, 1 block, 68-byte records; the 80-byte table holds one
  // whole record, whose indexInFile 1 now means bytes 4232..8463.
  add("split_ms_24", with("db.qlmx", DbHeader(u"song", 1, 24)), DatabaseOutcome::Result, Slice(data, 4232, 4232));
  // 97391 ms: a template split of 4294943 frames, far more than the sample holds.
  add("split_ms_97391", with("db.qlmx", DbHeader(u"song", 1, 97391)), DatabaseOutcome::Fails);

  // Names: 256 units with no terminator name a data folder no file system
  // holds; beside the database the data is found all the same. A separator
  // is refused; an empty name is just "soundsData_".
  const std::u16string longName(256, u'n');
  add("name_256_no_terminator", with("db.qlmx", DbHeader(longName)), DatabaseOutcome::Fails);
  {
    Files files = with(dataPath, std::nullopt);
    files[0].second = DbHeader(longName, 0);
    files.push_back({"data_00000001.sdat", data});
    add("name_256_data_beside", files, DatabaseOutcome::Result, second);
  }
  {
    // A folder named "soundsData_.." cannot exist on Windows (names there
    // lose their trailing dots): the case is POSIX's.
    if (kPosixOnlyCases) {
      Files files = with("db.qlmx", DbHeader(u"../song"));
      files.push_back({"soundsData_../song/data_00000001.sdat", data});
      add("name_with_parent_separator", files, DatabaseOutcome::Fails);
    }
    add("name_with_backslash", with("db.qlmx", DbHeader(u"so\\ng")), DatabaseOutcome::Fails);
  }
  {
    Files files = with(dataPath, std::nullopt);
    files[0].second = DbHeader(u"");
    files.push_back({"soundsData_/data_00000001.sdat", data});
    add("name_empty", files, DatabaseOutcome::Result, second);
  }
  add("data_beside_80000000", with("db.qlmx", DbHeader(u"song", 0x80000000u)), DatabaseOutcome::Result, second);

  // Tables: partial records are ignored; a missing split table offers
  // nothing, a missing data-file table no sound.
  {
    std::vector<uint8_t> spl = SplTable({{1, 1}});
    spl.resize(spl.size() + 40, 0x77);
    add("spl_partial_record", with("db.spl", spl), DatabaseOutcome::Result, second);
    add("spl_one_byte_short", with("db.spl", Slice(SplTable({{1, 1}}), 0, 79)), DatabaseOutcome::Empty);
    std::vector<uint8_t> snd = SndTable({1});
    snd.resize(snd.size() + 100, 0x77);
    add("snd_partial_record", with("db.snd", snd), DatabaseOutcome::Result, second);
    add("snd_one_byte_short", with("db.snd", std::vector<uint8_t>(551, 0)), DatabaseOutcome::Fails);
  }
  add("spl_missing", with("db.spl", std::nullopt), DatabaseOutcome::Empty);
  add("snd_missing", with("db.snd", std::nullopt), DatabaseOutcome::Fails);
  {
    Files files;
    for (const auto& f : with("db.spl", std::nullopt)) {
      if (f.first != "db.snd") files.push_back(f);
    }
    add("snd_and_spl_missing", files, DatabaseOutcome::Empty);
  }
  {
    Files files = with("db.spl", std::nullopt);
    files.push_back({"db.spl/", {}});
    add("spl_is_a_folder", files, DatabaseOutcome::Empty);
  }

  // Where a split's sound is: beyond its data file in every way, in data
  // files that are not listed, listed twice, short or empty.
  for (uint32_t index : {2u, 0x20000000u, 0x80000000u, 0xFFFFFFFFu}) {
    // 0x20000000 * 17640 is a multiple of 2^32: in 32 bits it wraps to split 0.
    add("index_in_file_" + Hex(index), with("db.spl", SplTable({{1, index}})), DatabaseOutcome::Fails);
  }
  add("data_file_id_unknown", with("db.spl", SplTable({{7, 1}})), DatabaseOutcome::Fails);
  add("data_file_id_0_not_there", with("db.spl", SplTable({{0, 1}})), DatabaseOutcome::Fails);
  add("snd_lists_id_0_first", with("db.snd", SndTable({0, 1})), DatabaseOutcome::Result, second);
  add("data_file_listed_twice", with("db.snd", SndTable({1, 1})), DatabaseOutcome::Result, second);
  {
    std::vector<uint32_t> ids;
    for (uint32_t id = 100; id < 1100; ++id) ids.push_back(id);
    ids.push_back(1);
    add("snd_1000_missing_files_first", with("db.snd", SndTable(ids)), DatabaseOutcome::Result, second);
  }
  add("data_file_one_byte_short", with(dataPath, Slice(data, 0, 2 * kSplitBytes - 1)), DatabaseOutcome::Fails);
  add("data_file_empty", with(dataPath, std::vector<uint8_t>{}), DatabaseOutcome::Fails);
  add("data_file_missing", with(dataPath, std::nullopt), DatabaseOutcome::Fails);
  // Named pipes where files belong: an open must not wait for a writer.
  if (kPosixOnlyCases) {
    Files files = with(dataPath, std::nullopt);
    files.push_back({dataPath + "|", {}});
    add("data_file_is_a_pipe", files, DatabaseOutcome::Fails);
    files = with("db.snd", std::nullopt);
    files.push_back({"db.snd|", {}});
    add("snd_is_a_pipe", files, DatabaseOutcome::Fails);
    files = with("db.qlmx", std::nullopt);
    files.push_back({"db.qlmx|", {}});
    add("database_is_a_pipe", files, DatabaseOutcome::Fails);
  }
  {
    Files files = with(dataPath, std::nullopt);
    files.push_back({dataPath + "/", {}});
    add("data_file_is_a_folder", files, DatabaseOutcome::Fails);
  }
  return cases;
}

}  // namespace

std::vector<uint8_t> NoiseBytes(size_t bytes, uint32_t seed) {
  std::vector<uint8_t> out(bytes);
  uint32_t x = seed * 2654435761u + 12345u;
  for (auto& b : out) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

std::vector<uint8_t> PlainWav(const std::vector<uint8_t>& data, uint16_t tag, uint16_t channels, uint32_t rate,
                              uint16_t blockAlign, uint16_t bits) {
  return WavBuilder()
      .RiffHeader(static_cast<uint32_t>(36 + data.size()))
      .Fmt(tag, channels, rate, blockAlign, bits)
      .Chunk("data", data)
      .bytes();
}

const std::vector<uint8_t>& Sound() {
  static const std::vector<uint8_t> sound = NoiseBytes(size_t{kSoundFrames} * 4, 1);
  return sound;
}

std::vector<uint8_t> ClickTrack(uint32_t frames) {
  // A decaying 60 Hz thump on every beat: the estimator's envelope is the
  // mean of the sound, so it needs energy below its 501 Hz envelope rate.
  std::vector<uint8_t> out(size_t{frames} * 4, 0);
  constexpr double kPi = 3.14159265358979323846;
  for (uint32_t beat = 0; beat < frames; beat += 22050) {  // 120 BPM
    for (uint32_t i = 0; i < 4000 && beat + i < frames; ++i) {
      const auto v = static_cast<int16_t>(20000.0 * std::sin(2 * kPi * 60 * i / 44100.0) * (1.0 - i / 4000.0));
      PutU16(out, 4 * size_t{beat + i}, static_cast<uint16_t>(v));
      PutU16(out, 4 * size_t{beat + i} + 2, static_cast<uint16_t>(v));
    }
  }
  return out;
}

std::vector<WavCase> WavCases() { return MakeWavCases(); }

std::vector<uint8_t> DatabaseSample() { return PlainWav(NoiseBytes(kSplitBytes, 3)); }

std::vector<DatabaseCase> DatabaseCases() { return MakeDatabaseCases(); }

void WriteCaseFiles(const std::filesystem::path& folder,
                    const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
  for (const auto& [relative, bytes] : files) {
    const std::filesystem::path path = folder / relative;
    if (!relative.empty() && relative.back() == '/') {
      std::filesystem::create_directories(path);
      continue;
    }
    if (!relative.empty() && relative.back() == '|') {
      const std::filesystem::path pipe = folder / relative.substr(0, relative.size() - 1);
      std::filesystem::create_directories(pipe.parent_path());
      if (!MakePipe(pipe)) throw std::runtime_error("cannot make the pipe " + pipe.string());
      continue;
    }
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
}

}  // namespace kestrune::hostile
