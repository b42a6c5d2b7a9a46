// TDbDatabase: one open database file shared by the data sets that name it in a session. It
// opens the file through TDbFileIO, checks the password, builds one TDbTableIO per table, counts
// its users and, when created on demand by a session (Temporary), is freed by its last release.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/session/component.h"
#include "dbengine/format/db_defs.h"
#include "dbengine/storage/db_file_owner.h"
#include "dbengine/session/flush_timer.h"
#include "dbengine/pipeline/pipeline_progress.h"
#include "dbengine/session/session.h"

namespace zq {

class TDbFileIO;
class TDbTableIO;

// How a data set appears to its database.
class TDbDataSetClient {
 public:
  virtual ~TDbDataSetClient() = default;
  // Closes the data set's cursor; the data set unregisters itself while closing.
  virtual void CloseDataSet() = 0;
  // The database connected or disconnected.
  virtual void ConnectionChanged() = 0;
  virtual TDbMediumType MediumType() const = 0;
  virtual void SetMediumType(TDbMediumType value) = 0;
};

class TDbDatabase : public TComponent,
                    public TDbFileOwner,
                    public TPipelineProgressTarget,
                    public TDbSessionNameClient {
 public:
  using TNotifyEvent = std::function<void(TDbDatabase&)>;
  using TProgressEvent = std::function<void(TDbDatabase& sender, int percent)>;

  explicit TDbDatabase(TComponent* owner = nullptr);
  // Leaves the session, disconnects, frees tables, definitions and timer.
  ~TDbDatabase() override;

  // --- published properties ---
  // FileName, DatabaseName, MediumType, Exclusive, ReadOnly and SessionName need a closed
  // database: "Cannot perform this operation on an open database".
  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& value);
  const std::string& DatabaseName() const { return database_name_; }
  // "Duplicate database name '%s'" when another database of the session has the name (a
  // temporary namesake without users is freed instead).
  void SetDatabaseName(const std::string& value);
  TDbMediumType MediumType() const override { return medium_type_; }
  void SetMediumType(TDbMediumType value);
  bool Connected() const;
  void SetConnected(bool value);
  bool Exclusive() const override { return exclusive_; }
  void SetExclusive(bool value);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value);
  bool KeepConnection() const { return keep_connection_; }
  void SetKeepConnection(bool value);
  std::string SessionName() const override { return session_name_; }
  void SetSessionName(const std::string& value) override;
  bool AutoFlush() const { return auto_flush_; }
  void SetAutoFlush(bool value);
  int AutoFlushInterval() const { return auto_flush_interval_; }
  void SetAutoFlushInterval(int value);

  TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;
  TProgressEvent OnCompressProgress, OnUncompressProgress, OnEncryptProgress, OnDecryptProgress,
      OnOperationProgress;

  // --- operations ---
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }
  virtual void DoConnect();
  virtual void DoDisconnect();
  // Retries the given password, else asks the login hook (cancel: silent EAbort); "Access denied"
  // when access is still refused.
  virtual void CheckCanAccess();
  // "Cannot modify a read-only database".
  virtual void CheckReadOnly();
  virtual TDbDataSetClient* GetDataSet(int index) const;
  virtual int GetDataSetCount() const;
  virtual void RegisterClient(TDbDataSetClient* data_set);
  virtual void UnregisterClient(TDbDataSetClient* data_set);

  // Records the password and, when connected, checks it against the file (setting up the key).
  void SetPassword(const std::string& password);
  // Closes the registered data sets, last first.
  void CloseDataSets();
  void FlushCache();
  // A bulk group: the appends, modifies and deletes of every table of this database between
  // StartBulk and EndBulk run under one hold of the file lock (other openers wait, bounded by the
  // session's lock settings, and see the group whole), and their index link and head writes are
  // written once at the end. The file then holds exactly the bytes the same operations one at a
  // time leave. Groups nest; only the outermost EndBulk ends one. "Cannot perform this operation
  // on a closed database" when not connected; EndBulk without a group does nothing.
  void StartBulk();
  void EndBulk();
  bool InBulk() const;
  // Table names in file order when connected; otherwise names is left as it is.
  void GetTableNames(std::vector<std::string>& names);
  // The table I/O object of the named table (ignoring case), or nullptr.
  TDbTableIO* FindTableIO(const std::string& table_name) const;

  // Flags of the open file; "Cannot perform this operation on a closed database" when closed.
  bool Encrypted() const;
  bool Compressed() const;
  bool CheckBlobWrites() const;

  // --- state ---
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool value) { temporary_ = value; }
  int RefCount() const { return ref_count_; }
  void AddRef() { ++ref_count_; }
  // Decrements RefCount when above 0; returns the new count.
  int Release();
  bool CanAccess() const { return can_access_; }
  bool PasswordGiven() const { return password_given_; }
  TDbSession* Session() const { return session_; }
  // One item per table of the connected file (name, ordinal position), in file order.
  const TDbTableDefs& TableDefs() const { return table_defs_; }
  int TableIOCount() const { return static_cast<int>(table_ios_.size()); }
  TDbTableIO* TableIO(int index) const { return table_ios_.at(static_cast<size_t>(index)).get(); }
  // Always false in this system; data sets pass it to the table layer's writes.
  bool FlushAfterEachWrite() const { return false; }
  TFlushTimer& FlushTimer() { return *timer_; }
  // The path opened: FileName, else DatabaseName.
  std::string DatabasePath() const { return file_name_.empty() ? database_name_ : file_name_; }

  // --- owner interface of the file and table layers ---
  int32_t LockRetryCount() const override;
  int32_t LockWaitTime() const override;
  TDbFileIO* FileIO() override { return file_io_.get(); }
  void PipelineProgress(TPipelineOperation operation, int percent) override;

 protected:
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TDbSession;
  void CheckInactive();
  void ValidateName(const std::string& name);
  void AttachToSession(TDbSession* session);
  void ConnectionChangedAll();
  void FlushTimerTick();

  bool disconnecting_ = false;

  std::unique_ptr<TDbFileIO> file_io_;
  std::vector<TDbDataSetClient*> data_sets_;
  bool temporary_ = false;
  int ref_count_ = 0;
  bool streamed_connected_ = false;
  TDbSession* session_ = nullptr;
  bool can_access_ = false;
  std::string password_;
  bool password_given_ = false;
  TDbTableDefs table_defs_;
  std::vector<std::unique_ptr<TDbTableIO>> table_ios_;
  std::unique_ptr<TFlushTimer> timer_;

  std::string file_name_;
  std::string database_name_;
  TDbMediumType medium_type_ = mtDisk;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool keep_connection_ = false;
  std::string session_name_;
  bool auto_flush_ = false;
  int auto_flush_interval_ = 60000;
};

// Holds a bulk group of a database for a scope. End() ends it and raises a failure of the held-back
// writes; leaving the scope otherwise (also by an exception) ends it quietly, and the file then
// holds what the completed operations of the group wrote.
class TDbBulkScope {
 public:
  explicit TDbBulkScope(TDbDatabase& database);
  ~TDbBulkScope();
  TDbBulkScope(const TDbBulkScope&) = delete;
  TDbBulkScope& operator=(const TDbBulkScope&) = delete;
  void End();

 private:
  TDbDatabase* database_;
};

}  // namespace zq
