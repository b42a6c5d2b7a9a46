// zqdb shell driven through pipes as a script or another program drives it, one line at a time,
// and the command-line verbs that share its implementation (--id, read-only commands).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/storage/table_io.h"
#include "tests/dbengine/engine_test_support.h"
#include "tests/support/run_program.h"

namespace {

namespace fs = std::filesystem;
using ojson = nlohmann::ordered_json;

// A reply line is awaited at most this long; a shell that does not answer fails the test.
constexpr int kReplyTimeoutMs = 30000;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A child process whose standard input and output are pipes held by the test.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args, const fs::path& stderr_path) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      int err = ::open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(err, 2);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_child_ = in[1];
    from_child_ = out[0];
  }
  ~Process() {
    CloseInput();
    if (from_child_ >= 0) ::close(from_child_);
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return pid_ > 0 && to_child_ >= 0; }

  void Send(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(to_child_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ASSERT_GT(n, 0) << "the shell no longer reads its input";
      done += static_cast<size_t>(n);
    }
  }
  void CloseInput() {
    if (to_child_ >= 0) ::close(to_child_);
    to_child_ = -1;
  }

  // The next line of output without its end; nullopt at end of output or when none comes in time
  // (then the test fails).
  std::optional<std::string> ReadLine() {
    for (;;) {
      size_t eol = buffer_.find('\n');
      if (eol != std::string::npos) {
        std::string line = buffer_.substr(0, eol);
        buffer_.erase(0, eol + 1);
        return line;
      }
      pollfd p{from_child_, POLLIN, 0};
      int ready = ::poll(&p, 1, kReplyTimeoutMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) {
        ADD_FAILURE() << "no reply within " << kReplyTimeoutMs << " ms";
        return std::nullopt;
      }
      char chunk[4096];
      ssize_t n = ::read(from_child_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  // Closes the input, reads the rest of the output and returns it with the exit status.
  std::pair<int, std::string> Finish() {
    CloseInput();
    std::string rest;
    while (std::optional<std::string> line = ReadLine()) rest += *line + "\n";
    rest += buffer_;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), rest};
  }

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  bool exited_ = false;
  std::string buffer_;
};

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class ZqdbShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::signal(SIGPIPE, SIG_IGN);  // a shell that died shows as a failed write, not a dead test
    tool_ = zq::testing_support::BuiltProgram("tools/zqdb");  // a build dependency of the suite
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zqdb_shell_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs the tool once with the arguments, capturing both output streams.
  Result Run(const std::vector<std::string>& args) {
    Process p(tool_, args, dir_ / "stderr.txt");
    EXPECT_TRUE(p.Started());
    Result r;
    std::tie(r.status, r.out) = p.Finish();
    r.err = ReadFile(dir_ / "stderr.txt");
    return r;
  }

  std::string Create(const std::string& name, const ojson& schema) {
    WriteFile(dir_ / (name + ".json"), schema.dump());
    Result r = Run({"create", Path(name), Path(name + ".json")});
    EXPECT_EQ(r.status, 0) << r.err;
    return Path(name);
  }

  std::unique_ptr<Process> Shell(const std::string& file, const std::string& name) {
    auto p = std::make_unique<Process>(tool_, std::vector<std::string>{"shell", file}, dir_ / (name + ".err"));
    EXPECT_TRUE(p->Started());
    return p;
  }

  std::string tool_;
  fs::path dir_;
};

std::string Ask(Process& shell, const std::string& line) {
  shell.Send(line + "\n");
  return shell.ReadLine().value_or("<no reply>");
}

std::string Ok(const ojson& result) {
  ojson reply = ojson::object();
  reply["ok"] = true;
  reply["result"] = result;
  return reply.dump();
}

std::string Error(const std::string& message) {
  ojson reply = ojson::object();
  reply["ok"] = false;
  reply["error"] = message;
  return reply.dump();
}

// One table, its primary index on the auto-increment field (so that every order the data sets
// show is the order of record IDs) and a non-unique index on the name.
ojson StockSchema() {
  return ojson::parse(R"({"tables": [{"name": "Stock",
    "fields": [{"name": "Id", "type": "ftAutoInc"}, {"name": "Nom", "type": "ftString", "size": 20},
               {"name": "Qty", "type": "ftInteger"}],
    "indexes": [{"name": "PK", "fields": ["Id"], "options": ["primary"]},
                {"name": "ByNom", "fields": ["Nom"], "options": []}],
    "records": [{"Id": 0, "Nom": "pomme", "Qty": 3}, {"Id": 0, "Nom": "poire", "Qty": 5}]}]})");
}

