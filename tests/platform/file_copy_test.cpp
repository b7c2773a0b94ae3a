// Copies between files inside the kernel: positions, the end of the file,
// and copies between two file systems.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/file.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using platform::File;

// Copies from's bytes after skip into a file that already holds a prefix,
// in pieces of chunk bytes; returns the target's bytes.
std::vector<uint8_t> CopyInPieces(const std::filesystem::path& from, const std::filesystem::path& to,
                                  size_t skip, size_t chunk, std::vector<int64_t>& results) {
  File in = File::OpenRead(from, platform::Share::Read);
  File out = File::Create(to, false);
  EXPECT_TRUE(in && out);
  EXPECT_TRUE(out.Write("head", 4));
  EXPECT_TRUE(in.Seek(skip));
  for (;;) {
    std::optional<int64_t> got = in.CopyTo(out, chunk);
    if (!got) {  // this system cannot copy between these files: read and write
      std::vector<uint8_t> buffer(chunk);
      got = in.Read(buffer.data(), chunk);
      if (*got > 0) {
        EXPECT_TRUE(out.Write(buffer.data(), static_cast<size_t>(*got)));
      }
    }
    results.push_back(*got);
    if (*got <= 0) break;
  }
  EXPECT_EQ(out.Position(), std::optional<uint64_t>(4 + 250000 - skip));
  out.Close();
  return test::ReadBytes(to);
}

TEST(FileCopy, CopiesFromThePositionInPiecesUpToTheEnd) {
  test::TempDir dir;
  const auto data = test::NoiseBytes(250000, 4);
  test::WriteBytes(dir / "raw", data);
  std::vector<int64_t> results;
  const auto out = CopyInPieces(dir / "raw", dir / "out", 1000, 102400, results);
  EXPECT_EQ(results, (std::vector<int64_t>{102400, 102400, 44200, 0}));
  std::vector<uint8_t> expected = {'h', 'e', 'a', 'd'};
  expected.insert(expected.end(), data.begin() + 1000, data.end());
  EXPECT_EQ(out, expected);
}

TEST(FileCopy, CopiesBetweenFileSystems) {
  // /dev/shm is a memory file system on Linux; the test folder usually is not.
  const std::filesystem::path shm = "/dev/shm";
  if (!std::filesystem::is_directory(shm)) GTEST_SKIP() << "no /dev/shm to copy from";
  test::TempDir dir;
  const auto data = test::NoiseBytes(250000, 5);
  const std::filesystem::path from = shm / ("kestrune-copy-test-" + dir.path().filename().string());
  test::WriteBytes(from, data);
  std::vector<int64_t> results;
  const auto out = CopyInPieces(from, dir / "out", 0, 65536, results);
  std::filesystem::remove(from);
  EXPECT_EQ(results, (std::vector<int64_t>{65536, 65536, 65536, 53392, 0}));
  ASSERT_EQ(out.size(), 250004u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 4));
}

TEST(FileCopy, ClosedFilesCannotCopy) {
  test::TempDir dir;
  test::WriteBytes(dir / "raw", {1, 2, 3});
  File in = File::OpenRead(dir / "raw", platform::Share::Read);
  File closed;
  EXPECT_EQ(in.CopyTo(closed, 3), std::optional<int64_t>(-1));
  EXPECT_EQ(closed.CopyTo(in, 3), std::optional<int64_t>(-1));
}

}  // namespace
}  // namespace kestrune
