// Runs a program, or a function, as a separate process, without a shell, and returns its exit
// status and what it wrote on each stream. A process that outlives the time limit is killed, so a
// hanging tool fails its test instead of stalling the suite.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zq::testing_support {

struct ProgramResult {
  int status = -1;  // the exit status; 128 + signal when killed
  std::string out, err;
  bool timed_out = false;
};

struct RunOptions {
  std::string cwd{};                                       // empty: the test's own
  std::vector<std::pair<std::string, std::string>> env{};  // added to the test's environment
  std::chrono::milliseconds limit = std::chrono::minutes(2);
};

// `program` is a path, or a name looked up on PATH.
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const RunOptions& options = {}) {
  ProgramResult r;
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) {
    r.err = "pipe failed";
    return r;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
    for (const auto& [name, value] : options.env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  const auto deadline = std::chrono::steady_clock::now() + options.limit;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open_streams = 2;
  while (open_streams > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      r.timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[65536];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  for (const pollfd& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (r.timed_out) r.err += "\n[killed after " + std::to_string(options.limit.count()) + " ms]";
  return r;
}

// Runs f in a child process and returns what it returns (0..255) as the child's exit status: 255
// when it throws, -1 when it has not ended within `limit` (it is killed then). For work that must
// end soon, such as a match with much backtracking, and for a second process holding a lock.
inline int InChildWithin(const std::function<int()>& f, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int code = 255;
    try {
      code = f();
    } catch (...) {
    }
    ::_exit(code);
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    ::usleep(1000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether a program of that name is on PATH.
inline bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (::access(((dir.empty() ? "." : dir) + "/" + name).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

#ifdef ZQ_TEST_BINARY_DIR
// A program of this build (tools/zqdb, ...); the test suite depends on it, so it is always there.
inline std::string BuiltProgram(const std::string& relative) { return std::string(ZQ_TEST_BINARY_DIR) + "/" + relative; }
#endif
#ifdef ZQ_TEST_SOURCE_DIR
inline std::string SourceFile(const std::string& relative) { return std::string(ZQ_TEST_SOURCE_DIR) + "/" + relative; }
#endif

}  // namespace zq::testing_support
