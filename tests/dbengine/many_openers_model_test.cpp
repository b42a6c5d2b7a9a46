// Seeded, model-based interleaving test of many openers of one file: 2 to 4 openers in this
// process (each its own database owner, file object and table storage object), and 2 to 3 child
// processes, run random appends, modifies (keys moving in a unique, a case-insensitive, a
// descending and a two-field index, auto-increment values given and kept), deletes (also of rows
// another opener deleted before) and blob writes, in the order a seeded scheduler gives. After
// every step the file passes the structural walk of `zqdb check`, and an observer that reloads the
// table sees exactly the records of the model in every index order; each opener, when it next
// refreshes, sees the same.
//
// ZQ_STRESS_SEED (a number, or "random") and ZQ_STRESS_STEPS change the fixed seed and step count,
// for a longer run (scripts/fuzz does one); a failure names the seed and the step.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/format/db_error.h"
#include "db_table_fixture.h"
#include "dbengine/dataset/db_table.h"
#include "dbengine/session/session.h"
#include "many_openers_model.h"
#include "many_openers_support.h"
#include "platform/exception.h"

namespace zq {
namespace {

using namespace testing_support;

// Field buffers of table M for TDbTableIO.
struct RowBuffers : FieldValues {
  explicit RowBuffers(const MRow& r) { Int(r.id, ftAutoInc).Text(r.code, 6).Text(r.name, 8).Int(r.num).Blob(r.note); }
};

int PositionOf(TDbTableIO& table, int32_t record_id) {
  const TRowList& list = table.RowList(0);
  auto it = std::lower_bound(list.begin(), list.end(), record_id,
                             [](const TRowRef& ref, int32_t v) { return ref.RecordId < v; });
  return it != list.end() && it->RecordId == record_id ? static_cast<int>(it - list.begin()) : -1;
}

// One operation by one opener, as a user of the table layer does it: a record is found in the
// opener's own row lists (a record appended since it last loaded is looked for after a refresh).
Outcome Execute(TDbTableIO& table, const Op& op) {
  Outcome out;
  try {
    switch (op.kind) {
      case OpKind::Refresh: table.LoadRowList(0, true); break;
      case OpKind::Append: {
        RowBuffers b(op.row);
        table.AppendRecord(b.buffers, false, [&](int list, int, const TRowRef& row) {
          if (list == -1) out.record_id = row.RecordId;
        });
        out.id_value = dbfmt::GetI32(b.Bytes(0).data());
        break;
      }
      case OpKind::Modify:
      case OpKind::Delete: {
        int p = PositionOf(table, op.target);
        if (p < 0 && op.target >= table.Header().SlotCount()) {
          table.LoadRowList(0, true);
          p = PositionOf(table, op.target);
        }
        if (p < 0) {
          out.absent = true;
          break;
        }
        if (op.kind == OpKind::Delete) {
          table.DeleteRecord(p, false);
        } else {
          RowBuffers b(op.row);
          table.ModifyRecord(b.buffers, p, nullptr, false);
        }
        break;
      }
    }
  } catch (const Exception& e) {
    out.error = e.Message();
  }
  return out;
}

std::string Stored(TDbTableIO& table, int32_t id, int field) {
  TMemoryStream out;
  table.ReadStoredField(out, id, field);
  return std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
}

std::string Text(const std::string& stored) { return stored.substr(0, stored.find('\0')); }

// What an opener's lists hold equals the model: the records, their values and every index order.
void ExpectView(TDbTableIO& table, const OpenersModel& model, bool fresh) {
  std::vector<int32_t> physical, expected;
  for (const TRowRef& ref : table.RowList(0)) physical.push_back(ref.RecordId);
  for (const auto& [id, row] : model.live) expected.push_back(id);
  ASSERT_EQ(physical, expected);
  for (const auto& [rid, row] : model.live) {
    MRow stored;
    stored.id = dbfmt::GetI32(reinterpret_cast<const uint8_t*>(Stored(table, rid, 0).data()));
    stored.code = Text(Stored(table, rid, 1));
    stored.name = Text(Stored(table, rid, 2));
    stored.num = dbfmt::GetI32(reinterpret_cast<const uint8_t*>(Stored(table, rid, 3).data()));
    stored.note = Stored(table, rid, 4);
    ASSERT_EQ(stored, row) << "record " << rid;
  }
  for (int i = 0; i < kOpenersIndexCount; ++i) {
    std::vector<int32_t> ids;
    for (const TRowRef& ref : table.RowList(i + 1)) ids.push_back(ref.RecordId);
    ASSERT_TRUE(model.InOrder(i, ids));
  }
  if (fresh) {
    EXPECT_EQ(table.Header().SlotCount(), model.slot_count);
    EXPECT_EQ(table.Header().LastAutoIncValue(), model.last_auto_inc);
  }
}

std::string Describe(uint32_t seed, int step, const Op& op) {
  return "seed " + std::to_string(seed) + " (ZQ_STRESS_SEED=" + std::to_string(seed) + "), step " +
         std::to_string(step) + ": " + Serialise(op);
}

// Runs the scheduler: `execute` has the chosen opener do the operation; after each step the file
// and an observer are checked; `view` checks an opener that refreshed (in this process only).
template <class ExecuteFn, class ViewFn>
void RunSchedule(const std::string& path, uint32_t seed, int openers, int steps, ExecuteFn&& execute,
                 ViewFn&& view) {
  OpenersModel model(seed, openers);
  Opener observer(path, "M");
  for (int step = 0; step < steps; ++step) {
    const Op op = model.Next();
    SCOPED_TRACE(Describe(seed, step, op));
    const Outcome out = execute(op);
    model.Apply(op, out);
    if (::testing::Test::HasFailure()) return;
    const auto problems = StructuralProblems(path);
    ASSERT_EQ(JoinLines(problems), "");
    observer->LoadRowList(0, true);
    ExpectView(*observer, model, true);
    if (op.kind == OpKind::Refresh) view(op.opener, model);
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(ManyOpenersModel, OpenersInOneProcess) {
  const uint32_t seed = StressSeed(19);
  const int steps = StressSteps(2500);
  for (int openers : {2, 4}) {
    SCOPED_TRACE(std::to_string(openers) + " openers");
    TempDir dir;
    const std::string path = dir.File("m.zqc");
    TDbCreator::CreateFile(path, OpenersSchema());
    std::vector<std::unique_ptr<Opener>> tables;
    for (int k = 0; k < openers; ++k) tables.push_back(std::make_unique<Opener>(path, "M"));
    RunSchedule(
        path, seed, openers, steps / 2,
        [&](const Op& op) { return Execute(**tables[static_cast<size_t>(op.opener)], op); },
        [&](int k, const OpenersModel& model) { ExpectView(**tables[static_cast<size_t>(k)], model, true); });
    if (HasFailure()) return;
  }
}

// ---- Processes: each child holds one opener and does what the parent sends it through a pipe.

void WriteMessage(int fd, const std::string& text) {
  uint32_t n = static_cast<uint32_t>(text.size());
  std::string buffer(reinterpret_cast<const char*>(&n), 4);
  buffer += text;
  if (!WriteFull(fd, buffer.data(), buffer.size())) ::_exit(5);
}

bool ReadMessage(int fd, std::string& text) {
  uint32_t n = 0;
  if (!ReadFull(fd, &n, 4)) return false;
  text.assign(n, '\0');
  return ReadFull(fd, text.data(), n);
}

std::string SerialiseOutcome(const Outcome& o) {
  return std::to_string(o.record_id) + " " + std::to_string(o.id_value) + " " + (o.absent ? "1" : "0") + " " + o.error;
}

Outcome DeserialiseOutcome(const std::string& text) {
  Outcome o;
  int absent = 0;
  std::istringstream in(text);
  in >> o.record_id >> o.id_value >> absent;
  o.absent = absent != 0;
  size_t at = text.find(' ', text.find(' ', text.find(' ') + 1) + 1);
  o.error = at == std::string::npos ? "" : text.substr(at + 1);
  return o;
}

OpenerChild StartChild(const std::string& path) {
  return StartOpenerChild(path, "M", [](TDbTableIO& table, int requests, int answers) {
    std::string text;
    while (ReadMessage(requests, text) && !text.empty())
      WriteMessage(answers, SerialiseOutcome(Execute(table, Deserialise(text))));
  });
}

TEST(ManyOpenersModel, OpenersInSeveralProcesses) {
  const uint32_t seed = StressSeed(1919);
  const int steps = StressSteps(2500);
  for (int processes : {2, 3}) {
    SCOPED_TRACE(std::to_string(processes) + " processes");
    TempDir dir;
    const std::string path = dir.File("p.zqc");
    TDbCreator::CreateFile(path, OpenersSchema());
    std::vector<OpenerChild> children;
    for (int k = 0; k < processes; ++k) {
      children.push_back(StartChild(path));
      ASSERT_GT(children.back().pid, 0);
    }
    RunSchedule(
        path, seed, processes, steps / 2,
        [&](const Op& op) {
          const OpenerChild& c = children[static_cast<size_t>(op.opener)];
          WriteMessage(c.to, Serialise(op));
          std::string text;
          if (!ReadMessage(c.from, text)) return Outcome{"child process ended", -1, 0, false};
          return DeserialiseOutcome(text);
        },
        [](int, const OpenersModel&) {});
    for (const OpenerChild& c : children) {
      WriteMessage(c.to, "");
      ::close(c.to);
      ::close(c.from);
      int status = 0;
      ::waitpid(c.pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    if (HasFailure()) return;
  }
}


// ---- Table data sets: each in a session of its own (so each has its own database object and
// file), each following another index. Before its step a data set refreshes; now and then another
// data set deletes or moves the row it stands on before it edits, posts or deletes that row.

const char* const kDataSetIndexes[] = {"ByCode", "NameCI", "NumDesc", "NumCode"};

// keep_note: the memo is neither read nor set, so the post keeps what the file holds.
void SetFields(TDbTable& ds, const MRow& row, bool keep_note = false) {
  ds.FieldByName("Id").SetAsInteger(row.id);
  ds.FieldByName("Code").SetAsString(row.code);
  ds.FieldByName("Name").SetAsString(row.name);
  ds.FieldByName("Num").SetAsInteger(row.num);
  if (!keep_note) ds.FieldByName("Note").SetAsString(row.note);
}

// Puts the data set on the record (by its Id value); false when it does not show it.
bool GoTo(TDbTable& ds, const OpenersModel& model, int32_t record_id) {
  const auto found = model.live.find(record_id);
  return found != model.live.end() && ds.Locate("Id", Variant(found->second.id), 0);
}

// The data set's step on the row it stands on (stale or not).
Outcome ExecuteOnRow(TDbTable& ds, const Op& op, bool keep_note = false) {
  Outcome out;
  try {
    if (op.kind == OpKind::Delete) {
      ds.Delete();
    } else {
      if (op.kind == OpKind::Append) ds.Append();
      else ds.Edit();
      SetFields(ds, op.row, keep_note);
      ds.Post();
      out.id_value = ds.FieldByName("Id").AsInteger();
    }
  } catch (const Exception& e) {
    out.error = e.Message();
    if (ds.State() != TDataSetState::dsBrowse) ds.Cancel();
  }
  return out;
}

// The rows of a refreshed data set, in its index order, are the model's records with their values.
void ExpectDataSetView(TDbTable& ds, int index, const OpenersModel& model) {
  std::map<int32_t, int32_t> by_id;  // Id value -> record ID
  for (const auto& [rid, row] : model.live) by_id[row.id] = rid;
  std::vector<int32_t> ids;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    MRow row;
    row.id = ds.FieldByName("Id").AsInteger();
    row.code = ds.FieldByName("Code").AsString();
    row.name = ds.FieldByName("Name").AsString();
    row.num = ds.FieldByName("Num").AsInteger();
    row.note = ds.FieldByName("Note").AsString();
    const auto found = by_id.find(row.id);
    ASSERT_NE(found, by_id.end()) << "a row with Id " << row.id << " that the model does not hold";
    ASSERT_EQ(row, model.live.at(found->second));
    ids.push_back(found->second);
  }
  ASSERT_TRUE(model.InOrder(index, ids));
}

TEST(ManyOpenersModel, TableDataSets) {
  const uint32_t seed = StressSeed(191919);
  const int steps = StressSteps(2500) / 3;
  const int kSets = 3;
  TempDir dir;
  const std::string path = dir.File("d.zqc");
  TDbCreator::CreateFile(path, OpenersSchema());
  std::vector<std::unique_ptr<TDbSession>> sessions;
  std::vector<std::unique_ptr<TDbTable>> sets;
  for (int k = 0; k < kSets; ++k) {
    sessions.push_back(std::make_unique<TDbSession>());
    sessions.back()->SetSessionName("Opener" + std::to_string(k));
    sets.push_back(std::make_unique<TDbTable>());
    sets.back()->SetSessionName("Opener" + std::to_string(k));
    sets.back()->SetDatabaseName(path);
    sets.back()->SetTableName("M");
    sets.back()->SetIndexName(kDataSetIndexes[k]);
    sets.back()->Open();
  }
  OpenersModel model(seed, kSets);
  std::mt19937 rng(seed);
  Opener observer(path, "M");
  auto check_file = [&] {
    ASSERT_EQ(JoinLines(StructuralProblems(path)), "");
    observer->LoadRowList(0, true);
    ExpectView(*observer, model, true);
  };
  int stale_rows = 0;
  for (int step = 0; step < steps && !HasFailure(); ++step) {
    Op op = model.Next();
    SCOPED_TRACE(Describe(seed, step, op));
    TDbTable& ds = *sets[static_cast<size_t>(op.opener)];
    ds.Refresh();
    if (op.kind == OpKind::Refresh) {
      ExpectDataSetView(ds, op.opener + 1, model);
      continue;
    }
    if (op.kind != OpKind::Append && !GoTo(ds, model, op.target)) continue;  // a row it cannot show
    Outcome out;
    if (op.kind == OpKind::Append) {
      out = ExecuteOnRow(ds, op);
      out.record_id = model.slot_count;
    } else {
      // Another data set deletes or moves the row this one stands on.
      if (rng() % 3 == 0) {
        Op other;
        other.opener = (op.opener + 1 + static_cast<int>(rng() % (kSets - 1))) % kSets;
        other.target = op.target;
        other.kind = rng() % 2 ? OpKind::Delete : OpKind::Modify;
        other.row = model.live.at(op.target);
        other.row.id = 0;
        other.row.name = std::string(1, "abcABC"[rng() % 6]) + other.row.name.substr(0, 2);
        other.row.num = static_cast<int32_t>(rng() % 10);
        SCOPED_TRACE("first, by data set " + std::to_string(other.opener) + ": " + Serialise(other));
        TDbTable& by = *sets[static_cast<size_t>(other.opener)];
        by.Refresh();
        ASSERT_TRUE(GoTo(by, model, other.target));
        model.Apply(other, ExecuteOnRow(by, other));
        check_file();
        ++stale_rows;
        if (rng() % 2) {
          // Moving away from the stale row and back to it works; the data set shows it until it
          // refreshes.
          const TBookmark mark = ds.GetBookmark();
          ds.Next();
          ds.Prior();
          ASSERT_TRUE(ds.BookmarkValid(mark));
          ds.GotoBookmark(mark);
        } else if (other.kind == OpKind::Modify && rng() % 2) {
          // The memo the row held when it was read, never loaded, is the record's (moved) memo.
          ASSERT_EQ(ds.FieldByName("Note").AsString(), model.live.at(op.target).note);
        }
      }
      // A modify that leaves the memo alone neither reads nor sets it: the post keeps the memo the
      // record holds, also when another data set moved the record's image since the row was read.
      const bool keep_note = op.kind == OpKind::Modify && model.live.count(op.target) > 0 &&
                             op.row.note == model.live.at(op.target).note && rng() % 2;
      out = ExecuteOnRow(ds, op, keep_note);
    }
    model.Apply(op, out);
    if (HasFailure()) break;
    check_file();
  }
  EXPECT_GT(stale_rows, steps / 20);
  for (auto& ds : sets) ds->Close();
}

// The two cases on their own: a data set posts or deletes a row that another opener deleted, or
// edits a row that another opener moved in the data set's order.
class ManyOpenersDataSet : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("e.zqc");
    TDbCreator::CreateFile(path_, OpenersSchema());
    for (int k = 0; k < 2; ++k) {
      sessions_.push_back(std::make_unique<TDbSession>());
      sessions_.back()->SetSessionName("Edit" + std::to_string(k));
      sets_.push_back(std::make_unique<TDbTable>());
      TDbTable& ds = *sets_.back();
      ds.SetSessionName("Edit" + std::to_string(k));
      ds.SetDatabaseName(path_);
      ds.SetTableName("M");
      ds.SetIndexName("ByCode");
      ds.Open();
    }
    for (const char* code : {"b", "c", "d"}) {
      sets_[0]->Append();
      SetFields(*sets_[0], MRow{0, code, "n", 1, "note"});
      sets_[0]->Post();
    }
    sets_[1]->Refresh();
  }
  std::vector<std::string> Codes(TDbTable& ds) {
    std::vector<std::string> codes;
    for (ds.First(); !ds.Eof(); ds.Next()) codes.push_back(ds.FieldByName("Code").AsString());
    return codes;
  }

  TempDir dir_;
  std::string path_;
  std::vector<std::unique_ptr<TDbSession>> sessions_;
  std::vector<std::unique_ptr<TDbTable>> sets_;
};

TEST_F(ManyOpenersDataSet, PostAndDeleteOnARowDeletedElsewhereFailAndTheRowLeaves) {
  TDbTable& a = *sets_[0];
  TDbTable& b = *sets_[1];
  ASSERT_TRUE(a.Locate("Code", Variant(std::string("c")), 0));
  ASSERT_TRUE(b.Locate("Code", Variant(std::string("c")), 0));
  b.Delete();
  a.Edit();
  a.FieldByName("Name").SetAsString("x");
  EXPECT_EQ(testing::ErrorOf([&] { a.Post(); }), "Record 1 of table 'M' was deleted by another user");
  a.Cancel();
  EXPECT_EQ(a.RecordCount(), 2);  // without a Refresh
  EXPECT_EQ(Codes(a), (std::vector<std::string>{"b", "d"}));
  ASSERT_TRUE(b.Locate("Code", Variant(std::string("d")), 0));
  ASSERT_TRUE(a.Locate("Code", Variant(std::string("d")), 0));
  b.Delete();
  EXPECT_EQ(testing::ErrorOf([&] { a.Delete(); }), "Record 2 of table 'M' was deleted by another user");
  EXPECT_EQ(Codes(a), (std::vector<std::string>{"b"}));
  EXPECT_EQ(JoinLines(StructuralProblems(path_)), "");
}

TEST_F(ManyOpenersDataSet, EditOfARowMovedElsewhereAppliesToTheRecordAsItIsNow) {
  TDbTable& a = *sets_[0];
  TDbTable& b = *sets_[1];
  ASSERT_TRUE(a.Locate("Code", Variant(std::string("b")), 0));
  ASSERT_TRUE(b.Locate("Code", Variant(std::string("b")), 0));
  b.Edit();
  b.FieldByName("Code").SetAsString("e");  // "b" moves to the end
  b.Post();
  a.Edit();  // a still shows the row first, as "b"
  a.FieldByName("Code").SetAsString("a");
  a.FieldByName("Name").SetAsString("moved");
  a.Post();
  EXPECT_EQ(a.FieldByName("Code").AsString(), "a");
  EXPECT_EQ(Codes(a), (std::vector<std::string>{"a", "c", "d"}));
  b.Refresh();
  EXPECT_EQ(Codes(b), (std::vector<std::string>{"a", "c", "d"}));
  ASSERT_TRUE(b.Locate("Code", Variant(std::string("a")), 0));
  EXPECT_EQ(b.FieldByName("Name").AsString(), "moved");
  EXPECT_EQ(JoinLines(StructuralProblems(path_)), "");
}

// A memo that a data set read with its row but never loaded is the record's memo, also after
// another opener's modify moved the record's image (and zeroed the old one): it shows, and a post
// of other fields keeps it, for a row read alone and for rows read in a run.
TEST_F(ManyOpenersDataSet, AMemoNeverLoadedFollowsItsRecordMovedElsewhere) {
  TDbTable& a = *sets_[0];
  TDbTable& b = *sets_[1];
  for (const bool show_first : {true, false}) {
    SCOPED_TRACE(show_first ? "shown, then posted" : "posted without being shown");
    for (a.First(); !a.Eof(); a.Next()) {}  // the rows in a run
    ASSERT_TRUE(a.Locate("Code", Variant(std::string("c")), 0));
    ASSERT_TRUE(b.Locate("Code", Variant(std::string("c")), 0));
    b.Edit();
    b.FieldByName("Name").SetAsString(show_first ? "by b" : "by b 2");
    b.FieldByName("Note").SetAsString(show_first ? "b's note" : "b's other note");
    b.Post();
    if (show_first) { EXPECT_EQ(a.FieldByName("Note").AsString(), "b's note"); }
    a.Edit();
    a.FieldByName("Num").SetAsInteger(show_first ? 7 : 8);
    a.Post();
    b.Refresh();
    ASSERT_TRUE(b.Locate("Code", Variant(std::string("c")), 0));
    EXPECT_EQ(b.FieldByName("Num").AsInteger(), show_first ? 7 : 8);
    EXPECT_EQ(b.FieldByName("Note").AsString(), show_first ? "b's note" : "b's other note");
  }
  EXPECT_EQ(JoinLines(StructuralProblems(path_)), "");
}

}  // namespace
}  // namespace zq
