// Bulk groups: random operation sequences run once one at a time and once in groups of random
// size (some ended by an exception thrown inside them, some holding an append that a unique key
// refuses) must leave the same bytes after every group; another opener, in this process or in a
// child process, waits while a group holds the lock and then sees the whole group.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>

#include "crash_workload.h"
#include "db_memory_file.h"
#include "dbengine/session/database.h"
#include "many_openers_support.h"
#include "tests/support/temp_dir.h"

namespace zq {
namespace {

using namespace testing_support;

uint32_t SeedOr(uint32_t fixed) {
  const char* env = std::getenv("ZQ_BULK_SEED");
  if (env == nullptr || *env == '\0') return fixed;
  if (std::string(env) == "random") return std::random_device{}();
  return static_cast<uint32_t>(std::strtoul(env, nullptr, 10));
}

// Holds a bulk group of a file for a scope.
class Group {
 public:
  explicit Group(TDbFileIO& io) : io_(io) { io_.BeginBulk(); }
  ~Group() {
    try {
      io_.EndBulk();
    } catch (...) {
    }
  }
  Group(const Group&) = delete;
  Group& operator=(const Group&) = delete;

 private:
  TDbFileIO& io_;
};

struct ThrownInGroup {};

struct Step {
  Op op;
  bool refused = false;  // an append whose name another record holds: "Invalid unique field value"
};

// Performs one step on a table and the model; a refused append must be refused.
void Run(TDbTableIO& table, const Step& step, Model& model) {
  if (!step.refused) {
    Perform(table, step.op, model);
    model.Apply(step.op);
    return;
  }
  const std::string error = ErrorOf([&] { Perform(table, step.op, model); });
  EXPECT_EQ(error.rfind("Invalid unique field value '", 0), 0u) << error;
}

size_t FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  size_t k = 0;
  while (k < a.size() && k < b.size() && a[k] == b[k]) ++k;
  return k;
}

void CompareGroupedWithSingle(FileKind kind, uint32_t seed, int initial_records, int operations) {
  SCOPED_TRACE(std::string(KindName(kind)) + ", seed " + std::to_string(seed) + " (ZQ_BULK_SEED)");
  std::cout << KindName(kind) << ": seed " << seed << "\n";
  const std::vector<Item> initial = InitialItems(seed, initial_records);
  const std::vector<uint8_t> base = TDbCreator::Build(CrashSchema(kind, initial));
  const std::string pw = PasswordOf(kind);
  MemoryFile grouped(base, pw), single(base, pw);
  TDbTableIO& grouped_table = grouped.Table("Items");
  TDbTableIO& single_table = single.Table("Items");
  Model grouped_model(initial), single_model(initial);
  ItemMaker maker(seed + 1);
  std::mt19937 rng(seed + 2);
  int done = 0, groups = 0, thrown = 0, refused = 0;
  while (done < operations) {
    const int size = 1 + static_cast<int>(rng() % 24);
    const int throw_after = rng() % 4 == 0 ? static_cast<int>(rng() % static_cast<unsigned>(size)) : -1;
    std::vector<Step> steps;
    try {
      Group group(grouped.io());
      for (int k = 0; k < size; ++k) {
        if (k == throw_after) throw ThrownInGroup{};
        Step step{maker.Next(grouped_model)};
        if (step.op.kind == Op::Append && !grouped_model.rows.empty() && rng() % 8 == 0) {
          step.op.item.name = grouped_model.rows.begin()->second.second.name;
          step.refused = true;
          ++refused;
        }
        steps.push_back(step);
        Run(grouped_table, step, grouped_model);
        ++done;
      }
    } catch (const ThrownInGroup&) {
      ++thrown;
    }
    ++groups;
    for (const Step& step : steps) Run(single_table, step, single_model);
    const std::vector<uint8_t> a = grouped.Bytes(), b = single.Bytes();
    ASSERT_EQ(a.size(), b.size()) << "after group " << groups;
    ASSERT_EQ(FirstDifference(a, b), a.size()) << "after group " << groups << ": the files differ at this byte";
  }
  std::cout << "  " << done << " operations in " << groups << " groups (" << thrown << " ended by an exception, "
            << refused << " appends refused)\n";
  EXPECT_GT(thrown, 0);
  EXPECT_GT(refused, 0);
  EXPECT_EQ(CheckProblems(grouped.Bytes(), pw), std::vector<std::string>{});
  MemoryFile reloaded(grouped.Bytes(), pw, true);
  EXPECT_TRUE(HoldsOneOf(reloaded.Table("Items"), {&grouped_model}));
}

class BulkWrite : public ::testing::TestWithParam<FileKind> {};

TEST_P(BulkWrite, GroupedOperationsLeaveTheBytesOfSingleOnes) {
  const uint32_t seed = SeedOr(24);
  CompareGroupedWithSingle(GetParam(), seed, 5, 400);
}

// Groups that cross record 1024: a new slot block and new link blocks inside a group.
TEST(BulkWriteAtBoundaries, NewBlocksInsideAGroup) {
  CompareGroupedWithSingle(FileKind::Plain, SeedOr(1024), 1010, 120);
}

INSTANTIATE_TEST_SUITE_P(Files, BulkWrite, ::testing::Values(FileKind::Plain, FileKind::Compressed, FileKind::Encrypted),
                         [](const auto& info) { return std::string(KindName(info.param)); });

// A database file on disk with a few records, and the appends of a group.
struct DiskFixture {
  DiskFixture() : initial(InitialItems(5, 3)), model(initial), path(dir.Path() + "/bulk.zqdb") {
    const std::vector<uint8_t> bytes = TDbCreator::Build(CrashSchema(FileKind::Plain, initial));
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
  }
  std::vector<Op> Appends(int count) {
    ItemMaker maker(9);
    Model planned = model;
    std::vector<Op> ops;
    for (int k = 0; k < count; ++k) {
      ops.push_back({Op::Append, -1, maker.Make(planned)});
      planned.Apply(ops.back());
    }
    return ops;
  }
  TempDir dir{"zq-bulk"};
  std::vector<Item> initial;
  Model model;
  std::string path;
};

TEST(BulkWriteLock, AnotherDatabaseObjectWaitsAndThenSeesTheWholeGroup) {
  DiskFixture f;
  TDbDatabase writer;
  writer.SetDatabaseName(f.path);
  writer.Open();
  TDbTableIO& table = *writer.FindTableIO("Items");
  table.Open();
  Opener reader(f.path, "Items");
  CountingClock clock;
  reader.owner->retry_count = 5;
  reader.owner->io().SetClock(&clock);
  {
    TDbBulkScope group(writer);
    EXPECT_TRUE(writer.InBulk());
    for (const Op& op : f.Appends(40)) {
      Perform(table, op, f.model);
      f.model.Apply(op);
    }
    EXPECT_EQ(ErrorOf([&] { reader->LoadRowList(0, true); }), "Wait for unlock time out");
    EXPECT_EQ(clock.sleeps, 5) << "the lock settings bound the wait";
    group.End();
  }
  EXPECT_FALSE(writer.InBulk());
  reader->LoadRowList(0, true);
  EXPECT_TRUE(HoldsOneOf(*reader, {&f.model}));
  table.Close();
  writer.Close();
  EXPECT_EQ(StructuralProblems(f.path), std::vector<std::string>{});
}

TEST(BulkWriteLock, AChildProcessWaitsAndThenSeesTheWholeGroup) {
  DiskFixture f;
  const std::vector<Op> appends = f.Appends(60);
  Model final_model = f.model;
  for (const Op& op : appends) final_model.Apply(op);
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    int code = 2;
    try {
      ::close(go[1]);
      char c = 0;
      if (::read(go[0], &c, 1) == 1) {
        Opener reader(f.path, "Items");  // waits for the lock, a minute at most
        code = HoldsOneOf(*reader, {&final_model}) ? 0 : 1;
      }
    } catch (...) {
      code = 3;
    }
    ::_exit(code);
  }
  ::close(go[0]);
  {
    Opener writer(f.path, "Items");
    Group group(writer.owner->io());
    for (size_t k = 0; k < appends.size(); ++k) {
      Perform(*writer, appends[k], f.model);
      f.model.Apply(appends[k]);
      // Halfway through, the child starts to open the table while the group holds the lock.
      if (k == appends.size() / 2) {
        ASSERT_EQ(::write(go[1], "g", 1), 1);
      }
    }
  }
  ::close(go[1]);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  pid_t ended = 0;
  while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) ::usleep(1000);
  if (ended == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    FAIL() << "the child did not end within a minute";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the child saw part of the group; 2: no go; 3: it failed";
}

