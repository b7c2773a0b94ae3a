// The bytes of built databases, pinned: the files of each build below hash to
// what the first writer (a serial loop of its own) produced from the same
// sources, so a change in the layout, the analysis or the order shows here.
#include <gtest/gtest.h>

#include <map>

#include "matching/database_build_job.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using std::filesystem::path;

// Noise whose loudness changes every few hundred frames, so that the masks
// differ from block to block and from split to split.
std::vector<int16_t> Signal(uint32_t frames, uint32_t seed) {
  std::vector<int16_t> s(2 * size_t{frames});
  uint32_t x = seed;
  for (uint32_t n = 0; n < frames; ++n) {
    x = x * 1664525u + 1013904223u;
    const int32_t level = 1000 + static_cast<int32_t>((n / 300 * 2654435761u) >> 20) % 20000;
    s[2 * n] = static_cast<int16_t>(static_cast<int32_t>(x >> 16) % level);
    s[2 * n + 1] = static_cast<int16_t>(static_cast<int32_t>((x >> 8) & 0xFFFF) % level);
  }
  return s;
}

// FNV-1a over every file and folder under root in name order: its relative
// path, then its bytes.
uint64_t TreeHash(const path& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    files[entry.path().lexically_relative(root).generic_string()] =
        entry.is_regular_file() ? test::ReadBytes(entry.path()) : std::vector<uint8_t>{};
  }
  uint64_t h = 14695981039346656037ull;
  auto mix = [&h](uint8_t byte) { h = (h ^ byte) * 1099511628211ull; };
  for (const auto& [name, bytes] : files) {
    for (char c : name) mix(static_cast<uint8_t>(c));
    mix(0);
    for (uint8_t b : bytes) mix(b);
  }
  return h;
}

TEST(DatabaseBuildBytes, SameAsTheFirstWriter) {
  struct Case {
    uint32_t frames, seed, ms, perFile;
    const char* name;
    uint64_t hash;
  };
  const Case cases[] = {
      {23 * 4410 + 1000, 1, 100, 5, "Sång", 13203638069560952314ull},
      {9 * 14685 + 7, 2, 333, 1000, nullptr, 4166988176849108441ull},
      {2 * 220500 + 4410, 3, 5000, 1, nullptr, 13000818521822491300ull},
  };
  for (const Case& c : cases) {
    test::TempDir in, out;
    test::WriteBytes(in / "source.wav", test::StereoWav(Signal(c.frames, c.seed)));
    DatabaseBuildRequest request;
    request.sourcePath = in / "source.wav";
    request.splitMilliseconds = c.ms;
    request.outputPath = out / "song.qlmx";
    request.splitsPerDataFile = c.perFile;
    if (c.name != nullptr) request.name = c.name;
    std::string error;
    ASSERT_TRUE(BuildSplitsDatabase(request, nullptr, error)) << error;
    EXPECT_EQ(TreeHash(out.path()), c.hash) << c.ms << " ms";
  }
}

}  // namespace
}  // namespace kestrune
