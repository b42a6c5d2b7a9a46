// Every storable field type set from text through a table data set, posted, and read back from
// the file; key searches in set-key state.
#include <gtest/gtest.h>

#include "dbengine/format/db_error.h"
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

// Tables whose blob field comes first, in the middle or last, and one with small records and no
// blob: calculated fields must find their place in the record buffer of each.
TDbSchema BlobPlaces() {
  TDbSchema s;
  const std::vector<TDbSchemaField> first = {{"Pic", ftGraphic}, {"Num", ftFloat}, {"Name", ftString, 30}};
  const std::vector<TDbSchemaField> middle = {{"Name", ftString, 30}, {"Pic", ftMemo}, {"Num", ftFloat}};
  const std::vector<TDbSchemaField> last = {{"Num", ftFloat}, {"Name", ftString, 30}, {"Pic", ftBlob}};
  for (const auto& [name, fields] : std::vector<std::pair<const char*, std::vector<TDbSchemaField>>>{
           {"First", first}, {"Middle", middle}, {"Last", last}}) {
    TDbSchemaTable t{name, fields, {}, {}};
    for (double num : {1.5, 2.5})
      t.Records.push_back({{{"Num", Variant(num)}, {"Name", Variant(std::string(name))},
                            {"Pic", Variant(std::string(name) + " picture")}}});
    s.Tables.push_back(t);
  }
  TDbSchemaTable small{"Small", {{"Num", ftFloat}}, {}, {}};
  for (double num : {1.5, 2.5}) small.Records.push_back({{{"Num", Variant(num)}}});
  s.Tables.push_back(small);
  return s;
}

class DbTableCalculated : public testing::DbTableTest {};

TEST_F(DbTableCalculated, CalculatedFieldsOnEveryTableAndAcrossTableNameSwitches) {
  const std::string path = Create("calc.db", BlobPlaces());
  auto t = Table(path, "First");
  t->Fields().Add(std::make_unique<TField>("Twice", ftFloat, 0, TFieldKind::fkCalculated));
  t->Fields().Add(std::make_unique<TField>("Tag", ftString, 12, TFieldKind::fkCalculated));
  t->OnCalcFields = [](TDataSet& d) {
    d.FieldByName("Twice").SetAsFloat(d.FieldByName("Num").AsFloat() * 2);
    d.FieldByName("Tag").SetAsString("#" + d.FieldByName("Num").AsString());
  };
  // Each switch goes to a table with a different record layout, smaller and larger.
  for (const char* table : {"First", "Small", "Middle", "Last", "Small", "First", "Last", "Middle"}) {
    SCOPED_TRACE(table);
    t->SetTableName(table);
    t->Open();
    const bool has_blob = std::string(table) != "Small";
    std::vector<std::string> rows;
    for (t->First(); !t->Eof(); t->Next()) {
      rows.push_back(t->FieldByName("Twice").AsString() + " " + t->FieldByName("Tag").AsString());
      if (has_blob) { EXPECT_EQ(t->FieldByName("Pic").AsString(), std::string(table) + " picture"); }
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"3 #1.5", "5 #2.5"}));
    // A new record starts with cleared calculated fields and computes them from its values.
    t->Append();
    EXPECT_EQ(t->FieldByName("Tag").AsString(), "");
    EXPECT_EQ(t->FieldByName("Twice").AsString(), "");
    t->FieldByName("Num").SetAsFloat(4.25);
    EXPECT_EQ(t->FieldByName("Twice").AsFloat(), 8.5);
    if (has_blob) { EXPECT_EQ(t->FieldByName("Pic").AsString(), ""); }
    t->Cancel();
    t->Last();
    t->Edit();
    t->FieldByName("Num").SetAsFloat(2.5);
    EXPECT_EQ(t->FieldByName("Tag").AsString(), "#2.5");
    t->Post();
    EXPECT_EQ(t->FieldByName("Twice").AsFloat(), 5.0);
    if (has_blob) { EXPECT_EQ(t->FieldByName("Pic").AsString(), std::string(table) + " picture"); }
    t->Close();
  }
}

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
