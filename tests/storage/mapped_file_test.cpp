#include "storage/mapped_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace kestrune {
namespace {

using test::TempDir;
using test::WriteBytes;

void ExpectClosed(const MappedFile& file) {
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.IsMapped());
  EXPECT_EQ(file.size, 0u);
}

TEST(MappedFileTest, EmptyFileNeedsOptionalMapping) {
  TempDir dir;
  WriteBytes(dir / "empty", {});
  MappedFile file;
  EXPECT_FALSE(OpenMappedFile(file, dir / "empty", MapMode::MapRequired));
  ExpectClosed(file);
  ASSERT_TRUE(OpenMappedFile(file, dir / "empty", MapMode::MapOptional));
  EXPECT_TRUE(file.IsOpen());
  EXPECT_FALSE(file.IsMapped());
  EXPECT_EQ(file.size, 0u);
}

TEST(MappedFileTest, MissingFileFailsInBothModes) {
  TempDir dir;
  MappedFile file;
  EXPECT_FALSE(OpenMappedFile(file, dir / "absent", MapMode::MapRequired));
  ExpectClosed(file);
  EXPECT_FALSE(OpenMappedFile(file, dir / "absent", MapMode::MapOptional));
  ExpectClosed(file);
}

TEST(MappedFileTest, OpenIsExclusiveUntilClosedOrDestroyed) {
  TempDir dir;
  WriteBytes(dir / "f", {1, 2, 3, 4, 5});
  MappedFile second;
  {
    MappedFile first;
    ASSERT_TRUE(OpenMappedFile(first, dir / "f", MapMode::MapRequired));
    ASSERT_TRUE(first.IsMapped());
    EXPECT_EQ(first.size, 5u);
    EXPECT_EQ(first.data()[4], 5);
    EXPECT_FALSE(OpenMappedFile(second, dir / "f", MapMode::MapOptional));
    ExpectClosed(second);
    CloseMappedFile(first);
    ExpectClosed(first);
    CloseMappedFile(first);  // closing twice is harmless
    ASSERT_TRUE(OpenMappedFile(first, dir / "f", MapMode::MapRequired));
  }  // destruction releases the file
  EXPECT_TRUE(OpenMappedFile(second, dir / "f", MapMode::MapRequired));
}

TEST(MappedFileTest, UnmappableFileOpensOnlyWithOptionalMapping) {
  TempDir dir;
  WriteBytes(dir / "f", {9, 8, 7});
  SetMappingRefusalForTesting([](const std::filesystem::path&) { return true; });
  MappedFile file;
  EXPECT_FALSE(OpenMappedFile(file, dir / "f", MapMode::MapRequired));
  ExpectClosed(file);
  const bool opened = OpenMappedFile(file, dir / "f", MapMode::MapOptional);
  SetMappingRefusalForTesting(nullptr);
  ASSERT_TRUE(opened);
  EXPECT_FALSE(file.IsMapped());
  EXPECT_EQ(file.size, 3u);
  uint8_t byte = 0;
  EXPECT_EQ(file.fileHandle.ReadAt(2, &byte, 1), 1);
  EXPECT_EQ(byte, 7);
}

}  // namespace
}  // namespace kestrune
