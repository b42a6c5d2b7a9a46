// Scans under one hold of the file lock with the read-ahead window, the file size known while the
// lock is held, and the record a data set posts: the same records and bytes as reading each record
// on its own, and the file's other users still excluded and still seen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/table_io.h"
#include "db_table_fixture.h"
#include "engine_test_support.h"

namespace zq {
namespace {

using namespace testing_support;

// Items: Id integer, Name string 12 (13 bytes), Qty integer; record image 21 bytes.
TDbSchema ItemsSchema(bool encrypted) {
  TDbSchema s;
  if (encrypted) {
    s.EncryptAlgorithm = "Blowfish";
    s.EncryptMode = 1;
    s.Password = "pw";
  }
  TDbSchemaTable t;
  t.Name = "Items";
  t.Fields = {{"Id", ftInteger}, {"Name", ftString, 12}, {"Qty", ftInteger}};
  t.Indexes = {{"ById", {"Id"}, tiPrimary}};
  s.Tables.push_back(t);
  return s;
}

struct Item : FieldValues {
  explicit Item(int32_t k = 0, const std::string& n = "", int32_t q = 0) { Int(k).Text(n, 12).Int(q); }
  std::string Text() const {
    return std::to_string(dbfmt::GetI32(Bytes(0).data())) + "/" + reinterpret_cast<const char*>(Bytes(1).data()) +
           "/" + std::to_string(dbfmt::GetI32(Bytes(2).data()));
  }
};

class ReadBatchTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    path_ = dir_.File("items.zqc");
    TDbCreator::CreateFile(path_, ItemsSchema(GetParam()));
    table_ = Open(owner_);
  }
  std::unique_ptr<TDbTableIO> Open(FakeOwner& owner) {
    owner.io().Open(path_, mtDisk, 0, false, false);
    EXPECT_TRUE(owner.io().CheckPassword("pw"));
    auto t = std::make_unique<TDbTableIO>(&owner);
    t->SetTableName("Items");
    t->Open();
    return t;
  }
  static void Append(TDbTableIO& table, int32_t k, int32_t q) {
    Item item(k, "item" + std::to_string(k), q);
    table.AppendRecord(item.buffers, false, nullptr);
  }
  static std::string Read(TDbTableIO& table, int position) {
    Item item;
    table.ReadRecord(item.buffers, table.RowList(0), position);
    return item.Text();
  }

  TempDir dir_;
  std::string path_;
  FakeOwner owner_;
  std::unique_ptr<TDbTableIO> table_;
};

TEST_P(ReadBatchTest, BatchedScansReadWhatSingleReadsRead) {
  // 2,500 records: the images run across two slot blocks and their link blocks.
  for (int k = 0; k < 2500; ++k) Append(*table_, k, k % 97);
  std::vector<std::string> single;
  for (int p = 0; p < 2500; ++p) single.push_back(Read(*table_, p));
  EXPECT_EQ(single[1024], "1024/item1024/54");

  std::vector<std::string> batched;
  for (int start = 0; start < 2500; start += 700) {
    TDbTableIO::ReadBatch batch(*table_);
    for (int p = start; p < std::min(2500, start + 700); ++p) batched.push_back(Read(*table_, p));
  }
  EXPECT_EQ(batched, single);

  // Backwards and in key order of a descending walk: not a forward scan, read one by one.
  TDbTableIO::ReadBatch batch(*table_);
  for (int p = 2499; p >= 0; p -= 37) EXPECT_EQ(Read(*table_, p), single[static_cast<size_t>(p)]) << p;
}

TEST_P(ReadBatchTest, WritesInsideABatchAreReadBack) {
  for (int k = 0; k < 50; ++k) Append(*table_, k, 1);
  TDbTableIO::ReadBatch batch(*table_);
  EXPECT_EQ(Read(*table_, 10), "10/item10/1");
  EXPECT_EQ(Read(*table_, 11), "11/item11/1");  // the window now holds records 11 onwards
  Item changed(12, "renamed", 99);
  table_->ModifyRecord(changed.buffers, 12, nullptr, false);
  EXPECT_EQ(Read(*table_, 12), "12/renamed/99");
  Append(*table_, 50, 7);
  EXPECT_EQ(Read(*table_, 50), "50/item50/7");
}

