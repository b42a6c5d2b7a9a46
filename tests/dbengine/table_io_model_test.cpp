// Random appends, modifies and deletes on a table with several indexes, checked against a model
// kept by the test, against the link chains in the file, and after reloading from the file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/table_io.h"
#include "engine_test_support.h"

namespace zq {
namespace {

using namespace testing_support;

struct ModelRow {
  int32_t id;
  std::string name;
  int16_t num;
  double val;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Linguistic order of letter-only names: alphabetical ignoring case first; on a tie, at the first
// letter whose case differs, small before capital.
int LinguisticCompare(const std::string& a, const std::string& b) {
  std::string la = Lower(a), lb = Lower(b);
  if (la != lb) return la < lb ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return std::islower(static_cast<unsigned char>(a[i])) ? -1 : 1;
  return 0;
}

// Model orders: -1, 0, 1 for index i.
int ModelCompare(int index, const ModelRow& a, const ModelRow& b) {
  auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
  switch (index) {
    case 0: return sign(a.id, b.id);
    case 1: return -sign(a.num, b.num);
    case 2: return sign(Lower(a.name), Lower(b.name));
    case 3: {
      int c = sign(a.num, b.num);
      return c != 0 ? c : LinguisticCompare(a.name, b.name);
    }
    case 4: return -sign(a.val, b.val);
  }
  return 0;
}

TDbSchema ModelSchema() {
  TDbSchema s;
  TDbSchemaTable t;
  t.Name = "M";
  t.Fields = {{"Id", ftInteger}, {"Name", ftString, 12}, {"Num", ftSmallint}, {"Val", ftFloat}};
  t.Indexes = {{"PK", {"Id"}, tiPrimary},
               {"NumDesc", {"Num"}, tiDescending},
               {"NameCI", {"Name"}, tiCaseInsensitive},
               {"NumName", {"Num", "Name"}, 0},
               {"ValDesc", {"Val"}, tiDescending}};
  s.Tables.push_back(t);
  return s;
}

struct Buffers : FieldValues {
  explicit Buffers(const ModelRow& r) { Int(r.id).Text(r.name, 12).Small(r.num).Float(r.val); }
};

class Checker {
 public:
  Checker(const std::string& path, TDbTableIO& table, const std::map<int32_t, ModelRow>& model)
      : path_(path), table_(table), model_(model) {}

  void Check() {
    std::vector<int32_t> live;
    for (const auto& [rid, row] : model_) live.push_back(rid);
    std::vector<int32_t> physical;
    for (const auto& ref : table_.RowList(0)) physical.push_back(ref.RecordId);
    ASSERT_EQ(physical, live);
    auto file = ReadAll(path_);
    const TTableDefBlock& h = table_.Header();
    for (int i = 0; i < 5; ++i) {
      const TRowList& list = table_.RowList(i + 1);
      ASSERT_EQ(list.size(), live.size()) << "index " << i;
      std::vector<int32_t> ids;
      for (size_t p = 0; p < list.size(); ++p) {
        ids.push_back(list[p].RecordId);
        if (p > 0) {
          ASSERT_LE(ModelCompare(i, model_.at(list[p - 1].RecordId), model_.at(list[p].RecordId)), 0)
              << "index " << i << " position " << p;
        }
      }
      std::vector<int32_t> sorted = ids;
      std::sort(sorted.begin(), sorted.end());
      ASSERT_EQ(sorted, live);
      // The chain in the file, without the deleted records.
      std::vector<int32_t> chain;
      for (int32_t r : IndexChain(file, h, i))
        if (model_.count(r)) chain.push_back(r);
      ASSERT_EQ(chain, ids) << "chain of index " << i;
    }
  }

