// A conversion on a full disk, with a file-size limit (RLIMIT_FSIZE, POSIX
// only) standing in for the disk.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "matching/result_files.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace kestrune {
namespace {

using test::ReadBytes;
using test::WriteBytes;

TEST(Conversion, AWriteThatRunsOutOfSpaceFailsCleanly) {
  test::TempDir dir;
  std::vector<uint8_t> raw(250000);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 31 + 7);
  WriteBytes(dir / "raw", raw);
  platform::File file = platform::File::OpenRead(dir / "raw", platform::Share::Read);
  const auto target = dir / "out.wav";
  WriteBytes(target, {9, 9, 9});
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit limited = old;
  limited.rlim_cur = 150000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  test::RecordingHost host;
  const bool ok = ConvertSound(file, target, 1, 2, 44100, 4, 16, &host);
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(ok);
  EXPECT_EQ(ReadBytes(target), (std::vector<uint8_t>{9, 9, 9}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
  EXPECT_EQ(host.messages.size(), 1u);
}

}  // namespace
}  // namespace kestrune
