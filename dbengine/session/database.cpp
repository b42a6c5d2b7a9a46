#include "dbengine/session/database.h"

#include <algorithm>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/session/login_hook.h"
#include "dbengine/session/session_list.h"
#include "dbengine/storage/table_io.h"

namespace zq {

TDbDatabase::TDbDatabase(TComponent* owner) : TComponent(owner), timer_(CreateFlushTimer()) {
  timer_->SetInterval(auto_flush_interval_);
  timer_->OnTimer = [this] { FlushTimerTick(); };
  AttachToSession(Sessions().FindSession(""));
  NotifyOwner(TOperation::opInsert);
}

TDbDatabase::~TDbDatabase() {
  BeginDestroy();
  NotifyOwner(TOperation::opRemove);
  AttachToSession(nullptr);
  try {
    SetConnected(false);
  } catch (...) {
    // Nothing can be reported from here; the file is closed below in any case.
  }
  if (file_io_) {
    try {
      DoDisconnect();
    } catch (...) {
    }
  }
  data_sets_.clear();
  table_ios_.clear();
  table_defs_.Clear();
  timer_.reset();
}

// --- properties ---

void TDbDatabase::CheckInactive() {
  if (!Connected()) return;
  if (Designing()) {
    Close();
    return;
  }
  throw EDatabaseError("Cannot perform this operation on an open database");
}

void TDbDatabase::SetFileName(const std::string& value) {
  if (value == file_name_) return;
  CheckInactive();
  file_name_ = value;
}

void TDbDatabase::SetDatabaseName(const std::string& value) {
  if (value == database_name_) return;
  CheckInactive();
  if (!Loading()) ValidateName(value);
  database_name_ = value;
}

void TDbDatabase::ValidateName(const std::string& name) {
  if (session_ == nullptr || name.empty()) return;
  for (int i = 0; i < session_->DatabaseCount(); ++i) {
    TDbDatabase* other = session_->Databases(i);
    if (other == this || !SameName(other->DatabaseName(), name)) continue;
    if (!other->Temporary() || other->RefCount() > 0)
      throw EDatabaseError(FormatMessage("Duplicate database name '%s'", {name}));
    delete other;  // an unused temporary namesake gives way
    return;
  }
}

void TDbDatabase::SetMediumType(TDbMediumType value) {
  if (value == medium_type_) return;
  CheckInactive();
  medium_type_ = value;
  for (TDbDataSetClient* ds : data_sets_) ds->SetMediumType(value);
}

bool TDbDatabase::Connected() const { return file_io_ != nullptr && file_io_->IsOpen(); }

void TDbDatabase::SetConnected(bool value) {
  if (Loading()) {
    streamed_connected_ = value;
    return;
  }
  if (value == Connected()) return;
  if (value) {
    if (BeforeConnect) BeforeConnect(*this);
    DoConnect();
    ConnectionChangedAll();
    if (AfterConnect) AfterConnect(*this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(*this);
    ConnectionChangedAll();
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(*this);
  }
}

void TDbDatabase::SetExclusive(bool value) {
  if (value == exclusive_) return;
  CheckInactive();
  exclusive_ = value;
}

void TDbDatabase::SetReadOnly(bool value) {
  if (value == read_only_) return;
  CheckInactive();
  read_only_ = value;
}

void TDbDatabase::SetKeepConnection(bool value) {
  keep_connection_ = value;
  if (!value && ref_count_ == 0 && Connected() && !Loading()) Close();
}

void TDbDatabase::SetSessionName(const std::string& value) {
  if (value == session_name_) return;
  CheckInactive();
  session_name_ = value;
  if (Loading()) return;
  // Re-attach now when that session exists; otherwise the check on connecting reports it.
  if (TDbSession* s = Sessions().FindSession(value)) AttachToSession(s);
}

void TDbDatabase::SetAutoFlush(bool value) {
  auto_flush_ = value;
  if (value) {
    timer_->SetInterval(auto_flush_interval_);
    timer_->SetEnabled(true);
  } else {
    timer_->SetEnabled(false);
  }
}

void TDbDatabase::SetAutoFlushInterval(int value) {
  auto_flush_interval_ = value;
  if (timer_->Enabled()) timer_->SetInterval(value);
}

void TDbDatabase::FlushTimerTick() {
  if (file_io_ && !file_io_->IsFlushed()) FlushCache();
}

// --- connecting ---

void TDbDatabase::DoConnect() {
  if (database_name_.empty() && !temporary_) throw EDatabaseError("Database name missing");
  TDbSession& session = Sessions().GetSession(session_name_);
  if (&session != session_) {
    AttachToSession(&session);
    try {
      ValidateName(database_name_);
    } catch (...) {
      database_name_.clear();
      throw;
    }
  }
  session.SetActive(true);

  if (!file_io_) file_io_ = std::make_unique<TDbFileIO>(this);
  try {
    file_io_->Open(DatabasePath(), medium_type_, 0, read_only_, exclusive_);
  } catch (...) {
    file_io_->Close();
    file_io_.reset();
    throw;
  }
  try {
    can_access_ = !file_io_->Options().Encrypted();
    if (!can_access_ && password_given_) can_access_ = file_io_->CheckPassword(password_);

    std::vector<std::string> names;
    file_io_->GetTableNames(names);
    table_defs_.Clear();
    for (size_t i = 0; i < names.size(); ++i) {
      TDbTableDef& def = table_defs_.Add();
      def.SetName(names[i]);
      def.TableNumber = static_cast<int32_t>(i);
    }
    table_ios_.clear();
    for (const std::string& name : names) {
      auto table = std::make_unique<TDbTableIO>(this);
      table->SetTableName(name);
      table_ios_.push_back(std::move(table));
    }
  } catch (...) {
    // A file that opened but cannot be read leaves the database closed, as a failed open does.
    table_ios_.clear();
    table_defs_.Clear();
    file_io_->Close();
    file_io_.reset();
    can_access_ = false;
    throw;
  }
}

void TDbDatabase::DoDisconnect() {
  disconnecting_ = true;
  try {
    // The data sets close first, while the file and the table objects they use still exist.
    CloseDataSets();
  } catch (...) {
    disconnecting_ = false;
    throw;
  }
  if (file_io_) {
    file_io_->Close();
    file_io_.reset();
  }
  ref_count_ = 0;
  can_access_ = false;
  password_.clear();
  password_given_ = false;
  table_ios_.clear();
  table_defs_.Clear();
  disconnecting_ = false;
}

void TDbDatabase::ConnectionChangedAll() {
  std::vector<TDbDataSetClient*> copy = data_sets_;
  for (TDbDataSetClient* ds : copy) ds->ConnectionChanged();
}

// --- access ---

void TDbDatabase::SetPassword(const std::string& password) {
  password_ = password;
  password_given_ = true;
  if (Connected()) can_access_ = file_io_->CheckPassword(password);
}

void TDbDatabase::CheckCanAccess() {
  if (can_access_) return;
  if (password_given_) {
    SetPassword(password_);
  } else if (TDbLoginHook* hook = DbLoginHook()) {
    std::string password;
    if (!hook->Login(DatabasePath(), password)) throw EAbort();
    SetPassword(password);
  }
  if (!can_access_) throw EDatabaseError("Access denied");
}

void TDbDatabase::CheckReadOnly() {
  if (read_only_ || (file_io_ && file_io_->IsOpen() && file_io_->FileIsReadOnly()))
    throw EDatabaseError("Cannot modify a read-only database");
}

// --- data sets ---

TDbDataSetClient* TDbDatabase::GetDataSet(int index) const { return data_sets_.at(static_cast<size_t>(index)); }

int TDbDatabase::GetDataSetCount() const { return static_cast<int>(data_sets_.size()); }

void TDbDatabase::RegisterClient(TDbDataSetClient* data_set) {
  if (data_set != nullptr && std::find(data_sets_.begin(), data_sets_.end(), data_set) == data_sets_.end())
    data_sets_.push_back(data_set);
}

void TDbDatabase::UnregisterClient(TDbDataSetClient* data_set) {
  auto it = std::find(data_sets_.begin(), data_sets_.end(), data_set);
  if (it != data_sets_.end()) data_sets_.erase(it);
}

void TDbDatabase::CloseDataSets() {
  while (!data_sets_.empty()) {
    TDbDataSetClient* last = data_sets_.back();
    last->CloseDataSet();
    // A data set that did not unregister itself is dropped, so the loop always ends.
    if (!data_sets_.empty() && data_sets_.back() == last) data_sets_.pop_back();
  }
}

int TDbDatabase::Release() {
  if (ref_count_ > 0) --ref_count_;
  return ref_count_;
}

void TDbDatabase::FlushCache() {
  if (file_io_) file_io_->Flush();
}

void TDbDatabase::StartBulk() {
  if (!file_io_ || !file_io_->IsOpen()) throw EDatabaseError("Cannot perform this operation on a closed database");
  file_io_->BeginBulk();
}

void TDbDatabase::EndBulk() {
  if (file_io_) file_io_->EndBulk();
}

bool TDbDatabase::InBulk() const { return file_io_ && file_io_->InBulk(); }

TDbBulkScope::TDbBulkScope(TDbDatabase& database) : database_(&database) { database.StartBulk(); }

TDbBulkScope::~TDbBulkScope() {
  try {
    End();
  } catch (...) {
    // The table that failed recovers before its next write; the lock is released either way.
  }
}

void TDbBulkScope::End() {
  if (database_ == nullptr) return;
  TDbDatabase* database = database_;
  database_ = nullptr;
  database->EndBulk();
}

void TDbDatabase::GetTableNames(std::vector<std::string>& names) {
  if (Connected()) file_io_->GetTableNames(names);
}

TDbTableIO* TDbDatabase::FindTableIO(const std::string& table_name) const {
  for (const auto& t : table_ios_) {
    if (SameName(t->TableName(), table_name)) return t.get();
  }
  return nullptr;
}

bool TDbDatabase::Encrypted() const {
  if (!file_io_ || !file_io_->IsOpen()) throw EDatabaseError("Cannot perform this operation on a closed database");
  return file_io_->Options().Encrypted();
}

bool TDbDatabase::Compressed() const {
  if (!file_io_ || !file_io_->IsOpen()) throw EDatabaseError("Cannot perform this operation on a closed database");
  return file_io_->Options().Compressed();
}

bool TDbDatabase::CheckBlobWrites() const {
  if (!file_io_ || !file_io_->IsOpen()) throw EDatabaseError("Cannot perform this operation on a closed database");
  return file_io_->Options().CheckBlobWrites();
}

// --- owner interface ---

int32_t TDbDatabase::LockRetryCount() const { return session_ ? session_->LockRetryCount() : 20; }

int32_t TDbDatabase::LockWaitTime() const { return session_ ? session_->LockWaitTime() : 100; }

void TDbDatabase::PipelineProgress(TPipelineOperation operation, int percent) {
  const TProgressEvent* handler = nullptr;
  switch (operation) {
    case TPipelineOperation::Compress: handler = &OnCompressProgress; break;
    case TPipelineOperation::Uncompress: handler = &OnUncompressProgress; break;
    case TPipelineOperation::Encrypt: handler = &OnEncryptProgress; break;
    case TPipelineOperation::Decrypt: handler = &OnDecryptProgress; break;
  }
  if (handler != nullptr && *handler) (*handler)(*this, percent);
}

// --- components ---

void TDbDatabase::AttachToSession(TDbSession* session) {
  if (session == session_) return;
  if (session_ != nullptr) session_->RemoveDatabase(this);
  session_ = session;
  if (session_ != nullptr) session_->AddDatabase(this);
}

void TDbDatabase::Loaded() {
  TComponent::Loaded();
  if (TDbSession* s = Sessions().FindSession(session_name_)) AttachToSession(s);
  if (streamed_connected_) {
    streamed_connected_ = false;
    if (Designing()) {
      try {
        SetConnected(true);
      } catch (...) {
        // At design time a failed connection is shown by the designer, not raised.
      }
    } else {
      SetConnected(true);
    }
  }
}

void TDbDatabase::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
}

}  // namespace zq
