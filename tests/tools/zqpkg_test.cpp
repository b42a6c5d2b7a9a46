// zqpkg run as a process: commands, exit statuses, JSON shape, messages on stderr, and the peer
// readers' test archives when they are present on this machine.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

using Result = zq::testing_support::ProgramResult;
using zq::testing_support::ReadFile;
using zq::testing_support::WriteFile;

class ZqpkgTest : public ::testing::Test {
 protected:
  void SetUp() override { tool_ = zq::testing_support::BuiltProgram("tools/zqpkg"); }  // built with the suite
  Result Zqpkg(const std::vector<std::string>& args) { return zq::testing_support::RunProgram(tool_, args); }
  std::string P(const std::string& name) const { return dir_.File(name); }
  void MakeSource() {
    WriteFile(P("src/a.txt"), "alpha\n");
    WriteFile(P("src/sub/b.txt"), std::string(100000, 'b'));
    WriteFile(P("src/caf\xC3\xA9.txt"), "accent");
    fs::create_directories(P("src/empty"));
  }
  std::string tool_;
  zq::testing_support::TempDir dir_{"zqpkg"};
};

TEST_F(ZqpkgTest, UsageErrorsExitTwo) {
  Result r = Zqpkg({});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("list"), std::string::npos);
  r = Zqpkg({"frobnicate", "x"});
  EXPECT_EQ(r.status, 2);
  r = Zqpkg({"list", "--bogus", "x.zip"});
  EXPECT_EQ(r.status, 2);
  r = Zqpkg({"extract", "--overwrite", "sometimes", "a.zip", "out"});
  EXPECT_EQ(r.status, 2);
  r = Zqpkg({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("extract"), std::string::npos);
}

