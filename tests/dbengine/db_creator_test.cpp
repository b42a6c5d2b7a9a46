#include "dbengine/storage/db_creator.h"

#include <gtest/gtest.h>

#include "dbengine/pipeline/data_process_mgr.h"
#include "dbengine/format/date_time.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/memory_stream_registry.h"
#include "engine_test_support.h"

namespace zq {
namespace {

using namespace testing_support;

// Field order and slot widths of the full table (computed by hand).
struct Expected {
  const char* name;
  uint8_t type;
  int32_t size;
  int width;
};
const Expected kFields[] = {
    {"Str", ftString, 10, 11},    {"Small", ftSmallint, 0, 2}, {"Int", ftInteger, 0, 4},
    {"Word", ftWord, 0, 2},       {"Bool", ftBoolean, 0, 2},   {"Flt", ftFloat, 0, 8},
    {"Cur", ftCurrency, 0, 8},    {"Dt", ftDate, 0, 4},        {"Tm", ftTime, 0, 4},
    {"Dtm", ftDateTime, 0, 8},    {"Id", ftAutoInc, 0, 4},     {"Blob", ftBlob, 0, 20},
    {"Memo", ftMemo, 0, 20},      {"Graphic", ftGraphic, 0, 20}, {"FmtMemo", ftFmtMemo, 0, 20},
    {"Ole", ftParadoxOle, 0, 20}, {"DOle", ftDBaseOle, 0, 20}, {"Typed", ftTypedBinary, 0, 20},
    {"OBlob", ftOraBlob, 0, 20},  {"OClob", ftOraClob, 0, 20}, {"Fixed", ftFixedChar, 5, 6},
    {"Big", ftLargeint, 0, 8}};
constexpr int kRecordSize = 11 + 2 + 4 + 2 + 2 + 8 + 8 + 4 + 4 + 8 + 4 + 9 * 20 + 6 + 8;  // 251

TDbSchema FullSchema() {
  TDbSchema s;
  s.Compression = "ZLIB";
  s.EncryptAlgorithm = "Blowfish";
  s.EncryptMode = 1;
  s.Password = "secret";
  s.CheckBlobWrites = true;
  TDbSchemaTable t;
  t.Name = "Everything";
  for (const auto& f : kFields) t.Fields.push_back({f.name, f.type, f.size, std::string(f.name) == "Blob"});
  t.Indexes = {{"PK", {"Id"}, tiPrimary},
               {"ByStrInt", {"Str", "Int"}, tiCaseInsensitive | tiDescending},
               {"ByBig", {"Big"}, tiUnique}};
  TDbSchemaRecord r;
  r.Values = {{"Str", Variant("hello")},     {"Small", Variant(-2)},           {"Int", Variant(70000)},
              {"Word", Variant(65535)},      {"Bool", Variant(true)},          {"Flt", Variant(1.5)},
              {"Cur", Variant(TCurrency{2.25})}, {"Dt", Variant("2013-01-15")}, {"Tm", Variant("10:20:30.400")},
              {"Dtm", Variant("2013-01-15T10:20:30.400")}, {"Id", Variant(0)}, {"Blob", Variant(std::string("RAW"))},
              {"Memo", Variant(std::string("memo text"))}, {"Fixed", Variant("abcde")}, {"Big", Variant(int64_t{1} << 40)}};
  t.Records.push_back(r);
  r.Values[0].second = Variant("world");
  r.Values[14].second = Variant(int64_t{5});
  r.Values[11].second = Variant(std::string());  // empty blob: still an area
  r.Values.erase(r.Values.begin() + 12);         // no memo: no area
  t.Records.push_back(r);
  s.Tables.push_back(t);
  TDbSchemaTable empty;
  empty.Name = "Empty";
  empty.Fields = {{"A", ftInteger}};
  s.Tables.push_back(empty);
  return s;
}

// The pipeline on its own, to compute expected stored bytes independently of the table layer.
struct Pipeline {
  Pipeline() : compress(nullptr), encrypt(nullptr) {
    compress.SetAlgoName("ZLIB");
    encrypt.SetAlgoName("Blowfish");
    encrypt.SetMode(1);
    encrypt.InitKey("secret");
  }
  std::vector<uint8_t> Slot(const std::vector<uint8_t>& plain) {
    std::vector<uint8_t> out(plain.size());
    encrypt.EncodeBuffer(plain.data(), out.data(), static_cast<int64_t>(plain.size()));
    return out;
  }
  std::vector<uint8_t> Blob(const std::string& value, bool compress_it) {
    TMemoryStream in, mid, out;
    in.WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
    if (compress_it) {
      compress.EncodeStream(in, mid, -1);
      encrypt.EncodeStream(mid, out, mid.Size());
    } else {
      encrypt.EncodeStream(in, out, in.Size());
    }
    return out.Bytes();
  }
  TCompressMgr compress;
  TEncryptMgr encrypt;
};

std::vector<uint8_t> Le(int64_t v, int n) {
  std::vector<uint8_t> out(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out[static_cast<size_t>(i)] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
  return out;
}

void ExpectBytes(const std::vector<uint8_t>& file, size_t at, const std::vector<uint8_t>& want, const char* what) {
  ASSERT_LE(at + want.size(), file.size()) << what;
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + want.size())), want)
      << what;
}