ojson Rec(int id, int auto_inc, const std::string& nom, int qty) {
  return ojson{{"_id", id}, {"Id", auto_inc}, {"Nom", nom}, {"Qty", qty}};
}

// The records of the first table of a dump reply (an empty list when the reply is not a dump).
ojson Records(const std::string& reply) {
  ojson doc = ojson::parse(reply, nullptr, false);
  if (doc.is_discarded() || !doc.contains("result") || !doc["result"].is_object()) return ojson::array();
  return doc["result"]["tables"][0]["records"];
}

// --- one shell ---------------------------------------------------------------------------

TEST_F(ZqdbShellTest, EveryCommandAnswersOneLineAndTheShellGoesOnAfterErrors) {
  std::string db = Create("stock.db", StockSchema());
  std::unique_ptr<Process> shell = Shell(db, "shell");
  const ojson initial = ojson::array({Rec(0, 1, "pomme", 3), Rec(1, 2, "poire", 5)});
  const std::string dump_line = "dump --table Stock";
  ASSERT_EQ(Records(Ask(*shell, dump_line)), initial);

  struct BadLine {
    std::string line;
    std::string error;
  };
  const std::vector<BadLine> bad_lines = {
      {"bogus --table Stock",
       "Unknown command 'bogus'; the commands are dump, append, edit, delete, filter, check, repair, refresh, begin, end, quit"},
      {"create x.db y.json",
       "Unknown command 'create'; the commands are dump, append, edit, delete, filter, check, repair, refresh, begin, end, quit"},
      {"dump --table Nope", "Table 'Nope' not found"},
      {"append --table Nope Qty=1", "Table 'Nope' not found"},
      {"append --table Stock Nom=x Qty=douze", "'douze' is not a valid integer value for field 'Qty'"},
      {"append --table Stock Nom=x Nope=1", "Field 'Nope' not found"},
      {"append --table Stock Nom", "Expected FIELD=VALUE or FIELD@=PATH, got 'Nom'"},
      {"append --table Stock 'Nom=x", "Unbalanced quote (') in the line"},
      {"append --table Stock \"Nom=x", "Unbalanced quote (\") in the line"},
      {"append --table Stock \"Nom=x\\\"", "Unbalanced quote (\") in the line"},
      {"dump --table Stock\\", "Backslash at the end of the line"},
      {"edit --table Stock Qty=1", "--row or --id is required"},
      {"edit --table Stock --row 1 --id 0 Qty=1", "--row excludes --id"},
      {"edit --table Stock --id 7 Qty=1", "Record not found"},
      {"delete --table Stock --id -1", "Record not found"},
      {"delete --table Stock --row 3", "Row 3 not found (the table has 2 rows)"},
      {"delete --table Stock --row 0", "Row 0 not found (the table has 2 rows)"},
      {"delete --table Stock --row deux", "Could not convert: --row = deux"},
      {"dump --index PK", "--index needs --table"},
      {"dump --table Stock --index Nope", "Index 'Nope' not found"},
      {"dump --table Stock extra", "The following argument was not expected: extra"},
      {"dump --table Stock a 'b c'", "The following arguments were not expected: a b c"},
      {"dump --password secret", "The following arguments were not expected: --password secret"},
      {"filter --table Stock", "--expr is required"},
      {"append --table Stock Nom=\xC5\x81\xC3\xB3" "d\xC5\xBA Qty=1",
       "Character U+0141 cannot be represented in code page 1252"},
  };
  for (const BadLine& bad : bad_lines) {
    EXPECT_EQ(Ask(*shell, bad.line), Error(bad.error)) << bad.line;
    // Nothing changed, nothing half done: the next command works on the same rows.
    EXPECT_EQ(Records(Ask(*shell, dump_line)), initial) << "after " << bad.line;
  }
  EXPECT_EQ(Ask(*shell, "check"), Ok(ojson::array()));
  auto [status, rest] = shell->Finish();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(rest, "");
  EXPECT_EQ(ReadFile(Path("shell.err")), "");
}

