// `zqdb repair` run as a process: the copy it keeps, what it prints, the check afterwards, and
// what it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "dbengine/storage/db_creator.h"
#include "dbengine/format/db_format.h"
#include "dbengine/format/field_type.h"

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace zq;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class ZqdbRepair : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = zq::testing_support::BuiltProgram("tools/zqdb");  // a build dependency of the suite
    dir_ = temp_.Path();
    db_ = dir_ / "shop.zqc";
    TDbSchema schema;
    schema.EncryptAlgorithm = "Blowfish";
    schema.EncryptMode = 1;
    schema.Password = "secret";
    TDbSchemaTable t;
    t.Name = "Clients";
    t.Fields = {{"Id", ftAutoInc}, {"Name", ftString, 20}};
    t.Indexes = {{"PK", {"Id"}, tiPrimary}, {"ByName", {"Name"}, 0}};
    for (const char* name : {"Martin", "Bernard", "Dubois", "Thomas"})
      t.Records.push_back({{{"Id", Variant(0)}, {"Name", Variant(std::string(name))}}});
    schema.Tables.push_back(t);
    TDbCreator::CreateFile(db_.string(), schema);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // Runs zqdb with the arguments; stdout and stderr land in files.
  int Run(const std::string& args, std::string& out, std::string& err) {
    const fs::path o = dir_ / "out.txt", e = dir_ / "err.txt";
    int status = std::system((tool_ + " " + args + " > '" + o.string() + "' 2> '" + e.string() + "'").c_str());
    out = Slurp(o);
    err = Slurp(e);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Points the ByName chain's head at its last record: records before it drop out of the order.
  void BreakChain() {
    std::string bytes = Slurp(db_);
    const size_t entry = dbfmt::kFileHeaderSize + TTableDefBlock::IndexEntryOffset(1) + dbfmt::kIdxHeadSlot;
    dbfmt::PutI32(reinterpret_cast<uint8_t*>(&bytes[entry]), 0);  // "Martin" sorts last
    std::ofstream(db_, std::ios::binary | std::ios::trunc) << bytes;
  }

  std::string tool_;
  zq::testing_support::TempDir temp_{"zqdb-repair"};
  fs::path dir_, db_;
};

TEST_F(ZqdbRepair, MendsTheChainKeepsTheOriginalAndChecksClean) {
  BreakChain();
  const std::string damaged = Slurp(db_);
  std::string out, err;
  ASSERT_EQ(Run("check --password secret '" + db_.string() + "'", out, err), 1);
  EXPECT_NE(out.find("index 'ByName': live record 1 is not in the chain"), std::string::npos) << out;

  EXPECT_EQ(Run("repair --password secret '" + db_.string() + "'", out, err), 0) << err;
  EXPECT_EQ(out, "table 'Clients': index 'ByName': chain rebuilt from the records' keys\nThe original is kept as " +
                     db_.string() + ".bak\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(Slurp(db_.string() + ".bak"), damaged);
  EXPECT_EQ(Run("check --password secret '" + db_.string() + "'", out, err), 0) << out;
  EXPECT_EQ(out, "");
  ASSERT_EQ(Run("dump --password secret --table Clients --index ByName '" + db_.string() + "'", out, err), 0) << err;
  const size_t b = out.find("Bernard"), d = out.find("Dubois"), m = out.find("Martin"), t = out.find("Thomas");
  ASSERT_NE(t, std::string::npos);
  EXPECT_TRUE(b < d && d < m && m < t) << out;
}

TEST_F(ZqdbRepair, RefusesAnExistingBackupAndAWrongPasswordChangingNothing) {
  BreakChain();
  const std::string damaged = Slurp(db_);
  std::string out, err;
  EXPECT_EQ(Run("repair --password wrong '" + db_.string() + "'", out, err), 1);
  EXPECT_EQ(err, "zqdb: Access denied\n");
  EXPECT_FALSE(fs::exists(db_.string() + ".bak"));

  std::ofstream(db_.string() + ".bak") << "an older copy";
  EXPECT_EQ(Run("repair --password secret '" + db_.string() + "'", out, err), 1);
  EXPECT_EQ(err, "zqdb: The backup copy " + db_.string() + ".bak already exists; move it away first (nothing was repaired)\n");
  EXPECT_EQ(Slurp(db_), damaged);
  EXPECT_EQ(Slurp(db_.string() + ".bak"), "an older copy");
}

TEST_F(ZqdbRepair, ReadingCommandsRecoverInMemoryAndTheNextWriteInTheFile) {
  BreakChain();  // as a write stopped in the middle of relinking would leave it
  const std::string broken = Slurp(db_);
  std::string out, err;
  for (const std::string command : {"dump --table Clients --index ByName", "filter --table Clients --expr \"Id > 0\""}) {
    ASSERT_EQ(Run(command + " --password secret '" + db_.string() + "'", out, err), 0) << command << ": " << err;
    EXPECT_EQ(Slurp(db_), broken) << command << " wrote the file";
  }
  Run("dump --password secret --table Clients --index ByName '" + db_.string() + "'", out, err);
  const size_t b = out.find("Bernard"), d = out.find("Dubois"), m = out.find("Martin"), t = out.find("Thomas");
  ASSERT_NE(t, std::string::npos) << out;
  EXPECT_TRUE(b < d && d < m && m < t) << out;

  ASSERT_EQ(Run("append --password secret --table Clients '" + db_.string() + "' Name=Petit", out, err), 0) << err;
  EXPECT_EQ(Run("check --password secret '" + db_.string() + "'", out, err), 0) << out;
  EXPECT_EQ(out, "");
}

TEST_F(ZqdbRepair, ASoundFileIsLeftAsItIs) {
  const std::string sound = Slurp(db_);
  std::string out, err;
  EXPECT_EQ(Run("repair --password secret '" + db_.string() + "'", out, err), 0) << err;
  EXPECT_EQ(out, "Nothing needed repairing; the file is unchanged\nThe original is kept as " + db_.string() + ".bak\n");
  EXPECT_EQ(Slurp(db_), sound);
}

}  // namespace
