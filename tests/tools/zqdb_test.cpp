// zqdb run as a user runs it: a process, its output and its exit status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/storage/db_creator.h"
#include "dbengine/format/db_format.h"
#include "dbengine/format/field_type.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ojson = nlohmann::ordered_json;
using namespace zq::dbfmt;

using namespace zq::testing_support;

class ZqdbTest : public ::testing::Test {
 protected:
  static ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(BuiltProgram("tools/zqdb"), args);
  }

  std::string Path(const std::string& name) const { return temp_.File(name); }

  // Writes the schema and creates the database; the creation must succeed.
  std::string Create(const std::string& name, const ojson& schema) {
    WriteFile(dir_ / (name + ".json"), schema.dump());
    ProgramResult r = Run({"create", Path(name), Path(name + ".json")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return Path(name);
  }

  ojson DumpJson(const std::vector<std::string>& args) {
    ProgramResult r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return ojson::parse(r.out);
  }

  TempDir temp_{"zqdb"};
  fs::path dir_{temp_.Path()};
};

// A table of every storable type, with two records: one with every value, one whose blobs are
// left out.
ojson EveryTypeSchema(bool processed) {
  ojson fields = ojson::parse(R"([
    {"name": "Id", "type": "ftAutoInc"}, {"name": "S", "type": "ftString", "size": 10},
    {"name": "Sm", "type": "ftSmallint"}, {"name": "I", "type": "ftInteger"}, {"name": "W", "type": "ftWord"},
    {"name": "B", "type": "ftBoolean"}, {"name": "F", "type": "ftFloat"}, {"name": "C", "type": "ftCurrency"},
    {"name": "D", "type": "ftDate"}, {"name": "T", "type": "ftTime"}, {"name": "DT", "type": "ftDateTime"},
    {"name": "Bl", "type": "ftBlob"}, {"name": "M", "type": "ftMemo"},
    {"name": "G", "type": "ftGraphic", "store_raw": true}, {"name": "FM", "type": "ftFmtMemo"},
    {"name": "PO", "type": "ftParadoxOle"}, {"name": "DO", "type": "ftDBaseOle"},
    {"name": "TB", "type": "ftTypedBinary"}, {"name": "OB", "type": "ftOraBlob"}, {"name": "OC", "type": "ftOraClob"},
    {"name": "FC", "type": "ftFixedChar", "size": 5}, {"name": "L", "type": "ftLargeint"}])");
  ojson r1 = ojson::parse(R"({"Id": 0, "S": "Soci\u00e9t\u00e9", "Sm": -32768, "I": 2147483647, "W": 65535,
    "B": true, "F": 0.1, "C": 1234.5678, "D": "2013-01-15", "T": "23:59:59.999", "DT": "1999-12-31T12:34:56.789",
    "Bl": {"base64": "Zm9vYmFy"}, "M": "m\u00e9mo \u20ac", "G": {"base64": ""}, "FM": "", "PO": {"base64": "AA=="},
    "DO": {"base64": "/w=="}, "TB": {"base64": "Zg=="}, "OB": {"base64": "Zm8="}, "OC": "clob",
    "FC": "abcde", "L": -9223372036854775808})");
  ojson r2 = ojson::parse(R"({"Id": 7, "S": "", "Sm": 0, "I": -1, "W": 0, "B": false, "F": -2.5e-300,
    "C": 0, "D": "0001-01-01", "T": "00:00:00.000", "DT": "9999-12-31T23:59:59.999", "FC": "", "L": 9223372036854775807})");
  ojson schema = ojson::object();
  schema["version"] = "2.0";
  if (processed) {
    schema["compression"] = "ZLIB";
    schema["encryption"] = ojson::parse(R"({"algorithm": "Blowfish", "mode": 1, "password": "s\u00e9same"})");
  }
  ojson table = ojson::object();
  table["name"] = "Every";
  table["fields"] = fields;
  table["indexes"] = ojson::parse(R"([{"name": "PK", "fields": ["Id"], "options": ["primary"]}])");
  table["records"] = ojson::array({r1, r2});
  schema["tables"] = ojson::array({table});
  return schema;
}

// What dump prints for EveryTypeSchema: the values as given, blobs left out as empty values.
ojson EveryTypeDump(bool processed) {
  ojson schema = EveryTypeSchema(processed);
  ojson doc = ojson::object();
  doc["version"] = "2.0";
  doc["compression"] = processed ? ojson("ZLIB") : ojson(nullptr);
  doc["encryption"] = processed ? ojson::parse(R"({"algorithm": "Blowfish", "mode": 1})") : ojson(nullptr);
  doc["check_blob_writes"] = false;
  ojson table = ojson::object();
  table["name"] = "Every";
  table["slot_count"] = 2;
  table["last_autoinc"] = 7;
  ojson fields = ojson::array();
  for (const auto& f : schema["tables"][0]["fields"]) {
    ojson g = ojson::object();
    g["name"] = f["name"];
    g["type"] = f["type"];
    g["size"] = f.value("size", 0);
    g["store_raw"] = f.value("store_raw", false);
    fields.push_back(g);
  }
  table["fields"] = fields;
  table["indexes"] = schema["tables"][0]["indexes"];
  ojson records = ojson::array();
  int id = 0;
  for (ojson r : schema["tables"][0]["records"]) {
    ojson out = ojson::object();
    out["_id"] = id;
    for (const auto& f : fields) {
      std::string name = f["name"];
      if (r.contains(name) && (f["type"] == "ftFloat" || f["type"] == "ftCurrency")) out[name] = r[name].get<double>();
      else if (r.contains(name)) out[name] = r[name];
      else if (f["type"] == "ftMemo" || f["type"] == "ftFmtMemo" || f["type"] == "ftOraClob") out[name] = "";
      else out[name] = ojson::parse(R"({"base64": ""})");
    }
    if (id == 0) out["Id"] = 1;
    records.push_back(out);
    ++id;
  }
  table["records"] = records;
  doc["tables"] = ojson::array({table});
  return doc;
}