TEST_F(ZqdbShellTest, WordsAreSplitAsAPosixShellSplitsThemWithoutExpansion) {
  std::string db = Create("stock.db", StockSchema());
  std::unique_ptr<Process> shell = Shell(db, "shell");
  struct Case {
    std::string words;  // the Nom assignment as typed
    std::string nom;    // the value stored
  };
  const std::vector<Case> cases = {
      {"'Nom=a b'", "a b"},
      {"Nom=a\\ b", "a b"},
      {"\"Nom=say \\\"hi\\\"\"", "say \"hi\""},
      {"\"Nom=c:\\x\\\\y\"", "c:\\x\\y"},
      {"Nom='it'\"'\"'s'", "it's"},
      {"Nom=$HOME", "$HOME"},
      {"\"Nom=$HOME`x`\"", "$HOME`x`"},
      {"Nom=*.txt", "*.txt"},
      {"Nom=a#b", "a#b"},
      {"Nom=x #a comment", "x"},
      {"Nom=''", ""},
      {"\tNom=tab\t", "tab"},
      {"Nom=\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
  };
  int id = 2;
  ojson expected = ojson::array({Rec(0, 1, "pomme", 3), Rec(1, 2, "poire", 5)});
  for (const Case& c : cases) {
    EXPECT_EQ(Ask(*shell, "append --table Stock Qty=1 " + c.words), Ok(ojson{{"_id", id}})) << c.words;
    expected.push_back(Rec(id, id + 1, c.nom, 1));
    ++id;
  }
  EXPECT_EQ(Records(Ask(*shell, "dump --table Stock")), expected);
  // Empty lines, blank lines and comment lines get no reply: the next reply is the dump's.
  shell->Send("\n   \n# dump\n  # dump\n");
  EXPECT_EQ(Records(Ask(*shell, "dump   --table   Stock")), expected);
  auto [status, rest] = shell->Finish();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(rest, "");
}

TEST_F(ZqdbShellTest, RepliesAreTheVerbsOutputAndQuitEndsTheShell) {
  std::string db = Create("stock.db", StockSchema());
  Result dumped = Run({"dump", db});
  ASSERT_EQ(dumped.status, 0);
  Result filtered = Run({"filter", "--table", "Stock", "--expr", "Qty > 4", db});
  ASSERT_EQ(filtered.status, 0);

  std::unique_ptr<Process> shell = Shell(db, "shell");
  EXPECT_EQ(Ask(*shell, "dump"), Ok(ojson::parse(dumped.out)));
  EXPECT_EQ(Ask(*shell, "filter --table Stock --expr 'Qty > 4'"), Ok(ojson::parse(filtered.out)));
  // A filter leaves the open data set unfiltered for the next command.
  EXPECT_EQ(Records(Ask(*shell, "dump --table Stock")), ojson::parse(dumped.out)["tables"][0]["records"]);
  EXPECT_EQ(Records(Ask(*shell, "dump --table Stock --index ByNom")),
            ojson::array({Rec(1, 2, "poire", 5), Rec(0, 1, "pomme", 3)}));
  EXPECT_EQ(Records(Ask(*shell, "dump --table Stock")), ojson::array({Rec(0, 1, "pomme", 3), Rec(1, 2, "poire", 5)}));
  EXPECT_EQ(Ask(*shell, "append --table Stock Nom=prune Qty=0 Id=0"), Ok(ojson{{"_id", 2}}));
  EXPECT_EQ(Ask(*shell, "edit --table Stock --id 2 Qty=9"), Ok(nullptr));
  EXPECT_EQ(Ask(*shell, "delete --table Stock --row 1"), Ok(nullptr));
  EXPECT_EQ(Ask(*shell, "refresh"), Ok(nullptr));
  EXPECT_EQ(Ask(*shell, "refresh --table Stock"), Ok(nullptr));
  EXPECT_EQ(Ask(*shell, "refresh --table Nope"), Error("Table 'Nope' not found"));
  EXPECT_EQ(Records(Ask(*shell, "dump --table Stock")), ojson::array({Rec(1, 2, "poire", 5), Rec(2, 3, "prune", 9)}));
  EXPECT_EQ(Ask(*shell, "check"), Ok(ojson::array()));
  // quit ends the shell: the line after it, already waiting in the pipe, gets no reply.
  shell->Send("quit\ndump\n");
  auto [status, rest] = shell->Finish();
  EXPECT_EQ(status, 1);  // the refresh of an unknown table failed
  EXPECT_EQ(rest, Ok(nullptr) + "\n");

  // Only successes: exit 0. End of input ends the shell as quit does.
  std::unique_ptr<Process> second = Shell(db, "second");
  EXPECT_EQ(Ask(*second, "check"), Ok(ojson::array()));
  auto [status2, rest2] = second->Finish();
  EXPECT_EQ(status2, 0);
  EXPECT_EQ(rest2, "");
}

TEST_F(ZqdbShellTest, OpeningErrorsAreResultsAndWrongShellArgumentsAreUsageErrors) {
  std::unique_ptr<Process> missing = Shell(Path("none.db"), "missing");
  const std::string cannot_open = Error("Cannot open file " + Path("none.db"));
  EXPECT_EQ(Ask(*missing, "dump"), cannot_open);
  EXPECT_EQ(Ask(*missing, "append --table Stock Qty=1"), cannot_open);
  EXPECT_EQ(Ask(*missing, "check"), cannot_open);
  EXPECT_EQ(missing->Finish().first, 1);
  EXPECT_FALSE(fs::exists(Path("none.db")));

  ojson schema = StockSchema();
  schema["encryption"] = {{"algorithm", "Blowfish"}, {"mode", 1}, {"password", "secret"}};
  std::string db = Create("secret.db", schema);
  std::unique_ptr<Process> no_password = Shell(db, "no_password");
  EXPECT_EQ(Ask(*no_password, "dump --table Stock"), Error("Access denied"));
  EXPECT_EQ(Ask(*no_password, "dump --table Stock"), Error("Access denied"));
  EXPECT_EQ(no_password->Finish().first, 1);

  Process with_password(tool_, {"shell", "--password", "secret", db}, dir_ / "with_password.err");
  EXPECT_EQ(Records(Ask(with_password, "dump --table Stock")),
            ojson::array({Rec(0, 1, "pomme", 3), Rec(1, 2, "poire", 5)}));
  EXPECT_EQ(with_password.Finish().first, 0);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"shell"}, {"shell", db, "extra"}, {"shell", "--table", "Stock", db}}) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Usage:"), std::string::npos) << r.err;
  }
}

