// Helpers for the file access and table layer tests: a fake database owner, temporary files and
// field buffers over plain byte vectors.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/db_creator.h"
#include "dbengine/db_file_io.h"
#include "dbengine/db_file_owner.h"
#include "dbengine/field_buffers.h"
#include "dbengine/field_type.h"
#include "dbengine/optim_blob_stream.h"
#include "dbengine/table_io.h"
#include "platform/clock.h"

namespace zq::testing_support {

class FakeOwner : public TDbFileOwner, public TBlobStreamOwner {
 public:
  explicit FakeOwner(TDbMediumType medium = mtDisk) : medium_(medium), io_(this) {}
  TDbMediumType MediumType() const override { return medium_; }
  bool Exclusive() const override { return false; }
  int32_t LockRetryCount() const override { return retry_count; }
  int32_t LockWaitTime() const override { return wait_time; }
  TDbFileIO* FileIO() override { return io_.IsOpen() ? &io_ : nullptr; }
  TDbFileIO* BlobFileIO() override { return FileIO(); }
  TDbFileIO& io() { return io_; }

  int32_t retry_count = 3;
  int32_t wait_time = 1;

 private:
  TDbMediumType medium_;
  TDbFileIO io_;
};

// Counts sleeps instead of waiting.
class CountingClock : public TClock {
 public:
  void Sleep(uint32_t ms) override {
    ++sleeps;
    total_ms += ms;
  }
  int sleeps = 0;
  uint64_t total_ms = 0;
};

// A temporary directory removed with its files at the end of the test.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/zqdbfileXXXXXX";
    char* dir = ::mkdtemp(tmpl);
    path_ = dir ? dir : "/tmp";
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

inline int32_t I32At(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<int32_t>(uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
                              uint32_t(b.at(at + 3)) << 24);
}

// Field values of one record as separate byte vectors, ready to hand over as field buffers.
struct Row {
  std::vector<std::vector<uint8_t>> values;
  std::vector<std::unique_ptr<TOptimBlobStream>> blobs;
  TFieldBuffers buffers;
};

inline std::vector<uint8_t> IntValue(int32_t v) {
  std::vector<uint8_t> b(4);
  std::memcpy(b.data(), &v, 4);
  return b;
}

inline std::vector<uint8_t> TextValue(const std::string& s, int32_t size) {
  std::vector<uint8_t> b(static_cast<size_t>(size) + 1, 0);
  std::memcpy(b.data(), s.data(), std::min(s.size(), b.size() - 1));
  return b;
}

}  // namespace zq::testing_support