ojson SocieteSchema() {
  return ojson::parse(R"({"tables": [
    {"name": "Societe",
     "fields": [{"name": "Id", "type": "ftAutoInc"}, {"name": "Nom", "type": "ftString", "size": 20},
                {"name": "Ville", "type": "ftString", "size": 20}, {"name": "Capital", "type": "ftFloat"},
                {"name": "Logo", "type": "ftBlob"}, {"name": "Note", "type": "ftMemo"}],
     "indexes": [{"name": "PK", "fields": ["Id"], "options": ["primary", "descending"]},
                 {"name": "ByNom", "fields": ["Nom"], "options": ["caseinsensitive"]},
                 {"name": "ByVilleNom", "fields": ["Ville", "Nom"], "options": ["unique"]}],
     "records": [{"Id": 0, "Nom": "delta", "Ville": "Oran", "Capital": 100.5},
                 {"Id": 0, "Nom": "Alpha", "Ville": "Alger", "Capital": 2000},
                 {"Id": 0, "Nom": "charlie", "Ville": "Alger", "Capital": 0.25},
                 {"Id": 0, "Nom": "Bravo", "Ville": "Oran", "Capital": -3}]}]})");
}

// The record IDs of a dumped table, in the order printed.
std::vector<int> Ids(const ojson& dump, size_t table = 0) {
  std::vector<int> ids;
  for (const auto& r : dump["tables"][table]["records"]) ids.push_back(r["_id"]);
  return ids;
}

std::vector<std::string> Column(const ojson& dump, const std::string& field) {
  std::vector<std::string> values;
  for (const auto& r : dump["tables"][0]["records"]) values.push_back(r[field].get<std::string>());
  return values;
}

// --- usage ---------------------------------------------------------------------------------

TEST_F(ZqdbTest, HelpAndUsageErrors) {
  ProgramResult help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("create"), std::string::npos);
  EXPECT_NE(help.out.find("check"), std::string::npos);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"bogus"}, {"dump", "--bogus", "x.db"}, {"dump"}, {"edit", "--table", "T", "x.db", "A=1"},
        {"filter", "--table", "T", "x.db"}, {"delete", "--table", "T", "--row", "one", "x.db"}}) {
    ProgramResult r = Run(args);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Usage:"), std::string::npos) << r.err;
  }
  ProgramResult index_alone = Run({"dump", "--index", "PK", Path("x.db")});
  EXPECT_EQ(index_alone.status, 2);
  EXPECT_EQ(index_alone.err, "zqdb: --index needs --table\n");
}

TEST_F(ZqdbTest, MissingFileIsAnEngineError) {
  for (const char* command : {"dump", "check"}) {
    ProgramResult r = Run({command, Path("none.db")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zqdb: Cannot open file " + Path("none.db") + "\n");
    EXPECT_FALSE(fs::exists(Path("none.db")));
  }
}

// --- create and dump -----------------------------------------------------------------------

TEST_F(ZqdbTest, EveryFieldTypeRoundTripsPlain) {
  std::string db = Create("plain.db", EveryTypeSchema(false));
  ProgramResult r = Run({"dump", db});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, EveryTypeDump(false).dump() + "\n");
  ProgramResult check = Run({"check", db});
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out, "");
}

TEST_F(ZqdbTest, EveryFieldTypeRoundTripsCompressedAndEncrypted) {
  std::string db = Create("secret.db", EveryTypeSchema(true));
  ProgramResult r = Run({"dump", "--password", "s\xC3\xA9same", db});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, EveryTypeDump(true).dump() + "\n");
  // The password never appears in the file or the dump.
  EXPECT_EQ(r.out.find("same"), std::string::npos);
  EXPECT_EQ(ReadFile(db).find("same"), std::string::npos);
  ProgramResult check = Run({"check", "--password", "s\xC3\xA9same", db});
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out, "");
}

TEST_F(ZqdbTest, CreateWritesWhatTheCreationFacilityWrites) {
  // The same database described directly to the engine's creation facility.
  zq::TDbSchema schema;
  schema.Compression = "ZLIB";
  zq::TDbSchemaTable t;
  t.Name = "Soci\xE9t\xE9";
  t.Fields = {{"Id", zq::ftAutoInc, 0, false}, {"Nom", zq::ftString, 12, false}, {"Jour", zq::ftDate, 0, false},
              {"Logo", zq::ftGraphic, 0, true}, {"Memo", zq::ftMemo, 0, false}};
  t.Indexes = {{"PK", {"Id"}, zq::tiPrimary}, {"Nom", {"Nom", "Jour"}, zq::tiCaseInsensitive | zq::tiDescending}};
  zq::TDbSchemaRecord rec;
  rec.Values = {{"Id", zq::Variant(int64_t{0})}, {"Nom", zq::Variant(std::string("\x80uro"))},
                {"Jour", zq::Variant(std::string("2024-02-29"))}, {"Logo", zq::Variant(std::string("\x01\x02\x03", 3))}};
  t.Records = {rec};
  schema.Tables = {t};
  std::vector<uint8_t> expected = zq::TDbCreator::Build(schema);

  ojson json = ojson::parse(R"({"compression": "ZLIB", "tables": [{"name": "Soci\u00e9t\u00e9",
    "fields": [{"name": "Id", "type": "ftAutoInc"}, {"name": "Nom", "type": "ftString", "size": 12},
               {"name": "Jour", "type": "ftDate"}, {"name": "Logo", "type": "ftGraphic", "store_raw": true},
               {"name": "Memo", "type": "ftMemo"}],
    "indexes": [{"name": "PK", "fields": ["Id"], "options": ["primary"]},
                {"name": "Nom", "fields": ["Nom", "Jour"], "options": ["descending", "caseinsensitive"]}],
    "records": [{"Id": 0, "Nom": "\u20acuro", "Jour": "2024-02-29", "Logo": {"base64": "AQID"}}]}]})");
  std::string db = Create("same.db", json);
  std::string bytes = ReadFile(db);
  ASSERT_EQ(bytes.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reinterpret_cast<const uint8_t*>(bytes.data())));
  // The header as the format lays it out.
  EXPECT_EQ(bytes.substr(7, 5), std::string("2.0\0\0", 5));
  EXPECT_EQ(GetI32(reinterpret_cast<const uint8_t*>(bytes.data()) + kDirectoryOffset), 1);
  EXPECT_EQ(bytes.substr(kFileHeaderSize, 8), std::string("Soci\xE9t\xE9\0", 8));
}

