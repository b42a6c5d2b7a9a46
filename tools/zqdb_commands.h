// The commands of the zqdb tool that work on an existing database file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

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

int Check(const TOpenArgs& open, std::ostream& out);
int Dump(const TOpenArgs& open, const std::string& table, const std::string& index, std::ostream& out);
int Append(const TOpenArgs& open, const std::string& table, const std::vector<TAssignment>& assignments);
int Edit(const TOpenArgs& open, const std::string& table, int row, const std::vector<TAssignment>& assignments);
int Delete(const TOpenArgs& open, const std::string& table, int row);
int Filter(const TOpenArgs& open, const std::string& table, const std::string& expression, bool case_insensitive,
           bool no_partial, std::ostream& out);

}  // namespace zq::zqdb
