// TDbDataSet: binds a data set to a session and a database object. Opening finds or creates the
// database of DatabaseName in the session of SessionName, takes a reference on it, registers
// with it and checks access; closing gives the reference back (the last one frees a database
// made on demand, which closes the file).
#pragma once

#include <string>

#include "dbengine/session/component.h"
#include "dbengine/dataset/data_set.h"
#include "dbengine/session/database.h"
#include "dbengine/storage/db_file_owner.h"
#include "dbengine/session/session.h"

namespace zq {

class TDbFileIO;
class TDbTableIO;

class TDbDataSet : public TDataSet,
                   public TComponent,
                   public TDbDataSetClient,
                   public TDbSessionNameClient {
 public:
  // A data set owned by a database takes over its DatabaseName and SessionName.
  explicit TDbDataSet(TComponent* owner = nullptr);
  ~TDbDataSet() override;

  const std::string& DatabaseName() const { return database_name_; }
  virtual void SetDatabaseName(const std::string& value);
  std::string SessionName() const override { return session_name_; }
  void SetSessionName(const std::string& value) override;
  // The database in use: present while the cursor is open (and after SetPassword).
  TDbDatabase* Database() const { return database_; }

  // TDbDataSetClient: the database closes its data sets and tells them of connection changes.
  void CloseDataSet() override;
  void ConnectionChanged() override;

 protected:
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  // A database of DatabaseName that waits in the default session while it names the session
  // of this data set moves there (the session may have been created after it was named).
  void ReconcileSession();
  // The session named by SessionName; "Invalid session name %s" when there is none.
  TDbSession& DataSetSession() const;
  // The table storage object of a table of the database in use; nullptr when absent.
  TDbTableIO* FindTableIO(const std::string& name);
  // Whether the database in use forbids changes (read-only database or read-only file).
  bool DatabaseReadOnly();
  // The session's SQLHourGlass setting.
  bool SessionHourGlass();
  // The file access object of the database in use (nullptr when closed).
  TDbFileIO* DatabaseFileIO();
  // Sets MediumType on the database of DatabaseName in this data set's session, if one exists.
  void ApplyMediumTypeToDatabase(TDbMediumType value);
  // Called when the field definitions may have changed (database or session renamed).
  void FieldDefsChanged() { FieldDefs().Clear(); }

  TDbDatabase* database_ = nullptr;
  bool registered_ = false;
  bool referenced_ = false;

 private:
  // Gives back the reference the open took on the database.
  static void ReleaseReference(TDbDatabase& db);

  std::string database_name_;
  std::string session_name_;
};

}  // namespace zq
