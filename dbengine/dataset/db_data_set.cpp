#include "dbengine/dataset/db_data_set.h"

#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/session/session_list.h"

namespace zq {

TDbDataSet::TDbDataSet(TComponent* owner) : TComponent(owner) {
  if (auto* db = dynamic_cast<TDbDatabase*>(owner)) {
    database_name_ = db->DatabaseName();
    session_name_ = db->SessionName();
  }
  NotifyOwner(TOperation::opInsert);
}

TDbDataSet::~TDbDataSet() { NotifyOwner(TOperation::opRemove); }

void TDbDataSet::SetDatabaseName(const std::string& value) {
  if (Loading()) {
    database_name_ = value;
    return;
  }
  if (value == database_name_) return;
  CheckInactive();
  if (database_) throw EDatabaseError("Cannot perform this operation on an open database");
  database_name_ = value;
  FieldDefsChanged();
}

void TDbDataSet::SetSessionName(const std::string& value) {
  CheckInactive();
  session_name_ = value;
  FieldDefsChanged();
}

TDbSession& TDbDataSet::DataSetSession() const { return Sessions().GetSession(session_name_); }

void TDbDataSet::ReconcileSession() {
  // A database of that name that lives in the default session but belongs to the named
  // session moves there first.
  if (!session_name_.empty() && !database_name_.empty()) {
    TDbSession* named = Sessions().FindSession(session_name_);
    TDbSession* def = Sessions().DefaultSession();
    if (named && def && named != def && !named->FindDatabase(database_name_)) {
      if (TDbDatabase* db = def->FindDatabase(database_name_); db && !db->Connected()) {
        // The session check: a database joins the session its own SessionName names, which may
        // have come into being after the name was set.
        const std::string own = db->SessionName();
        if (!own.empty()) {
          db->SetSessionName("");
          db->SetSessionName(own);
        }
      }
    }
  }
}

void TDbDataSet::OpenCursor(bool info_query) {
  ReconcileSession();
  TDbSession& session = DataSetSession();
  database_ = session.OpenDatabase(database_name_, true, this);
  referenced_ = true;
  database_->RegisterClient(this);
  registered_ = true;
  database_->CheckCanAccess();
  TDataSet::OpenCursor(info_query);
}

void TDbDataSet::CloseCursor() {
  try {
    TDataSet::CloseCursor();
  } catch (...) {
    // The database reference goes back even when closing the cursor failed.
    TDbDatabase* db = database_;
    database_ = nullptr;
    if (db && registered_) db->UnregisterClient(this);
    registered_ = false;
    if (db && referenced_) ReleaseReference(*db);
    referenced_ = false;
    throw;
  }
  TDbDatabase* db = database_;
  database_ = nullptr;
  if (db) {
    if (registered_) db->UnregisterClient(this);
    registered_ = false;
    if (referenced_) {
      referenced_ = false;
      ReleaseReference(*db);
    }
  }
}

void TDbDataSet::ReleaseReference(TDbDatabase& db) {
  // A database being destroyed has already left its session; it only counts the release.
  if (TDbSession* session = db.Session()) session->ReleaseDatabase(&db);
  else db.Release();
}

void TDbDataSet::CloseDataSet() {
  if (Active()) {
    Close();
  } else if (database_ && registered_) {
    // Registered but not open (a failed open in progress): let go of the database all the same.
    CloseCursor();
  }
}

void TDbDataSet::ConnectionChanged() { DataEvent(TDataEvent::deConnectChange, nullptr); }

TDbTableIO* TDbDataSet::FindTableIO(const std::string& name) {
  return database_ ? database_->FindTableIO(name) : nullptr;
}

bool TDbDataSet::DatabaseReadOnly() {
  if (!database_) return true;
  if (database_->ReadOnly()) return true;
  TDbFileIO* io = database_->FileIO();
  return io && (io->ReadOnly() || io->FileIsReadOnly());
}

bool TDbDataSet::SessionHourGlass() {
  TDbSession* s = database_ ? database_->Session() : Sessions().FindSession(session_name_);
  return s && s->SQLHourGlass();
}

TDbFileIO* TDbDataSet::DatabaseFileIO() { return database_ ? database_->FileIO() : nullptr; }

void TDbDataSet::ApplyMediumTypeToDatabase(TDbMediumType value) {
  if (TDbSession* s = Sessions().FindSession(session_name_))
    if (TDbDatabase* db = s->FindDatabase(database_name_)) db->SetMediumType(value);
}

}  // namespace zq
