#include <gtest/gtest.h>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/memory_stream_registry.h"
#include "dbengine/storage/table_io.h"
#include "engine_test_support.h"

namespace zq {
namespace {

using namespace testing_support;
using namespace dbfmt;

// Table "T": Id autoinc (4), Name string 20 (21), Num integer (4), Memo memo (20): record 49 bytes.
constexpr int kRecordSize = 4 + 21 + 4 + 20;
constexpr int kTableHeader = kFileHeaderSize;
constexpr int kDataStart = kFileHeaderSize + kTableHeaderSize;

TDbSchema Schema(bool check_blob_writes = false) {
  TDbSchema s;
  s.CheckBlobWrites = check_blob_writes;
  TDbSchemaTable t;
  t.Name = "T";
  t.Fields = {{"Id", ftAutoInc}, {"Name", ftString, 20}, {"Num", ftInteger}, {"Memo", ftMemo}};
  t.Indexes = {{"PK", {"Id"}, tiPrimary}, {"ByNum", {"Num"}, 0}, {"ByName", {"Name", "Num"}, tiUnique | tiCaseInsensitive}};
  s.Tables.push_back(t);
  return s;
}

struct Values {
  int32_t id = 0;
  std::string name;
  int32_t num = 0;
  std::optional<std::string> memo;
};

// Field numbers of the table above, as bits of Record's placeholder set.
enum : unsigned { kId = 1u << 0, kName = 1u << 1, kNum = 1u << 2 };

// The buffers of one record for the table above. Fields in `placeholders` get inactive
// placeholders, as a data set builds them for fields it has no field object for.
struct Record : FieldValues {
  explicit Record(const Values& v, unsigned placeholders = 0) {
    placeholders & kId ? Missing() : Int(v.id, ftAutoInc);
    placeholders & kName ? Missing() : Text(v.name, 20);
    placeholders & kNum ? Missing() : Int(v.num);
    v.memo ? Blob(*v.memo) : Missing();
  }
  int32_t Id() const { return GetI32(Bytes(0).data()); }
};

class TableIOEdgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("t.zqc");
    TDbCreator::CreateFile(path_, Schema(check_));
    Reopen();
  }
  void Reopen() {
    table_.reset();
    owner_ = std::make_unique<FakeOwner>();
    owner_->io().Open(path_, mtDisk, 0, false, false);
    table_ = std::make_unique<TDbTableIO>(owner_.get());
    table_->SetTableName("t");  // found without regard to case
    table_->Open();
  }
  void Append(const Values& v) {
    Record r(v);
    table_->AppendRecord(r.buffers, false, nullptr);
  }
  std::vector<int32_t> Ids(int list) {
    std::vector<int32_t> out;
    for (const auto& ref : table_->RowList(list)) out.push_back(ref.RecordId);
    return out;
  }
  bool check_ = false;
  TempDir dir_;
  std::string path_;
  std::unique_ptr<FakeOwner> owner_;
  std::unique_ptr<TDbTableIO> table_;
};

TEST_F(TableIOEdgeTest, LoadsDefinitionsAndLayout) {
  EXPECT_EQ(table_->TableNumber(), 0);
  EXPECT_EQ(table_->RecordSize(), kRecordSize);
  EXPECT_EQ(table_->FieldOffsets(), (TIntegerAry{0, 4, 25, 29}));
  EXPECT_EQ(table_->AutoIncField(), 0);
  EXPECT_EQ(table_->PrimaryIndex(), 0);
  EXPECT_EQ(table_->IndexDefs().Item(2).FieldNumbers, (TIntegerAry{1, 2}));
  EXPECT_EQ(table_->FieldDefs().IndexOf("MEMO"), 3);
  EXPECT_EQ(table_->RowListCount(), 4);
  TDbTableIO missing(owner_.get());
  missing.SetTableName("Nope");
  EXPECT_EQ(ErrorOf([&] { missing.Open(); }), "Table 'Nope' not found");
  EXPECT_FALSE(missing.Loaded());
  // The lock was released after the failed load.
  FakeOwner other;
  other.io().Open(path_, mtDisk, 0, false, false);
  other.retry_count = 1;
  CountingClock clock;
  other.io().SetClock(&clock);
  other.io().Lock();
  other.io().Unlock();
}

