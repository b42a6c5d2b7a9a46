// Database objects: connecting through the session, shared objects, temporary databases, access
// checks with and without the login hook, properties that need a closed database, events,
// progress and auto-flush.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "dbengine/storage/db_file_io.h"
#include "dbengine/dataset/db_table.h"
#include "dbengine/storage/table_io.h"
#include "session_test_support.h"

namespace zq {
namespace {

using session_test::ErrorOf;
using session_test::FakeDataSet;
using session_test::Schema;
using session_test::ScriptedLogin;
using testing_support::TempDir;

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plain_ = dir_.File("Plain.zqc");
    secret_ = dir_.File("Secret.zqc");
    TDbCreator::CreateFile(plain_, Schema());
    TDbCreator::CreateFile(secret_, Schema("Blowfish", "Mot2Passe"));
    databases_before_ = DefaultSession().DatabaseCount();
  }
  void TearDown() override {
    SetDbLoginHook(nullptr);
    EXPECT_EQ(DefaultSession().DatabaseCount(), databases_before_) << "a database was left behind";
  }

  TempDir dir_;
  std::string plain_, secret_;
  int databases_before_ = 0;
};

TEST_F(DatabaseTest, Defaults) {
  TDbDatabase db;
  EXPECT_EQ(db.FileName(), "");
  EXPECT_EQ(db.DatabaseName(), "");
  EXPECT_EQ(db.MediumType(), mtDisk);
  EXPECT_FALSE(db.Connected());
  EXPECT_FALSE(db.Exclusive());
  EXPECT_FALSE(db.ReadOnly());
  EXPECT_FALSE(db.KeepConnection());
  EXPECT_EQ(db.SessionName(), "");
  EXPECT_FALSE(db.AutoFlush());
  EXPECT_EQ(db.AutoFlushInterval(), 60000);
  EXPECT_FALSE(db.Temporary());
  EXPECT_EQ(db.RefCount(), 0);
  EXPECT_FALSE(db.CanAccess());
  EXPECT_EQ(db.Session(), &DefaultSession());
  EXPECT_FALSE(db.FlushTimer().Enabled());
  EXPECT_EQ(db.FileIO(), nullptr);
}

TEST_F(DatabaseTest, NamesDifferingInCaseShareOneObject) {
  FakeDataSet a(dir_.File("Plain.zqc")), b(dir_.File("PLAIN.ZQC"));
  a.Open();
  b.Open();
  EXPECT_EQ(a.Database(), b.Database());
  EXPECT_EQ(a.Database()->RefCount(), 2);
  EXPECT_TRUE(a.Database()->Temporary());
  EXPECT_EQ(a.Database()->Session(), &DefaultSession());
  EXPECT_EQ(a.Database()->GetDataSetCount(), 2);
}

TEST_F(DatabaseTest, UnknownSessionNameIsRefused) {
  FakeDataSet ds(plain_, "NoSuchSession");
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "Invalid session name NoSuchSession");
  TDbDatabase db;
  db.SetDatabaseName(plain_);
  db.SetSessionName("NoSuchSession");
  EXPECT_EQ(ErrorOf([&] { db.Open(); }), "Invalid session name NoSuchSession");
  EXPECT_FALSE(db.Connected());
}

TEST_F(DatabaseTest, UnencryptedFileIsAccessibleWithAnyPasswordOrNone) {
  FakeDataSet none(plain_);
  none.Open();
  EXPECT_TRUE(none.Database()->CanAccess());
  FakeDataSet any(plain_);
  any.SetPassword("whatever");
  any.Open();
  EXPECT_TRUE(any.Database()->CanAccess());
  EXPECT_FALSE(any.Database()->Encrypted());
}