// begin/end: the writes between them hold the file lock as one group; another opener waits for
// it (bounded by its lock settings) and afterwards sees the whole group; the file ends with the
// bytes that the same commands leave without a group.
TEST_F(ZqdbShellTest, BeginAndEndHoldOneGroupThatOthersSeeWhole) {
  const std::string grouped = Create("grouped.db", StockSchema()), single = Create("single.db", StockSchema());
  ASSERT_EQ(ReadFile(grouped), ReadFile(single));
  const std::vector<std::string> writes = {
      "append --table Stock Nom=prune Qty=7", "append --table Stock Nom=kiwi Qty=1",
      "edit --table Stock --id 0 Nom=abricot", "delete --table Stock --id 1", "append --table Stock Nom=figue Qty=2"};
  std::unique_ptr<Process> a = Shell(grouped, "a");
  EXPECT_EQ(Ask(*a, "end"), Error("No bulk group is open"));
  EXPECT_EQ(Ask(*a, "begin"), Ok(nullptr));
  EXPECT_EQ(Ask(*a, "begin"), Error("A bulk group is already open; end it first"));
  std::vector<std::string> replies;
  for (const std::string& line : writes) replies.push_back(Ask(*a, line));
  {
    zq::testing_support::FakeOwner other;
    zq::testing_support::CountingClock clock;
    other.retry_count = 2;
    other.io().SetClock(&clock);
    other.io().Open(grouped, zq::mtDisk, 0, true, false);
    zq::TDbTableIO table(&other);
    table.SetTableName("Stock");
    EXPECT_EQ(zq::testing_support::ErrorOf([&] { table.Open(); }), "Wait for unlock time out");
    EXPECT_EQ(clock.sleeps, 2);
    other.io().Close();
  }
  EXPECT_EQ(Ask(*a, "end"), Ok(nullptr));
  const ojson expected = ojson::array({Rec(0, 1, "abricot", 3), Rec(2, 3, "prune", 7), Rec(3, 4, "kiwi", 1),
                                       Rec(4, 5, "figue", 2)});
  Result dump = Run({"dump", "--table", "Stock", "--index", "ByNom", grouped});
  ASSERT_EQ(dump.status, 0) << dump.err;
  ojson by_nom = expected;
  std::sort(by_nom.begin(), by_nom.end(), [](const ojson& x, const ojson& y) { return x["Nom"] < y["Nom"]; });
  EXPECT_EQ(ojson::parse(dump.out)["tables"][0]["records"], by_nom);
  EXPECT_EQ(a->Finish().first, 1);  // the two refused lines

  std::unique_ptr<Process> b = Shell(single, "b");
  for (size_t k = 0; k < writes.size(); ++k) EXPECT_EQ(Ask(*b, writes[k]), replies[k]) << writes[k];
  EXPECT_EQ(b->Finish().first, 0);
  EXPECT_EQ(ReadFile(grouped), ReadFile(single)) << "a group leaves the bytes of the same writes one at a time";
  EXPECT_EQ(Run({"check", grouped}).status, 0);
}