TEST_F(TableIOEdgeTest, FirstAppendLayout) {
  Append({0, "abc", 7, std::string("hello")});
  auto b = ReadAll(path_);
  const int B = kDataStart, D = B + kSlotBlockSize, A = D + kRecordSize, L0 = A + 64;
  ASSERT_EQ(b.size(), static_cast<size_t>(L0 + 3 * kLinkBlockSize));
  EXPECT_EQ(I32At(b, kTableHeader + kHdrFirstSlotBlock), B);
  EXPECT_EQ(I32At(b, kTableHeader + kHdrSlotCount), 1);
  EXPECT_EQ(I32At(b, kTableHeader + kHdrLastAutoInc), 1);
  EXPECT_EQ(I32At(b, B), 0);                  // NextBlock
  EXPECT_EQ(I32At(b, B + 4), D);
  EXPECT_EQ(b[B + 8], 0);
  for (int i = B + 9; i < D; ++i) ASSERT_EQ(b[static_cast<size_t>(i)], 0) << i;
  EXPECT_EQ(I32At(b, D), 1);  // auto-increment assigned
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[D + 4]), 3), "abc");
  for (int i = D + 7; i < D + 25; ++i) ASSERT_EQ(b[static_cast<size_t>(i)], 0);
  EXPECT_EQ(I32At(b, D + 25), 7);
  EXPECT_EQ(I32At(b, D + 29), A);
  EXPECT_EQ(I32At(b, D + 33), 5);
  EXPECT_EQ(I32At(b, D + 37), 64);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[A]), 5), "hello");
  for (int i = 0; i < 3; ++i) {
    int idx = kTableHeader + TTableDefBlock::IndexEntryOffset(i);
    int block = L0 + i * kLinkBlockSize;
    EXPECT_EQ(I32At(b, idx + kIdxFirstLinkBlock), block) << i;
    EXPECT_EQ(I32At(b, idx + kIdxHeadSlot), 0) << i;
    EXPECT_EQ(I32At(b, block), 0);
    EXPECT_EQ(I32At(b, block + 4), 0);
    EXPECT_EQ(I32At(b, block + 8), -1);
  }
  EXPECT_EQ(Ids(0), (std::vector<int32_t>{0}));
  EXPECT_EQ(table_->RowList(0)[0].DataOffset, D);
}

TEST_F(TableIOEdgeTest, RecordId1024StartsSecondSlotAndLinkBlocks) {
  for (int i = 0; i < 1025; ++i) Append({0, "n" + std::to_string(i), i % 10, std::nullopt});
  auto b = ReadAll(path_);
  const int B0 = kDataStart;
  // Records 0..1023: block, then each append adds one record image; record 0 also adds 3 link blocks.
  int64_t after_first = B0 + kSlotBlockSize + kRecordSize + 3 * kLinkBlockSize;
  int64_t d1023 = after_first + 1022 * kRecordSize;
  EXPECT_EQ(I32At(b, B0 + 4 + 1023 * kSlotSize), d1023);
  int64_t B1 = d1023 + kRecordSize;
  EXPECT_EQ(I32At(b, B0), B1);  // NextBlock of the first slot block
  EXPECT_EQ(I32At(b, B1), 0);
  EXPECT_EQ(I32At(b, B1 + 4), B1 + kSlotBlockSize);
  int64_t first_links = B0 + kSlotBlockSize + kRecordSize;
  for (int i = 0; i < 3; ++i) {
    int64_t second = B1 + kSlotBlockSize + kRecordSize + i * kLinkBlockSize;
    EXPECT_EQ(I32At(b, first_links + i * kLinkBlockSize), second) << i;
  }
  EXPECT_EQ(I32At(b, kTableHeader + kHdrSlotCount), 1025);
  Reopen();
  EXPECT_EQ(table_->RowList(0).size(), 1025u);
  EXPECT_EQ(Ids(1).back(), 1024);
}

TEST_F(TableIOEdgeTest, AutoIncrementRules) {
  auto header_last = [&] { return I32At(ReadAll(path_), kTableHeader + kHdrLastAutoInc); };
  Append({41, "a", 1, std::nullopt});
  EXPECT_EQ(header_last(), 41);
  Record r0({0, "x", 100, std::nullopt});
  table_->AppendRecord(r0.buffers, false, nullptr);
  EXPECT_EQ(r0.Id(), 42);  // written back into the buffer
  EXPECT_EQ(header_last(), 42);
  Append({100, "y", 1, std::nullopt});
  EXPECT_EQ(header_last(), 100);
  Append({7, "z", 1, std::nullopt});
  EXPECT_EQ(header_last(), 100);
  Reopen();
  EXPECT_EQ(table_->Header().LastAutoIncValue(), 100);
}

