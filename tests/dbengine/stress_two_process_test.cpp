// Two processes append, modify and delete thousands of records in the same two tables of one
// file at the same time, each under the file lock. Afterwards the file must hold exactly what
// the two of them meant to leave, every index in key order, and pass the structural check.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbengine/storage/db_creator.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/storage/db_file_owner.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/optim_blob_stream.h"
#include "dbengine/storage/table_io.h"
#include "tests/dbengine/engine_test_support.h"
#include "tests/support/run_program.h"

namespace zq {
namespace {

using namespace testing_support;

constexpr int kAppends = 1500;  // per process and table
constexpr int kNameSize = 24;

// Lock waits are bounded: a process kept out for a minute fails instead of hanging the test.
struct DiskOwner : FakeOwner {
  DiskOwner() {
    retry_count = 60000;
    wait_time = 1;
  }
};

struct Value {
  std::string name;
  std::string payload;
};

// Field buffers for (Id, Who, Seq, Name, Payload).
struct Buffers : FieldValues {
  Buffers(int32_t who, int32_t seq, const Value& v) {
    Int(0, ftAutoInc).Int(who).Int(seq).Text(v.name, kNameSize).Blob(v.payload, ftMemo);
  }
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The work of one process on one table: its own records (Who = who), keyed by Seq. Returns
// what it leaves behind; the same pseudo-random sequence lets the parent recompute it.
std::map<int, Value> Work(TDbTableIO* table, int who, int table_number) {
  std::mt19937 rng(static_cast<uint32_t>(who * 7919 + table_number));
  std::map<int, Value> mine;
  std::map<int, int32_t> ids;  // Seq -> record ID
  auto random_value = [&](int seq) {
    Value v;
    // Letters only, so that the test's own case-insensitive order is plain lowercase order.
    v.name = std::string(1, static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 26)) +
             static_cast<char>('a' + seq % 97 / 26) + static_cast<char>('a' + seq % 26) + (who == 1 ? "p" : "q");
    v.payload = std::string(rng() % 150, static_cast<char>('0' + seq % 10));
    return v;
  };
  auto position_of = [&](int32_t id) {
    const TRowList& list = table->RowList(0);
    auto it = std::lower_bound(list.begin(), list.end(), id,
                               [](const TRowRef& ref, int32_t v) { return ref.RecordId < v; });
    return static_cast<int>(it - list.begin());
  };
  for (int seq = 0; seq < kAppends; ++seq) {
    Value v = random_value(seq);
    if (table != nullptr) {
      Buffers b(who, seq, v);
      int32_t id = -1;
      table->AppendRecord(b.buffers, false, [&](int list, int, const TRowRef& row) {
        if (list == -1) id = row.RecordId;
      });
      ids[seq] = id;
    }
    mine[seq] = v;
    uint32_t roll = rng() % 10;
    if (roll < 3 && !mine.empty()) {
      // Modify one of this process's records: new name (moves in the name index), new payload.
      auto it = mine.begin();
      std::advance(it, rng() % mine.size());
      Value nv = random_value(it->first);
      if (table != nullptr) {
        Buffers b(who, it->first, nv);
        table->ModifyRecord(b.buffers, position_of(ids[it->first]), nullptr, false);
      }
      it->second = nv;
    } else if (roll == 3 && !mine.empty()) {
      auto it = mine.begin();
      std::advance(it, rng() % mine.size());
      if (table != nullptr) table->DeleteRecord(position_of(ids[it->first]), false);
      mine.erase(it);
    }
  }
  return mine;
}

TEST(StressTwoProcesses, AppendModifyDeleteLoseNothing) {
  TempDir dir("zq-stress");
  std::string path = dir.File("stress.zqc");
  TDbSchema schema;
  schema.Compression = "ZLIB";
  for (const char* name : {"Alpha", "Beta"}) {
    TDbSchemaTable t;
    t.Name = name;
    t.Fields = {{"Id", ftAutoInc}, {"Who", ftInteger}, {"Seq", ftInteger}, {"Name", ftString, kNameSize},
                {"Payload", ftMemo}};
    t.Indexes = {{"PK", {"Id"}, tiPrimary},
                 {"WhoSeq", {"Who", "Seq"}, tiUnique},
                 {"ByName", {"Name", "Id"}, tiCaseInsensitive | tiDescending}};
    schema.Tables.push_back(t);
  }
  TDbCreator::CreateFile(path, schema);

  pid_t children[2];
  for (int who = 1; who <= 2; ++who) {
    children[who - 1] = ::fork();
    ASSERT_GE(children[who - 1], 0);
    if (children[who - 1] == 0) {
      int code = 0;
      try {
        DiskOwner owner;
        owner.io().Open(path, mtDisk, 0, false, false);
        std::vector<std::unique_ptr<TDbTableIO>> tables;
        for (const char* name : {"Alpha", "Beta"}) {
          tables.push_back(std::make_unique<TDbTableIO>(&owner));
          tables.back()->SetTableName(name);
          tables.back()->Open();
        }
        // Interleave the two tables: half of one, all of the other, the rest of the first.
        Work(tables[static_cast<size_t>(who - 1)].get(), who, who - 1);
        Work(tables[static_cast<size_t>(2 - who)].get(), who, 2 - who);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "process %d: %s\n", who, e.what());
        code = 3;
      }
      ::_exit(code);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }

  DiskOwner owner;
  owner.io().Open(path, mtDisk, 0, false, false);
  for (int t = 0; t < 2; ++t) {
    TDbTableIO table(&owner);
    table.SetTableName(t == 0 ? "Alpha" : "Beta");
    table.Open();
    std::map<std::pair<int, int>, Value> expected;
    for (int who = 1; who <= 2; ++who)
      for (auto& [seq, v] : Work(nullptr, who, t)) expected[{who, seq}] = v;

    // Exactly the expected records, each with its last values.
    const TRowList& physical = table.RowList(0);
    ASSERT_EQ(physical.size(), expected.size()) << "table " << t;
    struct Key {
      int32_t id;
      std::pair<int, int> who_seq;
      std::string name;
    };
    std::map<int32_t, Key> keys;  // by record ID
    for (const auto& ref : physical) {
      int who = dbfmt::GetI32(reinterpret_cast<const uint8_t*>(StoredBytes(table, ref.RecordId, 1).data()));
      int seq = dbfmt::GetI32(reinterpret_cast<const uint8_t*>(StoredBytes(table, ref.RecordId, 2).data()));
      auto it = expected.find({who, seq});
      ASSERT_NE(it, expected.end()) << who << "/" << seq;
      std::string name = StoredBytes(table, ref.RecordId, 3);
      EXPECT_EQ(name.substr(0, name.find('\0')), it->second.name);
      EXPECT_EQ(StoredBytes(table, ref.RecordId, 4), it->second.payload);
      int32_t id = dbfmt::GetI32(reinterpret_cast<const uint8_t*>(StoredBytes(table, ref.RecordId, 0).data()));
      keys[ref.RecordId] = {id, {who, seq}, it->second.name};
      expected.erase(it);  // a pair found twice is not found the second time
    }
    // Auto-increment values handed out once each, never above the header's last value.
    std::vector<int32_t> ids;
    for (const auto& [record, key] : keys) ids.push_back(key.id);
    std::sort(ids.begin(), ids.end());
    EXPECT_TRUE(std::adjacent_find(ids.begin(), ids.end()) == ids.end());
    EXPECT_LE(ids.back(), table.Header().LastAutoIncValue());
    EXPECT_EQ(table.Header().SlotCount(), 2 * kAppends);
    EXPECT_EQ(table.Header().LastAutoIncValue(), 2 * kAppends);

    // Every index holds every record once, in key order by the test's own comparison (the
    // third is case-insensitive and descending, on name then Id), and its chain in the file
    // gives the same order.
    auto before = [](int index, const Key& a, const Key& b) {
      switch (index) {
        case 0: return a.id < b.id;
        case 1: return a.who_seq < b.who_seq;
        default: return std::pair(Lower(b.name), b.id) < std::pair(Lower(a.name), a.id);
      }
    };
    const std::vector<uint8_t> file = ReadAll(path);
    for (int x = 0; x < 3; ++x) {
      const TRowList& order = table.RowList(x + 1);
      ASSERT_EQ(order.size(), physical.size()) << "index " << x;
      std::vector<int32_t> listed, chained;
      for (const auto& ref : order) listed.push_back(ref.RecordId);
      for (size_t k = 1; k < order.size(); ++k)
        EXPECT_TRUE(before(x, keys.at(order[k - 1].RecordId), keys.at(order[k].RecordId))) << "index " << x << " at " << k;
      for (int32_t r : IndexChain(file, table.Header(), x))
        if (keys.count(r)) chained.push_back(r);
      EXPECT_EQ(chained, listed) << "index " << x;
    }
  }
  owner.io().Close();

  // The independent structural walk of the whole file.
  ProgramResult check = RunProgram(BuiltProgram("tools/zqdb"), {"check", path});
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_EQ(check.out + check.err, "");
}

}  // namespace
}  // namespace zq
