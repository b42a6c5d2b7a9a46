// Writes that fail part-way: the database lives in a stream that accepts only a given number of
// bytes and then refuses (a short write), injected under the file layer as the memory medium.
// Each append, modify and delete is cut at every byte it writes; the error must surface, and the
// file, reopened, must load, recovered, with every record posted before and the interrupted
// operation whole or absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/db_creator.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/storage/db_file_owner.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/memory_stream_registry.h"
#include "dbengine/storage/optim_blob_stream.h"
#include "dbengine/storage/table_io.h"
#include "db_memory_file.h"

namespace zq {
namespace {

// A memory stream that takes `budget` more bytes and then writes short (-1: no limit).
class FailingStream : public TMemoryStream {
 public:
  int64_t budget = -1;
  int64_t written = 0;

  int64_t Write(const void* buffer, int64_t count) override {
    int64_t n = budget < 0 ? count : std::min(count, budget);
    if (budget >= 0) budget -= n;
    if (n > 0) TMemoryStream::Write(buffer, n);
    written += n;
    return n;
  }
};

class MemoryOwner : public TDbFileOwner {
 public:
  TDbMediumType MediumType() const override { return mtMemory; }
  bool Exclusive() const override { return false; }
  int32_t LockRetryCount() const override { return 1; }
  int32_t LockWaitTime() const override { return 0; }
  TDbFileIO* FileIO() override { return &io; }
  TDbFileIO io{this};
};

// One table open on a registered stream.
class OpenTable {
 public:
  explicit OpenTable(TStream& stream) : stream_(&stream) {
    name_ = TMemoryStreamRegistry::Register(stream_);
    owner_.io.Open(name_, mtMemory, 0, false, false);
    table_ = std::make_unique<TDbTableIO>(&owner_);
    table_->SetTableName("Items");
    table_->Open();
  }
  ~OpenTable() {
    table_.reset();
    owner_.io.Close();
    TMemoryStreamRegistry::Unregister(stream_);
  }
  TDbTableIO& Table() { return *table_; }

