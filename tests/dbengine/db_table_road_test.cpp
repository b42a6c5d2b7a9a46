// The installer's road and the open/close life of table data sets on real files.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>

#include "dbengine/session/database.h"
#include "dbengine/format/date_time.h"
#include "dbengine/format/db_error.h"
#include "tests/dbengine/db_table_fixture.h"

namespace zq {
namespace {

using testing::ErrorOf;

TDbSchema ConfigSchema() {
  TDbSchema s;
  s.EncryptAlgorithm = "Blowfish";
  s.EncryptMode = 1;
  s.Password = "pa$$";
  s.Compression = "ZLIB";
  TDbSchemaTable config{"Config",
                        {{"Annee", ftString, 4}, {"App_Path", ftString, 200}, {"Export", ftString, 200}},
                        {},
                        {}};
  config.Records.push_back({{{"Annee", Variant("2012")},
                             {"App_Path", Variant("C:/old/path/that/is/long")},
                             {"Export", Variant("x")}}});
  TDbSchemaTable settings{"Settings", {{"Skin", ftInteger}}, {}, {}};
  settings.Records.push_back({{{"Skin", Variant(3)}}});
  TDbSchemaTable societe{"Societe",
                         {{"Societe", ftString, 50}, {"CapitalS", ftFloat}, {"NIF", ftString, 20}},
                         {},
                         {}};
  s.Tables = {config, settings, societe};
  return s;
}

class DbTableRoad : public testing::DbTableTest {};

TEST_F(DbTableRoad, InstallerRoadOnAnEncryptedFile) {
  const std::string path = Create("scg.zqc", ConfigSchema());
  auto config = Table(path, "Config", "pa$$");
  auto settings = Table(path, "Settings", "pa$$");
  auto societe = Table(path, "Societe", "pa$$");
  config->Open();
  settings->Open();
  societe->Open();
  TDbDatabase* db = DefaultDatabase(path);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(config->Database(), db);
  EXPECT_EQ(societe->Database(), db);
  EXPECT_EQ(db->RefCount(), 3);
  EXPECT_TRUE(db->Temporary());

  config->Edit();
  config->FieldByName("Annee").SetAsString("2026");
  config->FieldByName("app_path").SetAsString("C:/QUORVANT/Briskal_SE/");
  config->Post();
  settings->Edit();
  settings->Post();
  societe->Edit();  // empty table: a new record
  EXPECT_EQ(societe->State(), TDataSetState::dsInsert);
  societe->FieldByName("Societe").SetAsString("Exemple SARL");
  societe->FieldByName("CapitalS").SetAsString("100000.50");
  societe->FieldByName("NIF").SetAsString("000123456789012345678999");  // cut to 20
  societe->Post();
  EXPECT_EQ(societe->RecordCount(), 1);

  config->Close();
  settings->Close();
  EXPECT_EQ(DefaultDatabase(path), db);  // still used by one table
  EXPECT_EQ(db->RefCount(), 1);
  societe->Close();
  EXPECT_EQ(DefaultDatabase(path), nullptr);  // the last close freed the database

  auto check = Table(path, "CONFIG", "pa$$");
  check->Open();
  EXPECT_EQ(check->FieldByName("Annee").AsString(), "2026");
  EXPECT_EQ(check->FieldByName("App_Path").AsString(), "C:/QUORVANT/Briskal_SE/");
  check->Close();
  auto check2 = Table(path, "Societe", "pa$$");
  check2->Open();
  EXPECT_EQ(check2->RecordCount(), 1);
  EXPECT_EQ(check2->FieldByName("Societe").AsString(), "Exemple SARL");
  EXPECT_EQ(check2->FieldByName("CapitalS").AsFloat(), 100000.50);
  EXPECT_EQ(check2->FieldByName("NIF").AsString(), "00012345678901234567");
}

TEST_F(DbTableRoad, RewrittenStringsLeaveNoRemnantInTheFile) {
  TDbSchema s;
  TDbSchemaTable t{"T", {{"Name", ftString, 10}}, {}, {}};
  t.Records.push_back({{{"Name", Variant("ABCDEFGHIJ")}}});
  s.Tables = {t};
  const std::string path = Create("plain.db", s);
  auto table = Table(path, "T");
  table->Open();
  table->Edit();
  table->FieldByName("Name").SetAsString("xy");
  table->Post();
  table->Close();
  // Plain file: the old text must be gone from the record image.
  TFileStream f(path, FileAccess::Read);
  std::string bytes(static_cast<size_t>(f.Size()), '\0');
  f.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(bytes.find("CDEFGHIJ"), std::string::npos);
  EXPECT_NE(bytes.find(std::string("xy\0\0\0\0\0\0\0\0\0", 11)), std::string::npos);
}

TEST_F(DbTableRoad, WrongPasswordIsRefusedAndReleasesTheDatabase) {
  const std::string path = Create("scg.zqc", ConfigSchema());
  auto config = Table(path, "Config", "wrong");
  EXPECT_EQ(ErrorOf([&] { config->Open(); }), "Access denied");
  EXPECT_FALSE(config->Active());
  EXPECT_EQ(config->Database(), nullptr);
  EXPECT_EQ(DefaultDatabase(path), nullptr);
}

TEST_F(DbTableRoad, MissingTableAndDatabaseNameClearingTableName) {
  const std::string path = Create("scg.zqc", ConfigSchema());
  auto t = Table(path, "Nope", "pa$$");
  EXPECT_EQ(ErrorOf([&] { t->Open(); }), "Table 'Nope' not found");
  EXPECT_FALSE(t->Active());
  EXPECT_EQ(DefaultDatabase(path), nullptr);  // the failed open gave its reference back
  t->SetTableName("Config");
  t->SetIndexName("Whatever");
  t->SetDatabaseName(path + "x");
  EXPECT_EQ(t->TableName(), "");
  EXPECT_EQ(t->IndexName(), "");
  t->SetDatabaseName(path);
  EXPECT_EQ(ErrorOf([&] { t->Open(); }), "Table '' not found");
  t->SetTableName("Config");
  t->Open();
  EXPECT_EQ(ErrorOf([&] { t->SetTableName("Settings"); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(ErrorOf([&] { t->SetDatabaseName("other"); }),
            "Cannot perform this operation on an open dataset");
}

TEST_F(DbTableRoad, InvalidSessionNameFailsTheOpen) {
  const std::string path = Create("scg.zqc", ConfigSchema());
  auto t = Table(path, "Config", "");
  t->SetSessionName("NoSuchSession");
  EXPECT_EQ(ErrorOf([&] { t->Open(); }), "Invalid session name NoSuchSession");
  EXPECT_EQ(ErrorOf([&] { t->SetPassword("x"); }), "Invalid session name NoSuchSession");
  EXPECT_FALSE(t->Active());
}

TEST_F(DbTableRoad, NewRecordDefaultsAndNullAssignments) {
  TDbSchema s;
  TDbSchemaTable t{"T",
                   {{"D", ftDate}, {"Tm", ftTime}, {"DT", ftDateTime}, {"N", ftInteger}},
                   {},
                   {}};
  s.Tables = {t};
  const std::string path = Create("d.db", s);
  auto table = Table(path, "T");
  table->Open();
  EXPECT_EQ(table->RecNo(), 0);
  const TDateTime before = Now();
  table->Append();
  const TDateTime after = Now();
  EXPECT_TRUE(testing_support::DateBetween(table->FieldByName("D").AsDateTime(), before, after));
  EXPECT_TRUE(testing_support::TimeBetween(table->FieldByName("Tm").AsDateTime(), before, after));
  EXPECT_EQ(table->FieldByName("DT").AsDateTime(), 0.0);  // time stamp of date-time 0
  table->FieldByName("N").SetAsInteger(7);
  table->FieldByName("N").SetValue(Variant());  // null: the stored value stays
  EXPECT_FALSE(table->FieldByName("N").IsNull());
  EXPECT_EQ(table->FieldByName("N").AsInteger(), 7);
  table->Post();
  table->Append();
  table->FieldByName("N").SetAsInteger(8);
  table->Post();
  table->Close();
  table->Open();
  EXPECT_EQ(table->RecNo(), 1);  // before any movement
  EXPECT_EQ(table->FieldByName("N").AsInteger(), 7);
  table->SetRecNo(2);
  EXPECT_EQ(table->FieldByName("N").AsInteger(), 8);
  table->SetRecNo(5);  // above the row count: ignored
  EXPECT_EQ(table->RecNo(), 2);
}

TEST_F(DbTableRoad, ReadOnlyTableAndDatabase) {
  const std::string path = Create("scg.zqc", ConfigSchema());
  auto t = Table(path, "Config", "pa$$");
  t->SetReadOnly(true);
  t->Open();
  EXPECT_EQ(ErrorOf([&] { t->Edit(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { t->Delete(); }), "Cannot modify a read-only dataset");
  t->SetReadOnly(false);
  t->Edit();
  t->Cancel();
  t->Close();
  // The read-only file attribute (the owner write bit) makes every data set on it read-only.
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  auto r = Table(path, "Config", "pa$$");
  r->Open();  // opens for reading only; rows still load under a read lock
  EXPECT_EQ(r->RecordCount(), 1);
  EXPECT_EQ(ErrorOf([&] { r->Edit(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { r->Append(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { r->Delete(); }), "Cannot modify a read-only dataset");
  r->Close();
}

TEST_F(DbTableRoad, TablesDifferingInCaseShareOneDatabase) {
  const std::string path = Create("scg.zqc", ConfigSchema());
  auto a = Table(path, "Config", "pa$$");
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto b = Table(upper, "Settings", "pa$$");
  a->Open();
  b->Open();
  EXPECT_EQ(a->Database(), b->Database());
  EXPECT_EQ(a->Database()->RefCount(), 2);
}

TEST_F(DbTableRoad, DatabaseClosingItsDataSets) {
  const std::string path = Create("scg.zqc", ConfigSchema());
  auto a = Table(path, "Config", "pa$$");
  auto b = Table(path, "Settings", "pa$$");
  a->Open();
  b->Open();
  TDbDatabase* db = a->Database();
  db->SetKeepConnection(true);  // keep the object while its data sets go
  db->CloseDataSets();
  EXPECT_FALSE(a->Active());
  EXPECT_FALSE(b->Active());
  EXPECT_EQ(db->RefCount(), 0);
  EXPECT_EQ(db->GetDataSetCount(), 0);
  db->SetKeepConnection(false);
}

TEST_F(DbTableRoad, DatabaseMovesToTheSessionItNames) {
  const std::string path = Create("scg.zqc", ConfigSchema());
  TDbDatabase db;
  db.SetDatabaseName("Alias");
  db.SetFileName(path);
  db.SetSessionName("Second");  // no such session yet: the database stays in the default one
  EXPECT_EQ(DefaultSession().FindDatabase("Alias"), &db);
  TDbSession second;
  second.SetSessionName("Second");
  TDbTable t;
  t.SetSessionName("Second");
  t.SetDatabaseName("Alias");
  t.SetTableName("Config");
  t.BeforeOpen = [](TDataSet& ds) { static_cast<TDbTable&>(ds).SetPassword("pa$$"); };
  t.Open();
  EXPECT_EQ(t.Database(), &db);
  EXPECT_EQ(second.FindDatabase("Alias"), &db);
  EXPECT_EQ(DefaultSession().FindDatabase("Alias"), nullptr);
  t.Close();
}

// Reaches the record hook directly, as the framework does.
class ExposedTable : public TDbTable {
 public:
  using TDbTable::GetRecord;
  using TDbTable::InternalFirst;
  using TDbTable::TempBuffer;
};

TEST_F(DbTableRoad, CheckedReadOfAMissingRecordAndMediumTypeChanges) {
  const std::string path = Create("scg.zqc", ConfigSchema());
  ExposedTable t;
  t.SetDatabaseName(path);
  t.SetTableName("Settings");
  t.BeforeOpen = [](TDataSet& ds) { static_cast<TDbTable&>(ds).SetPassword("pa$$"); };
  t.Open();
  t.InternalFirst();  // before the first row: no current record
  EXPECT_EQ(ErrorOf([&] { t.GetRecord(t.TempBuffer(), TGetMode::gmCurrent, true); }), "No records");
  EXPECT_EQ(t.GetRecord(t.TempBuffer(), TGetMode::gmCurrent, false), TGetResult::grError);
  EXPECT_EQ(t.GetRecord(t.TempBuffer(), TGetMode::gmNext, false), TGetResult::grOK);
  EXPECT_EQ(t.GetRecord(t.TempBuffer(), TGetMode::gmNext, false), TGetResult::grEOF);
  EXPECT_EQ(ErrorOf([&] { t.SetMediumType(mtMemory); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(t.MediumType(), mtDisk);
  t.Close();
  EXPECT_EQ(DefaultDatabase(path), nullptr);
  t.SetMediumType(mtMemory);
  EXPECT_EQ(t.MediumType(), mtMemory);
}

}  // namespace
}  // namespace zq