TEST_F(DatabaseTest, RightPasswordOpensAndKeysTheFile) {
  FakeDataSet ds(secret_);
  ds.SetPassword("Mot2Passe");
  ds.Open();
  TDbDatabase* db = ds.Database();
  EXPECT_TRUE(db->CanAccess());
  EXPECT_TRUE(db->Encrypted());
  EXPECT_FALSE(db->Compressed());
  EXPECT_FALSE(db->CheckBlobWrites());
  // The key is set: encrypting works and decrypting gives the bytes back.
  uint8_t buf[16] = {1, 2, 3}, copy[16];
  std::memcpy(copy, buf, 16);
  db->FileIO()->EncodeBufferData(buf, buf, true, 16);
  EXPECT_NE(0, std::memcmp(buf, copy, 16));
  db->FileIO()->DecodeBufferData(buf, buf, true, 16);
  EXPECT_EQ(0, std::memcmp(buf, copy, 16));
}

TEST_F(DatabaseTest, WrongPasswordIsDeniedAndTheTemporaryDatabaseFreed) {
  FakeDataSet ds(secret_);
  ds.SetPassword("mot2passe");  // letter case matters
  EXPECT_EQ(DefaultSession().DatabaseCount(), databases_before_ + 1);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "Access denied");
  EXPECT_FALSE(ds.IsOpen());
  EXPECT_EQ(DefaultSession().DatabaseCount(), databases_before_);
  EXPECT_EQ(DefaultSession().FindDatabase(secret_), nullptr);
}

TEST_F(DatabaseTest, NoPasswordShowsTheLoginDialogAndCancelAbortsSilently) {
  ScriptedLogin login;
  login.cancel = true;
  SetDbLoginHook(&login);
  FakeDataSet ds(secret_);
  try {
    ds.Open();
    FAIL() << "no abort";
  } catch (const EAbort& e) {
    EXPECT_EQ(e.Message(), "");
  }
  ASSERT_EQ(login.shown.size(), 1u);
  EXPECT_EQ(login.shown[0], secret_);
  EXPECT_FALSE(ds.IsOpen());
  // With the right answer the open succeeds.
  login.cancel = false;
  login.answer = "Mot2Passe";
  ds.Open();
  EXPECT_TRUE(ds.Database()->CanAccess());
  EXPECT_EQ(login.shown.size(), 2u);
}

TEST_F(DatabaseTest, NoPasswordAndNoLoginHookIsDenied) {
  FakeDataSet ds(secret_);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "Access denied");
}

TEST_F(DatabaseTest, ClosingTheLastUserClosesTheFile) {
  FakeDataSet a(plain_), b(plain_), c(plain_);
  a.Open();
  b.Open();
  c.Open();
  TDbDatabase* db = a.Database();
  EXPECT_EQ(db->RefCount(), 3);
  b.CloseDataSet();
  a.CloseDataSet();
  ASSERT_EQ(DefaultSession().FindDatabase(plain_), db);
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(db->RefCount(), 1);
  c.CloseDataSet();
  EXPECT_EQ(DefaultSession().FindDatabase(plain_), nullptr);
}

TEST_F(DatabaseTest, ConnectionPropertiesNeedAClosedDatabase) {
  TDbDatabase db;
  db.SetDatabaseName("Named");
  db.SetFileName(plain_);
  db.Open();
  ASSERT_TRUE(db.Connected());
  const std::string msg = "Cannot perform this operation on an open database";
  EXPECT_EQ(ErrorOf([&] { db.SetFileName(secret_); }), msg);
  EXPECT_EQ(db.FileName(), plain_);
  EXPECT_EQ(ErrorOf([&] { db.SetDatabaseName("Other"); }), msg);
  EXPECT_EQ(ErrorOf([&] { db.SetMediumType(mtMemory); }), msg);
  EXPECT_EQ(ErrorOf([&] { db.SetExclusive(true); }), msg);
  EXPECT_EQ(ErrorOf([&] { db.SetReadOnly(true); }), msg);
  EXPECT_EQ(ErrorOf([&] { db.SetSessionName("Default"); }), msg);
  EXPECT_EQ(db.DatabaseName(), "Named");
  EXPECT_EQ(db.MediumType(), mtDisk);
  EXPECT_TRUE(db.Connected());
  db.Close();
  db.SetFileName(secret_);
  EXPECT_EQ(db.FileName(), secret_);
}