TEST_F(ZqpkgTest, MissingArchiveIsNotCreated) {
  Result r = Zqpkg({"list", P("none.zip")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "zqpkg: File \"" + P("none.zip") + "\" not found - Native error: 00012\n");
  EXPECT_FALSE(fs::exists(P("none.zip")));
  r = Zqpkg({"extract", P("none.zip"), P("out")});
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(fs::exists(P("none.zip")));
}

TEST_F(ZqpkgTest, CreateListExtractRoundTrip) {
  MakeSource();
  ASSERT_EQ(Zqpkg({"create", P("p.zip"), P("src")}).status, 0);
  Result r = Zqpkg({"list", "--json", P("p.zip")});
  ASSERT_EQ(r.status, 0) << r.err;
  auto doc = nlohmann::json::parse(r.out);
  // Key order is part of the contract: checked on the raw text.
  EXPECT_EQ(r.out.find("{\"prefix_size\":0,\"comment\":\"\",\"zip64\":false,\"rebuilt\":false,\"entries\":["), 0u);
  ASSERT_EQ(doc["entries"].size(), 5u);
  EXPECT_EQ(doc["entries"][0]["name"], "a.txt");
  EXPECT_EQ(doc["entries"][1]["name"], "caf\xC3\xA9.txt");
  EXPECT_EQ(doc["entries"][2]["name"], "empty/");
  EXPECT_EQ(doc["entries"][2]["external_attributes"], 16);
  EXPECT_EQ(doc["entries"][4]["name"], "sub/b.txt");
  EXPECT_EQ(doc["entries"][4]["size"], 100000);
  EXPECT_EQ(doc["entries"][4]["method"], 8);
  EXPECT_EQ(doc["entries"][4]["encrypted"], false);
  EXPECT_LT(doc["entries"][4]["compressed_size"].get<int>(), 1000);
  size_t entry_keys = r.out.find("{\"name\":\"a.txt\",\"size\":6,\"compressed_size\":");
  EXPECT_NE(entry_keys, std::string::npos);
  EXPECT_NE(r.out.find("\"method\":8,\"crc32\":"), std::string::npos);
  EXPECT_NE(r.out.find(",\"encrypted\":false,\"flags\":0,\"external_attributes\":32,\"dos_datetime\":"),
            std::string::npos);

  r = Zqpkg({"list", P("p.zip")});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("caf\xC3\xA9.txt"), std::string::npos);
  EXPECT_NE(r.out.find("100000"), std::string::npos);

  r = Zqpkg({"extract", P("p.zip"), P("out")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(P("out/sub/b.txt")), std::string(100000, 'b'));
  EXPECT_EQ(ReadFile(P("out/caf\xC3\xA9.txt")), "accent");
  EXPECT_TRUE(fs::is_directory(P("out/empty")));
}

TEST_F(ZqpkgTest, MasksExclusionAndRecursion) {
  MakeSource();
  ASSERT_EQ(Zqpkg({"create", "--store", P("p.zip"), P("src")}).status, 0);
  EXPECT_EQ(Zqpkg({"extract", "--mask", "*.txt", "--exclude", "sub/*", P("p.zip"), P("o1")}).status, 0);
  EXPECT_TRUE(fs::exists(P("o1/a.txt")));
  EXPECT_FALSE(fs::exists(P("o1/sub/b.txt")));
  EXPECT_EQ(Zqpkg({"extract", "--no-recurse", "--mask", "sub/*.txt", P("p.zip"), P("o2")}).status, 0);
  EXPECT_TRUE(fs::exists(P("o2/sub/b.txt")));
  EXPECT_FALSE(fs::exists(P("o2/a.txt")));
}

TEST_F(ZqpkgTest, EncryptedArchives) {
  MakeSource();
  ASSERT_EQ(Zqpkg({"create", "--password", "p\xC3\xA4ss", P("e.zip"), P("src")}).status, 0);
  Result r = Zqpkg({"extract", "--password", "p\xC3\xA4ss", P("e.zip"), P("ok")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(P("ok/a.txt")), "alpha\n");
  r = Zqpkg({"extract", "--password", "wrong", "--mask", "a.txt", P("e.zip"), P("bad")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zqpkg: a.txt: wrong password\n");
  EXPECT_FALSE(fs::exists(P("bad/a.txt")));
  if (!zq::testing_support::OnPath("unzip")) GTEST_SKIP() << "Info-ZIP unzip is not on PATH: its cross-check did not run";
  // Info-ZIP takes the password as bytes: "ä" is E4 in code page 1252.
  Result peer = zq::testing_support::RunProgram("unzip", {"-tq", "-P", "p\xE4ss", P("e.zip")});
  EXPECT_EQ(peer.status, 0) << peer.out << peer.err;
}

TEST_F(ZqpkgTest, CharactersOutsideCodePage1252AreRefused) {
  MakeSource();
  WriteFile(P("src2/\xE4\xB8\x96.txt"), "x");
  Result r = Zqpkg({"create", P("w.zip"), P("src2")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Character U+4E16 cannot be represented in code page 1252"), std::string::npos);
  EXPECT_FALSE(fs::exists(P("w.zip")));
  ASSERT_EQ(Zqpkg({"create", P("p.zip"), P("src")}).status, 0);
  r = Zqpkg({"extract", "--mask", "\xE4\xB8\x96", P("p.zip"), P("o")});
  EXPECT_EQ(r.status, 2);
}

TEST_F(ZqpkgTest, FailuresAreReportedAndTheRestExtracted) {
  // Built with Python so that the hostile name is really in the archive.
  if (!zq::testing_support::OnPath("python3")) GTEST_SKIP() << "python3 is not on PATH";
  WriteFile(P("mk.py"), R"(
import zipfile
with zipfile.ZipFile('h.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('../evil.txt', 'evil')
    z.writestr('good.txt', 'good')
)");
  Result made = zq::testing_support::RunProgram("python3", {"mk.py"}, {.cwd = dir_.Path()});
  ASSERT_EQ(made.status, 0) << made.err;
  Result r = Zqpkg({"extract", P("h.zip"), P("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zqpkg: Cannot create file \"" + P("out") + "/../evil.txt\" - Native error: 00019\n");
  EXPECT_FALSE(fs::exists(P("evil.txt")));
  EXPECT_EQ(ReadFile(P("out/good.txt")), "good");
}

TEST_F(ZqpkgTest, OverwriteOptions) {
  MakeSource();
  ASSERT_EQ(Zqpkg({"create", P("p.zip"), P("src")}).status, 0);
  WriteFile(P("out/a.txt"), "mine");
  EXPECT_EQ(Zqpkg({"extract", "--overwrite", "never", "--mask", "a.txt", P("p.zip"), P("out")}).status, 0);
  EXPECT_EQ(ReadFile(P("out/a.txt")), "mine");
  EXPECT_EQ(Zqpkg({"extract", "--overwrite", "always", "--mask", "a.txt", P("p.zip"), P("out")}).status, 0);
  EXPECT_EQ(ReadFile(P("out/a.txt")), "alpha\n");
}

TEST_F(ZqpkgTest, DamagedArchivesEndInMessages) {
  WriteFile(P("zero.zip"), "");
  Result r = Zqpkg({"list", P("zero.zip")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "zqpkg: Invalid archive file. - Native error: 00035\n");
  MakeSource();
  ASSERT_EQ(Zqpkg({"create", P("p.zip"), P("src")}).status, 0);
  std::string bytes = ReadFile(P("p.zip"));
  WriteFile(P("junk.zip"), bytes + "junk after the end");
  r = Zqpkg({"list", "--json", P("junk.zip")});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(nlohmann::json::parse(r.out)["rebuilt"].get<bool>());
}

// The other readers' test archives: $ZQ_PEER_ZIP_DIR, else shared/peer-zip beside the checkout;
// empty when neither is there.
std::string PeerZipDir() {
  if (const char* dir = std::getenv("ZQ_PEER_ZIP_DIR"); dir && *dir) return dir;
  return (fs::path(zq::testing_support::SourceFile("")).parent_path().parent_path() / "shared" / "peer-zip").string();
}

// Every peer case must end in an exit status the contract allows, without a crash or a write
// outside the destination.
TEST_F(ZqpkgTest, PeerArchivesNeverCrashOrEscape) {
  const std::string peer = PeerZipDir();
  if (peer.empty() || !fs::is_directory(peer))
    GTEST_SKIP() << "peer archives not found at '" << peer
                 << "': set ZQ_PEER_ZIP_DIR or place shared/peer-zip beside the checkout";
  const std::string roots[] = {peer + "/go", peer + "/libzip"};
  int seen = 0;
  for (const std::string& root : roots) {
    if (!fs::is_directory(root)) continue;
    for (const auto& entry : fs::directory_iterator(root)) {
      std::string name = entry.path().filename().string();
      if (entry.path().extension() != ".zip") continue;
      ++seen;
      std::string dest = P("peer/" + name);
      Result l = Zqpkg({"list", "--json", entry.path().string()});
      EXPECT_TRUE(l.status == 0 || l.status == 2) << name << ": " << l.err;
      if (l.status == 0) {
        EXPECT_TRUE(nlohmann::json::accept(l.out)) << name;
      }
      Result x = Zqpkg({"extract", "--password", "1234", entry.path().string(), dest});
      EXPECT_TRUE(x.status >= 0 && x.status <= 2) << name << ": " << x.err;
    }
  }
  ASSERT_GT(seen, 0) << "no archive in " << peer;
  for (const auto& entry : fs::directory_iterator(dir_.Path())) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "peer" || name[0] == '.') << "written outside the destinations: " << name;
  }
}

// The check script finds the peer archives beside the checkout by itself and fails on none.
TEST_F(ZqpkgTest, PeerCheckScriptFindsTheArchivesOrFails) {
  if (!zq::testing_support::OnPath("python3")) GTEST_SKIP() << "python3 is not on PATH";
  const std::string script = zq::testing_support::SourceFile("tests/zip/peer_zip_check.py");
  fs::create_directories(P("no-peers"));
  using zq::testing_support::RunProgram;
  Result r = RunProgram("python3", {script, tool_, P("no-peers")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "peer_zip_check.py: no peer archive found in " + P("no-peers") +
                       " (give PEER_DIR or set ZQ_PEER_ZIP_DIR)\n");
  r = RunProgram("python3", {script, tool_}, {.env = {{"ZQ_PEER_ZIP_DIR", P("no-peers")}}});
  EXPECT_EQ(r.status, 1);

  const std::string peer = PeerZipDir();
  if (!fs::is_directory(peer)) GTEST_SKIP() << "peer archives not found at '" << peer << "'";
  r = RunProgram("env", {"-u", "ZQ_PEER_ZIP_DIR", "python3", script, tool_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("go | test.zip | OK + contents | opens, 2 entries; extract exit 0 | same\n"), std::string::npos)
      << r.out.substr(0, 2000);
}

TEST_F(ZqpkgTest, HelpNamesTheProgram) {
  Result r = Zqpkg({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: zqpkg [OPTIONS] SUBCOMMAND"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(tool_), std::string::npos);
}

// A directory rebuilt from local headers is said on stderr by list's table and by extract; the
// exit statuses and the JSON listing stay as they were.
TEST_F(ZqpkgTest, RebuiltDirectoryIsSaidOnStderr) {
  const std::string warning =
      "zqpkg: the archive's directory is missing or damaged; entries were found by scanning and some may be "
      "missing\n";
  MakeSource();
  ASSERT_EQ(Zqpkg({"create", P("p.zip"), P("src")}).status, 0);
  std::string bytes = ReadFile(P("p.zip"));
  size_t central = bytes.find("PK\1\2");
  ASSERT_NE(central, std::string::npos);
  size_t last_local = bytes.rfind("PK\3\4", central);
  // The end cut off inside the last entry's data: its directory and part of it are lost.
  WriteFile(P("cut.zip"), bytes.substr(0, last_local + 40));
  Result r = Zqpkg({"list", P("cut.zip")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, warning);
  r = Zqpkg({"list", "--json", P("cut.zip")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(nlohmann::json::parse(r.out)["rebuilt"].get<bool>());
  r = Zqpkg({"extract", "--mask", "a.txt", P("cut.zip"), P("out")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, warning);
  EXPECT_EQ(ReadFile(P("out/a.txt")), "alpha\n");
  // An intact archive says nothing.
  r = Zqpkg({"list", P("p.zip")});
  EXPECT_EQ(r.err, "");
  r = Zqpkg({"extract", P("p.zip"), P("whole")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// Runs zqpkg with its stderr on a pseudo-terminal (stdout to a file); every read has a bound.
Result RunOnTerminal(const std::string& tool, const std::vector<std::string>& args, const std::string& out_file) {
  Result r;
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return r;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(master);
    int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(slave, 2);
    std::vector<char*> argv{const_cast<char*>(tool.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(tool.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(slave);
  char buf[4096];
  for (int idle = 0; idle < 300;) {  // at most 30 s without output
    pollfd p{master, POLLIN, 0};
    int ready = ::poll(&p, 1, 100);
    if (ready == 0) {
      ++idle;
      continue;
    }
    ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the child has closed the terminal
    r.err.append(buf, static_cast<size_t>(n));
    idle = 0;
  }
  ::close(master);
  int status = 0;
  pid_t ended = 0;
  for (int tries = 0; tries < 3000 && (ended = ::waitpid(pid, &status, WNOHANG)) == 0; ++tries)
    ::usleep(10000);  // at most 30 s for the process to end once the terminal is closed
  if (ended == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    ADD_FAILURE() << "zqpkg did not end";
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadFile(out_file);
  return r;
}

TEST_F(ZqpkgTest, ExtractShowsProgressOnlyOnATerminal) {
  MakeSource();
  ASSERT_EQ(Zqpkg({"create", "--password", "pw", P("p.zip"), P("src")}).status, 0);
  // A terminal: one line redrawn with carriage returns, ended by a new line.
  Result r = RunOnTerminal(tool_, {"extract", "--password", "pw", P("p.zip"), P("t1")}, P(".tout"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.find("\rzqpkg: 0/5 entries, 0.0 MiB of 0.1 MiB (0%)"), 0u) << r.err;
  const std::string last = "\rzqpkg: 5/5 entries, 0.1 MiB of 0.1 MiB (100%)\033[K\r\n";  // the terminal adds \r
  ASSERT_GE(r.err.size(), last.size());
  EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  EXPECT_EQ(ReadFile(P("t1/sub/b.txt")), std::string(100000, 'b'));

  // --quiet: nothing on the terminal.
  r = RunOnTerminal(tool_, {"extract", "--quiet", "--password", "pw", P("p.zip"), P("t2")}, P(".tout"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");

  // A failure is written on a line of its own, the progress line cleared first.
  r = RunOnTerminal(tool_, {"extract", "--password", "wrong", "--mask", "a.txt", P("p.zip"), P("t3")}, P(".tout"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\r\033[Kzqpkg: a.txt: wrong password\r\n"), std::string::npos) << r.err;

  // --verbose: every entry on stdout as it is extracted, the failed ones not; nothing else on a
  // stderr that is not a terminal.
  r = Zqpkg({"extract", "--verbose", "--password", "pw", P("p.zip"), P("t4")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "a.txt\ncaf\xC3\xA9.txt\nempty/\nsub/\nsub/b.txt\n");
  EXPECT_EQ(r.err, "");
  fs::create_directories(P("t5/a.txt/in the way"));
  r = Zqpkg({"extract", "--verbose", "--password", "pw", "--mask", "*.txt", P("p.zip"), P("t5")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "caf\xC3\xA9.txt\nsub/b.txt\n");
  // Without a terminal and without --verbose, extract prints nothing at all.
  r = Zqpkg({"extract", "--password", "pw", P("p.zip"), P("t6")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
}

}  // namespace