TEST_F(TableIOEdgeTest, AutoIncrementPlaceholderGetsTheNextValue) {
  Append({41, "a", 1, std::nullopt});
  for (int32_t expected : {42, 43}) {
    Record r({0, "p" + std::to_string(expected), expected, std::nullopt}, kId);
    table_->AppendRecord(r.buffers, false, nullptr);
    EXPECT_EQ(I32At(ReadAll(path_), kTableHeader + kHdrLastAutoInc), expected);
  }
  Reopen();
  EXPECT_EQ(table_->Header().LastAutoIncValue(), 43);
  EXPECT_EQ(Ids(1), (std::vector<int32_t>{0, 1, 2}));  // primary key order: 41, 42, 43
  TMemoryStream out;
  for (int32_t record : {1, 2}) {
    out.Clear();
    table_->ReadStoredField(out, record, 0);
    EXPECT_EQ(dbfmt::GetI32(out.Memory()), 41 + record);
  }
}

TEST_F(TableIOEdgeTest, ModifyingStringsKeepsIdsOrderAndUnchangedBlobs) {
  Append({0, "bbb", 2, std::string(10, 'm')});
  Append({0, "aaa", 1, std::nullopt});
  Append({0, "ccc", 3, std::nullopt});
  auto before = ReadAll(path_);
  auto list0 = table_->RowList(0);
  auto order = Ids(3);
  // The record as a data set holds it: its memo read from the file (not loaded), its name changed.
  FieldValues r;
  r.Int(0, ftAutoInc).Text("", 20).Int(0);
  TOptimBlobStream memo(owner_.get());
  r.buffers.AddBlob(&memo, ftMemo);
  table_->ReadRecord(r.buffers, table_->RowList(0), 0);
  const auto renamed = TextValue("bbX", 20);
  std::copy(renamed.begin(), renamed.end(), r.Bytes(1).begin());  // in place, where the buffers point
  table_->ModifyRecord(r.buffers, 0, nullptr, false);

  // The new image and a 24-byte switch note go to the end of the file; the slot points at the
  // image; the old image is zeroed; nothing else changes.
  auto after = ReadAll(path_);
  ASSERT_EQ(after.size(), before.size() + kRecordSize + 24);
  const int32_t d = list0[0].DataOffset, moved = static_cast<int32_t>(before.size());
  EXPECT_EQ(table_->RowList(0)[0].DataOffset, moved);
  EXPECT_EQ(table_->RowList(0)[0].RecordId, list0[0].RecordId);
  EXPECT_EQ(Ids(3), order);
  const int32_t slot = I32At(before, kTableHeader + kHdrFirstSlotBlock) + 4;
  EXPECT_EQ(I32At(after, static_cast<size_t>(slot)), moved);
  for (size_t i = 0; i < before.size(); ++i) {
    if (i >= static_cast<size_t>(slot) && i < static_cast<size_t>(slot) + 4) continue;
    const bool old_image = i >= static_cast<size_t>(d) && i < static_cast<size_t>(d) + kRecordSize;
    if (after[i] != (old_image ? 0 : before[i])) {
      ADD_FAILURE() << "byte " << i << " changed";
      break;
    }
  }
  EXPECT_EQ(after[static_cast<size_t>(moved) + 6], 'X');
  // The memo's descriptor is carried over: same area, same bytes.
  for (int k = 0; k < 20; ++k)
    EXPECT_EQ(after[static_cast<size_t>(moved + 29 + k)], before[static_cast<size_t>(d + 29 + k)]);
  EXPECT_EQ(std::string(after.begin() + moved + kRecordSize, after.begin() + moved + kRecordSize + 8), "ZQSWITCH");
}