// --- two shells on one file --------------------------------------------------------------

TEST_F(ZqdbShellTest, TwoShellsSeeTheirOwnWritesAtOnceAndTheOthersAfterRefresh) {
  std::string db = Create("stock.db", StockSchema());
  std::unique_ptr<Process> a = Shell(db, "a");
  std::unique_ptr<Process> b = Shell(db, "b");
  const ojson pomme = Rec(0, 1, "pomme", 3), poire = Rec(1, 2, "poire", 5);
  ASSERT_EQ(Records(Ask(*a, "dump --table Stock")), ojson::array({pomme, poire}));
  ASSERT_EQ(Records(Ask(*b, "dump --table Stock")), ojson::array({pomme, poire}));

  // A's append: A sees it at once, B only after a refresh or a write of its own.
  EXPECT_EQ(Ask(*a, "append --table Stock Nom=prune Qty=7"), Ok(ojson{{"_id", 2}}));
  EXPECT_EQ(Records(Ask(*a, "dump --table Stock")), ojson::array({pomme, poire, Rec(2, 3, "prune", 7)}));
  EXPECT_EQ(Records(Ask(*b, "dump --table Stock")), ojson::array({pomme, poire}));
  // B's append works from the file as A left it (the next record ID and auto-increment value) and
  // B sees A's record from then on; A does not see B's until it refreshes.
  EXPECT_EQ(Ask(*b, "append --table Stock Nom=kiwi Qty=1"), Ok(ojson{{"_id", 3}}));
  const ojson all = ojson::array({pomme, poire, Rec(2, 3, "prune", 7), Rec(3, 4, "kiwi", 1)});
  ojson b_dump = ojson::parse(Ask(*b, "dump --table Stock"));
  EXPECT_EQ(b_dump["result"]["tables"][0]["slot_count"], 4);
  EXPECT_EQ(b_dump["result"]["tables"][0]["last_autoinc"], 4);
  EXPECT_EQ(b_dump["result"]["tables"][0]["records"], all);
  EXPECT_EQ(Records(Ask(*a, "dump --table Stock")), ojson::array({pomme, poire, Rec(2, 3, "prune", 7)}));
  EXPECT_EQ(Ask(*a, "refresh --table Stock"), Ok(nullptr));
  EXPECT_EQ(Records(Ask(*a, "dump --table Stock")), all);

  // B edits pomme's quantity, A its name: the record ends with both changes.
  EXPECT_EQ(Ask(*b, "edit --table Stock --id 0 Qty=30"), Ok(nullptr));
  EXPECT_EQ(Ask(*a, "edit --table Stock --row 1 Nom=pomme2"), Ok(nullptr));
  EXPECT_EQ(Records(Ask(*b, "dump --table Stock"))[0], Rec(0, 1, "pomme2", 30));

  // A deletes poire; B still shows it, and B's delete of it through --row ends in the engine's
  // error, after which B no longer shows it and --id names no record.
  EXPECT_EQ(Ask(*a, "delete --table Stock --id 1"), Ok(nullptr));
  EXPECT_EQ(Records(Ask(*b, "dump --table Stock")).size(), 4u);
  EXPECT_EQ(Ask(*b, "delete --table Stock --row 2"), Error("Record 1 of table 'Stock' was deleted by another user"));
  EXPECT_EQ(Ask(*b, "check"), Ok(ojson::array()));
  const ojson left = ojson::array({Rec(0, 1, "pomme2", 30), Rec(2, 3, "prune", 7), Rec(3, 4, "kiwi", 1)});
  EXPECT_EQ(Records(Ask(*b, "dump --table Stock")), left);
  EXPECT_EQ(Ask(*b, "edit --table Stock --id 1 Qty=6"), Error("Record not found"));
  EXPECT_EQ(Ask(*a, "check"), Ok(ojson::array()));
  // The same through --id: A deletes kiwi, B edits it by its record ID.
  EXPECT_EQ(Ask(*a, "delete --table Stock --id 3"), Ok(nullptr));
  EXPECT_EQ(Ask(*b, "edit --table Stock --id 3 Qty=2"), Error("Record 3 of table 'Stock' was deleted by another user"));
  EXPECT_EQ(Ask(*b, "delete --table Stock --id 3"), Error("Record not found"));
  const ojson last = ojson::array({Rec(0, 1, "pomme2", 30), Rec(2, 3, "prune", 7)});
  EXPECT_EQ(Records(Ask(*b, "dump --table Stock")), last);
  EXPECT_EQ(Records(Ask(*a, "dump --table Stock")), last);
  EXPECT_EQ(Ask(*b, "check"), Ok(ojson::array()));

  EXPECT_EQ(a->Finish().first, 0);
  EXPECT_EQ(b->Finish().first, 1);
  Result check = Run({"check", db});
  EXPECT_EQ(check.status, 0) << check.out;
  Result dump = Run({"dump", "--table", "Stock", db});
  EXPECT_EQ(ojson::parse(dump.out)["tables"][0]["records"], last);
}