TEST_F(ZqdbTest, Base64ValuesDecodeToTheirBytes) {
  // RFC 4648 test vectors, stored raw and unprocessed so the bytes appear in the file as they are.
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", ""}, {"Zg==", "f"}, {"Zm8=", "fo"}, {"Zm9v", "foo"}, {"Zm9vYg==", "foob"}, {"Zm9vYmE=", "fooba"},
      {"Zm9vYmFy", "foobar"}, {"/+8A", std::string("\xFF\xEF\x00", 3)}};
  ojson records = ojson::array();
  for (const auto& v : vectors) records.push_back({{"B", {{"base64", v.first}}}});
  ojson schema = {{"tables", {{{"name", "T"}, {"fields", {{{"name", "B"}, {"type", "ftBlob"}}}}, {"records", records}}}}};
  std::string db = Create("b64.db", schema);
  ojson dump = DumpJson({"dump", db});
  ASSERT_EQ(dump["tables"][0]["records"].size(), vectors.size());
  std::string file = ReadFile(db);
  for (size_t i = 0; i < vectors.size(); ++i) {
    EXPECT_EQ(dump["tables"][0]["records"][i]["B"]["base64"], vectors[i].first);
    if (!vectors[i].second.empty()) {
      EXPECT_NE(file.find(vectors[i].second), std::string::npos) << vectors[i].first;
    }
  }
  for (const char* bad : {"Zg=", "Zg=a", "Z===", "Zh==", "Zm9v!A==", "=Zm9"}) {
    ojson s = {{"tables", {{{"name", "T"}, {"fields", {{{"name", "B"}, {"type", "ftBlob"}}}},
                            {"records", {{{"B", {{"base64", bad}}}}}}}}}};
    WriteFile(dir_ / "bad.json", s.dump());
    ProgramResult r = Run({"create", Path("bad.db"), Path("bad.json")});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(r.err, "zqdb: Value of field 'B' in record 1 of table 'T' is not valid base64\n") << bad;
    EXPECT_FALSE(fs::exists(Path("bad.db")));
  }
}