TEST_F(TableIOEdgeTest, RewrittenBlobsGoToNewAreasAtTheEnd) {
  Append({0, "a", 1, std::string(100, 'x')});  // area 128
  Append({0, "b", 2, std::string(10, 'y')});
  auto desc = [&](int record) {
    auto b = ReadAll(path_);
    int32_t d = table_->RowList(0)[static_cast<size_t>(record)].DataOffset;
    return std::array<int32_t, 3>{I32At(b, d + 29), I32At(b, d + 33), I32At(b, d + 37)};
  };
  auto first = desc(0);
  EXPECT_EQ(first[1], 100);
  EXPECT_EQ(first[2], 128);
  // A new value never overwrites the area the record points at, even when it would fit: it
  // gets a new area at the end (here 100 bytes in 128), then the image after it.
  for (int length : {100, 128, 200}) {
    SCOPED_TRACE(length);
    auto old_bytes = ReadAll(path_);
    auto old = desc(0);
    Record r({1, "a", 1, std::string(static_cast<size_t>(length), 'v')});
    table_->ModifyRecord(r.buffers, 0, nullptr, false);
    auto b = ReadAll(path_);
    auto now = desc(0);
    EXPECT_EQ(now[0], static_cast<int32_t>(old_bytes.size()));
    EXPECT_EQ(now[1], length);
    EXPECT_EQ(now[2], length - length % 64 + 64);
    EXPECT_EQ(b.size(), old_bytes.size() + static_cast<size_t>(now[2]) + kRecordSize + 24);
    EXPECT_EQ(table_->RowList(0)[0].DataOffset, now[0] + now[2]);
    // The old area still holds the old value.
    EXPECT_TRUE(std::equal(old_bytes.begin() + old[0], old_bytes.begin() + old[0] + old[1], b.begin() + old[0]));
  }
  // Read back through the lazy blob stream.
  Reopen();
  FieldValues out;
  out.Int(0, ftAutoInc).Text("", 20).Int(0);
  TOptimBlobStream memo(owner_.get());
  out.buffers.AddBlob(&memo, ftMemo);
  table_->ReadRecord(out.buffers, table_->RowList(0), 0);
  EXPECT_EQ(memo.LoadCount(), 0);
  EXPECT_EQ(memo.Size(), 200);
  EXPECT_EQ(memo.LoadCount(), 1);
  EXPECT_EQ(memo.Memory()[0], 'v');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Bytes(1).data())), "a");
}

TEST_F(TableIOEdgeTest, UniqueKeyRefusedBeforeAnythingIsWritten) {
  Append({0, "abc", 5, std::nullopt});
  Append({0, "def", 6, std::nullopt});
  size_t size = ReadAll(path_).size();
  auto bytes = ReadAll(path_);
  EXPECT_EQ(ErrorOf([&] { Append({0, "ABC", 5, std::nullopt}); }), "Invalid unique field value 'ABC,5'");
  EXPECT_EQ(ErrorOf([&] { Append({2, "x", 5, std::nullopt}); }), "Invalid unique field value '2'");
  EXPECT_EQ(ReadAll(path_), bytes);
  EXPECT_EQ(ReadAll(path_).size(), size);
  // Own key kept on modify; another's key refused.
  Record same({1, "abc", 5, std::nullopt});
  table_->ModifyRecord(same.buffers, 0, nullptr, false);
  Record clash({1, "def", 6, std::nullopt});
  EXPECT_EQ(ErrorOf([&] { table_->ModifyRecord(clash.buffers, 0, nullptr, false); }), "Invalid unique field value 'def,6'");
}

TEST_F(TableIOEdgeTest, ModifyWithAutoIncZeroKeepsStoredKeyInIndex) {
  Append({0, "a", 1, std::nullopt});
  Append({0, "b", 2, std::nullopt});
  Append({0, "c", 3, std::nullopt});
  // The record with Id 3 is rewritten with 0 in the auto-increment field: its slot and its place
  // in the primary index stay as they are.
  Record r({0, "c2", 3, std::nullopt});
  int moves = 0;
  table_->ModifyRecord(r.buffers, 2, [&](int, int, int) { ++moves; }, false);
  EXPECT_EQ(moves, 0);
  EXPECT_EQ(Ids(1), (std::vector<int32_t>{0, 1, 2}));
  Reopen();
  EXPECT_EQ(Ids(1), (std::vector<int32_t>{0, 1, 2}));
  TMemoryStream out;
  table_->ReadStoredField(out, 2, 0);
  EXPECT_EQ(dbfmt::GetI32(out.Memory()), 3);
}

