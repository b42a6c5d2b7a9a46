#include "dbengine/session/session.h"

#include <algorithm>
#include <string>

#include "dbengine/session/database.h"
#include "dbengine/format/db_defs.h"
#include "dbengine/format/db_error.h"
#include "dbengine/session/session_list.h"

namespace zq {

TDbSession::TDbSession(TComponent* owner) : TComponent(owner) {
  if (owner != nullptr) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      auto* other = dynamic_cast<TDbSession*>(owner->Components(i));
      if (other != nullptr && other != this && other->AutoSessionName()) {
        throw EDatabaseError(FormatMessage(
            "Cannot add a session to the form or data-module while session '%s' has AutoSessionName enabled",
            {other->Name()}));
      }
    }
  }
  Sessions().AddSession(this);
  NotifyOwner(TOperation::opInsert);
}

TDbSession::~TDbSession() {
  BeginDestroy();
  NotifyOwner(TOperation::opRemove);
  try {
    if (active_) StartSession(false);
  } catch (...) {
    // A destructor cannot report; the databases below are detached regardless.
  }
  FreeAutoNumber();
  Sessions().RemoveSession(this);
  // Databases of this session that it does not own stay alive: they are closed and fall back to
  // the default session.
  TDbSession* fallback = Sessions().DefaultSession();
  while (!databases_.empty()) {
    TDbDatabase* db = databases_.back();
    try {
      db->Close();
    } catch (...) {
    }
    db->session_name_.clear();
    db->AttachToSession(fallback != this ? fallback : nullptr);
    if (!databases_.empty() && databases_.back() == db) databases_.pop_back();
  }
}

void TDbSession::SetActive(bool value) {
  if (Loading()) {
    streamed_active_ = value;
    return;
  }
  if (active_ != value) StartSession(value);
}

void TDbSession::StartSession(bool value) {
  std::lock_guard guard(Sessions().SessionLock());
  if (value) {
    if (OnStartup) OnStartup(*this);
    if (session_name_.empty()) throw EDatabaseError("Session name missing");
    TDbSession* def = Sessions().DefaultSession();
    if (def != nullptr && def != this && !def->Active()) def->SetActive(true);
  } else {
    for (int i = static_cast<int>(databases_.size()) - 1; i >= 0; --i) {
      if (i >= static_cast<int>(databases_.size())) continue;
      TDbDatabase* db = databases_[static_cast<size_t>(i)];
      if (db->Temporary())
        delete db;
      else
        db->Close();
    }
  }
  active_ = value;
}

void TDbSession::SetSessionName(const std::string& name) {
  if (auto_session_name_ && !generating_name_)
    throw EDatabaseError("Cannot modify SessionName while AutoSessionName is enabled");
  SetSessionNameInternal(name);
}

void TDbSession::SetSessionNameInternal(const std::string& name) {
  if (name == session_name_) return;
  if (active_) throw EDatabaseError("Cannot perform this operation on an active session");
  if (!name.empty()) {
    TDbSession* other = Sessions().FindSession(name);
    if (other != nullptr && other != this)
      throw EDatabaseError(FormatMessage("Duplicate session name '%s'", {name}));
  }
  session_name_ = name;
}

void TDbSession::SetAutoSessionName(bool value) {
  if (value == auto_session_name_) return;
  if (value) {
    if (active_) throw EDatabaseError("Cannot perform this operation on an active session");
    if (Owner() != nullptr) {
      for (int i = 0; i < Owner()->ComponentCount(); ++i) {
        auto* other = dynamic_cast<TDbSession*>(Owner()->Components(i));
        if (other != nullptr && other != this)
          throw EDatabaseError(
              "Cannot enable AutoSessionName property with more than one session on a form or data-module");
      }
    }
    auto_session_name_ = true;
    if (!Loading()) {
      MakeAutoName();
      UpdateOwnerClients();
    }
  } else {
    auto_session_name_ = false;
    FreeAutoNumber();
  }
}