// Two shells take random commands, interleaved line by line by a seeded scheduler, and every
// reply is compared with a model: the file's records (values kept after a delete, as the record
// image stays in the file) and, per shell, the record IDs its data set may hold. A shell's rows
// change with its own writes; a write that finds the table changed by the other shell (the engine
// decides which facts it checks) rebuilds them from the file, so after a write the rows are either
// the former ones with the shell's own change or the file's live records. A dump tells which; the
// model asks for one before a command whose meaning depends on it.
TEST_F(ZqdbShellTest, SeededInterleavingOfTwoShellsMatchesTheModel) {
  unsigned seed = 20261209;
  if (const char* s = std::getenv("ZQ_SHELL_SEED")) seed = static_cast<unsigned>(std::strtoul(s, nullptr, 10));
  std::cout << "seed " << seed << " (set ZQ_SHELL_SEED to repeat)\n";
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };

  std::string db = Create("stock.db", StockSchema());
  std::unique_ptr<Process> shells[2] = {Shell(db, "a"), Shell(db, "b")};

  struct Record {
    int auto_inc;
    std::string nom;
    int qty;
  };
  using Rows = std::set<int>;
  std::map<int, Record> records = {{0, {1, "pomme", 3}}, {1, {2, "poire", 5}}};  // every record written
  Rows live = {0, 1};
  std::set<Rows> possible[2];  // the rows each shell's data set may hold; empty until it opens
  bool any_failed[2] = {false, false};
  int next_id = 2, last_auto_inc = 2;

  auto listed = [&](const Rows& rows) {
    ojson list = ojson::array();
    for (int id : rows) list.push_back(Rec(id, records[id].auto_inc, records[id].nom, records[id].qty));
    return list;
  };
  // A dump must show one of the possible rows, in record ID order (the primary index follows the
  // auto-increment value); from then on the model knows them.
  auto dump = [&](int s) {
    std::string reply = Ask(*shells[s], "dump --table Stock");
    ojson shown = Records(reply);
    for (const Rows& rows : possible[s])
      if (listed(rows) == shown) {
        possible[s] = {rows};
        return testing::AssertionSuccess();
      }
    return testing::AssertionFailure() << "dump --table Stock by shell " << "ab"[s] << " shows " << shown.dump();
  };
  // After a write of the shell's own: its former rows with the change, or the file's.
  auto after_write = [&](int s, const std::function<void(Rows&)>& change) {
    std::set<Rows> next = {live};
    for (Rows rows : possible[s]) {
      change(rows);
      next.insert(rows);
    }
    possible[s] = next;
  };

  const int steps = 400;
  for (int step = 0; step < steps; ++step) {
    const int s = pick(2);
    Process& shell = *shells[s];
    const int op = pick(8);
    if (possible[s].empty() && op != 5 && op != 6) possible[s] = {live};  // refresh and check open no data set
    if (op >= 1 && op <= 4 && possible[s].size() > 1) {
      ASSERT_TRUE(dump(s)) << "step " << step;
    }
    const Rows shown = possible[s].empty() ? Rows() : *possible[s].begin();
    std::string line, expected;
    if (op == 0) {
      std::string nom = "n" + std::to_string(step);
      int qty = pick(1000);
      line = "append --table Stock Nom=" + nom + " Qty=" + std::to_string(qty);
      expected = Ok(ojson{{"_id", next_id}});
      records[next_id] = {++last_auto_inc, nom, qty};
      live.insert(next_id);
      const int id = next_id++;
      after_write(s, [&](Rows& rows) { rows.insert(id); });
    } else if (op <= 4) {
      // edit or delete, by --id (possibly a record the shell does not show) or by --row
      const bool is_edit = op <= 2;
      const int qty = pick(1000);
      const std::string verb = is_edit ? "edit" : "delete";
      int target = 0;
      if (pick(2) == 0 && !shown.empty()) {
        const int row = 1 + pick(static_cast<int>(shown.size()));
        target = *std::next(shown.begin(), row - 1);
        line = verb + " --table Stock --row " + std::to_string(row);
      } else {
        target = pick(next_id + 1) - (step % 7 == 0 ? 2 : 0);
        line = verb + " --table Stock --id " + std::to_string(target);
      }
      if (is_edit) line += " Qty=" + std::to_string(qty);
      if (!shown.count(target)) {
        expected = Error("Record not found");
      } else if (!live.count(target)) {
        // Deleted by the other shell: refused, and the rows are rebuilt from the file.
        expected = Error("Record " + std::to_string(target) + " of table 'Stock' was deleted by another user");
        possible[s] = {live};
      } else if (is_edit) {
        expected = Ok(nullptr);
        records[target].qty = qty;
        after_write(s, [](Rows&) {});
      } else {
        expected = Ok(nullptr);
        live.erase(target);
        after_write(s, [&](Rows& rows) { rows.erase(target); });
      }
    } else if (op == 5) {
      line = "refresh";
      expected = Ok(nullptr);
      if (!possible[s].empty()) possible[s] = {live};
    } else if (op == 6) {
      line = "check";
      expected = Ok(ojson::array());
    } else {
      ASSERT_TRUE(dump(s)) << "step " << step;
      continue;
    }
    SCOPED_TRACE("step " + std::to_string(step) + ", shell " + "ab"[s] + ": " + line);
    ASSERT_EQ(Ask(shell, line), expected);
    if (expected.rfind("{\"ok\":false", 0) == 0) any_failed[s] = true;
    // The file stays sound throughout, seen from the other shell too.
    if (step % 10 == 9) {
      ASSERT_EQ(Ask(*shells[1 - s], "check"), Ok(ojson::array()));
    }
  }
  for (int s = 0; s < 2; ++s) {
    auto [status, rest] = shells[s]->Finish();
    EXPECT_EQ(status, any_failed[s] ? 1 : 0);
    EXPECT_EQ(rest, "");
  }
  Result final_dump = Run({"dump", "--table", "Stock", db});
  EXPECT_EQ(ojson::parse(final_dump.out)["tables"][0]["records"], listed(live));
  EXPECT_EQ(Run({"check", db}).status, 0);
}