// Placeholders of a modify take the stored value for the unique check and the reorder: the record
// keeps its place in every index, in memory and in the file's chains, unless a given value moves it.
TEST_F(TableIOEdgeTest, ModifyWithPlaceholdersComparesTheStoredKey) {
  struct Case {
    const char* what;
    unsigned placeholders;
    Values values;  // for record 3, stored as (4, "c", 30)
    std::vector<int32_t> by_name;
    int moves;
    const char* error;
  };
  // Records 0..3: (1, b, 10), (2, c, 20), (3, a, 30), (4, c, 30). ByNum: 0, 1, 2, 3 throughout.
  const std::vector<Case> cases = {
      {"number kept", kNum, {4, "c", 0, std::nullopt}, {2, 0, 1, 3}, 0, "<no error>"},
      {"name kept", kName, {4, "", 30, std::nullopt}, {2, 0, 1, 3}, 0, "<no error>"},
      {"only the id given", kName | kNum, {4, "", 0, std::nullopt}, {2, 0, 1, 3}, 0, "<no error>"},
      {"id and number kept, name moves", kId | kNum, {0, "b2", 0, std::nullopt}, {2, 0, 3, 1}, 1, "<no error>"},
      {"new name clashes with the stored number", kNum, {4, "a", 0, std::nullopt}, {2, 0, 1, 3}, 0,
       "Invalid unique field value 'a,30'"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    path_ = dir_.File("placeholders" + std::to_string(n++) + ".zqc");
    TDbCreator::CreateFile(path_, Schema());
    Reopen();
    Append({0, "b", 10, std::nullopt});
    Append({0, "c", 20, std::nullopt});
    Append({0, "a", 30, std::nullopt});
    Append({0, "c", 30, std::nullopt});
    Record r(c.values, c.placeholders);
    int moves = 0;
    EXPECT_EQ(ErrorOf([&] { table_->ModifyRecord(r.buffers, 3, [&](int, int, int) { ++moves; }, false); }),
              c.error);
    EXPECT_EQ(moves, c.moves);
    EXPECT_EQ(Ids(2), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(Ids(3), c.by_name);
    Reopen();
    EXPECT_EQ(Ids(1), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(Ids(2), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(Ids(3), c.by_name);
    TMemoryStream out;
    table_->ReadStoredField(out, 3, 0);
    EXPECT_EQ(dbfmt::GetI32(out.Memory()), 4);
  }
}

TEST_F(TableIOEdgeTest, DeleteThenReload) {
  for (int i = 0; i < 5; ++i) Append({0, "n" + std::to_string(i), 10 - i, std::nullopt});
  table_->DeleteRecord(2, false);
  EXPECT_EQ(Ids(0), (std::vector<int32_t>{0, 1, 3, 4}));
  EXPECT_EQ(Ids(2), (std::vector<int32_t>{4, 3, 1, 0}));
  auto b = ReadAll(path_);
  EXPECT_EQ(b[kDataStart + 4 + 2 * 5 + 4], 1);  // Deleted byte
  Reopen();
  EXPECT_EQ(Ids(0), (std::vector<int32_t>{0, 1, 3, 4}));
  EXPECT_EQ(Ids(1), (std::vector<int32_t>{0, 1, 3, 4}));
  EXPECT_EQ(Ids(2), (std::vector<int32_t>{4, 3, 1, 0}));
  EXPECT_EQ(table_->Header().SlotCount(), 5);
  // The chain in the file still passes through record 2.
  TIndexLink link = TIndexLink::Read(&b[static_cast<size_t>(table_->Header().FirstLinkBlock(0)) + 4 + 8]);
  EXPECT_EQ(link.NextRecordId, 2);
}

TEST_F(TableIOEdgeTest, FindKeyBoundAndEmptySearch) {
  Record key({0, "", 2, std::nullopt});
  int result = 99;
  EXPECT_EQ(table_->FindKey(key.buffers, table_->RowList(2), false, 0, result, 1), -1);
  EXPECT_EQ(result, -2);
  EXPECT_EQ(table_->FindKeyBound(key.buffers, table_->RowList(2), false, 0, result, true, 1), -1);
  EXPECT_EQ(result, -2);
  int nums[] = {1, 2, 2, 2, 3};
  for (int i = 0; i < 5; ++i) Append({0, "k" + std::to_string(i), nums[i], std::nullopt});
  EXPECT_EQ(table_->FindKeyBound(key.buffers, table_->RowList(2), false, 0, result, true, 1), 1);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(table_->FindKeyBound(key.buffers, table_->RowList(2), false, 0, result, false, 1), 3);
  EXPECT_EQ(result, 0);
  Record big({0, "", 9, std::nullopt});
  EXPECT_EQ(table_->FindKeyBound(big.buffers, table_->RowList(2), false, 0, result, true, 1), 4);
  EXPECT_EQ(result, 1);
  // Partial, case-insensitive search on the name index.
  Record prefix({0, "K", 0, std::nullopt});
  int pos = table_->FindKeyBound(prefix.buffers, table_->RowList(3), true, 1, result, true, 2);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(pos, 0);
}

TEST_F(TableIOEdgeTest, PositionsMapBetweenLists) {
  for (int i = 0; i < 4; ++i) Append({0, "n" + std::to_string(i), 10 - i, std::nullopt});
  EXPECT_EQ(table_->MapPosition(0, 0, 2), 3);
  EXPECT_EQ(table_->MapPosition(2, 0, 0), 3);
  EXPECT_EQ(table_->MapPosition(2, 2, 2), 2);
  EXPECT_EQ(table_->MapPosition(2, 9, 0), -1);
  EXPECT_EQ(table_->PhysicalPosition(table_->RowList(2), 1), 2);
  EXPECT_EQ(table_->PhysicalPosition(table_->RowList(2), -1), -1);
}

TEST_F(TableIOEdgeTest, IndexCallbacksOnAppend) {
  Append({0, "b", 5, std::nullopt});
  std::vector<std::array<int, 3>> calls;
  Record r({0, "a", 1, std::nullopt});
  table_->AppendRecord(r.buffers, true, [&](int list, int pos, const TRowRef& ref) {
    calls.push_back({list, pos, ref.RecordId});
  });
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], (std::array<int, 3>{-1, -1, 1}));
  EXPECT_EQ(calls[1], (std::array<int, 3>{0, 1, 1}));
  EXPECT_EQ(calls[2], (std::array<int, 3>{1, 0, 1}));
  EXPECT_EQ(calls[3], (std::array<int, 3>{2, 0, 1}));
}

TEST_F(TableIOEdgeTest, ClosedDatabaseAndOpenCounting) {
  table_->Open();
  EXPECT_EQ(table_->OpenCount(), 2);
  table_->Close();
  EXPECT_TRUE(table_->Loaded());
  table_->Close();
  EXPECT_FALSE(table_->Loaded());
  table_->Close();
  EXPECT_EQ(table_->OpenCount(), 0);
  owner_->io().Close();
  EXPECT_EQ(ErrorOf([&] { table_->FieldIsEncrypted(0); }), "Cannot perform this operation on a closed database");
}

TEST(TableIODamage, MissingLinkBlocksLoadButRefuseWritesBeforeWriting) {
  TDbSchema s = Schema();
  s.Tables[0].Records.push_back({{{"Id", Variant(0)}, {"Name", Variant("a")}, {"Num", Variant(1)}}});
  std::vector<uint8_t> bytes = TDbCreator::Build(s);
  dbfmt::PutI32(&bytes[kFileHeaderSize + TTableDefBlock::IndexEntryOffset(0) + kIdxFirstLinkBlock], 0);  // index PK loses its link blocks
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  MemoryTable open(stream, "T");
  TDbTableIO& table = open.Table();
  EXPECT_EQ(table.RowList(0).size(), 1u);
  EXPECT_EQ(table.RowList(1).size(), 0u);
  EXPECT_EQ(table.RowList(2).size(), 1u);
  Record r({0, "b", 2, std::nullopt});
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { table.AppendRecord(r.buffers, false, nullptr); }),
            "Database file '" + open.Name() + "' is damaged: table 'T' index 'PK' link blocks");
  EXPECT_EQ(stream.Bytes(), bytes);
}

// A stream that damages every write of a marked byte value, to make blob checks fail.
class DamagingStream : public TMemoryStream {
 public:
  int64_t Write(const void* buffer, int64_t count) override {
    std::vector<uint8_t> copy(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + count);
    if (damage)
      for (auto& c : copy)
        if (c == 'Q') c = 'R';
    return TMemoryStream::Write(copy.data(), count);
  }
  bool damage = false;
};

TEST(TableIOBlobCheck, FailingReadBackIsBoundedAndReported) {
  DamagingStream stream;
  TDbCreator::CreateInStream(stream, Schema(true));
  MemoryTable open(stream, "T");
  TDbTableIO& table = open.Table();
  Record good({0, "a", 1, std::string("QQQ")});
  table.AppendRecord(good.buffers, false, nullptr);  // check passes
  stream.damage = true;
  Record bad({0, "b", 2, std::string("xQx")});
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { table.AppendRecord(bad.buffers, false, nullptr); }),
            "Blob field 'Memo' could not be written correctly: the data read back differs");
}

}  // namespace
}  // namespace zq
