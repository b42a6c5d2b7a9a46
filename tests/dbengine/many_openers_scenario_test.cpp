// The two interleavings that once damaged a file, each on its own: two openers of one file, each with the table
// loaded, where the second works from row lists that the first has made stale without changing
// the table header (a modify that only rewires links, a delete that only sets a Deleted byte).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dbengine/format/db_error.h"
#include "many_openers_support.h"

namespace zq {
namespace {

using namespace testing_support;

TDbSchema ScenarioSchema() {
  TDbSchema s;
  TDbSchemaTable t;
  t.Name = "T";
  t.Fields = {{"Id", ftAutoInc}, {"Name", ftString, 12}, {"Code", ftString, 8}};
  t.Indexes = {{"PK", {"Id"}, tiPrimary}, {"ByName", {"Name"}, 0}, {"ByCode", {"Code"}, tiUnique}};
  s.Tables.push_back(t);
  return s;
}

struct Row : FieldValues {
  Row(int32_t id_value, const std::string& n, const std::string& c) { Int(id_value, ftAutoInc).Text(n, 12).Text(c, 8); }
};

// The Name values of a table in the order of its ByName index, read from the file.
std::vector<std::string> NamesInOrder(TDbTableIO& table) {
  std::vector<std::string> names;
  for (const TRowRef& ref : table.RowList(2)) {
    TMemoryStream out;
    table.ReadStoredField(out, ref.RecordId, 1);
    names.emplace_back(reinterpret_cast<const char*>(out.Memory()));
  }
  return names;
}

int PhysicalOf(TDbTableIO& table, int32_t record_id) {
  const TRowList& list = table.RowList(0);
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].RecordId == record_id) return static_cast<int>(i);
  return -1;
}

class ManyOpenersScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("s.zqc");
    TDbCreator::CreateFile(path_, ScenarioSchema());
    Opener setup(path_, "T");
    const char* names[] = {"b", "c", "d", "e"};
    const char* codes[] = {"a", "b", "c", "d"};
    for (int i = 0; i < 4; ++i) {
      Row row(0, names[i], codes[i]);
      setup->AppendRecord(row.buffers, false, nullptr);
    }
  }

  TempDir dir_;
  std::string path_;
};

// Opener A moves record "c" to the end of a non-unique index; opener B, loaded before, moves "d"
// to the front. B must rewire the links from the chain as A left it, not from its stale list.
TEST_F(ManyOpenersScenario, ModifiesThatMoveRecordsInTurnKeepTheChain) {
  Opener a(path_, "T"), b(path_, "T");
  {
    Row row(2, "z", "b");  // record 1 ("c") moves to the end
    a->ModifyRecord(row.buffers, PhysicalOf(*a, 1), nullptr, false);
  }
  {
    Row row(3, "a", "c");  // record 2 ("d") moves to the front
    b->ModifyRecord(row.buffers, PhysicalOf(*b, 2), nullptr, false);
  }
  EXPECT_EQ(JoinLines(StructuralProblems(path_)), "");
  Opener fresh(path_, "T");
  EXPECT_EQ(NamesInOrder(*fresh), (std::vector<std::string>{"a", "b", "e", "z"}));
  // B works from the file's state: its own lists are those of the file.
  EXPECT_EQ(NamesInOrder(*b), NamesInOrder(*fresh));
  // And A, on its next write, too.
  {
    Row row(0, "c", "e");
    a->AppendRecord(row.buffers, false, nullptr);
  }
  EXPECT_EQ(JoinLines(StructuralProblems(path_)), "");
  Opener again(path_, "T");
  EXPECT_EQ(NamesInOrder(*again), (std::vector<std::string>{"a", "b", "c", "e", "z"}));
  EXPECT_EQ(NamesInOrder(*a), NamesInOrder(*again));
}

// Opener A deletes the record with unique key "b"; opener B, loaded before, appends a record with
// key "b": the key is free, so B's append must be accepted.
TEST_F(ManyOpenersScenario, AUniqueKeyFreedByAnotherOpenerCanBeTakenAgain) {
  Opener a(path_, "T"), b(path_, "T");
  a->DeleteRecord(PhysicalOf(*a, 1), false);
  {
    Row row(0, "x", "b");
    EXPECT_NO_THROW(b->AppendRecord(row.buffers, false, nullptr));
  }
  // A key that is still taken is still refused, also by an opener that did not see the append.
  {
    Row row(0, "y", "b");
    try {
      a->AppendRecord(row.buffers, false, nullptr);
      ADD_FAILURE() << "a second record with Code 'b' was accepted";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid unique field value 'b'");
    }
  }
  EXPECT_EQ(JoinLines(StructuralProblems(path_)), "");
  Opener fresh(path_, "T");
  EXPECT_EQ(fresh->RowList(0).size(), 4u);
  EXPECT_EQ(NamesInOrder(*fresh), (std::vector<std::string>{"b", "d", "e", "x"}));
}

// The same two interleavings through a modify: B moves a record whose neighbour A deleted, and B
// gives a record the unique key that A's delete freed.
TEST_F(ManyOpenersScenario, AModifyNextToARecordDeletedElsewhereAndOntoAFreedKey) {
  Opener a(path_, "T"), b(path_, "T");
  a->DeleteRecord(PhysicalOf(*a, 1), false);  // "c" / code "b"
  {
    Row row(3, "a", "b");  // record 2 ("d", code "c") takes code "b" and moves to the front
    EXPECT_NO_THROW(b->ModifyRecord(row.buffers, PhysicalOf(*b, 2), nullptr, false));
  }
  EXPECT_EQ(JoinLines(StructuralProblems(path_)), "");
  Opener fresh(path_, "T");
  EXPECT_EQ(NamesInOrder(*fresh), (std::vector<std::string>{"a", "b", "e"}));
}

// A modify or delete of a record that another opener deleted is refused with a clear error and
// changes nothing.
TEST_F(ManyOpenersScenario, WritesToARecordDeletedByAnotherOpenerAreRefused) {
  Opener a(path_, "T"), b(path_, "T");
  const int stale = PhysicalOf(*b, 1);
  a->DeleteRecord(PhysicalOf(*a, 1), false);
  Row row(2, "q", "q");
  EXPECT_THROW(b->ModifyRecord(row.buffers, stale, nullptr, false), EDatabaseError);
  EXPECT_EQ(PhysicalOf(*b, 1), -1);
  EXPECT_EQ(JoinLines(StructuralProblems(path_)), "");
  Opener fresh(path_, "T");
  EXPECT_EQ(NamesInOrder(*fresh), (std::vector<std::string>{"b", "d", "e"}));
}

}  // namespace
}  // namespace zq
