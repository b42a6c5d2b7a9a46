// Key searches of the table layer on the write paths: appends in key order and out of order keep
// every list and link chain in key order, duplicates are refused wherever they fall, encrypted
// keys compare decoded, and a key read outside the file reports the damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/table_io.h"
#include "engine_test_support.h"

namespace zq {
namespace {

using namespace testing_support;

TDbSchema KeySchema(bool encrypted) {
  TDbSchema s;
  if (encrypted) {
    s.EncryptAlgorithm = "Blowfish";
    s.EncryptMode = 1;
    s.Password = "k3y";
  }
  TDbSchemaTable t;
  t.Name = "K";
  t.Fields = {{"Id", ftInteger}, {"Name", ftString, 8}};
  t.Indexes = {{"PK", {"Id"}, tiPrimary}, {"ByName", {"Name"}, tiCaseInsensitive}};
  s.Tables.push_back(t);
  return s;
}

struct KeyRow : FieldValues {
  KeyRow(int32_t id, const std::string& name) { Int(id).Text(name, 8); }
};

class TableIOSearch : public ::testing::Test {
 protected:
  void OpenTable(bool encrypted) {
    path_ = dir_.File("k.zqc");
    TDbCreator::CreateFile(path_, KeySchema(encrypted));
    owner_ = std::make_unique<FakeOwner>();
    owner_->io().Open(path_, mtDisk, 0, false, false);
    ASSERT_TRUE(owner_->io().CheckPassword(encrypted ? "k3y" : ""));
    table_ = std::make_unique<TDbTableIO>(owner_.get());
    table_->SetTableName("K");
    table_->Open();
  }
  ~TableIOSearch() override {
    table_.reset();
    if (owner_) owner_->io().Close();
  }

  void Append(int32_t id, const std::string& name) {
    KeyRow row(id, name);
    table_->AppendRecord(row.buffers, false, nullptr);
  }

  // Record IDs of index `index` by walking its link chain in the file.
  std::vector<int32_t> Chain(int index) { return IndexChain(ReadAll(path_), table_->Header(), index); }

  static std::vector<int32_t> Ids(const TRowList& list) {
    std::vector<int32_t> ids;
    for (const TRowRef& ref : list) ids.push_back(ref.RecordId);
    return ids;
  }

  int Find(int32_t id, int& result) {
    KeyRow key(id, "");
    return table_->FindKey(key.buffers, table_->RowList(1), false, 1, result, 0);
  }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<FakeOwner> owner_;
  std::unique_ptr<TDbTableIO> table_;
};

TEST_F(TableIOSearch, AppendsInAndOutOfKeyOrderKeepListsAndChainsInOrder) {
  OpenTable(false);
  std::vector<int32_t> keys;
  for (int i = 0; i < 1500; ++i) keys.push_back(2 * (i + 1));  // in order: each beyond the last
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) keys.push_back(2 * static_cast<int32_t>(rng() % 1600) + 1);  // anywhere
  std::sort(keys.begin() + 1500, keys.end());
  keys.erase(std::unique(keys.begin() + 1500, keys.end()), keys.end());
  std::shuffle(keys.begin() + 1500, keys.end(), rng);
  keys.push_back(5000);  // beyond the last again
  std::vector<std::string> names;
  for (size_t i = 0; i < keys.size(); ++i) {
    names.push_back(std::string(1, static_cast<char>("bAcD"[i % 4])) + std::to_string(keys[i] % 97));
    Append(keys[i], names.back());
  }

  const TRowList& by_id = table_->RowList(1);
  ASSERT_EQ(by_id.size(), keys.size());
  for (size_t p = 1; p < by_id.size(); ++p)
    EXPECT_LT(keys[static_cast<size_t>(by_id[p - 1].RecordId)], keys[static_cast<size_t>(by_id[p].RecordId)]) << p;
  EXPECT_EQ(Chain(0), Ids(by_id));
  EXPECT_EQ(Chain(1), Ids(table_->RowList(2)));

  // Every key is found at its place; keys between and beyond are not.
  for (size_t p = 0; p < by_id.size(); p += 37) {
    int result = 0;
    int position = Find(keys[static_cast<size_t>(by_id[p].RecordId)], result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(position, static_cast<int>(p));
  }
  int result = 0;
  EXPECT_EQ(Find(6000, result), static_cast<int>(by_id.size()) - 1);
  EXPECT_EQ(result, 1);
  Find(0, result);
  EXPECT_EQ(result, -1);

  // The same lists after loading the table again from the file.
  std::vector<int32_t> before = Ids(by_id);
  table_->LoadRowList(0, true);
  EXPECT_EQ(Ids(table_->RowList(1)), before);
}

TEST_F(TableIOSearch, DuplicatesAreRefusedAtTheEndAndInTheMiddle) {
  OpenTable(false);
  for (int32_t id : {10, 20, 30}) Append(id, "n" + std::to_string(id));
  for (int32_t id : {30, 10, 20}) {
    EXPECT_EQ(ErrorOf<EDatabaseError>([&] { Append(id, "dup"); }),
              "Invalid unique field value '" + std::to_string(id) + "'");
  }
  EXPECT_EQ(table_->Header().SlotCount(), 3);
  EXPECT_EQ(table_->RowList(1).size(), 3u);
  Append(40, "n40");
  Append(25, "n25");
  EXPECT_EQ(Ids(table_->RowList(1)), (std::vector<int32_t>{0, 1, 4, 2, 3}));
  EXPECT_EQ(Chain(0), (std::vector<int32_t>{0, 1, 4, 2, 3}));
}

TEST_F(TableIOSearch, EncryptedKeysCompareDecoded) {
  OpenTable(true);
  for (int32_t id = 60; id >= 1; --id) Append(id * 3, std::string(1, static_cast<char>('a' + id % 26)));
  for (int32_t id = 1; id <= 60; ++id) {
    int result = 0;
    int position = Find(id * 3, result);
    EXPECT_EQ(result, 0) << id;
    EXPECT_EQ(position, id - 1) << id;
  }
  std::vector<uint8_t> file = ReadAll(path_);
  // The keys are not in the file as plain integers.
  std::vector<uint8_t> plain = IntValue(123456);
  Append(123456, "z");
  file = ReadAll(path_);
  EXPECT_EQ(std::search(file.begin(), file.end(), plain.begin(), plain.end()), file.end());
  EXPECT_EQ(Chain(0).back(), 60);
}

TEST_F(TableIOSearch, AKeyOutsideTheFileIsReportedAsDamage) {
  OpenTable(false);
  for (int32_t id : {1, 2, 3}) Append(id, "x");
  int32_t last_image = table_->RowList(0).back().DataOffset;
  // Cut the file inside the last record's image after the table was loaded.
  std::vector<uint8_t> file = ReadAll(path_);
  file.resize(static_cast<size_t>(last_image) + 2);
  WriteAll(path_, file);
  KeyRow key(4, "y");
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { table_->AppendRecord(key.buffers, false, nullptr); }),
            "Database file '" + path_ + "' is damaged: record image at offset " + std::to_string(last_image));
}

}  // namespace
}  // namespace zq