TEST_F(DatabaseTest, ClosedDatabaseFlagsAreRefused) {
  TDbDatabase db;
  const std::string msg = "Cannot perform this operation on a closed database";
  EXPECT_EQ(ErrorOf([&] { db.Encrypted(); }), msg);
  EXPECT_EQ(ErrorOf([&] { db.Compressed(); }), msg);
  EXPECT_EQ(ErrorOf([&] { db.CheckBlobWrites(); }), msg);
}

TEST_F(DatabaseTest, MissingNameAndFailedOpen) {
  TDbDatabase db;
  EXPECT_EQ(ErrorOf([&] { db.Open(); }), "Database name missing");
  db.SetDatabaseName(dir_.File("absent.zqc"));
  EXPECT_EQ(ErrorOf([&] { db.Open(); }), "Cannot open file " + dir_.File("absent.zqc"));
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(db.FileIO(), nullptr);
  // A failed OpenDatabase frees the database it created.
  FakeDataSet ds(dir_.File("absent.zqc"));
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "Cannot open file " + dir_.File("absent.zqc"));
  EXPECT_EQ(DefaultSession().FindDatabase(dir_.File("absent.zqc")), &db);
}

TEST_F(DatabaseTest, DuplicateNamesInOneSession) {
  TDbDatabase a;
  a.SetDatabaseName("Shared");
  TDbDatabase b;
  EXPECT_EQ(ErrorOf([&] { b.SetDatabaseName("SHARED"); }), "Duplicate database name 'SHARED'");
  EXPECT_EQ(b.DatabaseName(), "");
  // A temporary namesake without users gives way.
  TDbDatabase* temp = DefaultSession().OpenDatabase(plain_, false);
  ASSERT_TRUE(temp->Temporary());
  EXPECT_EQ(temp->RefCount(), 0);
  b.SetDatabaseName(plain_);
  EXPECT_EQ(DefaultSession().FindDatabase(plain_), &b);
  // One with a user does not.
  FakeDataSet ds(secret_);
  ds.SetPassword("Mot2Passe");
  ds.Open();
  TDbDatabase c;
  EXPECT_EQ(ErrorOf([&] { c.SetDatabaseName(secret_); }), "Duplicate database name '" + secret_ + "'");
}

TEST_F(DatabaseTest, EventsAndDataSetNotifications) {
  TDbDatabase db;
  db.SetDatabaseName(plain_);
  std::vector<std::string> events;
  db.BeforeConnect = [&](TDbDatabase&) { events.push_back("BeforeConnect"); };
  db.AfterConnect = [&](TDbDatabase& d) { events.push_back(d.Connected() ? "AfterConnect" : "?"); };
  db.BeforeDisconnect = [&](TDbDatabase&) { events.push_back("BeforeDisconnect"); };
  db.AfterDisconnect = [&](TDbDatabase& d) { events.push_back(d.Connected() ? "?" : "AfterDisconnect"); };
  FakeDataSet client(plain_);
  db.RegisterClient(&client);
  db.Open();
  db.Close();
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeConnect", "AfterConnect", "BeforeDisconnect", "AfterDisconnect"}));
  EXPECT_EQ(client.connection_changes, 2);
  EXPECT_FALSE(db.CanAccess());
}

