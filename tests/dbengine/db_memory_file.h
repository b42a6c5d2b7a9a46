// A database held in a registered memory stream, opened through the fake owner, and the structural
// check run on such bytes with encrypted values decoded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/db_checker.h"
#include "dbengine/storage/memory_stream_registry.h"
#include "dbfile_test_util.h"

namespace zq::testing_support {

// A stream the file layer writes into; the tests read its bytes.
class MemoryFile {
 public:
  explicit MemoryFile(const std::vector<uint8_t>& bytes, const std::string& password = "", bool read_only = false)
      : owner_(mtMemory) {
    stream_.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    name_ = TMemoryStreamRegistry::Register(&stream_);
    owner_.retry_count = 1;
    owner_.wait_time = 0;
    owner_.io().Open(name_, mtMemory, 0, read_only, false);
    owner_.io().CheckPassword(password);
  }
  ~MemoryFile() {
    tables_.clear();
    owner_.io().Close();
    TMemoryStreamRegistry::Unregister(&stream_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  TDbFileIO& io() { return owner_.io(); }
  FakeOwner& owner() { return owner_; }
  const std::string& Name() const { return name_; }
  std::vector<uint8_t> Bytes() const { return stream_.Bytes(); }
  // A table of this file, loaded (Open) on first use.
  TDbTableIO& Table(const std::string& name) {
    for (auto& t : tables_)
      if (t->TableName() == name) return *t;
    tables_.push_back(std::make_unique<TDbTableIO>(&owner_));
    tables_.back()->SetTableName(name);
    tables_.back()->Open();
    return *tables_.back();
  }

 private:
  TMemoryStream stream_;
  std::string name_;
  FakeOwner owner_;
  std::vector<std::unique_ptr<TDbTableIO>> tables_;
};

// Every problem the structural check finds in these bytes (values decoded with the password).
inline std::vector<std::string> CheckProblems(const std::vector<uint8_t>& bytes, const std::string& password = "") {
  MemoryFile file(bytes, password, true);
  TDbFileIOCheckDecoder decoder(file.io());
  TMemoryStream copy;
  copy.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return TDbChecker(copy, &decoder).Run();
}

}  // namespace zq::testing_support