TEST_F(ZqdbTest, CreateRefusesAnExistingFileAndLeavesItAlone) {
  WriteFile(dir_ / "keep.db", "precious");
  WriteFile(dir_ / "s.json", SocieteSchema().dump());
  ProgramResult r = Run({"create", Path("keep.db"), Path("s.json")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zqdb: File '" + Path("keep.db") + "' already exists\n");
  EXPECT_EQ(ReadFile(dir_ / "keep.db"), "precious");
}

TEST_F(ZqdbTest, BadSchemasAreUsageErrorsAndWriteNothing) {
  struct Case {
    std::string json;
    std::string message;
  };
  const std::string fields = R"("fields": [{"name": "N", "type": "ftInteger"}, {"name": "B", "type": "ftBlob"}])";
  const std::vector<Case> cases = {
      {R"({"tables": [{"name": "T", )" + fields + R"(, "records": [{"B": {"base64": ""}}]}]})",
       "Field 'N' has no value in record 1 of table 'T'"},
      {R"({"tables": [{"name": "T", )" + fields + R"(, "records": [{"N": null}]}]})",
       "Field 'N' has no value in record 1 of table 'T'"},
      {R"({"tables": [{"name": "T", )" + fields + R"(, "records": [{"N": 1}, {"X": 2, "N": 3}]}]})",
       "Field 'X' not found in table 'T'"},
      {R"({"tables": [{"name": "T", )" + fields + R"(, "records": [{"N": "1"}]}]})",
       "Value of field 'N' in record 1 of table 'T' must be an integer"},
      {R"({"tables": [{"name": "T", "fields": [{"name": "N", "type": "ftWideString"}]}]})",
       "Unknown field type 'ftWideString' of field 'N' of table 'T'; the field types are ftString, ftSmallint, "
       "ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftDate, ftTime, ftDateTime, ftAutoInc, ftBlob, ftMemo, "
       "ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftOraBlob, ftOraClob, ftFixedChar, ftLargeint"},
      {R"({"tables": [{"name": "T", "fields": [], "indexes": [{"name": "X", "fields": [], "options": ["clustered"]}]}]})",
       "Unknown index option 'clustered' of index 'X' of table 'T'; the index options are primary, unique, "
       "descending, caseinsensitive"},
      {R"({"tabels": []})", "Unknown key 'tabels' in the schema"},
      {R"({"tables": [{"name": "T\u0100", "fields": []}]})", "Character U+0100 cannot be represented in code page 1252"},
      {R"({"tables": [{"name": "T", "fields": [{"name": "S", "type": "ftString", "size": 9}],
          "records": [{"S": "\u4e2d"}]}]})", "Character U+4E2D cannot be represented in code page 1252"},
      {R"({"tables": [{"name": "T", "fields": [{"name": "D", "type": "ftDate"}], "records": [{"D": "2023-02-29"}]}]})",
       "Value of field 'D' in record 1 of table 'T' is not a valid date or time: '2023-02-29'"},
      {"{\"tables\": [", ""},
  };
  for (const Case& c : cases) {
    WriteFile(dir_ / "bad.json", c.json);
    ProgramResult r = Run({"create", Path("bad.db"), Path("bad.json")});
    EXPECT_EQ(r.status, 2) << c.json;
    if (!c.message.empty()) EXPECT_EQ(r.err, "zqdb: " + c.message + "\n") << c.json;
    else EXPECT_EQ(r.err.rfind("zqdb: Invalid schema JSON: ", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(Path("bad.db"))) << c.json;
  }
  // What the engine itself refuses ends with its message (exit 1), and no file either: values,
  // and algorithm names it does not know, with records or without.
  const std::string table = R"("tables": [{"name": "T", "fields": [{"name": "S", "type": "ftString", "size": 3}])";
  const std::vector<Case> engine_cases = {
      {"{" + table + R"(, "records": [{"S": "abcd"}]}]})", "Value of field 'S' is too long"},
      {R"({"compression": "FOO", )" + table + "}]}", "Compression algorithm module 'FOO' not found"},
      {R"({"compression": "FOO", )" + table + R"(, "records": [{"S": "ab"}]}]})",
       "Compression algorithm module 'FOO' not found"},
      {R"({"encryption": {"algorithm": "Rot13", "password": "p"}, )" + table + "}]}",
       "Encryption algorithm module 'Rot13' not found"},
      {R"({"compression": "zlib", "encryption": {"algorithm": "Rot13"}, )" + table + R"(, "records": [{"S": "ab"}]}]})",
       "Encryption algorithm module 'Rot13' not found"},
  };
  for (const Case& c : engine_cases) {
    WriteFile(dir_ / "refused.json", c.json);
    ProgramResult r = Run({"create", Path("bad.db"), Path("refused.json")});
    EXPECT_EQ(r.status, 1) << c.json;
    EXPECT_EQ(r.err, "zqdb: " + c.message + "\n") << c.json;
    EXPECT_FALSE(fs::exists(Path("bad.db"))) << c.json;
  }
}

// --- append, edit, delete, index order, filter ---------------------------------------------

TEST_F(ZqdbTest, TableOrderAndIndexOrder) {
  std::string db = Create("s.db", SocieteSchema());
  // The primary index is descending on Id: the table's own order is newest first.
  EXPECT_EQ(Ids(DumpJson({"dump", db})), (std::vector<int>{3, 2, 1, 0}));
  EXPECT_EQ(Ids(DumpJson({"dump", "--table", "societe", "--index", "PK", db})), (std::vector<int>{3, 2, 1, 0}));
  ojson by_nom = DumpJson({"dump", "--table", "Societe", "--index", "bynom", db});
  EXPECT_EQ(Column(by_nom, "Nom"), (std::vector<std::string>{"Alpha", "Bravo", "charlie", "delta"}));
  ojson by_ville = DumpJson({"dump", "--table", "Societe", "--index", "ByVilleNom", db});
  EXPECT_EQ(Ids(by_ville), (std::vector<int>{1, 2, 3, 0}));
  ProgramResult r = Run({"dump", "--table", "Societe", "--index", "Nope", db});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zqdb: Index 'Nope' not found\n");
  EXPECT_EQ(r.out, "");
  ProgramResult t = Run({"dump", "--table", "Nope", db});
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.err, "zqdb: Table 'Nope' not found\n");
}

TEST_F(ZqdbTest, AppendEditDeleteSequence) {
  std::string db = Create("s.db", SocieteSchema());
  WriteFile(dir_ / "logo.bin", std::string("\x89PNG\0\x01", 6));
  WriteFile(dir_ / "note.txt", "line 1\nline 2");

  ProgramResult a = Run({"append", "--table", "Societe", db, "Nom=Echo", "Ville=B\xC3\xA9jaia", "Capital=12.75",
                  "Logo@=" + Path("logo.bin"), "Note@=" + Path("note.txt")});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(a.out, "");
  ojson d = DumpJson({"dump", db});
  ojson first = d["tables"][0]["records"][0];
  EXPECT_EQ(first["_id"], 4);
  EXPECT_EQ(first["Id"], 5);
  EXPECT_EQ(first["Ville"], "B\xC3\xA9jaia");
  EXPECT_EQ(first["Capital"], 12.75);
  EXPECT_EQ(first["Logo"]["base64"], "iVBORwAB");
  EXPECT_EQ(first["Note"], "line 1\nline 2");
  EXPECT_EQ(d["tables"][0]["last_autoinc"], 5);
  EXPECT_EQ(d["tables"][0]["slot_count"], 5);

  // Row 2 in physical order is record 1 ("Alpha"), whatever order the table shows.
  ProgramResult e = Run({"edit", "--table", "Societe", "--row", "2", db, "Nom=Zulu", "Capital=1e3", "Note=edited"});
  ASSERT_EQ(e.status, 0) << e.err;
  ojson by_nom = DumpJson({"dump", "--table", "Societe", "--index", "ByNom", db});
  EXPECT_EQ(Column(by_nom, "Nom"), (std::vector<std::string>{"Bravo", "charlie", "delta", "Echo", "Zulu"}));
  EXPECT_EQ(by_nom["tables"][0]["records"][4]["_id"], 1);
  EXPECT_EQ(by_nom["tables"][0]["records"][4]["Capital"], 1000.0);
  EXPECT_EQ(by_nom["tables"][0]["records"][4]["Note"], "edited");

  // Delete row 1 (record 0) and then row 1 again (now record 1).
  ASSERT_EQ(Run({"delete", "--table", "Societe", "--row", "1", db}).status, 0);
  ASSERT_EQ(Run({"delete", "--table", "Societe", "--row", "1", db}).status, 0);
  ojson after = DumpJson({"dump", db});
  EXPECT_EQ(Ids(after), (std::vector<int>{4, 3, 2}));
  EXPECT_EQ(after["tables"][0]["slot_count"], 5);
  ProgramResult past = Run({"delete", "--table", "Societe", "--row", "4", db});
  EXPECT_EQ(past.status, 1);
  EXPECT_EQ(past.err, "zqdb: Row 4 not found (the table has 3 rows)\n");

  // The file is still consistent after all of it.
  ProgramResult check = Run({"check", db});
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out, "");
}