// Tables with cursors open when their database goes, in every teardown order: they close cleanly,
// and a database component disconnects once.
TEST_F(DatabaseTest, OpenTablesCloseInEveryTeardownOrder) {
  enum class Teardown { CloseDatabase, DestroyDatabase, StopSession, FreeSession };
  struct Case {
    const char* what;
    Teardown how;
    bool temporary;  // created on demand by the tables, or a database component
  };
  const std::vector<Case> cases = {
      {"database closed", Teardown::CloseDatabase, false},
      {"database destroyed", Teardown::DestroyDatabase, false},
      {"temporary database destroyed", Teardown::DestroyDatabase, true},
      {"session stopped", Teardown::StopSession, false},
      {"session stopped, temporary database", Teardown::StopSession, true},
      {"session freed", Teardown::FreeSession, false},
      {"session freed, temporary database", Teardown::FreeSession, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto session = std::make_unique<TDbSession>();
    session->SetSessionName("Teardown");
    std::vector<std::string> events;
    std::unique_ptr<TDbDatabase> component;
    if (!c.temporary) {
      component = std::make_unique<TDbDatabase>();
      component->SetSessionName("Teardown");
      component->SetDatabaseName("Component");
      component->SetFileName(plain_);
      component->BeforeDisconnect = [&](TDbDatabase&) { events.push_back("BeforeDisconnect"); };
      component->AfterDisconnect = [&](TDbDatabase&) { events.push_back("AfterDisconnect"); };
    }
    std::vector<std::unique_ptr<TDbTable>> tables;
    for (const char* name : {"Config", "Settings", "Societe"}) {
      auto t = std::make_unique<TDbTable>();
      t->SetSessionName("Teardown");
      t->SetDatabaseName(c.temporary ? plain_ : "Component");
      t->SetTableName(name);
      t->Open();
      tables.push_back(std::move(t));
    }
    TDbDatabase* db = session->FindDatabase(c.temporary ? plain_ : "Component");
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->RefCount(), 3);
    switch (c.how) {
      case Teardown::CloseDatabase: db->Close(); break;
      case Teardown::DestroyDatabase:
        if (c.temporary) delete db;
        else component.reset();
        break;
      case Teardown::StopSession: session->Close(); break;
      case Teardown::FreeSession: session.reset(); break;
    }
    for (const auto& t : tables) {
      EXPECT_FALSE(t->Active());
      EXPECT_EQ(t->Database(), nullptr);
    }
    if (!c.temporary) {
      EXPECT_EQ(events, (std::vector<std::string>{"BeforeDisconnect", "AfterDisconnect"}));
    }
    if (component) {
      EXPECT_FALSE(component->Connected());
      EXPECT_EQ(component->RefCount(), 0);
    }
    tables.clear();
    component.reset();
  }
}

TEST_F(DatabaseTest, TablesOfTheFile) {
  TDbDatabase db;
  db.SetDatabaseName(plain_);
  std::vector<std::string> names{"untouched"};
  db.GetTableNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"untouched"}));
  EXPECT_EQ(db.FindTableIO("Config"), nullptr);
  db.Open();
  names.clear();
  db.GetTableNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Config", "Settings", "Societe"}));
  ASSERT_EQ(db.TableDefs().Count(), 3);
  EXPECT_EQ(db.TableDefs().Item(2).Name(), "Societe");
  EXPECT_EQ(db.TableDefs().Item(2).TableNumber, 2);
  ASSERT_EQ(db.TableIOCount(), 3);
  EXPECT_EQ(db.FindTableIO("SETTINGS"), db.TableIO(1));
  EXPECT_EQ(db.FindTableIO("Nothing"), nullptr);
  db.Close();
  EXPECT_EQ(db.TableIOCount(), 0);
  EXPECT_EQ(db.TableDefs().Count(), 0);
}

TEST_F(DatabaseTest, CloseDataSetsClosesLastFirst) {
  TDbDatabase db;
  db.SetDatabaseName("Closer");
  db.SetFileName(plain_);
  db.Open();
  FakeDataSet a("Closer"), b("Closer");
  a.Open();
  b.Open();
  EXPECT_EQ(db.RefCount(), 2);
  db.CloseDataSets();
  EXPECT_FALSE(a.IsOpen());
  EXPECT_FALSE(b.IsOpen());
  EXPECT_EQ(db.GetDataSetCount(), 0);
  // Not temporary: the last release closed the file but the object stays.
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(DefaultSession().FindDatabase("closer"), &db);
}

TEST_F(DatabaseTest, KeepConnection) {
  TDbDatabase db;
  db.SetDatabaseName("Kept");
  db.SetFileName(plain_);
  db.SetKeepConnection(true);
  FakeDataSet ds("Kept");
  ds.Open();
  ds.CloseDataSet();
  EXPECT_TRUE(db.Connected());
  db.SetKeepConnection(false);
  EXPECT_FALSE(db.Connected());
}

