// TDbRepair: puts the structures of a damaged database file back in order, in place, for what
// can be mended without guessing at values:
//   - a SlotCount beyond the slots that exist (or that are zero) is lowered to them, and the last
//     slot block and link block end their chains;
//   - a deleted flag other than 0 or 1 becomes 1;
//   - a record whose image cannot be read (outside the file, a text without its NUL) is marked
//     deleted and pointed at an empty image appended to the file, so every slot stays readable;
//   - a blob descriptor that does not describe a readable area becomes the empty descriptor;
//   - LastAutoIncValue is raised to the highest stored auto-increment value;
//   - missing link blocks are appended, and every index chain is rebuilt from the records' keys
//     (records with equal keys in physical order); links of deleted records end the chain.
// Every change is described by one line of text (code page 1252). Definitions, the directory and
// values of readable records are never changed.
#pragma once

#include <string>
#include <vector>

namespace zq {

class TDbFileIO;

class TDbRepair {
 public:
  // io: open for writing; for an encrypted file, with the password checked.
  explicit TDbRepair(TDbFileIO& io) : io_(io) {}
  // Repairs every table under the file lock and returns what changed, in table order.
  std::vector<std::string> Run();

 private:
  struct Table;
  void RepairTable(int table);

  TDbFileIO& io_;
  std::vector<std::string> changes_;
};

}  // namespace zq
