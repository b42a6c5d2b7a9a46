// Every storable field type set from text through a table data set, posted, and read back from
// the file; key searches in set-key state.
#include <gtest/gtest.h>

#include "dbengine/db_error.h"
#include "tests/dbengine/db_table_fixture.h"

namespace zq {
namespace {

using testing::ErrorOf;

struct TypeCase {
  const char* field;
  TFieldType type;
  int size;
  const char* input;
  const char* stored_text;  // AsString after reopening
};

const TypeCase kCases[] = {
    {"S", ftString, 8, "Soci\xE9t\xE9", "Soci\xE9t\xE9"},  // code page 1252 text
    {"Sm", ftSmallint, 0, "-12", "-12"},
    {"I", ftInteger, 0, "123456", "123456"},
    {"W", ftWord, 0, "65535", "65535"},
    {"B", ftBoolean, 0, "true", "True"},
    {"F", ftFloat, 0, "3.14159", "3.14159"},
    {"C", ftCurrency, 0, "99.95", "99.95"},
    {"D", ftDate, 0, "2013-01-15", "2013-01-15"},
    {"T", ftTime, 0, "08:30:15.250", "08:30:15.250"},
    {"DT", ftDateTime, 0, "1999-12-31T23:59:59.999", "1999-12-31T23:59:59.999"},
    {"A", ftAutoInc, 0, "0", "1"},  // 0 asks the engine for the next value
    {"FC", ftFixedChar, 4, "abcdef", "abcd"},
    {"L", ftLargeint, 0, "-9000000000", "-9000000000"},
    {"M", ftMemo, 0, "long\ntext", "long\ntext"},
    {"FM", ftFmtMemo, 0, "{rtf}", "{rtf}"},
    {"OC", ftOraClob, 0, "clob", "clob"},
    {"BL", ftBlob, 0, "bytes", "bytes"},
};

TDbSchema AllTypes(bool encrypted) {
  TDbSchema s;
  if (encrypted) {
    s.EncryptAlgorithm = "Gost";
    s.EncryptMode = 1;
    s.Password = "g";
    s.Compression = "ZLIB";
  }
  TDbSchemaTable t{"All", {}, {{"PK", {"A"}, tiPrimary}}, {}};
  for (const auto& c : kCases) t.Fields.push_back({c.field, static_cast<uint8_t>(c.type), c.size});
  s.Tables = {t};
  return s;
}

class DbTableTypes : public testing::DbTableTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DbTableTypes, EveryTypeFromTextToFileAndBack) {
  const bool encrypted = GetParam();
  const std::string path = Create("all.db", AllTypes(encrypted));
  const std::string pw = encrypted ? "g" : "";
  {
    auto t = Table(path, "All", pw);
    t->Open();
    t->Append();
    for (const auto& c : kCases) t->FieldByName(c.field).SetAsString(c.input);
    t->Post();
    EXPECT_EQ(t->FieldByName("A").AsInteger(), 1);  // the assigned value is seen at once
  }
  auto t = Table(path, "All", pw);
  t->Open();
  ASSERT_EQ(t->RecordCount(), 1);
  for (const auto& c : kCases) EXPECT_EQ(t->FieldByName(c.field).AsString(), c.stored_text) << c.field;
  EXPECT_EQ(t->FieldByName("B").Value(), Variant(true));
  EXPECT_EQ(t->FieldByName("L").Value(), Variant(int64_t{-9000000000}));
  // A refused conversion names the value and the field and changes nothing.
  t->Edit();
  EXPECT_EQ(ErrorOf([&] { t->FieldByName("D").SetAsString("2013-13-01"); }),
            "'2013-13-01' is not a valid date value for field 'D'");
  EXPECT_EQ(ErrorOf([&] { t->FieldByName("W").SetAsString("70000"); }),
            "'70000' is out of range for field 'W'");
  EXPECT_EQ(t->FieldByName("D").AsString(), "2013-01-15");
  t->Cancel();
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, DbTableTypes, ::testing::Bool());

TDbSchema Keys() {
  TDbSchema s;
  TDbSchemaTable t{"K", {{"Grp", ftString, 5}, {"N", ftInteger}},
                   {{"ByGrpN", {"Grp", "N"}, tiPrimary}}, {}};
  for (auto [g, n] : std::vector<std::pair<const char*, int>>{{"b", 2}, {"a", 1}, {"b", 1}, {"c", 9}})
    t.Records.push_back({{{"Grp", Variant(g)}, {"N", Variant(n)}}});
  s.Tables = {t};
  TDbSchemaTable p{"P", {{"X", ftInteger}}, {}, {}};
  s.Tables.push_back(p);
  return s;
}

class DbTableKeys : public testing::DbTableTest {};

TEST_F(DbTableKeys, SetKeyGotoKeyAndFindKey) {
  const std::string path = Create("k.db", Keys());
  auto t = Table(path, "K");
  t->Open();
  t->SetKey();
  EXPECT_EQ(t->State(), TDataSetState::dsSetKey);
  t->FieldByName("Grp").SetAsString("b");
  EXPECT_TRUE(t->GotoKey());  // first row of group b in key order
  EXPECT_EQ(t->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(t->FieldByName("N").AsInteger(), 1);
  EXPECT_EQ(t->RecNo(), 2);
  EXPECT_TRUE(t->FindKey({Variant("b"), Variant(2)}));
  EXPECT_EQ(t->RecNo(), 3);
  EXPECT_FALSE(t->FindKey({Variant("z")}));
  EXPECT_EQ(t->RecNo(), 3);
  // Post from set-key state returns to browse.
  t->SetKey();
  t->Post();
  EXPECT_EQ(t->State(), TDataSetState::dsBrowse);
  auto p = Table(path, "P");
  p->Open();
  EXPECT_EQ(ErrorOf([&] { p->SetKey(); }), "No index currently active");
  EXPECT_EQ(ErrorOf([&] { p->FindKey({Variant(1)}); }), "No index currently active");
}

}  // namespace
}  // namespace zq
