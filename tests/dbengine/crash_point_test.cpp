// A program stopped at any write: a scripted workload runs once on a database in a memory stream
// that records every write the engine makes. Each cut file is then the original bytes with the
// first k writes applied (every k), or with the first bytes of write k + 1 as well (a torn write,
// at every byte). Each cut must load without a damage error, both read-only (recovered in memory,
// the bytes untouched) and for writing (recovered in the file, after which the structural check
// is clean); it must hold every completed operation with its values, the interrupted one whole or
// absent, every index in order; and the next append must work.
#include <gtest/gtest.h>

#include <iostream>

#include "crash_workload.h"
#include "db_memory_file.h"

namespace zq {
namespace {

using namespace testing_support;

struct LoggedWrite {
  int64_t position;
  std::vector<uint8_t> bytes;
};

// A memory stream that logs each write with its position.
class RecordingStream : public TMemoryStream {
 public:
  std::vector<LoggedWrite>* log = nullptr;
  int64_t Write(const void* buffer, int64_t count) override {
    if (log != nullptr && count > 0) {
      const auto* p = static_cast<const uint8_t*>(buffer);
      log->push_back({position_, std::vector<uint8_t>(p, p + count)});
    }
    return TMemoryStream::Write(buffer, count);
  }
};

std::vector<uint8_t> Apply(std::vector<uint8_t> bytes, const std::vector<LoggedWrite>& log, size_t writes,
                           size_t torn_bytes) {
  auto put = [&](const LoggedWrite& w, size_t n) {
    const auto end = static_cast<size_t>(w.position) + n;
    if (bytes.size() < end) bytes.resize(end, 0);
    std::copy(w.bytes.begin(), w.bytes.begin() + static_cast<std::ptrdiff_t>(n), bytes.begin() + w.position);
  };
  for (size_t k = 0; k < writes; ++k) put(log[k], log[k].bytes.size());
  if (torn_bytes > 0) put(log[writes], torn_bytes);
  return bytes;
}

struct Recorded {
  std::vector<uint8_t> base;
  std::vector<LoggedWrite> log;
  std::vector<Model> models;    // models[j]: after the first j operations
  std::vector<size_t> op_ends;  // op_ends[j]: writes made when operation j + 1 has completed
};

// With group > 0 the operations run in bulk groups of that many.
Recorded Record(FileKind kind, uint32_t seed, int operations, int initial_records = 6, size_t group = 0) {
  Recorded run;
  const std::vector<Item> initial = InitialItems(seed, initial_records);
  run.base = TDbCreator::Build(CrashSchema(kind, initial));
  run.models.emplace_back(initial);
  // The script: the seeded mix, then one of each kind so that every kind is cut.
  ItemMaker maker(seed + 1);
  std::vector<Op> ops;
  Model planned = run.models.back();
  for (int k = 0; k < operations; ++k) {
    Op op = maker.Next(planned);
    if (k == operations - 3) op = {Op::Append, -1, maker.Make(planned)};
    if (k == operations - 2) op = {Op::Modify, planned.rows.begin()->first, maker.Make(planned, planned.rows.begin()->first)};
    if (k == operations - 1) op = {Op::Delete, planned.rows.rbegin()->first, {}};
    planned.Apply(op);
    ops.push_back(op);
  }

  RecordingStream stream;
  stream.WriteBuffer(run.base.data(), static_cast<int64_t>(run.base.size()));
  const std::string name = TMemoryStreamRegistry::Register(&stream);
  {
    FakeOwner owner(mtMemory);
    owner.io().Open(name, mtMemory, 0, false, false);
    owner.io().CheckPassword(PasswordOf(kind));
    TDbTableIO table(&owner);
    table.SetTableName("Items");
    table.Open();
    stream.log = &run.log;
    for (size_t k = 0; k < ops.size(); ++k) {
      if (group > 0 && k % group == 0) owner.io().BeginBulk();
      Perform(table, ops[k], run.models.back());
      run.models.push_back(run.models.back());
      run.models.back().Apply(ops[k]);
      run.op_ends.push_back(run.log.size());
      if (group > 0 && (k % group == group - 1 || k + 1 == ops.size())) owner.io().EndBulk();
    }
    stream.log = nullptr;
    table.Close();
    owner.io().Close();
  }
  TMemoryStreamRegistry::Unregister(&stream);
  return run;
}

struct Tally {
  int cuts = 0, whole = 0, absent = 0;
};

// One cut file: both opens, the check, the models it may match, and (full checks) the next append.
void Verify(const Recorded& run, FileKind kind, size_t writes, size_t torn, bool full, Tally& tally) {
  SCOPED_TRACE(std::string(KindName(kind)) + " file cut after " + std::to_string(writes) + " writes" +
               (torn ? " and " + std::to_string(torn) + " bytes of the next" : ""));
  ++tally.cuts;
  const std::vector<uint8_t> cut = Apply(run.base, run.log, writes, torn);
  const size_t done = static_cast<size_t>(std::upper_bound(run.op_ends.begin(), run.op_ends.end(), writes) - run.op_ends.begin());
  const bool interrupted = done < run.op_ends.size() && (writes > (done ? run.op_ends[done - 1] : 0) || torn > 0);
  std::vector<const Model*> allowed = {&run.models[done]};
  if (interrupted) allowed.push_back(&run.models[done + 1]);
  const std::string pw = PasswordOf(kind);

  Model seen;
  try {
    if (full) {
      MemoryFile reader(cut, pw, true);
      EXPECT_TRUE(HoldsOneOf(reader.Table("Items"), allowed)) << "read-only";
      EXPECT_EQ(reader.Bytes(), cut) << "a read-only open changed the file";
    }
    MemoryFile file(cut, pw);
    TDbTableIO& table = file.Table("Items");
    ASSERT_TRUE(HoldsOneOf(table, allowed));
    seen = Contents(table);
    if (interrupted) ++(seen == run.models[done] ? tally.absent : tally.whole);
    const std::vector<uint8_t> recovered = file.Bytes();
    EXPECT_EQ(CheckProblems(recovered, pw), std::vector<std::string>{});
    if (!full) return;

    // The file goes on: the next append finds everything in order.
    ItemMaker maker(static_cast<uint32_t>(writes));
    Op op{Op::Append, -1, maker.Make(seen)};
    Perform(table, op, seen);
    seen.next_record = table.Header().SlotCount() - 1;
    seen.last_id = table.Header().LastAutoIncValue() - 1;
    seen.Apply(op);
    EXPECT_TRUE(HoldsOneOf(table, {&seen})) << "after the next append";
    EXPECT_EQ(CheckProblems(file.Bytes(), pw), std::vector<std::string>{}) << "after the next append";
  } catch (const Exception& e) {
    ADD_FAILURE() << e.Message();
  }
}

class CrashPoint : public ::testing::TestWithParam<FileKind> {};

TEST_P(CrashPoint, EveryCutAfterAWriteRecovers) {
  const uint32_t seed = 2026;
  std::cout << "seed " << seed << "\n";
  const Recorded run = Record(GetParam(), seed, 12);
  Tally tally;
  for (size_t k = 0; k <= run.log.size(); ++k) {
    Verify(run, GetParam(), k, 0, true, tally);
    if (::testing::Test::HasFatalFailure()) return;
  }
  std::cout << KindName(GetParam()) << ": " << run.log.size() << " writes, " << tally.cuts << " cuts; interrupted "
            << "operations whole " << tally.whole << ", absent " << tally.absent << "\n";
  EXPECT_GT(tally.whole, 0);
  EXPECT_GT(tally.absent, 0);
}

TEST_P(CrashPoint, EveryTornWriteRecovers) {
  const Recorded run = Record(GetParam(), 2026, 12);
  Tally tally;
  for (size_t k = 0; k < run.log.size(); ++k)
    for (size_t b = 1; b < run.log[k].bytes.size(); ++b) {
      Verify(run, GetParam(), k, b, false, tally);
      if (::testing::Test::HasFatalFailure()) return;
    }
  std::cout << KindName(GetParam()) << ": " << tally.cuts << " torn writes\n";
}

// Inside bulk groups the links that lead to appended records wait for the group's end (or a modify
// that moves a record): every cut and every torn write still holds the completed operations.
TEST_P(CrashPoint, EveryCutInsideBulkGroupsRecovers) {
  const Recorded run = Record(GetParam(), 2027, 16, 6, 5);
  Tally tally;
  for (size_t k = 0; k <= run.log.size(); ++k) {
    Verify(run, GetParam(), k, 0, true, tally);
    if (k < run.log.size() && run.log[k].bytes.size() <= 64)
      for (size_t b = 1; b < run.log[k].bytes.size(); ++b) Verify(run, GetParam(), k, b, false, tally);
    if (::testing::Test::HasFatalFailure()) return;
  }
  std::cout << KindName(GetParam()) << " in groups: " << run.log.size() << " writes, " << tally.cuts
            << " cuts; interrupted operations whole " << tally.whole << ", absent " << tally.absent << "\n";
  EXPECT_GT(tally.whole, 0);
  EXPECT_GT(tally.absent, 0);
}

// Appends that carry SlotCount and LastAutoIncValue over a byte (255 to 256) and that start a new
// slot block and new link blocks (record 1024): cut after every write and inside every small one.
TEST(CrashPointAtBoundaries, CountersAndNewBlocks) {
  for (int initial : {255, 1024, -1024}) {
    // Negative: the appends run in one bulk group, crossing record 1024 inside it.
    const Recorded run = initial > 0 ? Record(FileKind::Plain, 7, 3, initial) : Record(FileKind::Plain, 7, 8, -initial, 8);
    Tally tally;
    for (size_t k = 0; k <= run.log.size(); ++k) {
      Verify(run, FileKind::Plain, k, 0, k % 16 == 0, tally);
      if (k < run.log.size() && run.log[k].bytes.size() <= 8)
        for (size_t b = 1; b < run.log[k].bytes.size(); ++b) Verify(run, FileKind::Plain, k, b, false, tally);
      if (::testing::Test::HasFatalFailure()) return;
    }
    std::cout << initial << " records before: " << tally.cuts << " cuts\n";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CrashPoint, ::testing::Values(FileKind::Plain, FileKind::Compressed, FileKind::Encrypted),
                         [](const auto& info) { return std::string(KindName(info.param)); });

}  // namespace
}  // namespace zq