void ExpectZero(const std::vector<uint8_t>& file, size_t from, size_t to, const char* what) {
  for (size_t i = from; i < to; ++i)
    if (file.at(i) != 0) {
      ADD_FAILURE() << what << ": byte " << i << " is " << int(file[i]);
      return;
    }
}

TEST(DbCreator, FileHeaderAndTableHeadersByteExact) {
  std::vector<uint8_t> f = TDbCreator::Build(FullSchema());
  ExpectBytes(f, 0, {0x54, 0x69, 0x6E, 0x79, 0x44, 0x42, 0, '2', '.', '0', 0, 0}, "signature");
  ExpectZero(f, 12, 2317, "not interpreted");
  EXPECT_EQ(f[2317], 1);
  EXPECT_EQ(f[2318], 0);
  ExpectBytes(f, 2319, {'Z', 'L', 'I', 'B', 0}, "compression name");
  ExpectZero(f, 2324, 2352, "compression name tail");
  EXPECT_EQ(f[2352], 1);
  EXPECT_EQ(f[2353], 1);
  ExpectBytes(f, 2354, {'B', 'l', 'o', 'w', 'f', 'i', 's', 'h', 0}, "encryption name");
  ExpectZero(f, 2363, 2387, "encryption name tail");
  EXPECT_EQ(f[2387], 1);
  ExpectZero(f, 2388, 2644, "not interpreted");
  std::string check = PipelinePasswordCheckText("secret");
  ExpectBytes(f, 2644, std::vector<uint8_t>(check.begin(), check.end()), "password check");
  ExpectZero(f, 2644 + check.size(), 2789, "password check tail");
  ExpectBytes(f, 2789, Le(2, 4), "table count");
  ExpectZero(f, 2793, 2797, "directory gap");
  ExpectBytes(f, 2797, Le(3821, 4), "table 0 offset");
  ExpectBytes(f, 2801, Le(3821 + 4821, 4), "table 1 offset");
  ExpectZero(f, 2805, 3821, "unused table offsets");

  size_t h = 3821;
  ExpectBytes(f, h, {'E', 'v', 'e', 'r', 'y', 't', 'h', 'i', 'n', 'g', 0}, "table name");
  ExpectZero(f, h + 11, h + 33, "table name tail");
  ExpectBytes(f, h + 45, Le(22, 4), "field count");
  for (int i = 0; i < 22; ++i) {
    size_t e = h + 49 + static_cast<size_t>(i) * 43;
    std::string name = kFields[i].name;
    ExpectBytes(f, e, std::vector<uint8_t>(name.begin(), name.end()), "field name");
    ExpectZero(f, e + name.size(), e + 33, "field name tail");
    EXPECT_EQ(f[e + 33], kFields[i].type) << i;
    ExpectBytes(f, e + 34, Le(kFields[i].size, 4), "field size");
    EXPECT_EQ(f[e + 38], name == "Blob" ? 1 : 0) << i;
    ExpectZero(f, e + 39, e + 43, "field entry tail");
  }
  ExpectZero(f, h + 49 + 22 * 43, h + 4177, "unused field entries");
  ExpectBytes(f, h + 4177, Le(3, 4), "index count");
  struct Idx {
    const char* name;
    uint8_t options;
    std::vector<int32_t> fields;
  } idx[] = {{"PK", 1, {10}}, {"ByStrInt", 8 | 4, {0, 2}}, {"ByBig", 2, {21}}};
  for (int i = 0; i < 3; ++i) {
    size_t e = h + 4181 + static_cast<size_t>(i) * 78;
    EXPECT_EQ(f[e + 33], idx[i].options) << i;
    for (int k = 0; k < 8; ++k) {
      int32_t want = k < static_cast<int>(idx[i].fields.size()) ? idx[i].fields[static_cast<size_t>(k)] : -1;
      ExpectBytes(f, e + 34 + static_cast<size_t>(k) * 4, Le(want, 4), "key field");
    }
    ExpectBytes(f, e + 70, Le(i == 0 ? 0 : 1, 4), "head slot");  // record 1 sorts first in indexes 1, 2
    ExpectZero(f, e + 74, e + 78, "index entry tail");
  }
  ExpectZero(f, h + 4181 + 3 * 78, h + 4821, "unused index entries and tail");
  // Header counters after two appends.
  ExpectBytes(f, h + 33, Le(3821 + 2 * 4821, 4), "first slot block");
  ExpectBytes(f, h + 37, Le(2, 4), "slot count");
  ExpectBytes(f, h + 41, Le(2, 4), "last auto-increment");

  size_t h2 = 3821 + 4821;
  ExpectBytes(f, h2, {'E', 'm', 'p', 't', 'y', 0}, "second table");
  ExpectZero(f, h2 + 6, h2 + 45, "second table counters");
  ExpectBytes(f, h2 + 45, Le(1, 4), "second table field count");
  ExpectZero(f, h2 + 49 + 43, h2 + 4821, "second table tail");
}

