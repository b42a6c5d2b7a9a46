// Blob fields of table data sets: lazy loading, the blob streams' modes and change
// notifications, and values of many sizes through every combination of compression,
// encryption, StoreRaw and checked writes, read back after reopening the file.
#include <gtest/gtest.h>

#include <cstring>

#include "dbengine/dataset/db_blob_stream.h"
#include "dbengine/format/db_error.h"
#include "tests/dbengine/data_set_mem.h"
#include "tests/dbengine/db_table_fixture.h"
#include "tests/dbengine/dbfile_test_util.h"

namespace zq {
namespace {

using testing::ErrorOf;

TDbSchema Notes(bool encrypted) {
  TDbSchema s;
  if (encrypted) {
    s.EncryptAlgorithm = "Twofish";
    s.EncryptMode = 2;
    s.Password = "k";
    s.Compression = "ZLIB";
  }
  TDbSchemaTable t{"Notes", {{"Id", ftInteger}, {"Memo", ftMemo}, {"Pic", ftGraphic}}, {}, {}};
  t.Records.push_back({{{"Id", Variant(1)}, {"Memo", Variant(std::string("first memo"))}}});
  t.Records.push_back({{{"Id", Variant(2)}, {"Memo", Variant(std::string("second memo"))},
                        {"Pic", Variant(std::string("\x89PNG\0\1", 6))}}});
  t.Records.push_back({{{"Id", Variant(3)}, {"Memo", Variant(std::string())}}});
  s.Tables = {t};
  return s;
}

class BlobStreams : public testing::DbTableTest {
 protected:
  TOptimBlobStream* Active(TDbTable& t, const char* field) {
    return t.BlobStreamOf(t.GetActiveRecBuf(), t.FieldByName(field));
  }
};

TEST_F(BlobStreams, RowsMovedToAndNeverReadLoadNothing) {
  const std::string path = Create("n.db", Notes(true));
  auto t = Table(path, "Notes", "k");
  t->Open();
  for (; !t->Eof(); t->Next()) {
    EXPECT_FALSE(Active(*t, "Memo")->Loaded());
    EXPECT_EQ(Active(*t, "Memo")->LoadCount(), 0);
    EXPECT_EQ(Active(*t, "Pic")->LoadCount(), 0);
  }
  t->First();
  t->Next();
  EXPECT_EQ(t->FieldByName("Memo").AsString(), "second memo");
  EXPECT_EQ(Active(*t, "Memo")->LoadCount(), 1);
  EXPECT_EQ(t->FieldByName("Memo").AsString(), "second memo");
  EXPECT_EQ(Active(*t, "Memo")->LoadCount(), 1);  // loaded once
  EXPECT_EQ(Active(*t, "Pic")->LoadCount(), 0);
  EXPECT_EQ(t->FieldByName("Pic").AsBytes(), (std::vector<uint8_t>{0x89, 'P', 'N', 'G', 0, 1}));
  EXPECT_EQ(t->FieldByName("Memo").Value(), Variant("second memo"));
  // Posting another field writes the never-read blobs back unchanged.
  t->First();
  t->Edit();
  t->FieldByName("Id").SetAsInteger(10);
  t->Post();
  t->Close();
  t->Open();
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 10);
  EXPECT_EQ(t->FieldByName("Memo").AsString(), "first memo");
}

// A lazy load that fails (another user holds the file lock) leaves the blob due: the next read
// tries again, and a post of another field never writes back a blob that was not read.
TEST_F(BlobStreams, AFailedLoadIsRetriedAndNeverWrittenBack) {
  const std::string path = Create("n.db", Notes(false));
  const int32_t retries = DefaultSession().LockRetryCount(), wait = DefaultSession().LockWaitTime();
  DefaultSession().SetLockRetryCount(1);
  DefaultSession().SetLockWaitTime(0);
  struct Restore {
    int32_t retries, wait;
    ~Restore() {
      DefaultSession().SetLockRetryCount(retries);
      DefaultSession().SetLockWaitTime(wait);
    }
  } restore{retries, wait};
  testing_support::FakeOwner other;
  other.io().Open(path, mtDisk, 0, false, false);
  for (const bool read_again_first : {true, false}) {
    SCOPED_TRACE(read_again_first ? "read again, then post" : "post without reading again");
    auto t = Table(path, "Notes");
    t->Open();
    other.io().Lock();
    EXPECT_EQ(ErrorOf([&] { t->FieldByName("Memo").AsString(); }), "Wait for unlock time out");
    EXPECT_FALSE(Active(*t, "Memo")->Loaded());
    EXPECT_EQ(ErrorOf([&] { t->FieldByName("Memo").AsString(); }), "Wait for unlock time out");
    other.io().Unlock();
    if (read_again_first) { EXPECT_EQ(t->FieldByName("Memo").AsString(), "first memo"); }
    t->Edit();
    t->FieldByName("Id").SetAsInteger(read_again_first ? 10 : 11);
    t->Post();
    t->Close();
    t->Open();
    EXPECT_EQ(t->FieldByName("Id").AsInteger(), read_again_first ? 10 : 11);
    EXPECT_EQ(t->FieldByName("Memo").AsString(), "first memo");
  }
}

TEST_F(BlobStreams, WriteModeEmptiesAtOnceAndCancelRestores) {
  const std::string path = Create("n.db", Notes(false));
  auto t = Table(path, "Notes");
  t->Open();
  t->Edit();
  {
    auto w = t->CreateBlobStream(t->FieldByName("Memo"), TBlobStreamMode::bmWrite);
    EXPECT_EQ(Active(*t, "Memo")->Size(), 0);
    EXPECT_EQ(t->FieldByName("Memo").AsString(), "");
    EXPECT_TRUE(t->FieldByName("Memo").Modified());
  }
  t->Cancel();
  EXPECT_EQ(t->FieldByName("Memo").AsString(), "first memo");
}

TEST_F(BlobStreams, TwoWritesThroughAReadWriteStream) {
  const std::string path = Create("n.db", Notes(false));
  auto t = Table(path, "Notes");
  t->Open();
  t->Last();  // empty memo
  int changes = 0;
  t->FieldByName("Memo").OnChange = [&](TField&) { ++changes; };
  t->Edit();
  auto rw = t->CreateBlobStream(t->FieldByName("Memo"), TBlobStreamMode::bmReadWrite);
  rw->WriteBuffer("abc", 3);
  rw->WriteBuffer("defg", 4);
  EXPECT_EQ(Active(*t, "Memo")->Size(), 7);
  EXPECT_EQ(changes, 2);
  EXPECT_TRUE(t->Modified());
  rw.reset();
  t->Post();
  EXPECT_EQ(t->FieldByName("Memo").AsString(), "abcdefg");
  // In read mode a write changes only that stream.
  auto r = t->CreateBlobStream(t->FieldByName("Memo"), TBlobStreamMode::bmRead);
  r->Seek(0, SeekOrigin::End);
  r->WriteBuffer("!", 1);
  EXPECT_EQ(r->Size(), 8);
  EXPECT_EQ(t->FieldByName("Memo").AsString(), "abcdefg");
  // Writing needs edit or insert state.
  EXPECT_EQ(ErrorOf([&] { t->CreateBlobStream(t->FieldByName("Memo"), TBlobStreamMode::bmWrite); }),
            "Dataset not in edit or insert mode");
  EXPECT_EQ(ErrorOf([&] { t->FieldByName("Memo").SetAsString("x"); }),
            "Dataset not in edit or insert mode");
}

TEST_F(BlobStreams, NewRowBlobIsEmptyAndNotLoaded) {
  const std::string path = Create("n.db", Notes(true));
  auto t = Table(path, "Notes", "k");
  t->Open();
  t->Next();
  t->Append();
  EXPECT_TRUE(Active(*t, "Memo")->Loaded());
  EXPECT_EQ(Active(*t, "Memo")->Size(), 0);
  EXPECT_EQ(Active(*t, "Memo")->LoadCount(), 0);
  EXPECT_EQ(Active(*t, "Pic")->LoadCount(), 0);
  t->FieldByName("Id").SetAsInteger(4);
  t->Post();
  EXPECT_EQ(t->FieldByName("Memo").AsString(), "");
}

TEST_F(BlobStreams, PlainDataPathAndForeignDataSetsAreRefused) {
  const std::string path = Create("n.db", Notes(false));
  auto t = Table(path, "Notes");
  t->Open();
  uint8_t buf[16];
  EXPECT_EQ(ErrorOf([&] { t->FieldByName("Memo").GetData(buf); }), "General error");
  t->Edit();
  EXPECT_EQ(ErrorOf([&] { t->FieldByName("Memo").SetData(buf); }), "General error");
  EXPECT_EQ(ErrorOf([&] { TDbBlobStream s(t->FieldByName("Id"), TBlobStreamMode::bmRead); }),
            "Invalid class typecast");
  t->Cancel();
  testing::TMemDataSet mem({{"M", ftMemo}});
  mem.Open();
  EXPECT_EQ(ErrorOf([&] { TDbBlobStream s(mem.FieldByName("M"), TBlobStreamMode::bmRead); }),
            "Invalid class typecast");
}

std::string Pattern(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    // Runs of repeated bytes mixed with noise: something for the compressor to do.
    s[i] = static_cast<char>((i / 7) % 3 == 0 ? 'a' + (i % 5) : (x >> 16) & 0xFF);
  }
  return s;
}

