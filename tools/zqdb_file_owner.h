// The owner of a database file that zqdb opens through the engine's file layer alone (check and
// repair), without a session: on disk, the tool's lock settings, exclusive when asked.
#pragma once

#include "dbengine/storage/db_file_io.h"
#include "dbengine/storage/db_file_owner.h"

namespace zq::zqdb {

class TDiskFileOwner : public TDbFileOwner {
 public:
  explicit TDiskFileOwner(bool exclusive) : exclusive_(exclusive) {}
  TDbMediumType MediumType() const override { return mtDisk; }
  bool Exclusive() const override { return exclusive_; }
  int32_t LockRetryCount() const override { return 20; }
  int32_t LockWaitTime() const override { return 100; }
  TDbFileIO* FileIO() override { return &io; }

 private:
  // Declared before io: the file layer asks its owner for the mode while it is constructed.
  bool exclusive_;

 public:
  TDbFileIO io{this};
};

}  // namespace zq::zqdb
