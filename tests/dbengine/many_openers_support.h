// Support of the many-openers tests: several openers (each its own database owner, file object
// and table storage object) on one database file, field buffers for their table, and the
// structural walk of `zqdb check` over the file.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/table_io.h"
#include "engine_test_support.h"
#include "platform/stream.h"
#include "dbengine/storage/db_checker.h"

namespace zq::testing_support {

// One opener of a database file: its own open file (own descriptor, own lock) and table object.
struct Opener {
  Opener(const std::string& path, const std::string& table_name, TDbMediumType medium = mtDisk)
      : owner(std::make_unique<FakeOwner>(medium)) {
    owner->retry_count = 60000;  // wait up to a minute (1 ms a try), then fail rather than hang
    owner->io().Open(path, medium, 0, false, false);
    table = std::make_unique<TDbTableIO>(owner.get());
    table->SetTableName(table_name);
    table->Open();
  }
  ~Opener() {
    table.reset();
    owner->io().Close();
  }
  TDbTableIO& operator*() { return *table; }
  TDbTableIO* operator->() { return table.get(); }

  std::unique_ptr<FakeOwner> owner;
  std::unique_ptr<TDbTableIO> table;
};

// The problems `zqdb check` reports for a file on disk (empty: the file is sound).
inline std::vector<std::string> StructuralProblems(const std::string& path) {
  TFileStream stream(path, FileAccess::Read);
  return TDbChecker(stream, nullptr).Run();
}

// Reads or writes exactly n bytes of a pipe; false when the other end has gone.
inline bool ReadFull(int fd, void* p, size_t n) {
  for (size_t done = 0; done < n;) {
    const ssize_t r = ::read(fd, static_cast<char*>(p) + done, n - done);
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

inline bool WriteFull(int fd, const void* p, size_t n) {
  for (size_t done = 0; done < n;) {
    const ssize_t w = ::write(fd, static_cast<const char*>(p) + done, n - done);
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

// A child process with an opener of its own, serving the parent through two pipes.
struct OpenerChild {
  pid_t pid = -1;
  int to = -1;    // the parent's requests
  int from = -1;  // the child's answers
};

// Forks a child that opens the table and runs serve(opener, requests, answers) until it returns
// (exit status 0) or throws (3). pid -1 when no pipe could be made.
inline OpenerChild StartOpenerChild(const std::string& path, const std::string& table,
                                    const std::function<void(TDbTableIO&, int, int)>& serve) {
  int down[2], up[2];
  if (::pipe(down) != 0 || ::pipe(up) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(down[1]);
    ::close(up[0]);
    int code = 0;
    try {
      Opener mine(path, table);
      serve(*mine, down[0], up[1]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child: %s\n", e.what());
      code = 3;
    }
    ::_exit(code);
  }
  ::close(down[0]);
  ::close(up[1]);
  return {pid, down[1], up[0]};
}

inline std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

}  // namespace zq::testing_support
