#include "storage/splits_database.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "common/sample_frame.h"
#include "support/temp_dir.h"

namespace kestrune {
namespace {

using std::filesystem::path;
using test::TempDir;
using test::WriteBytes;

// At 500 ms: 22050 frames, 21 blocks, 88200 bytes and 148-byte records.
constexpr uint32_t kMs = 500;
constexpr uint32_t kBlocks = 21;
constexpr uint32_t kSplitBytes = 88200;

std::vector<uint8_t> Header(const std::u16string& name, uint32_t dataBeside = 1, uint32_t ms = kMs) {
  std::vector<uint8_t> h(kDatabaseHeaderSize, 0);
  std::memcpy(h.data(), "QLMX", 4);
  for (size_t i = 0; i < name.size() && i < kHeaderNameUnits; ++i) {
    StoreU16(&h[kHeaderNameOffset + 2 * i], static_cast<uint16_t>(name[i]));
  }
  StoreU32(&h[kHeaderDataBesideOffset], dataBeside);
  StoreU32(&h[kHeaderSplitMillisecondsOffset], ms);
  return h;
}

std::vector<uint8_t> SndTable(const std::vector<uint32_t>& ids) {
  std::vector<uint8_t> t(ids.size() * kDataFileRecordSize, 0xEE);
  for (size_t i = 0; i < ids.size(); ++i) StoreU32(&t[i * kDataFileRecordSize], ids[i]);
  return t;
}

uint32_t MaskWord(size_t split, uint32_t block) { return 0x9E3779B9u * static_cast<uint32_t>(split + 1) + block; }

// One record per (dataFileId, indexInFile); the masks are recognisable words.
std::vector<uint8_t> SplTable(const std::vector<std::pair<uint32_t, uint32_t>>& splits) {
  const size_t size = 64 + 4 * kBlocks;
  std::vector<uint8_t> t(splits.size() * size, 0xEE);
  for (size_t i = 0; i < splits.size(); ++i) {
    StoreU32(&t[i * size + 4], splits[i].first);
    StoreU32(&t[i * size + 8], splits[i].second);
    for (uint32_t b = 0; b < kBlocks; ++b) StoreU32(&t[i * size + 60 + 4 * b], MaskWord(i, b));
  }
  return t;
}

// Split k of data file id: recognisable bytes.
uint8_t FrameByte(uint32_t id, uint32_t k, uint32_t j) { return static_cast<uint8_t>(id * 59 + k * 13 + j % 251); }

std::vector<uint8_t> DataFile(uint32_t id, uint32_t splits) {
  std::vector<uint8_t> d(size_t{splits} * kSplitBytes);
  for (size_t i = 0; i < d.size(); ++i) {
    d[i] = FrameByte(id, static_cast<uint32_t>(i / kSplitBytes), static_cast<uint32_t>(i % kSplitBytes));
  }
  return d;
}

bool HoldsSplit(const SplitAudio& audio, uint32_t id, uint32_t k) {
  if (audio.samples == nullptr || audio.byteCount != kSplitBytes || audio.frameCount != 22050) return false;
  for (uint32_t j = 0; j < kSplitBytes; ++j) {
    if (audio.samples[j] != FrameByte(id, k, j)) return false;
  }
  return true;
}

void ExpectNoSplit(SplitsDatabase& db, uint32_t index) {
  SplitAudio audio{reinterpret_cast<const uint8_t*>(&db), 1, 1};
  EXPECT_FALSE(db.ReadSplit(index, audio)) << "split " << index;
  EXPECT_EQ(audio.samples, nullptr);
  EXPECT_EQ(audio.byteCount, 0u);
  EXPECT_EQ(audio.frameCount, 0u);
}

void ExpectClosed(const SplitsDatabase& db) {
  EXPECT_TRUE(db.name.empty());
  EXPECT_TRUE(db.dataFolder.empty());
  EXPECT_FALSE(db.splFile.IsOpen());
  EXPECT_EQ(db.recordSize, 0u);
  EXPECT_EQ(db.bytesPerSplit, 0u);
  EXPECT_EQ(db.dataFileCount, 0u);
  EXPECT_EQ(db.SplitCount(), 0u);
}

// A database "song" in a fresh folder.
class SplitsDatabaseTest : public ::testing::Test {
 protected:
  void Write(const std::vector<uint32_t>& ids, const std::vector<std::pair<uint32_t, uint32_t>>& splits,
             const std::map<uint32_t, uint32_t>& dataFiles, uint32_t dataBeside = 1) {
    WriteBytes(db_, Header(u"song", dataBeside));
    WriteBytes(dir_ / "song.snd", SndTable(ids));
    WriteBytes(dir_ / "song.spl", SplTable(splits));
    const path folder = dataBeside ? dir_ / "soundsData_song" : dir_.path();
    std::filesystem::create_directories(folder);
    for (auto [id, count] : dataFiles) WriteBytes(folder / DataFileName(id), DataFile(id, count));
  }