TEST(DbCreator, RecordsAppendedInLayoutOrderWithProcessedBytes) {
  std::vector<uint8_t> f = TDbCreator::Build(FullSchema());
  Pipeline p;
  const size_t B = 3821 + 2 * 4821, D0 = B + 5124;
  ExpectBytes(f, B, Le(0, 4), "next slot block");
  ExpectBytes(f, B + 4, Le(static_cast<int64_t>(D0), 4), "slot 0");
  EXPECT_EQ(f[B + 8], 0);
  // Slots of record 0, each encrypted on its own.
  ExpectBytes(f, D0, p.Slot({'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0, 0, 0}), "Str");
  ExpectBytes(f, D0 + 11, p.Slot(Le(-2, 2)), "Small");
  ExpectBytes(f, D0 + 13, p.Slot(Le(70000, 4)), "Int");
  ExpectBytes(f, D0 + 17, p.Slot(Le(65535, 2)), "Word");
  ExpectBytes(f, D0 + 19, p.Slot(Le(1, 2)), "Bool");
  ExpectBytes(f, D0 + 21, p.Slot(Le(0x3FF8000000000000LL, 8)), "Flt");
  ExpectBytes(f, D0 + 29, p.Slot(Le(0x4002000000000000LL, 8)), "Cur");
  int32_t day = 734883;  // 2013-01-15 as a day number from 0001-01-01 = 1
  ExpectBytes(f, D0 + 37, p.Slot(Le(day, 4)), "Dt");
  int32_t ms = ((10 * 60 + 20) * 60 + 30) * 1000 + 400;
  ExpectBytes(f, D0 + 41, p.Slot(Le(ms, 4)), "Tm");
  double dtm = double(day) * 86400000.0 + ms;
  int64_t dtm_bits;
  std::memcpy(&dtm_bits, &dtm, 8);
  ExpectBytes(f, D0 + 45, p.Slot(Le(dtm_bits, 8)), "Dtm");
  ExpectBytes(f, D0 + 53, p.Slot(Le(1, 4)), "Id");
  ExpectBytes(f, D0 + 237, p.Slot({'a', 'b', 'c', 'd', 'e', 0}), "Fixed");
  ExpectBytes(f, D0 + 243, p.Slot(Le(int64_t{1} << 40, 8)), "Big");
  // Blob areas follow the record image in field order: raw Blob, then the processed memo.
  const size_t A0 = D0 + kRecordSize;
  ExpectBytes(f, D0 + 57, Le(static_cast<int64_t>(A0), 4), "Blob offset");
  ExpectBytes(f, D0 + 61, Le(3, 4), "Blob length");
  ExpectBytes(f, D0 + 65, Le(64, 4), "Blob area");
  ExpectZero(f, D0 + 69, D0 + 77, "Blob descriptor tail");
  ExpectBytes(f, A0, {'R', 'A', 'W'}, "raw blob");
  ExpectZero(f, A0 + 3, A0 + 64, "raw blob padding");
  std::vector<uint8_t> memo = p.Blob("memo text", true);
  const size_t A1 = A0 + 64;
  const size_t area1 = memo.size() - memo.size() % 64 + 64;
  ExpectBytes(f, D0 + 77, Le(static_cast<int64_t>(A1), 4), "Memo offset");
  ExpectBytes(f, D0 + 81, Le(static_cast<int64_t>(memo.size()), 4), "Memo length");
  ExpectBytes(f, D0 + 85, Le(static_cast<int64_t>(area1), 4), "Memo area");
  ExpectBytes(f, A1, memo, "memo bytes");
  ExpectZero(f, A1 + memo.size(), A1 + area1, "memo padding");
  ExpectZero(f, D0 + 97, D0 + 237, "blob fields without a value");
  // Then one link block per index, each with the link (0, -1).
  const size_t L = A1 + area1;
  for (size_t i = 0; i < 3; ++i) {
    ExpectBytes(f, 3821 + 4181 + i * 78 + 66, Le(static_cast<int64_t>(L + i * 8196), 4), "first link block");
    ExpectBytes(f, L + i * 8196, Le(0, 4), "next link block");
    ExpectBytes(f, L + i * 8196 + 4, Le(0, 4), "link 0 id");
  }
  // PK: 0 -> 1 -> end.
  ExpectBytes(f, L + 8, Le(1, 4), "PK link 0 next");
  ExpectBytes(f, L + 12, Le(1, 4), "PK link 1 id");
  ExpectBytes(f, L + 16, Le(-1, 4), "PK link 1 next");
  // Record 1 directly after; its empty raw blob gets a 64-byte area, its memo none.
  const size_t D1 = L + 3 * 8196;
  ExpectBytes(f, B + 9, Le(static_cast<int64_t>(D1), 4), "slot 1");
  ExpectBytes(f, D1 + 57, Le(static_cast<int64_t>(D1 + kRecordSize), 4), "empty blob offset");
  ExpectBytes(f, D1 + 61, Le(0, 4), "empty blob length");
  ExpectBytes(f, D1 + 65, Le(64, 4), "empty blob area");
  ExpectZero(f, D1 + 77, D1 + 97, "memo without a value");
  EXPECT_EQ(f.size(), D1 + kRecordSize + 64);
  // Record 1 ("world") sorts before record 0 ("hello") in the descending index: the head moves.
  ExpectBytes(f, 3821 + 4181 + 78 + 70, Le(1, 4), "descending head");
  ExpectBytes(f, L + 8196 + 4 + 8, Le(1, 4), "link 1 id");
  ExpectBytes(f, L + 8196 + 4 + 12, Le(0, 4), "link 1 next");
  ExpectBytes(f, L + 8196 + 8, Le(-1, 4), "link 0 next");
}

TEST(DbCreator, CreatedFileReadsBackThroughTheEngine) {
  TempDir dir;
  std::string path = dir.File("full.zqc");
  TDbCreator::CreateFile(path, FullSchema());
  FakeOwner owner;
  owner.io().Open(path, mtDisk, 0, false, false);
  EXPECT_FALSE(owner.io().CheckPassword("Secret"));
  EXPECT_TRUE(owner.io().CheckPassword("secret"));
  TDbTableIO table(&owner);
  table.SetTableName("EVERYTHING");
  table.Open();
  ASSERT_EQ(table.RowList(0).size(), 2u);
  TMemoryStream out;
  table.ReadStoredField(out, 0, 12);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size())), "memo text");
  table.ReadStoredField(out, 1, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory())), "world");
  std::vector<uint8_t> str(11), big(8);
  TFieldBuffers buffers;
  for (int i = 0; i < 22; ++i) {
    if (i == 0)
      buffers.Add(str.data(), ftString, 11);
    else if (i == 21)
      buffers.Add(big.data(), ftLargeint, 8);
    else
      buffers.AddPlaceholder();
  }
  table.ReadRecord(buffers, table.RowList(3), 0);
  EXPECT_EQ(dbfmt::GetI64(big.data()), 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(str.data())), "world");
  // An existing file is never replaced.
  auto before = ReadAll(path);
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { TDbCreator::CreateFile(path, TDbSchema{}); }),
            "File '" + path + "' already exists");
  EXPECT_EQ(ReadAll(path), before);
}