TEST_F(ZqdbTest, EngineErrorsWhileEditingLeaveTheFileAsItWas) {
  std::string db = Create("s.db", SocieteSchema());
  std::string before = ReadFile(db);
  ProgramResult dup = Run({"append", "--table", "Societe", db, "Nom=Alpha", "Ville=Alger"});
  EXPECT_EQ(dup.status, 1);
  EXPECT_EQ(dup.err, "zqdb: Invalid unique field value 'Alger,Alpha'\n");
  ProgramResult field = Run({"append", "--table", "Societe", db, "Nope=1"});
  EXPECT_EQ(field.status, 1);
  EXPECT_EQ(field.err, "zqdb: Field 'Nope' not found\n");
  ProgramResult number = Run({"edit", "--table", "Societe", "--row", "1", db, "Capital=lots"});
  EXPECT_EQ(number.status, 1);
  EXPECT_NE(number.err.find("'lots'"), std::string::npos) << number.err;
  ProgramResult blob_path = Run({"append", "--table", "Societe", db, "Nom@=" + Path("s.db.json")});
  EXPECT_EQ(blob_path.status, 2);
  EXPECT_EQ(blob_path.err, "zqdb: Field 'Nom' is not a blob or memo field; use FIELD=VALUE\n");
  ProgramResult no_file = Run({"append", "--table", "Societe", db, "Logo@=" + Path("missing.bin")});
  EXPECT_EQ(no_file.status, 2);
  EXPECT_EQ(no_file.err, "zqdb: Cannot read file " + Path("missing.bin") + "\n");
  ProgramResult bad_arg = Run({"append", "--table", "Societe", db, "Nom"});
  EXPECT_EQ(bad_arg.status, 2);
  EXPECT_EQ(bad_arg.err, "zqdb: Expected FIELD=VALUE or FIELD@=PATH, got 'Nom'\n");
  EXPECT_EQ(ReadFile(db), before);
}