TEST_P(ReadBatchTest, ABatchKeepsOtherUsersOutUntilItEnds) {
  Append(*table_, 1, 1);
  FakeOwner other;
  other.retry_count = 1;
  CountingClock clock;
  other.io().Open(path_, mtDisk, 0, false, false);
  other.io().SetClock(&clock);
  {
    TDbTableIO::ReadBatch batch(*table_);
    Read(*table_, 0);
    EXPECT_EQ(ErrorOf([&] { other.io().Lock(); }), "Wait for unlock time out");
    {
      TDbTableIO::ReadBatch nested(*table_);  // nests like the lock itself
    }
    EXPECT_EQ(ErrorOf([&] { other.io().Lock(); }), "Wait for unlock time out");
  }
  other.io().Lock();
  other.io().Unlock();
}

TEST_P(ReadBatchTest, AppendsOfAnotherUserBetweenOwnAppendsLandAtTheEnd) {
  // The file size is taken once per hold of the lock: another user's appends in between must not
  // be overwritten by the next own append.
  FakeOwner other_owner;
  auto other = Open(other_owner);
  for (int k = 0; k < 30; ++k) {
    Append(*table_, 2 * k, 1);
    Append(*other, 2 * k + 1, 2);
  }
  table_->LoadRowList(0, true);
  ASSERT_EQ(table_->RowList(0).size(), 60u);
  for (int p = 0; p < 60; ++p) EXPECT_EQ(Read(*table_, p), std::to_string(p) + "/item" + std::to_string(p) + "/" + (p % 2 ? "2" : "1"));
  const auto& list = table_->RowList(1);
  for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i].RecordId, static_cast<int32_t>(i));
}

TEST_P(ReadBatchTest, AFileCutShortDuringABatchIsReportedAsDamage) {
  for (int k = 0; k < 3000; ++k) Append(*table_, k, k);
  const auto size = static_cast<off_t>(ReadAll(path_).size());
  TDbTableIO::ReadBatch batch(*table_);
  EXPECT_EQ(Read(*table_, 0), "0/item0/0");
  // Something outside the engine cuts the file; the records past the window are gone.
  ASSERT_EQ(::truncate(path_.c_str(), size / 2), 0);
  const std::string error = ErrorOf([&] {
    for (int p = 1; p < 3000; ++p) Read(*table_, p);
  });
  EXPECT_NE(error.find("is damaged: read of 21 bytes at offset"), std::string::npos) << error;
}

TEST_P(ReadBatchTest, SearchesInASearchBatchFindWhatSearchesOnTheirOwnFind) {
  // 3,000 records (images of 21 bytes across 16 search blocks), keys 0, 3, 6, ...
  for (int k = 0; k < 3000; ++k) Append(*table_, 3 * k, k % 89);
  std::mt19937 rng(77);
  Item key;
  for (int round = 0; round < 300; ++round) {
    const auto wanted = static_cast<int32_t>(rng() % 9000);
    dbfmt::PutI32(key.Bytes(0).data(), wanted);
    int alone_result = 0;
    const int alone = table_->FindKey(key.buffers, table_->RowList(1), false, 1, alone_result, 0);
    TDbTableIO::SearchBatch batch(*table_);
    int batched_result = 0;
    EXPECT_EQ(table_->FindKey(key.buffers, table_->RowList(1), false, 1, batched_result, 0), alone) << wanted;
    EXPECT_EQ(batched_result, alone_result) << wanted;
    EXPECT_EQ(batched_result == 0, wanted % 3 == 0) << wanted;
    if (batched_result == 0) {
      EXPECT_EQ(Read(*table_, alone), std::to_string(wanted) + "/item" + std::to_string(wanted) + "/" +
                                          std::to_string(wanted / 3 % 89));
    }
  }
  // A write inside the batch drops the blocks read: the record and later searches see it.
  TDbTableIO::SearchBatch batch(*table_);
  dbfmt::PutI32(key.Bytes(0).data(), 30);
  int result = 0;
  ASSERT_EQ(table_->FindKey(key.buffers, table_->RowList(1), false, 1, result, 0), 10);
  Item changed(31, "moved", 5);
  table_->ModifyRecord(changed.buffers, 10, nullptr, false);
  EXPECT_EQ(Read(*table_, 10), "31/moved/5");
  table_->FindKey(key.buffers, table_->RowList(1), false, 1, result, 0);
  EXPECT_NE(result, 0);
  dbfmt::PutI32(key.Bytes(0).data(), 31);
  const int at = table_->FindKey(key.buffers, table_->RowList(1), false, 1, result, 0);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(table_->PhysicalPosition(table_->RowList(1), at), 10);
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, ReadBatchTest, ::testing::Bool());

// ---------------------------------------------------------------- the data set's posted record

class PostedRecordTest : public zq::testing::DbTableTest {};

