// A program killed while it writes: round after round, a child process opens one encrypted and
// compressed file on disk and appends, modifies and deletes (a seeded sequence), telling the parent
// through a pipe after each completed operation; the parent kills it with SIGKILL after a seeded
// number of them, at whatever moment of the next one it is in. The parent then opens the file,
// first read-only (recovered in memory, the bytes untouched), then for writing: it must hold every
// operation the child completed and the interrupted one whole or absent, every index in order, and
// pass the structural check. The next round's child goes on from there. ZQ_CRASH_SEED sets the seed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "crash_workload.h"
#include "db_memory_file.h"

namespace zq {
namespace {

using namespace testing_support;

constexpr int kRounds = 30;
constexpr int kChildOperations = 400;  // more than any round lets it complete

// The table on disk as the tests see it, loaded by an opener of its own.
struct DiskTable {
  DiskTable(const std::string& path, const std::string& password, bool read_only) : owner(mtDisk) {
    owner.retry_count = 50;
    owner.io().Open(path, mtDisk, 0, read_only, false);
    owner.io().CheckPassword(password);
    table = std::make_unique<TDbTableIO>(&owner);
    table->SetTableName("Items");
    table->Open();
  }
  ~DiskTable() {
    table.reset();
    owner.io().Close();
  }
  FakeOwner owner;
  std::unique_ptr<TDbTableIO> table;
};

// The child: the seeded operations on the model it was forked with, one byte to the pipe after each.
[[noreturn]] void Child(const std::string& path, const std::string& password, Model model, uint32_t seed, int out) {
  int code = 0;
  try {
    DiskTable t(path, password, false);
    ItemMaker maker(seed);
    for (int k = 0; k < kChildOperations; ++k) {
      const Op op = maker.Next(model);
      Perform(*t.table, op, model);
      model.Apply(op);
      const char done = 1;
      if (::write(out, &done, 1) != 1) break;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "child: %s\n", e.what());
    code = 3;
  }
  ::_exit(code);
}

TEST(CrashKill, AChildKilledAtRandomMomentsLosesNothingItCompleted) {
  const char* given = std::getenv("ZQ_CRASH_SEED");
  const uint32_t seed = given ? static_cast<uint32_t>(std::strtoul(given, nullptr, 10)) : 20261209u;
  std::cout << "seed " << seed << " (ZQ_CRASH_SEED)\n";
  SCOPED_TRACE("seed " + std::to_string(seed));
  TempDir dir;
  const std::string path = dir.File("killed.zqc");
  const FileKind kind = FileKind::Encrypted;
  const std::string password = PasswordOf(kind);
  const std::vector<Item> initial = InitialItems(seed, 5);
  TDbCreator::CreateFile(path, CrashSchema(kind, initial));
  Model model(initial);
  std::mt19937 rng(seed);
  int interrupted_whole = 0, interrupted_absent = 0;

  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const uint32_t round_seed = seed + static_cast<uint32_t>(round) * 7919u;
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(pipe_fds[0]);
      Child(path, password, model, round_seed, pipe_fds[1]);
    }
    ::close(pipe_fds[1]);
    // Kill after a seeded number of completed operations; every read returns when the child
    // reports or ends, so the wait is bounded by the child's work.
    const int kill_after = 1 + static_cast<int>(rng() % 12);
    int completed = 0;
    char byte;
    while (completed < kill_after && ::read(pipe_fds[0], &byte, 1) == 1) ++completed;
    ASSERT_EQ(completed, kill_after) << "the child ended early";
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended before it was killed";
    while (::read(pipe_fds[0], &byte, 1) == 1) ++completed;
    ::close(pipe_fds[0]);

    // What the child meant: the model after its completed operations, or after one more.
    ItemMaker replay(round_seed);
    Model done = model;
    for (int k = 0; k < completed; ++k) done.Apply(replay.Next(done));
    Model one_more = done;
    one_more.Apply(replay.Next(one_more));

    const std::vector<uint8_t> killed = ReadAll(path);
    {
      DiskTable reader(path, password, true);
      ASSERT_TRUE(HoldsOneOf(*reader.table, {&done, &one_more})) << "read-only, after " << completed << " operations";
    }
    EXPECT_EQ(ReadAll(path), killed) << "a read-only open changed the file";
    {
      DiskTable writer(path, password, false);
      ASSERT_TRUE(HoldsOneOf(*writer.table, {&done, &one_more})) << "after " << completed << " operations";
      const bool whole = Contents(*writer.table) == one_more && !(one_more == done);
      ++(whole ? interrupted_whole : interrupted_absent);
      model = whole ? one_more : done;
      // Record IDs and auto-increment values that an interrupted append used are not handed out again.
      model.next_record = writer.table->Header().SlotCount();
      model.last_id = writer.table->Header().LastAutoIncValue();
    }
    ASSERT_EQ(CheckProblems(ReadAll(path), password), std::vector<std::string>{});
  }
  std::cout << kRounds << " rounds: the operation cut by the kill was found whole " << interrupted_whole
            << " times and absent " << interrupted_absent << " times\n";
}

}  // namespace
}  // namespace zq