// --- the command line --------------------------------------------------------------------

TEST_F(ZqdbShellTest, EditAndDeleteByRecordId) {
  std::string db = Create("stock.db", StockSchema());
  Result edited = Run({"edit", "--table", "Stock", "--id", "1", db, "Qty=8"});
  EXPECT_EQ(edited.status, 0) << edited.err;
  Result deleted = Run({"delete", "--table", "Stock", "--id", "0", db});
  EXPECT_EQ(deleted.status, 0) << deleted.err;
  Result dump = Run({"dump", db});
  EXPECT_EQ(ojson::parse(dump.out)["tables"][0]["records"], ojson::array({Rec(1, 2, "poire", 8)}));

  const std::string before = ReadFile(db);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"edit", "--table", "Stock", "--id", "0", db, "Qty=1"},
        {"delete", "--table", "Stock", "--id", "0", db}, {"delete", "--table", "Stock", "--id", "2", db},
        {"delete", "--table", "Stock", "--id", "-5", db}}) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 1) << args[3];
    EXPECT_EQ(r.err, "zqdb: Record not found\n");
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"delete", "--table", "Stock", "--id", "1", "--row", "1", db},
        {"delete", "--table", "Stock", db}, {"edit", "--table", "Stock", "--id", "x", db, "Qty=1"}}) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Usage:"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Run({"delete", "--table", "Stock", db}).err.rfind("zqdb: --row or --id is required\n", 0), 0u);
  EXPECT_EQ(ReadFile(db), before);
}