TEST(DbCreator, NinetySixFieldsAndNoTables) {
  TDbSchema s;
  TDbSchemaTable t;
  t.Name = "Wide";
  for (int i = 0; i < 96; ++i) t.Fields.push_back({"F" + std::to_string(i), ftSmallint});
  t.Indexes = {{"Last", {"F95"}, tiUnique}};
  s.Tables.push_back(t);
  std::vector<uint8_t> f = TDbCreator::Build(s);
  ExpectBytes(f, 3821 + 45, Le(96, 4), "field count");
  EXPECT_EQ(f[3821 + 49 + 95 * 43], 'F');
  EXPECT_EQ(f[3821 + 49 + 95 * 43 + 33], ftSmallint);
  ExpectBytes(f, 3821 + 4177, Le(1, 4), "index count right after the 96th entry");
  ExpectBytes(f, 3821 + 4181 + 34, Le(95, 4), "key field");
  TMemoryStream stream;
  stream.WriteBuffer(f.data(), static_cast<int64_t>(f.size()));
  MemoryTable open(stream, "wide");
  EXPECT_EQ(open.Table().FieldDefs().Count(), 96);
  EXPECT_EQ(open.Table().IndexDefs().Count(), 1);
  EXPECT_EQ(open.Table().RecordSize(), 192);
  EXPECT_EQ(open.Table().RowList(0).size(), 0u);

  // No tables: every lookup fails.
  TMemoryStream none;
  TDbCreator::CreateInStream(none, TDbSchema{});
  EXPECT_EQ(none.Size(), 3821);
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { MemoryTable(none, "Config"); }), "Table 'Config' not found");
}

