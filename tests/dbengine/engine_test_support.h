// Helpers of the engine tests: the message of an engine error, a fake database owner, scratch
// folders, whole-file reads and writes, field buffers built from plain values, and a walk of an
// index's link chain in the file bytes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/db_creator.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/storage/db_file_owner.h"
#include "dbengine/format/db_format.h"
#include "dbengine/storage/field_buffers.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/memory_stream_registry.h"
#include "dbengine/storage/optim_blob_stream.h"
#include "dbengine/storage/table_io.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "tests/support/temp_dir.h"

namespace zq::testing_support {

// The message of the error of type E that f throws, or "<no error>". Any other exception
// escapes and fails the test.
template <class E = Exception, class F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "<no error>";
}

// The owner of one file access object. Lock waits are bounded: a lock never released fails the
// test with the engine's time-out error instead of hanging it.
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

// One table open on a stream registered as a memory database; closed and unregistered at the
// end, or when the table cannot be opened.
class MemoryTable {
 public:
  MemoryTable(TStream& stream, const std::string& table) : stream_(&stream) {
    name_ = TMemoryStreamRegistry::Register(stream_);
    try {
      owner_.io().Open(name_, mtMemory, 0, false, false);
      table_ = std::make_unique<TDbTableIO>(&owner_);
      table_->SetTableName(table);
      table_->Open();
    } catch (...) {
      Close();
      throw;
    }
  }
  ~MemoryTable() { Close(); }
  TDbTableIO& Table() { return *table_; }
  const std::string& Name() const { return name_; }

 private:
  void Close() {
    table_.reset();
    owner_.io().Close();
    TMemoryStreamRegistry::Unregister(stream_);
  }
  TStream* stream_;
  std::string name_;
  FakeOwner owner_{mtMemory};
  std::unique_ptr<TDbTableIO> table_;
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

inline std::vector<uint8_t> IntValue(int32_t v) {
  std::vector<uint8_t> b(4);
  dbfmt::PutI32(b.data(), v);
  return b;
}

inline std::vector<uint8_t> TextValue(const std::string& s, int32_t size) {
  std::vector<uint8_t> b(static_cast<size_t>(size) + 1, 0);
  std::memcpy(b.data(), s.data(), std::min(s.size(), b.size() - 1));
  return b;
}

// The stored bytes of a field of a record, read through the table layer.
inline std::string StoredBytes(TDbTableIO& table, int32_t record_id, int field) {
  TMemoryStream out;
  table.ReadStoredField(out, record_id, field);
  return std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
}

// Whether a date (whole days) read from the clock between the readings `before` and `after`
// (date-times) is the date of one of them: both sides of midnight are accepted.
inline bool DateBetween(double date, double before, double after) {
  return date == std::floor(before) || date == std::floor(after);
}

// Whether a time of day read between the readings lies between them, with a second of slack for
// rounding, across midnight too.
inline bool TimeBetween(double time, double before, double after) {
  const double slack = 1.0 / 86400, from = before - std::floor(before) - slack, to = after - std::floor(after) + slack;
  return std::floor(before) == std::floor(after) ? time >= from && time <= to : time >= from || time <= to;
}

// One record's values in their stored encodings, handed to the table layer as `buffers`. Each
// call adds the next field: FieldValues row; row.Int(7).Text("name", 20).Blob("memo");
class FieldValues {
 public:
  FieldValues& Int(int32_t v, uint8_t type = ftInteger) { return Add(IntValue(v), type); }
  FieldValues& Small(int16_t v, uint8_t type = ftSmallint) {
    std::vector<uint8_t> b(2);
    dbfmt::PutI16(b.data(), v);
    return Add(std::move(b), type);
  }
  FieldValues& Float(double v, uint8_t type = ftFloat) {
    std::vector<uint8_t> b(8);
    dbfmt::PutF64(b.data(), v);
    return Add(std::move(b), type);
  }
  FieldValues& Large(int64_t v, uint8_t type = ftLargeint) {
    std::vector<uint8_t> b(8);
    std::memcpy(b.data(), &v, 8);
    return Add(std::move(b), type);
  }
  // A string field of `size` characters: the text, cut to size, then zeros.
  FieldValues& Text(const std::string& s, int32_t size, uint8_t type = ftString) {
    return Add(TextValue(s, size), type);
  }
  FieldValues& Blob(const std::string& bytes, uint8_t type = ftMemo) {
    blobs_.emplace_back();
    blobs_.back().WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    buffers.AddBlob(&blobs_.back(), type);
    return *this;
  }
  // A field the caller has no value for.
  FieldValues& Missing() {
    buffers.AddPlaceholder();
    return *this;
  }
  // The stored bytes of the n-th value field added with Int, Text, ... (blobs not counted).
  const std::vector<uint8_t>& Bytes(size_t n) const { return values_.at(n); }
  std::vector<uint8_t>& Bytes(size_t n) { return values_.at(n); }

  TFieldBuffers buffers;

 private:
  FieldValues& Add(std::vector<uint8_t> bytes, uint8_t type) {
    values_.push_back(std::move(bytes));
    buffers.Add(values_.back().data(), type, static_cast<int32_t>(values_.back().size()));
    return *this;
  }
  std::deque<std::vector<uint8_t>> values_;  // a deque keeps each value where the buffers point
  std::deque<TOptimBlobStream> blobs_;
};

// The record IDs along the link chain of index `index`, read from the file bytes from the head
// slot on. Each link must name its own record; a chain that does not end within the slot count
// fails the test.
inline std::vector<int32_t> IndexChain(const std::vector<uint8_t>& file, const TTableDefBlock& header, int index) {
  std::vector<int32_t> blocks;
  for (int32_t block = header.FirstLinkBlock(index); block != 0; block = I32At(file, static_cast<size_t>(block))) {
    blocks.push_back(block);
    if (static_cast<int64_t>(blocks.size()) * dbfmt::kPerBlock > header.SlotCount() + dbfmt::kPerBlock) {
      ADD_FAILURE() << "index " << index << ": the link blocks do not end";
      break;
    }
  }
  std::vector<int32_t> chain;
  for (int32_t r = header.HeadSlot(index); r != -1; ) {
    if (r < 0 || r >= header.SlotCount() || chain.size() == static_cast<size_t>(header.SlotCount())) {
      ADD_FAILURE() << "index " << index << ": the chain leads to record " << r << " after " << chain.size();
      break;
    }
    chain.push_back(r);
    size_t link = static_cast<size_t>(blocks.at(static_cast<size_t>(r / dbfmt::kPerBlock))) + 4 +
                  static_cast<size_t>(r % dbfmt::kPerBlock) * dbfmt::kLinkSize;
    EXPECT_EQ(I32At(file, link), r) << "index " << index << ": the link of record " << r;
    r = I32At(file, link + 4);
  }
  return chain;
}

}  // namespace zq::testing_support