TEST_F(DatabaseTest, ReadOnly) {
  TDbDatabase db;
  db.SetDatabaseName(plain_);
  db.Open();
  EXPECT_NO_THROW(db.CheckReadOnly());
  db.Close();
  db.SetReadOnly(true);
  db.Open();
  EXPECT_EQ(ErrorOf([&] { db.CheckReadOnly(); }), "Cannot modify a read-only database");
}

TEST_F(DatabaseTest, SessionStopFreesTemporaryDatabasesAndClosesOthers) {
  TDbSession session;
  session.SetSessionName("Stopper");
  TDbDatabase named;
  named.SetSessionName("Stopper");
  named.SetDatabaseName("Named");
  named.SetFileName(plain_);
  named.Open();
  TDbDatabase* temp = session.OpenDatabase(secret_, false);
  EXPECT_EQ(temp->Session(), &session);
  EXPECT_EQ(session.DatabaseCount(), 2);
  session.Close();
  EXPECT_EQ(session.DatabaseCount(), 1);
  EXPECT_FALSE(named.Connected());
}

TEST_F(DatabaseTest, KeepConnectionsOfTheSessionReachesNewDatabases) {
  TDbSession session;
  session.SetSessionName("Keeper");
  session.SetKeepConnections(true);
  FakeDataSet ds(plain_, "Keeper");
  ds.Open();
  TDbDatabase* db = ds.Database();
  EXPECT_TRUE(db->KeepConnection());
  ds.CloseDataSet();
  EXPECT_TRUE(db->Connected());  // kept: still there, freed with its session
}

TEST_F(DatabaseTest, MediumTypeComesFromTheDataSetAndIsCopiedBack) {
  TDbDatabase db;
  FakeDataSet client("x");
  db.RegisterClient(&client);
  db.SetMediumType(mtMemory);
  EXPECT_EQ(client.MediumType(), mtMemory);
  db.UnregisterClient(&client);
}

TEST_F(DatabaseTest, ProgressEventsComeFromThePipeline) {
  TDbDatabase db;
  db.SetDatabaseName(secret_);
  db.Open();
  db.SetPassword("Mot2Passe");
  ASSERT_TRUE(db.CanAccess());
  std::vector<int> enc, dec;
  db.OnEncryptProgress = [&](TDbDatabase& sender, int p) {
    EXPECT_EQ(&sender, &db);
    enc.push_back(p);
  };
  db.OnDecryptProgress = [&](TDbDatabase&, int p) { dec.push_back(p); };
  TMemoryStream plain, stored, back;
  std::vector<uint8_t> bytes(10000, 'q');
  plain.WriteBuffer(bytes.data(), 10000);
  db.FileIO()->EncodeStreamData(plain, stored, false, true);
  db.FileIO()->DecodeStreamData(stored, back, false, true);
  EXPECT_EQ(enc, (std::vector<int>{0, 41, 82, 100, 0}));
  EXPECT_EQ(dec, (std::vector<int>{0, 41, 82, 100, 0}));
  EXPECT_EQ(back.Bytes(), bytes);
}

TEST_F(DatabaseTest, AutoFlushThroughTheTimer) {
  TDbDatabase db;
  db.SetDatabaseName(plain_);
  db.SetAutoFlushInterval(5000);
  db.SetAutoFlush(true);
  auto& timer = dynamic_cast<TManualFlushTimer&>(db.FlushTimer());
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 5000);
  db.SetAutoFlushInterval(2000);
  EXPECT_EQ(timer.Interval(), 2000);
  EXPECT_TRUE(timer.Fire());  // closed: nothing to flush
  db.Open();
  uint8_t byte;
  db.FileIO()->ReadAt(&byte, 100, 1);
  db.FileIO()->WriteAt(&byte, 100, 1);
  EXPECT_FALSE(db.FileIO()->IsFlushed());
  EXPECT_TRUE(timer.Fire());
  EXPECT_TRUE(db.FileIO()->IsFlushed());
  db.SetAutoFlush(false);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(timer.Fire());
}

}  // namespace
}  // namespace zq
