// The commands of the zqdb tool that work on an existing database file. Each verb works on an
// open database (TOpenDatabase) and returns what it reports, so that the command line (one verb,
// then exit) and the shell (many verbs on one open database) share one implementation.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zq {
class TDbDatabase;
class TDbTable;
}  // namespace zq

namespace zq::zqdb {

struct TOpenArgs {
  std::string file;      // path as given (a host path, not converted)
  std::string password;  // code page 1252
};

// FIELD=VALUE (text through the field's own conversion) or FIELD@=PATH (the bytes of a file).
struct TAssignment {
  std::string field;  // code page 1252
  std::string value;  // code page 1252 text, or the file's bytes for FIELD@=PATH
  bool from_file = false;
};

// EUsageError for an argument without "=" or with an empty field name, a character outside code
// page 1252, or a file that cannot be read.
std::vector<TAssignment> ParseAssignments(const std::vector<std::string>& arguments);

// The record an edit or delete works on: the row-th in physical order, or the one with a record ID.
struct TRecordChoice {
  int row = 0;
  std::optional<int32_t> id;
};

// A database object in the default session and the table data sets opened on it, each opened at
// first use and kept open until this object goes. The database opens on the first call of
// Database() or Table(); a failed open leaves it closed, so that a later call tries again. No
// login hook is involved: the password given (possibly empty) is the only one tried.
class TOpenDatabase {
 public:
  // read_only: the file is opened for reading only and never written (no recovery either).
  TOpenDatabase(TOpenArgs args, bool read_only);
  ~TOpenDatabase();
  TOpenDatabase(const TOpenDatabase&) = delete;
  TOpenDatabase& operator=(const TOpenDatabase&) = delete;

  const TOpenArgs& Args() const { return args_; }
  TDbDatabase& Database();
  // The data set of the named table (code page 1252, letter case ignored).
  TDbTable& Table(const std::string& name);
  // The data sets opened so far, in the order they were opened.
  std::vector<TDbTable*> OpenTables() const;
  // Closes the data sets and the database; the next use opens them again. For a verb that needs
  // the file to itself (an exclusive open), such as a repair run from the shell.
  void Close();

 private:
  TOpenArgs args_;
  bool read_only_;
  std::unique_ptr<TDbDatabase> db_;
  std::vector<std::unique_ptr<TDbTable>> tables_;
};

using ojson = nlohmann::ordered_json;

// The dump document of every table (table empty) or of one, in the data set's order or that of
// the index given (which needs a table).
ojson Dump(TOpenDatabase& db, const std::string& table, const std::string& index);
// The dump document of one table holding the rows that the filter expression accepts.
ojson Filter(TOpenDatabase& db, const std::string& table, const std::string& expression, bool case_insensitive,
             bool no_partial);
// Appends a record; returns its record ID.
int32_t Append(TOpenDatabase& db, const std::string& table, const std::vector<TAssignment>& assignments);
void Edit(TOpenDatabase& db, const std::string& table, const TRecordChoice& record,
          const std::vector<TAssignment>& assignments);
void Delete(TOpenDatabase& db, const std::string& table, const TRecordChoice& record);
// Re-reads the rows of the named table's data set, or of every open one when table is empty.
void Refresh(TOpenDatabase& db, const std::string& table);
// Walks the whole file and returns every structural problem found, one text each (code page
// 1252). Raises the engine's error when the file is missing or the password is wrong.
std::vector<std::string> Check(const TOpenArgs& open);
// Copies FILE to FILE.bak (refusing an existing one), repairs the file in place (it needs the file
// to itself) and returns the lines to print: each change, where the original is kept, and
// "not repaired: <problem>" for what the structural check still finds (then `clean` is false).
std::vector<std::string> Repair(const TOpenArgs& open, bool& clean);

}  // namespace zq::zqdb