 private:
  TStream* stream_;
  std::string name_;
  MemoryOwner owner_;
  std::unique_ptr<TDbTableIO> table_;
};

struct Row {
  int32_t id;
  std::string name;
  std::string data;
};

std::vector<uint8_t> Int(int32_t v) {
  std::vector<uint8_t> b(4);
  dbfmt::PutI32(b.data(), v);
  return b;
}

// Field buffers for (Id, Name, Data); keeps the values alive while in use.
struct Buffers {
  explicit Buffers(const Row& row) : id(Int(row.id)), name(21, 0) {
    std::copy(row.name.begin(), row.name.end(), name.begin());
    blob.WriteBuffer(row.data.data(), static_cast<int64_t>(row.data.size()));
    b.Add(id.data(), ftAutoInc, 4);
    b.Add(name.data(), ftString, 21);
    b.AddBlob(&blob, ftBlob);
  }
  std::vector<uint8_t> id, name;
  TOptimBlobStream blob;
  TFieldBuffers b;
};

const std::vector<Row> kPosted = {{1, "alpha", std::string(100, 'a')},
                                  {2, "bravo", "b"},
                                  {3, "charlie", std::string(70, 'c')}};

std::vector<uint8_t> BaseDatabase() {
  TDbSchema schema;
  schema.Compression = "ZLIB";
  TDbSchemaTable t;
  t.Name = "Items";
  t.Fields = {{"Id", ftAutoInc, 0, false}, {"Name", ftString, 20, false}, {"Data", ftBlob, 0, false}};
  t.Indexes = {{"PK", {"Id"}, tiPrimary}, {"ByName", {"Name"}, tiUnique | tiDescending}};
  for (const Row& r : kPosted)
    t.Records.push_back({{{"Id", Variant(r.id)}, {"Name", Variant(r.name)}, {"Data", Variant(r.data)}}});
  schema.Tables.push_back(t);
  return TDbCreator::Build(schema);
}

std::string Text(TDbTableIO& table, int32_t record_id, int field) {
  TMemoryStream out;
  table.ReadStoredField(out, record_id, field);
  std::string s(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
  return field == 1 ? s.substr(0, s.find('\0')) : s;
}

// The rows in physical order and in both index orders, read from a fresh load.
struct Contents {
  std::vector<Row> physical;
  std::vector<int32_t> by_pk, by_name;
};

Contents Read(TDbTableIO& table) {
  Contents c;
  TMemoryStream out;
  for (const auto& ref : table.RowList(0)) {
    table.ReadStoredField(out, ref.RecordId, 0);
    c.physical.push_back({dbfmt::GetI32(out.Memory()), Text(table, ref.RecordId, 1), Text(table, ref.RecordId, 2)});
  }
  for (const auto& ref : table.RowList(1)) c.by_pk.push_back(ref.RecordId);
  for (const auto& ref : table.RowList(2)) c.by_name.push_back(ref.RecordId);
  return c;
}

enum class Op { Append, Modify, Delete };

void Perform(TDbTableIO& table, Op op) {
  switch (op) {
    case Op::Append: {
      Buffers b({0, "delta", std::string(300, 'd')});
      table.AppendRecord(b.b, false, nullptr);
      break;
    }
    case Op::Modify: {
      // Record 1 gets a new name (it moves in ByName) and a blob that outgrows its area.
      Buffers b({2, "zulu", std::string(200, 'z')});
      table.ModifyRecord(b.b, 1, nullptr, false);
      break;
    }
    case Op::Delete: table.DeleteRecord(0, false); break;
  }
}

// Bytes the operation writes when nothing fails.
int64_t BytesWritten(const std::vector<uint8_t>& base, Op op) {
  FailingStream stream;
  stream.WriteBuffer(base.data(), static_cast<int64_t>(base.size()));
  OpenTable t(stream);
  stream.written = 0;
  Perform(t.Table(), op);
  return stream.written;
}

// The bytes of a record's image and blob areas, read straight from the file.
std::string RecordBytes(TDbTableIO& table, const std::vector<uint8_t>& file, int32_t record_id) {
  int32_t offset = 0;
  for (const auto& ref : table.RowList(0))
    if (ref.RecordId == record_id) offset = ref.DataOffset;
  std::string bytes(reinterpret_cast<const char*>(file.data()) + offset, static_cast<size_t>(table.RecordSize()));
  int32_t descriptor = offset + table.FieldOffsets()[2];
  int32_t area = dbfmt::GetI32(&file[static_cast<size_t>(descriptor)]);
  int32_t size = dbfmt::GetI32(&file[static_cast<size_t>(descriptor) + 8]);
  bytes.append(reinterpret_cast<const char*>(file.data()) + area, static_cast<size_t>(size));
  return bytes;
}

struct CutSummary {
  int64_t cuts = 0;
  int64_t unreadable = 0;  // reopened table refused as damaged: never
};

void CutEverywhere(Op op, const char* what, CutSummary& summary) {
  const std::vector<uint8_t> base = BaseDatabase();
  // Where the posted records lie, to compare their bytes after each cut.
  TMemoryStream base_stream;
  base_stream.WriteBuffer(base.data(), static_cast<int64_t>(base.size()));
  std::vector<std::string> posted_bytes;
  {
    OpenTable t(base_stream);
    for (int32_t r = 0; r < 3; ++r) posted_bytes.push_back(RecordBytes(t.Table(), base, r));
  }
  // The record the operation rewrites (modify) may end up old, new or damaged; all others not.
  const int32_t touched = op == Op::Modify ? 1 : -1;

  const int64_t total = BytesWritten(base, op);
  EXPECT_GT(total, 0);
  for (int64_t budget = 0; budget < total; ++budget) {
    ++summary.cuts;
    std::string where = std::string(what) + " cut after " + std::to_string(budget) + " of " + std::to_string(total) +
                        " bytes";
    FailingStream stream;
    stream.WriteBuffer(base.data(), static_cast<int64_t>(base.size()));
    {
      OpenTable t(stream);
      stream.budget = budget;
      try {
        Perform(t.Table(), op);
        ADD_FAILURE() << where << ": the failed write was not reported";
      } catch (const EStreamError& e) {
        EXPECT_EQ(e.Message(), "Stream write error") << where;
      }
      // The lists in memory never show a half-written record: the same three rows (the byte that
      // makes an appended record live is the append's last write, so no cut shows it), and the
      // rows the operation did not touch read as they were.
      stream.budget = -1;
      ASSERT_EQ(t.Table().RowList(0).size(), 3u) << where;
      for (int32_t r = 0; r < 3; ++r) {
        if (r == touched) continue;
        EXPECT_EQ(Text(t.Table(), r, 1), kPosted[static_cast<size_t>(r)].name) << where;
        EXPECT_EQ(Text(t.Table(), r, 2), kPosted[static_cast<size_t>(r)].data) << where;
      }
    }

    // What reached the file: the untouched records keep every byte of their images and areas.
    std::vector<uint8_t> file(stream.Memory(), stream.Memory() + stream.Size());
    {
      OpenTable t(base_stream);
      for (int32_t r = 0; r < 3; ++r) {
        if (r == touched) continue;
        EXPECT_EQ(RecordBytes(t.Table(), file, r), posted_bytes[static_cast<size_t>(r)]) << where;
      }
    }

    // Reopened: the table loads, whatever the cut, and recovers an interrupted operation; the
    // structural check of the recovered file is clean.
    TMemoryStream reopened;
    reopened.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    std::unique_ptr<OpenTable> t;
    try {
      t = std::make_unique<OpenTable>(reopened);
    } catch (const EDatabaseError& e) {
      ADD_FAILURE() << where << ": the table is refused: " << e.Message();
      ++summary.unreadable;
      continue;
    }
    const std::vector<uint8_t> recovered(reopened.Memory(), reopened.Memory() + reopened.Size());
    EXPECT_EQ(testing_support::CheckProblems(recovered), std::vector<std::string>{}) << where;
    if (touched >= 0) {
      // The modified record holds its old values or its new ones, never a mix.
      const std::string name = Text(t->Table(), touched, 1), data = Text(t->Table(), touched, 2);
      const bool old_values = name == kPosted[static_cast<size_t>(touched)].name && data == kPosted[static_cast<size_t>(touched)].data;
      EXPECT_TRUE(old_values || (name == "zulu" && data == std::string(200, 'z'))) << where << ": " << name;
    }
    const TRowList& physical = t->Table().RowList(0);
    ASSERT_GE(physical.size(), op == Op::Delete ? 2u : 3u) << where;
    ASSERT_LE(physical.size(), 3u) << where << ": an interrupted append left its record live";
    for (const auto& ref : physical) {
      int32_t r = ref.RecordId;
      if (r == touched || r >= 3) continue;
      EXPECT_EQ(Text(t->Table(), r, 1), kPosted[static_cast<size_t>(r)].name) << where;
      EXPECT_EQ(Text(t->Table(), r, 2), kPosted[static_cast<size_t>(r)].data) << where;
    }
    if (op == Op::Delete) {
      // A delete is one 5-byte slot write: only record 0 can be gone, and then from every index.
      EXPECT_TRUE(physical.size() == 3 || physical[0].RecordId == 1) << where;
      EXPECT_EQ(t->Table().RowList(1).size(), physical.size()) << where;
      EXPECT_EQ(t->Table().RowList(2).size(), physical.size()) << where;
    }
    if (op == Op::Append) {
      // The posted records are in every index, in order.
      for (int list = 1; list <= 2; ++list) {
        std::vector<int32_t> ids;
        for (const auto& ref : t->Table().RowList(list))
          if (ref.RecordId < 3) ids.push_back(ref.RecordId);
        EXPECT_EQ(ids, list == 1 ? (std::vector<int32_t>{0, 1, 2}) : (std::vector<int32_t>{2, 1, 0})) << where;
      }
    }
    t.reset();
  }

  // With every byte written the operation completes, and its record reads back whole.
  FailingStream stream;
  stream.WriteBuffer(base.data(), static_cast<int64_t>(base.size()));
  OpenTable t(stream);
  stream.budget = total;
  Perform(t.Table(), op);
  const size_t expected_rows = op == Op::Append ? 4u : op == Op::Delete ? 2u : 3u;
  ASSERT_EQ(t.Table().RowList(0).size(), expected_rows) << what << " with every byte written";
  if (op == Op::Append) {
    EXPECT_EQ(Text(t.Table(), 3, 1), "delta");
    EXPECT_EQ(Text(t.Table(), 3, 2), std::string(300, 'd'));
  }
}

TEST(FaultInjection, AppendCutAtEveryByte) {
  CutSummary s;
  CutEverywhere(Op::Append, "append", s);
  RecordProperty("cuts", std::to_string(s.cuts));
  std::cout << "append: " << s.cuts << " cuts, " << s.unreadable << " leave the table refused as damaged\n";
  EXPECT_EQ(s.unreadable, 0);
}

TEST(FaultInjection, AppendCutBeforeItsImageDropsOnlyThatRecord) {
  // Cut after SlotCount counted the new record and before the byte that makes it live: reopened,
  // the table shows the three posted records, the new record stays deleted, and the next append
  // takes the following record ID, its image never overlapping a record that reads as live.
  const std::vector<uint8_t> base = BaseDatabase();
  const int64_t total = BytesWritten(base, Op::Append);
  for (int64_t budget = 1; budget < total; ++budget) {
    FailingStream stream;
    stream.WriteBuffer(base.data(), static_cast<int64_t>(base.size()));
    {
      OpenTable t(stream);
      stream.budget = budget;
      try {
        Perform(t.Table(), Op::Append);
      } catch (const EStreamError&) {
      }
    }
    stream.budget = -1;
    int32_t slot_count = 0;
    {
      OpenTable t(stream);
      if (t.Table().RowList(0).size() != 3u) continue;  // the image was written: not this case
      slot_count = t.Table().Header().SlotCount();
      if (slot_count != 4) continue;  // the slot itself was not written
      Perform(t.Table(), Op::Append);
    }
    OpenTable t(stream);
    Contents c = Read(t.Table());
    ASSERT_EQ(c.physical.size(), 4u) << "cut after " << budget;
    EXPECT_EQ(t.Table().RowList(0)[3].RecordId, 4) << "cut after " << budget;
    EXPECT_EQ(c.physical[3].name, "delta");
    EXPECT_EQ(c.physical[3].data, std::string(300, 'd'));
    EXPECT_EQ(c.by_name, (std::vector<int32_t>{4, 2, 1, 0}));
    EXPECT_EQ(t.Table().Header().SlotCount(), 5);
    return;
  }
  FAIL() << "no cut left a slot without its record image";
}
TEST(FaultInjection, ModifyCutAtEveryByte) {
  CutSummary s;
  CutEverywhere(Op::Modify, "modify", s);
  std::cout << "modify: " << s.cuts << " cuts, " << s.unreadable << " leave the table refused as damaged\n";
  EXPECT_EQ(s.unreadable, 0);
}
TEST(FaultInjection, DeleteCutAtEveryByte) {
  CutSummary s;
  CutEverywhere(Op::Delete, "delete", s);
  // The delete writes nothing that could damage the table.
  EXPECT_EQ(s.unreadable, 0);
}

TEST(FaultInjection, TheUncutOperationsSucceed) {
  const std::vector<uint8_t> base = BaseDatabase();
  for (Op op : {Op::Append, Op::Modify, Op::Delete}) {
    FailingStream stream;
    stream.WriteBuffer(base.data(), static_cast<int64_t>(base.size()));
    {
      OpenTable t(stream);
      Perform(t.Table(), op);
    }
    OpenTable t(stream);
    Contents c = Read(t.Table());
    if (op == Op::Append) {
      ASSERT_EQ(c.physical.size(), 4u);
      EXPECT_EQ(c.physical[3].id, 4);
      EXPECT_EQ(c.physical[3].name, "delta");
      EXPECT_EQ(c.physical[3].data, std::string(300, 'd'));
      EXPECT_EQ(c.by_name, (std::vector<int32_t>{3, 2, 1, 0}));
    } else if (op == Op::Modify) {
      ASSERT_EQ(c.physical.size(), 3u);
      EXPECT_EQ(c.physical[1].name, "zulu");
      EXPECT_EQ(c.physical[1].data, std::string(200, 'z'));
      EXPECT_EQ(c.by_name, (std::vector<int32_t>{1, 2, 0}));
    } else {
      ASSERT_EQ(c.physical.size(), 2u);
      EXPECT_EQ(c.by_pk, (std::vector<int32_t>{1, 2}));
    }
  }
}

}  // namespace
}  // namespace zq