TEST_F(PostedRecordTest, AfterPostTheFieldsShowWhatTheFileHolds) {
  for (bool encrypted : {false, true}) {
    TDbSchema s;
    if (encrypted) {
      s.EncryptAlgorithm = "Twofish";
      s.EncryptMode = 2;
      s.Password = "pw";
    }
    TDbSchemaTable t;
    t.Name = "People";
    t.Fields = {{"Id", ftAutoInc}, {"Name", ftString, 5}, {"Rate", ftFloat}};
    t.Indexes = {{"PK", {"Id"}, tiPrimary}};
    s.Tables.push_back(t);
    const std::string path = Create(encrypted ? "enc.zqc" : "plain.zqc", s);
    auto table = Table(path, "People", encrypted ? "pw" : "");
    table->Open();
    for (int i = 0; i < 3; ++i) {
      table->Append();
      table->FieldByName("Name").SetAsString("abcde");  // exactly the field's size
      table->FieldByName("Rate").SetAsFloat(1.5 * i);
      table->Post();
      EXPECT_EQ(table->FieldByName("Id").AsInteger(), i + 1) << encrypted;  // assigned by the append
      EXPECT_EQ(table->FieldByName("Name").AsString(), "abcde");
      EXPECT_EQ(table->FieldByName("Rate").AsFloat(), 1.5 * i);
    }
    auto reader = Table(path, "People", encrypted ? "pw" : "");
    reader->Open();
    reader->Last();
    EXPECT_EQ(reader->FieldByName("Id").AsInteger(), 3);
    EXPECT_EQ(reader->FieldByName("Name").AsString(), "abcde");
    reader->Close();
    table->Close();
  }
}

TEST_F(PostedRecordTest, AfterPostABlobFieldIsReadFromTheFile) {
  TDbSchema s;
  TDbSchemaTable t;
  t.Name = "Notes";
  t.Fields = {{"Id", ftAutoInc}, {"Text", ftMemo}};
  s.Tables.push_back(t);
  const std::string path = Create("notes.zqc", s);
  auto table = Table(path, "Notes");
  table->Open();
  table->Append();
  table->FieldByName("Text").SetAsString(std::string(300, 'n'));
  table->Post();
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 1);
  EXPECT_EQ(table->FieldByName("Text").AsString(), std::string(300, 'n'));
  table->Close();
}

TEST_F(PostedRecordTest, FilteredScansOfDamagedFilesEndCleanly) {
  TDbSchema s = ItemsSchema(false);
  for (int k = 0; k < 2100; ++k)
    s.Tables[0].Records.push_back({{{"Id", Variant(k)}, {"Name", Variant("n" + std::to_string(k))}, {"Qty", Variant(k % 50)}}});
  const std::vector<uint8_t> good = TDbCreator::Build(s);
  const size_t records_start = dbfmt::kFileHeaderSize + dbfmt::kTableHeaderSize;
  const int kMatching = 2100 / 50 * 39;  // Qty = k % 50 above 10
  std::mt19937 rng(4242);
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> bytes = good;
    const bool truncated = round % 4 == 3;
    const int changed = truncated ? 0 : round % 5 + 1;  // bytes overwritten
    if (truncated) {
      bytes.resize(std::uniform_int_distribution<size_t>(records_start, good.size() - 1)(rng));
    } else {
      for (int e = 0; e < changed; ++e)
        bytes[std::uniform_int_distribution<size_t>(records_start, bytes.size() - 1)(rng)] = static_cast<uint8_t>(rng());
    }
    const std::string path = Path("damaged" + std::to_string(round) + ".zqc");
    SCOPED_TRACE("round " + std::to_string(round));
    WriteAll(path, bytes);
    auto table = Table(path, "Items");
    // Either the scan ends in the engine's damage error, or it reads the good file's records,
    // of which each overwritten byte can have changed or hidden at most one.
    int seen = 0, intact = 0;
    std::string error = ErrorOf<EDatabaseError>([&] {
      table->Open();
      table->SetFilter("Qty > 10");
      table->SetFiltered(true);
      for (table->First(); !table->Eof(); table->Next()) {
        ++seen;
        int32_t id = table->FieldByName("Id").AsInteger();
        if (table->FieldByName("Name").AsString() == "n" + std::to_string(id) &&
            table->FieldByName("Qty").AsInteger() == id % 50) {
          ++intact;
          EXPECT_GT(id % 50, 10) << id;
        }
      }
    });
    table->Close();
    if (error != "<no error>") {
      EXPECT_EQ(error.rfind("Database file '" + path + "' is damaged: ", 0), 0u) << error;
      continue;
    }
    EXPECT_FALSE(truncated) << "a truncated file read without an error";
    EXPECT_GE(intact, kMatching - changed);
    EXPECT_LE(seen, kMatching + changed);
  }
}

}  // namespace
}  // namespace zq
