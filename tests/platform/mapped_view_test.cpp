// Views of whole files: small ones are read into memory, larger ones mapped;
// both must give the file's bytes and hand them back the right way.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "support/temp_dir.h"

namespace kestrune {
namespace {

using platform::File;
using platform::MappedView;

TEST(MappedViewTest, SmallAndLargeFilesGiveTheirBytesThroughMovesAndReleases) {
  test::TempDir dir;
  for (const uint64_t size : {uint64_t{1000}, MappedView::kCopiedViewLimit, MappedView::kCopiedViewLimit + 4096}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    const auto path = dir / "f.bin";
    {
      File out = File::Create(path, false);
      ASSERT_TRUE(out.Write(bytes.data(), bytes.size()));
    }
    File in = File::OpenRead(path, platform::Share::Read);
    MappedView view = MappedView::Map(in, size);
    ASSERT_TRUE(view.IsMapped());
    ASSERT_EQ(view.size(), size);
    EXPECT_EQ(std::memcmp(view.data(), bytes.data(), size), 0);
    // Released pages come back from the file when read again.
    view.Release(0, size);
    EXPECT_EQ(std::memcmp(view.data(), bytes.data(), size), 0);
    // Each view is given back once, by its last owner.
    MappedView moved = std::move(view);
    EXPECT_FALSE(view.IsMapped());
    MappedView other = MappedView::Map(in, size);
    other = std::move(moved);
    EXPECT_FALSE(moved.IsMapped());
    ASSERT_TRUE(other.IsMapped());
    EXPECT_EQ(std::memcmp(other.data(), bytes.data(), size), 0);
  }
}

TEST(MappedViewTest, ASmallFileShorterThanAskedOrEmptyIsNotViewed) {
  test::TempDir dir;
  const auto path = dir / "short.bin";
  {
    File out = File::Create(path, false);
    ASSERT_TRUE(out.Write("0123456789", 10));
  }
  File in = File::OpenRead(path, platform::Share::Read);
  EXPECT_FALSE(MappedView::Map(in, 11).IsMapped());
  EXPECT_FALSE(MappedView::Map(in, 0).IsMapped());
  EXPECT_FALSE(MappedView::Map(File(), 10).IsMapped());
  const MappedView view = MappedView::Map(in, 10);
  ASSERT_TRUE(view.IsMapped());
  EXPECT_EQ(std::memcmp(view.data(), "0123456789", 10), 0);
}

}  // namespace
}  // namespace kestrune