TEST(DbCreator, InvalidSchemasAreRefused) {
  auto error = [](const TDbSchema& s) { return ErrorOf<EDatabaseError>([&] { TDbCreator::Build(s); }); };
  TDbSchema s;
  s.Tables.push_back({"T", {{"A", ftInteger}, {"S", ftString, 3}}, {}, {}});
  EXPECT_EQ(error(s), "<no error>");
  TDbSchema missing = s;
  missing.Tables[0].Records.push_back({{{"A", Variant(1)}}});
  EXPECT_EQ(error(missing), "Field 'S' has no value in record 1 of table 'T'");
  TDbSchema too_long = s;
  too_long.Tables[0].Records.push_back({{{"A", Variant(1)}, {"S", Variant("abcd")}}});
  EXPECT_EQ(error(too_long), "Value of field 'S' is too long");
  TDbSchema bad_type = s;
  bad_type.Tables[0].Fields.push_back({"X", ftBCD});
  EXPECT_EQ(error(bad_type), "Invalid type or size of field 'X'");
  TDbSchema dup = s;
  dup.Tables[0].Fields.push_back({"a", ftInteger});
  EXPECT_EQ(error(dup), "Duplicate field name 'a'");
  TDbSchema bad_index = s;
  bad_index.Tables[0].Indexes.push_back({"I", {"Nope"}, 0});
  EXPECT_EQ(error(bad_index), "Field 'Nope' of index 'I' not found");
  TDbSchema version = s;
  version.Version = "2.1";
  EXPECT_EQ(error(version), "Invalid database version '2.1'");
  TDbSchema no_records = s;  // refused even when no record would need the algorithm
  no_records.Compression = "LZX";
  EXPECT_EQ(error(no_records), "Compression algorithm module 'LZX' not found");
  no_records.Compression = "";
  no_records.EncryptAlgorithm = "Rot13";
  EXPECT_EQ(error(no_records), "Encryption algorithm module 'Rot13' not found");
  TDbSchema algo = s;
  algo.Compression = "LZX";
  algo.Tables[0].Records.push_back({{{"A", Variant(1)}, {"S", Variant("ab")}}});
  EXPECT_EQ(error(algo), "Compression algorithm module 'LZX' not found");
  TDbSchema range = s;
  range.Tables[0].Fields[0].FieldType = ftSmallint;
  range.Tables[0].Records.push_back({{{"A", Variant(40000)}, {"S", Variant("ab")}}});
  EXPECT_EQ(error(range), "Value of field 'A' is out of range");
}

}  // namespace
}  // namespace zq
