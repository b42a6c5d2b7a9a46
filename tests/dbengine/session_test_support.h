// Helpers of the session and database tests: database files made with the engine's creator, a
// data set stand-in that opens and closes cursors the way a table does, and a scripted login hook.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbengine/session/database.h"
#include "dbengine/storage/db_creator.h"
#include "dbengine/format/db_error.h"
#include "dbengine/format/field_type.h"
#include "dbengine/session/login_hook.h"
#include "dbengine/session/session.h"
#include "dbengine/session/session_list.h"
#include "tests/dbengine/engine_test_support.h"

namespace zq::session_test {

inline TDbSchema Schema(const std::string& algorithm = "", const std::string& password = "") {
  TDbSchema schema;
  schema.EncryptAlgorithm = algorithm;
  schema.EncryptMode = 1;
  schema.Password = password;
  for (const char* name : {"Config", "Settings", "Societe"}) {
    TDbSchemaTable t;
    t.Name = name;
    t.Fields.push_back(TDbSchemaField{"Name", ftString, 20, false});
    t.Records.push_back(TDbSchemaRecord{{{"Name", Variant(std::string("first"))}}});
    schema.Tables.push_back(t);
  }
  return schema;
}

// Opens and closes a cursor on a database the way a table data set does: the password step
// finds or creates the database, the open takes a reference, registers and checks access; a
// failed open closes again, which releases the reference.
class FakeDataSet : public TDbDataSetClient {
 public:
  FakeDataSet(std::string database_name, std::string session_name = "")
      : database_name_(std::move(database_name)), session_name_(std::move(session_name)) {}
  ~FakeDataSet() override { CloseDataSet(); }

  void SetPassword(const std::string& password) {
    TDbSession& s = Sessions().GetSession(session_name_);
    TDbDatabase* db = s.OpenDatabase(database_name_, false, this);
    db->SetPassword(password);
  }

  void Open() {
    TDbSession& s = Sessions().GetSession(session_name_);
    session_ = &s;
    database_ = s.OpenDatabase(database_name_, true, this);
    database_->RegisterClient(this);
    open_ = true;
    try {
      database_->CheckCanAccess();
    } catch (...) {
      CloseDataSet();
      throw;
    }
  }

  void CloseDataSet() override {
    if (!open_) return;
    open_ = false;
    ++closes;
    database_->UnregisterClient(this);
    session_->ReleaseDatabase(database_);
    database_ = nullptr;
  }
  void ConnectionChanged() override { ++connection_changes; }
  TDbMediumType MediumType() const override { return medium_; }
  void SetMediumType(TDbMediumType value) override { medium_ = value; }

  bool IsOpen() const { return open_; }
  TDbDatabase* Database() const { return database_; }
  int closes = 0;
  int connection_changes = 0;

 private:
  std::string database_name_;
  std::string session_name_;
  TDbSession* session_ = nullptr;
  TDbDatabase* database_ = nullptr;
  TDbMediumType medium_ = mtDisk;
  bool open_ = false;
};

class ScriptedLogin : public TDbLoginHook {
 public:
  bool Login(const std::string& path, std::string& password) override {
    shown.push_back(path);
    if (cancel) return false;
    password = answer;
    return true;
  }
  bool cancel = false;
  std::string answer;
  std::vector<std::string> shown;
};

// Database errors only: any other exception fails the test.
template <class F>
std::string ErrorOf(F&& f) {
  return testing_support::ErrorOf<EDatabaseError>(std::forward<F>(f));
}

}  // namespace zq::session_test
