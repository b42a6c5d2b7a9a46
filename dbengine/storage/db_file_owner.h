// What the file access and table layers need from the database object that owns them: the medium
// and exclusive flag it was created with, the session's lock retry settings, and the open file
// access object. The database object implements it; tests use a small fake.
#pragma once

#include <cstdint>

namespace zq {

class TDbFileIO;

// Where a database lives: a file on disk or a caller's memory stream.
enum TDbMediumType { mtDisk, mtMemory };

class TDbFileOwner {
 public:
  virtual ~TDbFileOwner() = default;

  virtual TDbMediumType MediumType() const = 0;
  virtual bool Exclusive() const = 0;
  // The owning session's lock settings: attempts before "Wait for unlock time out" (0 = retry
  // forever) and the wait in milliseconds between attempts.
  virtual int32_t LockRetryCount() const = 0;
  virtual int32_t LockWaitTime() const = 0;
  // The open file access object, or nullptr while the database is closed.
  virtual TDbFileIO* FileIO() = 0;
};

}  // namespace zq