TEST_F(ZqdbShellTest, CommandsThatOnlyReadNeverWriteTheFile) {
  std::string db = Create("stock.db", StockSchema());
  ASSERT_EQ(Run({"append", "--table", "Stock", db, "Nom=cut", "Qty=1"}).status, 0);
  // The last record image is cut off: a program that may write marks the record deleted.
  fs::resize_file(db, fs::file_size(db) - 1);
  const std::string before = ReadFile(db);
  const ojson kept = ojson::array({Rec(0, 1, "pomme", 3), Rec(1, 2, "poire", 5)});

  Result dump = Run({"dump", db});
  EXPECT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(ojson::parse(dump.out)["tables"][0]["records"], kept);
  EXPECT_EQ(ReadFile(db), before);
  Result filter = Run({"filter", "--table", "Stock", "--expr", "Qty > 0", db});
  EXPECT_EQ(filter.status, 0) << filter.err;
  EXPECT_EQ(ojson::parse(filter.out)["tables"][0]["records"], kept);
  EXPECT_EQ(ReadFile(db), before);
  Result check = Run({"check", db});
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find("outside the file"), std::string::npos) << check.out;
  EXPECT_EQ(ReadFile(db), before);

  // A write recovers: the cut record is marked deleted and the append goes after it.
  Result append = Run({"append", "--table", "Stock", db, "Nom=next", "Qty=2"});
  EXPECT_EQ(append.status, 0) << append.err;
  EXPECT_NE(ReadFile(db), before);
  Result after = Run({"dump", db});
  EXPECT_EQ(ojson::parse(after.out)["tables"][0]["records"],
            ojson::array({Rec(0, 1, "pomme", 3), Rec(1, 2, "poire", 5), Rec(3, 4, "next", 2)}));
}

TEST_F(ZqdbShellTest, UnknownSubcommandIsNamedWithTheList) {
  Result r = Run({"bogus", "x.db"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("zqdb: Unknown subcommand 'bogus'; the subcommands are create, dump, append, edit, delete, "
                        "filter, check, repair, shell\n",
                        0),
            0u)
      << r.err;
  EXPECT_NE(r.err.find("Usage:"), std::string::npos);

  // Words that no verb takes are named in the order given.
  Result extras = Run({"dump", "x.db", "a", "b"});
  EXPECT_EQ(extras.status, 2);
  EXPECT_EQ(extras.err.rfind("zqdb: The following arguments were not expected: a b\n", 0), 0u) << extras.err;
}

TEST_F(ZqdbShellTest, SchemaNamesAreListedInHelpAndInTheUnknownTypeError) {
  const std::string types =
      "ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftDate, ftTime, ftDateTime, "
      "ftAutoInc, ftBlob, ftMemo, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftOraBlob, "
      "ftOraClob, ftFixedChar, ftLargeint";
  Result help = Run({"create", "--help"});
  EXPECT_EQ(help.status, 0);
  for (const std::string& listed :
       {types, std::string("primary, unique, descending, caseinsensitive"), std::string("ZLIB"),
        std::string("Blowfish, Twofish, Gost"), std::string("1 CBC")}) {
    EXPECT_NE(help.out.find(listed), std::string::npos) << listed << "\n" << help.out;
  }

  ojson schema = StockSchema();
  schema["tables"][0]["fields"][1]["type"] = "string";
  WriteFile(dir_ / "bad.json", schema.dump());
  Result bad = Run({"create", Path("bad.db"), Path("bad.json")});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "zqdb: Unknown field type 'string' of field 'Nom' of table 'Stock'; the field types are " +
                         types + "\n");
  EXPECT_FALSE(fs::exists(Path("bad.db")));

  schema = StockSchema();
  schema["tables"][0]["indexes"][1]["options"] = {"uniq"};
  WriteFile(dir_ / "bad.json", schema.dump());
  bad = Run({"create", Path("bad.db"), Path("bad.json")});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err,
            "zqdb: Unknown index option 'uniq' of index 'ByNom' of table 'Stock'; the index options are primary, "
            "unique, descending, caseinsensitive\n");
}

}  // namespace
