// Two processes append, modify and delete thousands of records in the same two tables of one
// file at the same time, each under the file lock. Afterwards the file must hold exactly what
// the two of them meant to leave, every index in key order, and pass the structural check.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbengine/db_creator.h"
#include "dbengine/db_error.h"
#include "dbengine/db_file_io.h"
#include "dbengine/db_file_owner.h"
#include "dbengine/field_type.h"
#include "dbengine/optim_blob_stream.h"
#include "dbengine/table_io.h"

namespace zq {
namespace {

namespace fs = std::filesystem;

constexpr int kAppends = 1500;  // per process and table
constexpr int kNameSize = 24;

class DiskOwner : public TDbFileOwner {
 public:
  TDbMediumType MediumType() const override { return mtDisk; }
  bool Exclusive() const override { return false; }
  int32_t LockRetryCount() const override { return 0; }  // wait as long as it takes
  int32_t LockWaitTime() const override { return 1; }
  TDbFileIO* FileIO() override { return &io; }
  TDbFileIO io{this};
};

struct Value {
  std::string name;
  std::string payload;
};

std::vector<uint8_t> Int(int32_t v) {
  std::vector<uint8_t> b(4);
  dbfmt::PutI32(b.data(), v);
  return b;
}

// Field buffers for (Id, Who, Seq, Name, Payload).
struct Buffers {
  Buffers(int32_t who, int32_t seq, const Value& v) : id(Int(0)), w(Int(who)), s(Int(seq)), name(kNameSize + 1, 0) {
    std::copy(v.name.begin(), v.name.end(), name.begin());
    blob.WriteBuffer(v.payload.data(), static_cast<int64_t>(v.payload.size()));
    b.Add(id.data(), ftAutoInc, 4);
    b.Add(w.data(), ftInteger, 4);
    b.Add(s.data(), ftInteger, 4);
    b.Add(name.data(), ftString, kNameSize + 1);
    b.AddBlob(&blob, ftMemo);
  }
  std::vector<uint8_t> id, w, s, name;
  TOptimBlobStream blob;
  TFieldBuffers b;
};

// The work of one process on one table: its own records (Who = who), keyed by Seq. Returns
// what it leaves behind; the same pseudo-random sequence lets the parent recompute it.
std::map<int, Value> Work(TDbTableIO* table, int who, int table_number) {
  std::mt19937 rng(static_cast<uint32_t>(who * 7919 + table_number));
  std::map<int, Value> mine;
  std::map<int, int32_t> ids;  // Seq -> record ID
  auto random_value = [&](int seq) {
    Value v;
    v.name = std::string(1, static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 26)) + std::to_string(seq % 97) +
             "-" + std::to_string(who);
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
      table->AppendRecord(b.b, false, [&](int list, int, const TRowRef& row) {
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
        table->ModifyRecord(b.b, position_of(ids[it->first]), nullptr, false);
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

std::string Stored(TDbTableIO& table, int32_t id, int field) {
  TMemoryStream out;
  table.ReadStoredField(out, id, field);
  return std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
}

TEST(StressTwoProcesses, AppendModifyDeleteLoseNothing) {
  char pattern[] = "/tmp/zq_stress_XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  fs::path dir = pattern;
  std::string path = (dir / "stress.zqc").string();
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
        owner.io.Open(path, mtDisk, 0, false, false);
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
  owner.io.Open(path, mtDisk, 0, false, false);
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
    std::map<std::pair<int, int>, int32_t> found;
    for (const auto& ref : physical) {
      int who = dbfmt::GetI32(reinterpret_cast<const uint8_t*>(Stored(table, ref.RecordId, 1).data()));
      int seq = dbfmt::GetI32(reinterpret_cast<const uint8_t*>(Stored(table, ref.RecordId, 2).data()));
      auto it = expected.find({who, seq});
      ASSERT_NE(it, expected.end()) << who << "/" << seq;
      std::string name = Stored(table, ref.RecordId, 3);
      EXPECT_EQ(name.substr(0, name.find('\0')), it->second.name);
      EXPECT_EQ(Stored(table, ref.RecordId, 4), it->second.payload);
      EXPECT_TRUE(found.emplace(it->first, ref.RecordId).second) << "twice: " << who << "/" << seq;
    }
    // Auto-increment values handed out once each, never above the header's last value.
    std::vector<int32_t> ids;
    for (const auto& ref : physical)
      ids.push_back(dbfmt::GetI32(reinterpret_cast<const uint8_t*>(Stored(table, ref.RecordId, 0).data())));
    std::sort(ids.begin(), ids.end());
    EXPECT_TRUE(std::adjacent_find(ids.begin(), ids.end()) == ids.end());
    EXPECT_LE(ids.back(), table.Header().LastAutoIncValue());
    EXPECT_EQ(table.Header().SlotCount(), 2 * kAppends);
    EXPECT_EQ(table.Header().LastAutoIncValue(), 2 * kAppends);

    // Every index, as its chain in the file gives it, holds every record once, in key order.
    for (int x = 0; x < 3; ++x) {
      const TRowList& order = table.RowList(x + 1);
      ASSERT_EQ(order.size(), physical.size()) << "index " << x;
      const TDbIndexDef& def = table.IndexDefs().Item(x);
      for (size_t k = 1; k < order.size(); ++k) {
        int c = 0;
        for (int32_t f : def.FieldNumbers) {
          std::string a = Stored(table, order[k - 1].RecordId, f), b = Stored(table, order[k].RecordId, f);
          c = TDbTableIO::CompareValues(reinterpret_cast<const uint8_t*>(a.data()), static_cast<int64_t>(a.size()),
                                        reinterpret_cast<const uint8_t*>(b.data()), static_cast<int64_t>(b.size()),
                                        false, (def.Options & tiCaseInsensitive) != 0,
                                        table.FieldDefs().Item(f).FieldType);
          if (c != 0) break;
        }
        if (def.Options & tiDescending) c = -c;
        EXPECT_LT(c, def.Options & (tiPrimary | tiUnique) ? 0 : 1) << "index " << x << " at " << k;
      }
    }
  }
  owner.io.Close();

  // The independent structural walk of the whole file, when the tool is built.
  const char* bin = std::getenv("ZQ_BINARY_DIR");
  std::string tool = bin ? std::string(bin) + "/tools/zqdb" : "";
  if (!tool.empty() && ::access(tool.c_str(), X_OK) == 0) {
    std::string out = (dir / "check.txt").string();
    int status = std::system((tool + " check '" + path + "' > '" + out + "' 2>&1").c_str());
    std::ifstream in(out);
    std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(status, 0) << report;
    EXPECT_EQ(report, "");
  } else {
    std::cout << "zqdb not built: structural walk skipped\n";
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zq