 private:
  std::string path_;
  TDbTableIO& table_;
  const std::map<int32_t, ModelRow>& model_;
};

TEST(TableIOModel, RandomOperationsKeepEveryIndexAndChain) {
  TempDir dir;
  std::string path = dir.File("m.zqc");
  TDbCreator::CreateFile(path, ModelSchema());
  auto owner = std::make_unique<FakeOwner>();
  owner->io().Open(path, mtDisk, 0, false, false);
  auto table = std::make_unique<TDbTableIO>(owner.get());
  table->SetTableName("M");
  table->Open();

  std::mt19937 rng(2024);
  std::map<int32_t, ModelRow> model;  // by record ID
  int32_t next_record = 0, next_id = 1;
  auto random_name = [&] {
    std::string s;
    int n = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < n; ++i) s.push_back("abcdeABCDE"[rng() % 10]);
    return s;
  };
  const int kOps = 2500;
  for (int op = 0; op < kOps; ++op) {
    unsigned kind = rng() % 10;
    if (model.empty() || kind < 5) {
      ModelRow row{next_id++, random_name(), static_cast<int16_t>(rng() % 15), double(rng() % 9) / 4};
      Buffers b(row);
      table->AppendRecord(b.buffers, false, nullptr);
      model[next_record++] = row;
    } else if (kind < 8) {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      int physical = static_cast<int>(std::distance(model.begin(), it));
      ModelRow row = it->second;
      if (rng() % 2) row.name = random_name();
      if (rng() % 2) row.num = static_cast<int16_t>(rng() % 15);
      if (rng() % 3 == 0) row.val = double(rng() % 9) / 4;
      if (rng() % 5 == 0) row.id = next_id++;
      // The move callback names exactly the indexes where the record changed place, the new place
      // given as the insertion point in the list as it was before the move.
      auto positions = [&] {
        std::vector<int> at;
        for (int i = 1; i <= 5; ++i) {
          const TRowList& list = table->RowList(i);
          auto found = std::find_if(list.begin(), list.end(), [&](const TRowRef& ref) { return ref.RecordId == it->first; });
          at.push_back(static_cast<int>(found - list.begin()));
        }
        return at;
      };
      std::vector<int> before = positions();
      Buffers b(row);
      std::vector<std::array<int, 3>> moves;
      table->ModifyRecord(
          b.buffers, physical, [&](int index, int from, int to) { moves.push_back({index, from, to}); }, false);
      std::vector<int> after = positions();
      std::vector<std::array<int, 3>> expected_moves;
      for (size_t i = 0; i < 5; ++i) {
        const int from = before[i], to = after[i];
        if (from != to) expected_moves.push_back({static_cast<int>(i), from, to + (to > from)});
      }
      ASSERT_EQ(moves, expected_moves) << "operation " << op;
      it->second = row;
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      table->DeleteRecord(static_cast<int>(std::distance(model.begin(), it)), false);
      model.erase(it);
    }
    if (op % 250 == 249) {
      Checker(path, *table, model).Check();
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  // Reload from the file: same lists.
  std::vector<TRowList> before;
  for (int l = 0; l < 6; ++l) before.push_back(table->RowList(l));
  table.reset();
  owner = std::make_unique<FakeOwner>();
  owner->io().Open(path, mtDisk, 0, false, false);
  table = std::make_unique<TDbTableIO>(owner.get());
  table->SetTableName("M");
  table->Open();
  for (int l = 0; l < 6; ++l) EXPECT_EQ(table->RowList(l), before[static_cast<size_t>(l)]) << "list " << l;
  Checker(path, *table, model).Check();
  // The unique index holds: a duplicate Id is refused.
  ModelRow dup = model.begin()->second;
  dup.name = "zz";
  Buffers b(dup);
  EXPECT_THROW(table->AppendRecord(b.buffers, false, nullptr), EDatabaseError);
}

TEST(TableIOModel, TwoProcessesAppendingLoseNothing) {
  TempDir dir;
  std::string path = dir.File("p.zqc");
  TDbSchema s;
  TDbSchemaTable t;
  t.Name = "Log";
  t.Fields = {{"Id", ftAutoInc}, {"Who", ftInteger}, {"Seq", ftInteger}};
  t.Indexes = {{"PK", {"Id"}, tiPrimary}, {"ByWho", {"Who", "Seq"}, tiUnique}, {"BySeq", {"Seq"}, tiDescending}};
  s.Tables.push_back(t);
  TDbCreator::CreateFile(path, s);
  constexpr int kEach = 1000;
  auto worker = [&](int who) {
    FakeOwner owner;
    owner.retry_count = 60000;  // at most a minute behind the other process, then fail
    owner.wait_time = 1;
    owner.io().Open(path, mtDisk, 0, false, false);
    TDbTableIO table(&owner);
    table.SetTableName("Log");
    table.Open();
    for (int i = 0; i < kEach; ++i) {
      FieldValues row;
      row.Int(0, ftAutoInc).Int(who).Int(i);
      table.AppendRecord(row.buffers, false, nullptr);
    }
    return 0;
  };
  pid_t children[2];
  for (int who = 0; who < 2; ++who) {
    children[who] = ::fork();
    if (children[who] == 0) {
      int code = 3;
      try {
        code = worker(who + 1);
      } catch (...) {
        code = 4;
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
  FakeOwner owner;
  owner.io().Open(path, mtDisk, 0, false, false);
  TDbTableIO table(&owner);
  table.SetTableName("Log");
  table.Open();
  ASSERT_EQ(table.RowList(0).size(), 2u * kEach);
  EXPECT_EQ(table.Header().SlotCount(), 2 * kEach);
  EXPECT_EQ(table.Header().LastAutoIncValue(), 2 * kEach);
  // Every (Who, Seq) pair once, in order; auto-increment values 1..2000 once each.
  std::vector<std::pair<int, int>> pairs;
  TMemoryStream out;
  for (const auto& ref : table.RowList(2)) {
    table.ReadStoredField(out, ref.RecordId, 1);
    int who = dbfmt::GetI32(out.Memory());
    table.ReadStoredField(out, ref.RecordId, 2);
    pairs.emplace_back(who, dbfmt::GetI32(out.Memory()));
  }
  ASSERT_EQ(pairs.size(), 2u * kEach);
  for (int i = 0; i < 2 * kEach; ++i) EXPECT_EQ(pairs[static_cast<size_t>(i)], std::make_pair(1 + i / kEach, i % kEach));
  int expect = 1;
  for (const auto& ref : table.RowList(1)) {
    table.ReadStoredField(out, ref.RecordId, 0);
    EXPECT_EQ(dbfmt::GetI32(out.Memory()), expect++);
  }
  int last = kEach;
  for (const auto& ref : table.RowList(3)) {
    table.ReadStoredField(out, ref.RecordId, 2);
    int seq = dbfmt::GetI32(out.Memory());
    EXPECT_LE(seq, last);
    last = seq;
  }
}

}  // namespace
}  // namespace zq