struct Combo {
  bool compressed, encrypted, store_raw, check_writes;
};

class BlobRoundTrip : public testing::DbTableTest, public ::testing::WithParamInterface<Combo> {};

TEST_P(BlobRoundTrip, ValuesOfManySizesSurviveReopening) {
  const Combo c = GetParam();
  TDbSchema s;
  if (c.compressed) s.Compression = "ZLIB";
  if (c.encrypted) {
    s.EncryptAlgorithm = "Blowfish";
    s.EncryptMode = 1;
    s.Password = "pw";
  }
  s.CheckBlobWrites = c.check_writes;
  s.Tables = {TDbSchemaTable{"B",
                             {{"Id", ftInteger},
                              {"Data", ftBlob, 0, c.store_raw},
                              {"Text", ftMemo, 0, c.store_raw}},
                             {},
                             {}}};
  const std::string path = Create("b.db", s);
  const std::vector<size_t> sizes = {0, 1, 63, 64, 65, 3 * 1024 * 1024 + 5};
  {
    auto t = Table(path, "B", c.encrypted ? "pw" : "");
    t->Open();
    for (size_t i = 0; i < sizes.size(); ++i) {
      t->Append();
      t->FieldByName("Id").SetAsInteger(static_cast<int32_t>(i));
      const std::string v = Pattern(sizes[i], static_cast<uint32_t>(i));
      t->FieldByName("Data").SetAsBytes(v.data(), v.size());
      t->FieldByName("Text").SetAsString("memo " + std::to_string(sizes[i]));
      t->Post();
    }
    // Rewrite one value larger and one smaller (in place and moved areas).
    t->First();
    t->Next();
    t->Edit();
    const std::string grown = Pattern(5000, 99);
    t->FieldByName("Data").SetAsBytes(grown.data(), grown.size());
    t->Post();
    t->Last();
    t->Edit();
    t->FieldByName("Data").SetAsString("shrunk");
    t->Post();
  }
  auto t = Table(path, "B", c.encrypted ? "pw" : "");
  t->Open();
  ASSERT_EQ(t->RecordCount(), static_cast<int>(sizes.size()));
  for (size_t i = 0; i < sizes.size(); ++i, t->Next()) {
    std::string expected = Pattern(sizes[i], static_cast<uint32_t>(i));
    if (i == 1) expected = Pattern(5000, 99);
    if (i + 1 == sizes.size()) expected = "shrunk";
    const std::string got = t->FieldByName("Data").AsString();
    ASSERT_EQ(got.size(), expected.size()) << "row " << i;
    EXPECT_TRUE(got == expected) << "row " << i;
    EXPECT_EQ(t->FieldByName("Text").AsString(), "memo " + std::to_string(sizes[i]));
  }
}

std::vector<Combo> AllCombos() {
  std::vector<Combo> out;
  for (int m = 0; m < 16; ++m) out.push_back({(m & 1) != 0, (m & 2) != 0, (m & 4) != 0, (m & 8) != 0});
  return out;
}

INSTANTIATE_TEST_SUITE_P(EveryPipeline, BlobRoundTrip, ::testing::ValuesIn(AllCombos()),
                         [](const ::testing::TestParamInfo<Combo>& info) {
                           const Combo& c = info.param;
                           return std::string(c.compressed ? "Zlib" : "Plain") +
                                  (c.encrypted ? "Encrypted" : "Clear") +
                                  (c.store_raw ? "Raw" : "Processed") +
                                  (c.check_writes ? "Checked" : "Unchecked");
                         });

}  // namespace
}  // namespace zq
