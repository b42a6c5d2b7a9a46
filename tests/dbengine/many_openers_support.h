// Support of the many-openers tests: several openers (each its own database owner, file object
// and table storage object) on one database file, field buffers for their table, and the
// structural walk of `zqdb check` over the file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/table_io.h"
#include "engine_test_support.h"
#include "platform/stream.h"
#include "dbengine/storage/db_checker.h"

namespace zq::testing_support {

// One opener of a database file: its own open file (own descriptor, own lock) and table object.
struct Opener {
  Opener(const std::string& path, const std::string& table_name, TDbMediumType medium = mtDisk)
      : owner(std::make_unique<FakeOwner>(medium)) {
    owner->retry_count = 60000;  // wait up to a minute (1 ms a try), then fail rather than hang
    owner->io().Open(path, medium, 0, false, false);
    table = std::make_unique<TDbTableIO>(owner.get());
    table->SetTableName(table_name);
    table->Open();
  }
  ~Opener() {
    table.reset();
    owner->io().Close();
  }
  TDbTableIO& operator*() { return *table; }
  TDbTableIO* operator->() { return table.get(); }

  std::unique_ptr<FakeOwner> owner;
  std::unique_ptr<TDbTableIO> table;
};

// The problems `zqdb check` reports for a file on disk (empty: the file is sound).
inline std::vector<std::string> StructuralProblems(const std::string& path) {
  TFileStream stream(path, FileAccess::Read);
  return TDbChecker(stream, nullptr).Run();
}

inline std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

}  // namespace zq::testing_support