TEST_F(ZqdbTest, CharacterOutsideCodePage1252LeavesTheFileUnchanged) {
  std::string db = Create("s.db", SocieteSchema());
  std::string before = ReadFile(db);
  const std::vector<std::vector<std::string>> commands = {
      {"append", "--table", "Societe", db, "Nom=\xE2\x82\xAC ok \xE4\xB8\xAD"},
      {"edit", "--table", "Societe", "--row", "1", db, "Nom=\xF0\x9F\x98\x80"},
      {"append", "--table", "Soci\xC4\x80t\xC3\xA9", db, "Nom=x"},
      {"filter", "--table", "Societe", "--expr", "Nom = '\xE4\xB8\xAD'", db},
      {"dump", "--password", "\xE4\xB8\xAD", db},
  };
  for (const auto& args : commands) {
    ProgramResult r = Run(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err.rfind("zqdb: Character U+", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("cannot be represented in code page 1252"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  ProgramResult invalid = Run({"append", "--table", "Societe", db, "Nom=\xC3("});
  EXPECT_EQ(invalid.status, 2);
  EXPECT_EQ(invalid.err, "zqdb: Invalid UTF-8 text\n");
  EXPECT_EQ(ReadFile(db), before);
  // The euro sign is in code page 1252 and goes through.
  ASSERT_EQ(Run({"append", "--table", "Societe", db, "Nom=\xE2\x82\xAC"}).status, 0);
  ojson d = DumpJson({"dump", db});
  EXPECT_EQ(d["tables"][0]["records"][0]["Nom"], "\xE2\x82\xAC");
  EXPECT_EQ(ReadFile(db).find("\x80"), ReadFile(db).find(std::string("\x80\0", 2)));
}

TEST_F(ZqdbTest, FilterExpressions) {
  std::string db = Create("s.db", SocieteSchema());
  auto names = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"filter", "--table", "Societe"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(db);
    ojson d = DumpJson(args);
    EXPECT_EQ(d["tables"].size(), 1u);
    return Column(d, "Nom");
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names({"--expr", "Ville = 'Alger'"}), (V{"charlie", "Alpha"}));
  EXPECT_EQ(names({"--expr", "Capital > 50"}), (V{"Alpha", "delta"}));
  EXPECT_EQ(names({"--expr", "Capital < 1 and Ville = 'Oran'"}), (V{"Bravo"}));
  EXPECT_EQ(names({"--expr", "Nom = 'alpha' or Id = 1"}), (V{"delta"}));
  EXPECT_EQ(names({"--case-insensitive", "--expr", "Nom = 'alpha' or Id = 1"}), (V{"Alpha", "delta"}));
  EXPECT_EQ(names({"--expr", "Nom = 'd*'"}), (V{"delta"}));
  EXPECT_EQ(names({"--no-partial", "--expr", "Nom = 'd*'"}), (V{}));
  EXPECT_EQ(names({"--expr", "Id >= 1"}), (V{"Bravo", "charlie", "Alpha", "delta"}));
  ojson d = DumpJson({"filter", "--table", "Societe", "--expr", "Id = 2", db});
  EXPECT_EQ(d["tables"][0]["name"], "Societe");
  EXPECT_EQ(d["tables"][0]["slot_count"], 4);
  EXPECT_EQ(Ids(d), (std::vector<int>{1}));
  ProgramResult bad = Run({"filter", "--table", "Societe", "--expr", "Nom = ", db});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err.rfind("zqdb: ", 0), 0u);
  EXPECT_EQ(bad.out, "");
}

// --- passwords -----------------------------------------------------------------------------

TEST_F(ZqdbTest, WrongOrMissingPasswordIsAccessDenied) {
  std::string db = Create("secret.db", EveryTypeSchema(true));
  std::string before = ReadFile(db);
  const std::vector<std::vector<std::string>> commands = {
      {"dump", db},
      {"dump", "--password", "sesame", db},
      {"dump", "--password", "S\xC3\xA9same", "--table", "Every", db},
      {"append", "--password", "x", "--table", "Every", db, "S=a"},
      {"edit", "--password", "x", "--table", "Every", "--row", "1", db, "S=a"},
      {"delete", "--password", "x", "--table", "Every", "--row", "1", db},
      {"filter", "--password", "x", "--table", "Every", "--expr", "Id > 0", db},
      {"check", "--password", "x", db},
  };
  for (const auto& args : commands) {
    ProgramResult r = Run(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.err, "zqdb: Access denied\n") << args[0];
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(ReadFile(db), before);
  // The right password opens it for writing, too.
  ASSERT_EQ(Run({"append", "--password", "s\xC3\xA9same", "--table", "Every", db, "S=new", "D=2020-02-02"}).status, 0);
  ojson d = DumpJson({"dump", "--password", "s\xC3\xA9same", db});
  EXPECT_EQ(d["tables"][0]["records"][2]["S"], "new");
  EXPECT_EQ(d["tables"][0]["records"][2]["Id"], 8);
  EXPECT_EQ(d["tables"][0]["records"][2]["D"], "2020-02-02");
}

// --- damaged files -------------------------------------------------------------------------

class DamagedFileTest : public ZqdbTest {
 protected:
  // A plain database of two tables with indexes, blobs and a record per table, and the offsets of
  // its structures as the format places them.
  void SetUp() override {
    ojson schema = SocieteSchema();
    schema["tables"].push_back(ojson::parse(R"({"name": "Other", "fields": [{"name": "K", "type": "ftInteger"}],
      "indexes": [{"name": "K", "fields": ["K"], "options": ["unique"]}],
      "records": [{"K": 5}, {"K": 9}, {"K": 7}]})"));
    schema["tables"][0]["records"][0]["Logo"] = {{"base64", "AAECAwQ="}};
    good_ = Create("good.db", schema);
    bytes_ = ReadFile(good_);
    table0_ = kFileHeaderSize;
    table1_ = kFileHeaderSize + kTableHeaderSize;
    first_slot_block_ = I32(table0_ + kHdrFirstSlotBlock);
    record0_ = I32(first_slot_block_ + 4);
  }
  int32_t I32(size_t at) const { return GetI32(reinterpret_cast<const uint8_t*>(bytes_.data()) + at); }
  std::string With(size_t at, int32_t value) const {
    std::string b = bytes_;
    PutI32(reinterpret_cast<uint8_t*>(b.data()) + at, value);
    return b;
  }
  // Writes a damaged copy; check must fail naming the fault.
  std::string Damaged(const std::string& name, const std::string& bytes, const std::string& expected_line) {
    WriteFile(dir_ / name, bytes);
    ProgramResult r = Run({"check", Path(name)});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.out.find(expected_line + "\n"), std::string::npos) << name << ":\n" << r.out;
    return Path(name);
  }

  std::string good_, bytes_;
  size_t table0_ = 0, table1_ = 0;
  int32_t first_slot_block_ = 0, record0_ = 0;
};

TEST_F(DamagedFileTest, TheUndamagedFileChecksClean) {
  ProgramResult r = Run({"check", good_});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST_F(DamagedFileTest, HeaderDamage) {
  std::string small = Damaged("small.db", bytes_.substr(0, 3000), "file: 3000 bytes, smaller than the 3821-byte file header");
  ProgramResult d = Run({"dump", small});
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(d.err.rfind("zqdb: Database file '" + small + "' is ", 0), 0u) << d.err;

  std::string magic = bytes_;
  magic[5] = 'b';
  std::string m = Damaged("magic.db", magic, "signature: not a database file");
  ProgramResult dm = Run({"dump", m});
  EXPECT_EQ(dm.status, 1);
  EXPECT_EQ(dm.err, "zqdb: Database file '" + m + "' is a invalid database file\n");

  std::string version = bytes_;
  version.replace(7, 5, std::string("3.0\0\0", 5));
  std::string v = Damaged("version.db", version, "signature: version '3.0' is not supported");
  ProgramResult dv = Run({"append", "--table", "Other", v, "K=1"});
  EXPECT_EQ(dv.status, 1);
  EXPECT_EQ(dv.err, "zqdb: Version of database file is too High\n");

  // An algorithm name the engine does not know: check passes on the engine's own message.
  std::string compressed = Create("zlib.db", [] {
    ojson s = SocieteSchema();
    s["compression"] = "ZLIB";
    return s;
  }());
  std::string algorithm = ReadFile(compressed);
  algorithm.replace(kOptionsOffset + kOptCompressAlgoName, 4, "ZLIX");
  std::string a = Damaged("algorithm.db", algorithm, "open: Compression algorithm module 'ZLIX' not found");
  ProgramResult da = Run({"dump", a});
  EXPECT_EQ(da.status, 1);
  EXPECT_EQ(da.err, "zqdb: Compression algorithm module 'ZLIX' not found\n");

  Damaged("count.db", With(kDirectoryOffset, 300), "directory: TableCount 300 is outside 0..256");
  Damaged("tableoffset.db", With(kDirectoryOffset + 8 + 4, 1 << 30),
          "directory: the header of table 1 at 1073741824 is outside the file");
}

TEST_F(DamagedFileTest, SlotAndRecordDamage) {
  std::string slot = Damaged("slot.db", With(first_slot_block_ + 4 + 5, 99999999),
                             "table 'Societe': record 1: the record image at 99999999 (94 bytes) is outside the file");
  for (std::string command : {"dump", "filter"}) {
    std::vector<std::string> args = {command, "--table", "Societe"};
    if (command == "filter") args.insert(args.end(), {"--expr", "Id > 0"});
    args.push_back(slot);
    ProgramResult r = Run(args);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.err.rfind("zqdb: Database file '" + slot + "' is damaged", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  std::string deleted = bytes_;
  deleted[first_slot_block_ + 4 + 5 * 2 + 4] = 7;
  Damaged("deleted.db", deleted, "table 'Societe': record 2: deleted flag is 7 instead of 0 or 1");

  // A huge slot count: the walk stops where the chain does, without allocating for the count.
  Damaged("huge.db", With(table0_ + kHdrSlotCount, 0x7FFFFFFF),
          "table 'Societe': the slot chain ends after 1 block(s); 2147483647 entries need 2097152");
  Damaged("first.db", With(table0_ + kHdrFirstSlotBlock, 0),
          "table 'Societe': the slot chain ends after 0 block(s); 4 entries need 1");
  Damaged("chain.db", With(table0_ + kHdrFirstSlotBlock, static_cast<int32_t>(bytes_.size()) - 100),
          "table 'Societe': slot block 0 at " + std::to_string(bytes_.size() - 100) + " is outside the file");
  Damaged("next.db", With(first_slot_block_, first_slot_block_),
          "table 'Societe': the last slot block (0) links on to " + std::to_string(first_slot_block_) + " instead of 0");
  // Two slots naming one image: the images overlap.
  Damaged("same.db", With(first_slot_block_ + 4 + 5, record0_),
          "overlap: table 'Societe' record 1 (" + std::to_string(record0_) + ".." + std::to_string(record0_ + 94) +
              ") overlaps table 'Societe' record 0 (" + std::to_string(record0_) + ".." +
              std::to_string(record0_ + 94) + ")");
  Damaged("autoinc.db", With(table0_ + kHdrLastAutoInc, 2),
          "table 'Societe': record 3 holds the auto-increment value 4, above LastAutoIncValue 2");
  std::string text = bytes_;
  for (int i = 0; i < 21; ++i) text[record0_ + 4 + i] = 'x';
  Damaged("text.db", text, "table 'Societe': record 0: field 'Nom': the text has no terminating NUL within its 21 bytes");
}

TEST_F(DamagedFileTest, BlobDamage) {
  // Record 0's Logo descriptor follows Id (4), Nom (21), Ville (21) and Capital (8).
  size_t logo = static_cast<size_t>(record0_) + 54;
  int32_t area = I32(logo);
  EXPECT_EQ(I32(logo + 4), 5);
  EXPECT_EQ(I32(logo + 8), 64);
  Damaged("rule.db", With(logo + 8, 100),
          "table 'Societe': record 0: field 'Logo': the blob area size 100 breaks the 64-byte rule for a stored "
          "length of 5 (a multiple of 64 above it)");
  Damaged("rule2.db", With(logo + 4, 64),
          "table 'Societe': record 0: field 'Logo': the blob area size 64 breaks the 64-byte rule for a stored "
          "length of 64 (a multiple of 64 above it)");
  Damaged("area.db", With(logo, static_cast<int32_t>(bytes_.size()) - 10),
          "table 'Societe': record 0: field 'Logo': the blob area at " + std::to_string(bytes_.size() - 10) +
              " (64 bytes) is outside the file");
  // The first link block of index PK follows the Logo area; an area that spills into it overlaps.
  Damaged("spill.db", With(logo + 8, 128),
          "overlap: table 'Societe': index 'PK' link block 0 (" + std::to_string(area + 64) + ".." +
              std::to_string(area + 64 + kLinkBlockSize) + ") overlaps table 'Societe' record 0 blob area of field 'Logo' (" +
              std::to_string(area) + ".." + std::to_string(area + 128) + ")");
  // Stored bytes that run past the end of the file: the engine refuses to read them.
  std::string damaged = With(logo, static_cast<int32_t>(bytes_.size()) - 2);
  WriteFile(dir_ / "area.db", damaged);
  ProgramResult r = Run({"dump", Path("area.db")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("zqdb: ", 0), 0u);
  EXPECT_EQ(r.out, "");
}

TEST_F(DamagedFileTest, IndexChainDamage) {
  // Table "Other": index K over records 5, 9, 7 (IDs 0, 1, 2): chain 0 -> 2 -> 1.
  size_t index = table1_ + kHdrIndexDefs;
  int32_t link_block = I32(index + kIdxFirstLinkBlock);
  ASSERT_EQ(I32(index + kIdxHeadSlot), 0);
  ASSERT_EQ(I32(link_block + 4 + 4), 2);
  ASSERT_EQ(I32(link_block + 4 + 2 * 8 + 4), 1);
  ASSERT_EQ(I32(link_block + 4 + 1 * 8 + 4), -1);
  Damaged("loop.db", With(link_block + 4 + 1 * 8 + 4, 0), "table 'Other': index 'K': the chain does not end after 3 records");
  Damaged("cycle.db", With(link_block + 4 + 2 * 8 + 4, 2), "table 'Other': index 'K': the chain returns to record 2");
  Damaged("skip.db", With(link_block + 4 + 4, 1), "table 'Other': index 'K': live record 2 is not in the chain");
  Damaged("out.db", With(link_block + 4 + 2 * 8 + 4, 40),
          "table 'Other': index 'K': the chain leads to record 40, outside 0..2");
  Damaged("own.db", With(link_block + 4 + 2 * 8, 1), "table 'Other': index 'K': the link of record 2 names record 1");
  Damaged("head.db", With(index + kIdxHeadSlot, 2), "table 'Other': index 'K': live record 0 is not in the chain");
  Damaged("nolinks.db", With(index + kIdxFirstLinkBlock, 0),
          "table 'Other': index 'K': no link blocks although the table has 3 record(s)");
  // Swapping two stored keys puts the chain out of order; equal keys break the unique index.
  std::string swapped = bytes_;
  int32_t slots = I32(table1_ + kHdrFirstSlotBlock);
  int32_t r1 = I32(slots + 4 + 5), r2 = I32(slots + 4 + 10);
  PutI32(reinterpret_cast<uint8_t*>(swapped.data()) + r1, 7);
  PutI32(reinterpret_cast<uint8_t*>(swapped.data()) + r2, 9);
  Damaged("order.db", swapped, "table 'Other': index 'K': record 2 comes before record 1 but its key sorts after");
  Damaged("dupe.db", With(r2, 9), "table 'Other': index 'K': records 2 and 1 have the same key in a unique index");
  Damaged("field.db", With(index + kIdxFieldNumbers, 3), "table 'Other': index 'K' names field number 3, outside 0..0");
}

TEST_F(DamagedFileTest, EveryProblemIsReported) {
  std::string b = With(first_slot_block_ + 4 + 5, 99999999);
  b[first_slot_block_ + 4 + 5 * 2 + 4] = 3;
  PutI32(reinterpret_cast<uint8_t*>(b.data()) + table1_ + kHdrIndexDefs + kIdxHeadSlot, 2);
  WriteFile(dir_ / "many.db", b);
  ProgramResult r = Run({"check", Path("many.db")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
  EXPECT_NE(r.out.find("record 1: the record image at 99999999"), std::string::npos);
  EXPECT_NE(r.out.find("record 2: deleted flag is 3"), std::string::npos);
  EXPECT_NE(r.out.find("table 'Other': index 'K': live record 0 is not in the chain"), std::string::npos);
}

TEST_F(DamagedFileTest, RandomDamageNeverCrashes) {
  // Bytes flipped anywhere in the structures: check and dump end with 0 or 1, never a signal,
  // and every failure carries a message.
  std::mt19937 rng(20130115);
  for (int round = 0; round < 60; ++round) {
    std::string b = bytes_;
    int flips = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < flips; ++i) {
      // Mostly the directory, table headers, slot and link blocks; sometimes anywhere.
      size_t at = rng() % 4 == 0 ? rng() % b.size() : kDirectoryOffset + rng() % (b.size() - kDirectoryOffset);
      b[at] = static_cast<char>(rng() % 3 == 0 ? 0xFF : rng());
    }
    WriteFile(dir_ / "random.db", b);
    for (std::string command : {"check", "dump"}) {
      ProgramResult r = Run({command, Path("random.db")});
      EXPECT_TRUE(r.status == 0 || r.status == 1) << command << " round " << round << ": " << r.status << r.err;
      if (r.status == 1 && command == "dump") {
        EXPECT_EQ(r.err.rfind("zqdb: ", 0), 0u) << r.err;
      }
      if (r.status == 1 && command == "check") {
        EXPECT_FALSE(r.out.empty() && r.err.empty());
      }
    }
  }
}

TEST_F(DamagedFileTest, CompressedBlobThatDoesNotDecode) {
  ojson schema = SocieteSchema();
  schema["compression"] = "ZLIB";
  schema["tables"][0]["records"][0]["Note"] = std::string(300, 'a');
  std::string db = Create("z.db", schema);
  std::string bytes = ReadFile(db);
  int32_t slots = GetI32(reinterpret_cast<const uint8_t*>(bytes.data()) + table0_ + kHdrFirstSlotBlock);
  int32_t rec = GetI32(reinterpret_cast<const uint8_t*>(bytes.data()) + slots + 4);
  int32_t note = GetI32(reinterpret_cast<const uint8_t*>(bytes.data()) + rec + 74);
  int32_t length = GetI32(reinterpret_cast<const uint8_t*>(bytes.data()) + rec + 78);
  ASSERT_GT(length, 8);
  // Keep the unit's size word; garble the zlib stream after it.
  for (int i = 4; i < length; ++i) bytes[note + i] = static_cast<char>(0xA5 ^ i);
  WriteFile(dir_ / "z.db", bytes);
  ProgramResult r = Run({"check", db});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("table 'Societe': record 0: field 'Note': the blob data does not decode: ", 0), 0u) << r.out;
  ProgramResult d = Run({"dump", db});
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(d.err.rfind("zqdb: ", 0), 0u);
}

}  // namespace
