// TDbSession: a named group of database objects. Data sets and databases find their session by
// name (empty: the default session "Default"); the session finds or creates the database object
// for a data set and frees temporary databases when their last user lets go.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbengine/session/component.h"

namespace zq {

class TDbDatabase;
class TDbDataSetClient;

// A component that names a session (databases, data sets): the automatic session name of a
// session is handed to the components of its owner through this interface.
class TDbSessionNameClient {
 public:
  virtual ~TDbSessionNameClient() = default;
  virtual std::string SessionName() const = 0;
  virtual void SetSessionName(const std::string& name) = 0;
};

class TDbSession : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TDbSession&)>;

  // Joins the session list. "Cannot add a session to the form or data-module while session '%s'
  // has AutoSessionName enabled" when another session of owner generates its name.
  explicit TDbSession(TComponent* owner = nullptr);
  // Deactivates (freeing temporary databases, closing the others) and leaves the session list.
  ~TDbSession() override;

  bool Active() const { return active_; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool AutoSessionName() const { return auto_session_name_; }
  void SetAutoSessionName(bool value);
  bool KeepConnections() const { return keep_connections_; }
  void SetKeepConnections(bool value) { keep_connections_ = value; }
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);
  bool SQLHourGlass() const { return sql_hour_glass_; }
  void SetSQLHourGlass(bool value) { sql_hour_glass_ = value; }
  // Negative values are stored as 0.
  int32_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(int32_t value) { lock_retry_count_ = value < 0 ? 0 : value; }
  int32_t LockWaitTime() const { return lock_wait_time_; }
  void SetLockWaitTime(int32_t value) { lock_wait_time_ = value < 0 ? 0 : value; }
  TNotifyEvent OnStartup;

  // The first database whose DatabaseName equals name ignoring case; an empty DatabaseName
  // matches only a temporary database.
  TDbDatabase* FindDatabase(const std::string& name) const;
  // Finds or creates (temporary, owned by the session) the database named name, connects it and,
  // when add_reference is set, counts one more user. A database created here is freed again when
  // any step fails. data_set, when given, supplies the medium type of a new database.
  TDbDatabase* OpenDatabase(const std::string& name, bool add_reference, TDbDataSetClient* data_set = nullptr);
  // One user fewer; at none (and KeepConnection off) a temporary database is freed, another closed.
  void ReleaseDatabase(TDbDatabase* database);
  // Nesting use of the global session lock.
  void LockSession();
  void UnlockSession();

  void AddDatabase(TDbDatabase* database);
  void RemoveDatabase(TDbDatabase* database);
  int DatabaseCount() const { return static_cast<int>(databases_.size()); }
  TDbDatabase* Databases(int index) const { return databases_.at(static_cast<size_t>(index)); }
  // The automatic session number (0-based), -1 while none is held.
  int AutoSessionNumber() const { return auto_number_; }

 protected:
  void Loaded() override;
  void NameChanged() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void StartSession(bool value);
  void SetSessionNameInternal(const std::string& name);
  void MakeAutoName();
  void FreeAutoNumber();
  // Gives the session name to every session-name client of the owner whose name differs.
  void UpdateOwnerClients();

  bool active_ = false;
  bool streamed_active_ = false;
  bool auto_session_name_ = false;
  bool generating_name_ = false;
  bool keep_connections_ = false;
  std::string session_name_;
  bool sql_hour_glass_ = true;
  int32_t lock_retry_count_ = 20;
  int32_t lock_wait_time_ = 100;
  std::vector<TDbDatabase*> databases_;
  int auto_number_ = -1;
  int lock_count_ = 0;
};

}  // namespace zq