void TDbSession::MakeAutoName() {
  std::lock_guard guard(Sessions().SessionLock());
  if (auto_number_ < 0) auto_number_ = Sessions().TakeSessionNumber();
  generating_name_ = true;
  try {
    SetSessionNameInternal(Name() + "_" + std::to_string(auto_number_ + 1));
  } catch (...) {
    generating_name_ = false;
    throw;
  }
  generating_name_ = false;
}

void TDbSession::FreeAutoNumber() {
  if (auto_number_ >= 0) {
    Sessions().FreeSessionNumber(auto_number_);
    auto_number_ = -1;
  }
}

void TDbSession::UpdateOwnerClients() {
  if (Owner() == nullptr) return;
  for (int i = 0; i < Owner()->ComponentCount(); ++i) {
    auto* client = dynamic_cast<TDbSessionNameClient*>(Owner()->Components(i));
    if (client != nullptr && client->SessionName() != session_name_) client->SetSessionName(session_name_);
  }
}

void TDbSession::NameChanged() {
  if (auto_session_name_ && !Loading()) {
    MakeAutoName();
    UpdateOwnerClients();
  }
}

void TDbSession::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opInsert && auto_session_name_ && component->Owner() == Owner()) {
    if (auto* client = dynamic_cast<TDbSessionNameClient*>(component)) {
      if (client->SessionName() != session_name_) client->SetSessionName(session_name_);
    }
  }
}

void TDbSession::Loaded() {
  TComponent::Loaded();
  if (auto_session_name_) {
    MakeAutoName();
    UpdateOwnerClients();
  }
  if (streamed_active_) {
    streamed_active_ = false;
    SetActive(true);
  }
}

TDbDatabase* TDbSession::FindDatabase(const std::string& name) const {
  for (TDbDatabase* db : databases_) {
    if (db->DatabaseName().empty()) {
      if (name.empty() && db->Temporary()) return db;
    } else if (SameName(db->DatabaseName(), name)) {
      return db;
    }
  }
  return nullptr;
}

TDbDatabase* TDbSession::OpenDatabase(const std::string& name, bool add_reference, TDbDataSetClient* data_set) {
  LockSession();
  TDbDatabase* db = nullptr;
  bool created = false;
  try {
    db = FindDatabase(name);
    if (db == nullptr) {
      db = new TDbDatabase(this);
      created = true;
      // Belongs to this session, whatever its name.
      db->session_name_ = session_name_;
      db->AttachToSession(this);
      if (data_set != nullptr) db->SetMediumType(data_set->MediumType());
      db->SetTemporary(true);
      db->SetDatabaseName(name);
      db->SetKeepConnection(keep_connections_);
    }
    db->Open();
    if (add_reference) db->AddRef();
  } catch (...) {
    if (created) delete db;
    UnlockSession();
    throw;
  }
  UnlockSession();
  return db;
}

void TDbSession::ReleaseDatabase(TDbDatabase* database) {
  if (database == nullptr) return;
  if (database->Release() > 0 || database->KeepConnection()) return;
  // A database that is disconnecting or being destroyed is closing its data sets itself: closing
  // or freeing it from their release would run a second, nested disconnect.
  if (database->Destroying() || database->disconnecting_) return;
  if (database->Temporary()) delete database;
  else database->Close();
}

void TDbSession::LockSession() {
  if (lock_count_ == 0) {
    Sessions().SessionLock().lock();
    ++lock_count_;
    if (!active_) {
      try {
        SetActive(true);
      } catch (...) {
        --lock_count_;
        Sessions().SessionLock().unlock();
        throw;
      }
    }
  } else {
    ++lock_count_;
  }
}

void TDbSession::UnlockSession() {
  if (lock_count_ <= 0) return;
  if (--lock_count_ == 0) Sessions().SessionLock().unlock();
}

void TDbSession::AddDatabase(TDbDatabase* database) {
  if (std::find(databases_.begin(), databases_.end(), database) == databases_.end())
    databases_.push_back(database);
}

void TDbSession::RemoveDatabase(TDbDatabase* database) {
  auto it = std::find(databases_.begin(), databases_.end(), database);
  if (it != databases_.end()) databases_.erase(it);
}

}  // namespace zq