TEST(BulkWriteScope, ClosedDatabaseAndNesting) {
  TDbDatabase db;
  EXPECT_EQ(ErrorOf([&] { db.StartBulk(); }), "Cannot perform this operation on a closed database");
  db.EndBulk();  // without a group: nothing
  DiskFixture f;
  db.SetDatabaseName(f.path);
  db.Open();
  TDbTableIO& table = *db.FindTableIO("Items");
  table.Open();
  Opener reader(f.path, "Items");
  CountingClock clock;
  reader.owner->retry_count = 1;
  reader.owner->io().SetClock(&clock);
  try {
    TDbBulkScope outer(db);
    {
      TDbBulkScope inner(db);
      for (const Op& op : f.Appends(3)) {
        Perform(table, op, f.model);
        f.model.Apply(op);
      }
    }
    EXPECT_TRUE(db.InBulk()) << "the inner scope does not end the outer group";
    EXPECT_EQ(ErrorOf([&] { reader->LoadRowList(0, true); }), "Wait for unlock time out");
    throw ThrownInGroup{};
  } catch (const ThrownInGroup&) {
  }
  EXPECT_FALSE(db.InBulk());
  reader->LoadRowList(0, true);
  EXPECT_TRUE(HoldsOneOf(*reader, {&f.model}));
  // A group left open when the database closes still writes what it held back.
  db.StartBulk();
  for (const Op& op : f.Appends(3)) {
    Perform(table, op, f.model);
    f.model.Apply(op);
  }
  table.Close();
  db.Close();
  reader->LoadRowList(0, true);
  EXPECT_TRUE(HoldsOneOf(*reader, {&f.model}));
  EXPECT_EQ(StructuralProblems(f.path), std::vector<std::string>{});
}

}  // namespace
}  // namespace zq