  TempDir dir_;
  path db_ = dir_ / "song.qlmx";
  SplitsDatabase db;
};

TEST(DatabaseHeaderTest, RefusesSplitLengthsOutsideTheGeometry) {
  DatabaseHeader header;
  for (uint32_t ms : {0u, 23u, 97392u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(ParseDatabaseHeader(Header(u"n", 1, ms).data(), header)) << ms;
  }
  for (uint32_t ms : {24u, 97391u}) {
    ASSERT_TRUE(ParseDatabaseHeader(Header(u"n", 1, ms).data(), header)) << ms;
    EXPECT_EQ(header.splitMilliseconds, ms);
  }
}

TEST(DatabaseHeaderTest, ReadsTheNameWithinItsFieldAndRefusesSeparators) {
  DatabaseHeader header;
  // 256 units with no terminator: all of them, and nothing of what follows
  // (the buffer ends at 524 bytes, so an overread would be caught).
  std::vector<uint8_t> full = Header(std::u16string(256, u'x'), 7, 1000);
  ASSERT_TRUE(ParseDatabaseHeader(full.data(), header));
  EXPECT_EQ(header.name, std::u16string(256, u'x'));
  EXPECT_EQ(header.dataBesideDatabase, 7u);
  ASSERT_TRUE(ParseDatabaseHeader(Header(u"ab\0cd").data(), header));
  EXPECT_EQ(header.name, u"ab");
  for (const char16_t* bad : {u"../up", u"a/b", u"a\\b", u"\xD800x"}) {
    EXPECT_FALSE(ParseDatabaseHeader(Header(bad).data(), header));
  }
  std::vector<uint8_t> magic = Header(u"n");
  magic[3] = 'Y';
  EXPECT_FALSE(ParseDatabaseHeader(magic.data(), header));
}

TEST(DatabaseHeaderTest, TablePathsFollowTheLastDotOfThePath) {
  EXPECT_EQ(DatabaseTablePath("/db/song.qlmx", "snd"), path("/db/song.snd"));
  EXPECT_EQ(DatabaseTablePath("/db/a.b.qlmx", "spl"), path("/db/a.b.spl"));
  EXPECT_EQ(DatabaseTablePath("/db.v2/song", "spl"), path("/db.spl"));
  EXPECT_EQ(DatabaseTablePath("song", "snd"), path("snd"));
  EXPECT_EQ(DataFileName(42), "data_0000002A.sdat");
}

TEST_F(SplitsDatabaseTest, OpensA524ByteHeaderAndSetsGeometryAndPaths) {
  Write({1}, {{1, 0}}, {{1, 1}});
  ASSERT_TRUE(db.Open(db_));
  EXPECT_EQ(db.name, u"song");
  EXPECT_EQ(db.folder, dir_.path());
  EXPECT_EQ(db.dataFolder, dir_ / "soundsData_song");
  EXPECT_EQ(db.sndPath, dir_ / "song.snd");
  EXPECT_EQ(db.splPath, dir_ / "song.spl");
  EXPECT_EQ(db.DataFilePath(42), dir_ / "soundsData_song" / "data_0000002A.sdat");
  EXPECT_EQ(db.recordSize, 148u);
  EXPECT_EQ(db.blocksPerSplit, kBlocks);
  EXPECT_EQ(db.framesPerSplit, 22050u);
  EXPECT_EQ(db.bytesPerSplit, kSplitBytes);
  SplitAudio audio;
  ASSERT_TRUE(db.ReadSplit(0, audio));
  EXPECT_TRUE(HoldsSplit(audio, 1, 0));
  // Every file is held exclusively while the database is open.
  MappedFile other;
  EXPECT_FALSE(OpenMappedFile(other, dir_ / "song.spl", MapMode::MapOptional));
  db.Close();
  ExpectClosed(db);
  db.Close();
  EXPECT_TRUE(OpenMappedFile(other, dir_ / "song.spl", MapMode::MapOptional));
}

TEST_F(SplitsDatabaseTest, ShortOrWrongDatabaseFileLeavesItClosed) {
  Write({1}, {{1, 0}}, {{1, 1}});
  ASSERT_TRUE(db.Open(db_));
  std::vector<uint8_t> header = Header(u"song");
  WriteBytes(db_, std::vector<uint8_t>(header.begin(), header.end() - 1));
  EXPECT_FALSE(db.Open(db_));
  ExpectClosed(db);
  header[0] = 'q';
  WriteBytes(db_, header);
  EXPECT_FALSE(db.Open(db_));
  ExpectClosed(db);
  EXPECT_FALSE(db.Open(dir_ / "absent.qlmx"));
  WriteBytes(db_, Header(u"so/ng"));
  EXPECT_FALSE(db.Open(db_));
}

TEST_F(SplitsDatabaseTest, CountsWholeRecordsAndReadsMasksInPlace) {
  std::vector<std::pair<uint32_t, uint32_t>> splits;
  for (uint32_t k = 0; k < 10; ++k) splits.push_back({1, k});
  Write({1}, splits, {{1, 10}});
  std::vector<uint8_t> spl = SplTable(splits);
  ASSERT_EQ(spl.size(), 1480u);
  spl.resize(spl.size() + 147, 0);  // a partial trailing record
  WriteBytes(dir_ / "song.spl", spl);
  ASSERT_TRUE(db.Open(db_));
  ASSERT_EQ(db.SplitCount(), 10u);
  for (uint32_t i = 0; i < 10; ++i) {
    for (uint32_t b = 0; b < kBlocks; ++b) ASSERT_EQ(LoadU32(db.MasksAt(i) + 4 * b), MaskWord(i, b));
  }
  SplitAudio audio;
  ASSERT_TRUE(db.ReadSplit(9, audio));
  EXPECT_EQ(audio.samples, db.dataFiles[0].file.data() + 9 * kSplitBytes);  // nothing copied
  EXPECT_TRUE(HoldsSplit(audio, 1, 9));
  ExpectNoSplit(db, 10);
}

TEST_F(SplitsDatabaseTest, DuplicateIdsOpenOnceAndMissingFilesStayCleared) {
  // Ids 3 twice, 5 without a data file; split 2 names an id the table lacks.
  Write({3, 3, 5}, {{3, 1}, {5, 0}, {9, 0}}, {{3, 2}});
  ASSERT_TRUE(db.Open(db_));
  ASSERT_EQ(db.dataFileCount, 3u);
  EXPECT_EQ(db.dataFiles[0].id, 3u);
  EXPECT_TRUE(db.dataFiles[0].file.IsMapped());
  EXPECT_EQ(db.dataFiles[1].id, 0u);
  EXPECT_FALSE(db.dataFiles[1].file.IsOpen());
  EXPECT_EQ(db.dataFiles[2].id, 0u);
  SplitAudio audio;
  ASSERT_TRUE(db.ReadSplit(0, audio));
  EXPECT_TRUE(HoldsSplit(audio, 3, 1));
  EXPECT_FALSE(db.ReadSplit(1, audio));
  EXPECT_EQ(audio.samples, nullptr);
  ExpectNoSplit(db, 2);
}

TEST_F(SplitsDatabaseTest, SplitsBeyondTheirDataFileFailEvenWhen32BitsWouldWrap) {
  // 48696 * 88200 wraps to 19904 in 32 bits and (48696 + 1) * 88200 to 108104,
  // inside this two-split file; 0xFFFFFFFF + 1 wraps to 0.
  Write({1}, {{1, 1}, {1, 2}, {1, 48696}, {1, 0xFFFFFFFF}}, {{1, 2}});
  for (bool mapped : {true, false}) {
    SCOPED_TRACE(mapped ? "mapped" : "read through the handle");
    SetMappingRefusalForTesting(
        [mapped](const path& p) { return !mapped && p.extension() == ".sdat"; });
    const bool opened = db.Open(db_);
    SetMappingRefusalForTesting(nullptr);
    ASSERT_TRUE(opened);
    ASSERT_TRUE(db.dataFiles[0].file.IsOpen());
    EXPECT_EQ(db.dataFiles[0].file.IsMapped(), mapped);
    SplitAudio audio;
    ASSERT_TRUE(db.ReadSplit(0, audio));
    EXPECT_TRUE(HoldsSplit(audio, 1, 1));
    if (!mapped) {
      EXPECT_EQ(audio.samples, db.splitBuffer.get());
    }
    for (uint32_t i = 1; i < 4; ++i) ExpectNoSplit(db, i);
    db.Close();
  }
}

TEST_F(SplitsDatabaseTest, MissingTablesStillOpen) {
  WriteBytes(db_, Header(u"song"));
  ASSERT_TRUE(db.Open(db_));
  EXPECT_EQ(db.SplitCount(), 0u);
  EXPECT_EQ(db.dataFileCount, 0u);
  ExpectNoSplit(db, 0);
}

TEST_F(SplitsDatabaseTest, WithoutDataBesideDatabaseDataFilesAreInItsFolder) {
  Write({2}, {{2, 0}}, {{2, 1}}, 0);
  ASSERT_TRUE(db.Open(db_));
  EXPECT_EQ(db.dataFolder, dir_.path());
  SplitAudio audio;
  ASSERT_TRUE(db.ReadSplit(0, audio));
  EXPECT_TRUE(HoldsSplit(audio, 2, 0));
}

// Changes the current folder for one test and restores it.
class CurrentFolder {
 public:
  explicit CurrentFolder(const path& p) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(p);
  }
  ~CurrentFolder() { std::filesystem::current_path(saved_); }

 private:
  path saved_;
};

TEST_F(SplitsDatabaseTest, RelativePathsUseTheCurrentFolder) {
  Write({1}, {{1, 0}}, {{1, 1}});
  CurrentFolder here(dir_.path());
  ASSERT_TRUE(db.Open("song.qlmx"));
  EXPECT_TRUE(db.folder.empty());
  EXPECT_EQ(db.dataFolder, path("soundsData_song"));
  SplitAudio audio;
  ASSERT_TRUE(db.ReadSplit(0, audio));
  EXPECT_TRUE(HoldsSplit(audio, 1, 0));
  db.Close();
  // Without any "." the tables are the bare names "snd" and "spl".
  std::filesystem::rename("song.qlmx", "song");
  std::filesystem::rename("song.snd", "snd");
  std::filesystem::rename("song.spl", "spl");
  ASSERT_TRUE(db.Open("song"));
  EXPECT_EQ(db.splPath, path("spl"));
  ASSERT_TRUE(db.ReadSplit(0, audio));
  EXPECT_TRUE(HoldsSplit(audio, 1, 0));
}

}  // namespace
}  // namespace kestrune
