// A table data set scanning its rows (First, Next, Prior, Last, MoveBy) while others write: a
// second database object in this process and a child process append, modify and delete records;
// the data set itself edits, appends and deletes, and refreshes now and then. A seeded model keeps
// every version of every record. What the data set shows:
//   - its rows, and their order, are those of the model at its last Refresh with its own appends
//     and deletes (all live records when its own write reloaded the table);
//   - a row's values are the record as it was at the last Refresh or write in this process, or as
//     a later write of the child process left it, never older than what the row showed before; so
//     a record written in this process shows exactly as written;
//   - right after a Refresh, a scan from First to Eof shows exactly the model.
// ZQ_STRESS_SEED (a number or "random") and ZQ_STRESS_STEPS make a longer run; a failure names
// the seed and the step.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dbengine/storage/db_creator.h"
#include "dbengine/dataset/db_table.h"
#include "dbengine/session/session.h"
#include "many_openers_model.h"
#include "many_openers_support.h"

namespace zq {
namespace {

using namespace testing_support;

// S: Id integer (unique index ById, not primary: an empty IndexName shows physical order), Name
// string 10, Qty integer.
TDbSchema ScanSchema() {
  TDbSchema s;
  TDbSchemaTable t;
  t.Name = "S";
  t.Fields = {{"Id", ftInteger}, {"Name", ftString, 10}, {"Qty", ftInteger}};
  t.Indexes = {{"ById", {"Id"}, tiUnique}};
  s.Tables.push_back(t);
  return s;
}

struct Version {
  int64_t at = 0;
  std::string name;
  int32_t qty = 0;
};

// Every version of every record by Id, the rows the data set shows and what it showed last.
struct ScanModel {
  std::map<int32_t, std::vector<Version>> versions;
  std::map<int32_t, bool> live;
  std::map<int32_t, size_t> shown;  // the version a row showed last
  std::vector<int32_t> view;        // Ids the data set shows, ascending
  int64_t now = 0;
  int64_t floor = 0;  // the last Refresh or write in this process
  int32_t next_id = 1;
  int names = 0;

  std::string NewName() { return "v" + std::to_string(++names); }
  void Write(int32_t id, const std::string& name, int32_t qty, bool in_process) {
    versions[id].push_back({++now, name, qty});
    live[id] = true;
    if (in_process) floor = now;
  }
  void Delete(int32_t id, bool in_process) {
    live[id] = false;
    ++now;
    if (in_process) floor = now;
  }
  std::vector<int32_t> LiveIds() const {
    std::vector<int32_t> ids;
    for (const auto& [id, alive] : live)
      if (alive) ids.push_back(id);
    return ids;
  }
  void Refreshed() {
    view = LiveIds();
    floor = now;
  }
  // The oldest version a row of the record may show now.
  size_t Oldest(int32_t id) const {
    const std::vector<Version>& v = versions.at(id);
    size_t at_floor = 0;
    while (at_floor + 1 < v.size() && v[at_floor + 1].at <= floor) ++at_floor;
    const auto before = shown.find(id);
    return before == shown.end() ? at_floor : std::max(at_floor, before->second);
  }
};

// ---- The child process: one opener of the storage layer, doing what the parent sends.

struct Command {
  int32_t kind = 0;  // 1 append, 2 modify, 3 delete, 0 end
  int32_t id = 0;
  int32_t qty = 0;
  char name[12] = {};
};

// 0: done; 1: no such record; 2: an error.
int32_t RunCommand(TDbTableIO& table, const Command& c) {
  try {
    FieldValues values;
    values.Int(c.id).Text(c.name, 10).Int(c.qty);
    if (c.kind == 1) {
      table.AppendRecord(values.buffers, false, nullptr);
      return 0;
    }
    table.LoadRowList(0, true);
    int result = 0;
    const TRowList& by_id = table.RowList(1);
    const int at = table.FindKey(values.buffers, by_id, false, 1, result, 0);
    if (result != 0) return 1;
    const int physical = table.PhysicalPosition(by_id, at);
    if (c.kind == 2) table.ModifyRecord(values.buffers, physical, nullptr, false);
    else table.DeleteRecord(physical, false);
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "child: %s\n", e.Message().c_str());
    return 2;
  }
}

class ChildWriter {
 public:
  explicit ChildWriter(const std::string& path)
      : child_(StartOpenerChild(path, "S", [](TDbTableIO& table, int requests, int answers) {
          Command c;
          while (ReadFull(requests, &c, sizeof c) && c.kind != 0) {
            const int32_t outcome = RunCommand(table, c);
            if (!WriteFull(answers, &outcome, sizeof outcome)) break;
          }
        })) {}
  ~ChildWriter() {
    if (child_.pid <= 0) return;
    const Command end;
    WriteFull(child_.to, &end, sizeof end);
    ::close(child_.to);
    ::close(child_.from);
    int status = 0;
    ::waitpid(child_.pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  bool Started() const { return child_.pid > 0; }
  // The child's outcome, or -1 when it has gone.
  int32_t Run(const Command& c) {
    int32_t outcome = -1;
    if (!WriteFull(child_.to, &c, sizeof c) || !ReadFull(child_.from, &outcome, sizeof outcome)) return -1;
    return outcome;
  }

 private:
  OpenerChild child_;
};

std::unique_ptr<TDbTable> DataSetIn(const std::string& session, const std::string& path, const std::string& index) {
  auto ds = std::make_unique<TDbTable>();
  ds->SetSessionName(session);
  ds->SetDatabaseName(path);
  ds->SetTableName("S");
  ds->SetIndexName(index);
  ds->Open();
  return ds;
}

void SetValues(TDbTable& ds, const std::string& name, int32_t qty) {
  ds.FieldByName("Name").SetAsString(name);
  ds.FieldByName("Qty").SetAsInteger(qty);
}

class DataSetScan : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    path_ = dir_.File("scan.zqc");
    TDbCreator::CreateFile(path_, ScanSchema());
    for (const char* name : {"Scan", "Write"}) {
      sessions_.push_back(std::make_unique<TDbSession>());
      sessions_.back()->SetSessionName(name);
    }
    writer_ = DataSetIn("Write", path_, "ById");
  }
  void TearDown() override {
    if (scanner_) scanner_->Close();
    writer_->Close();
  }

  // The row the data set stands on is row `pos` of the model's view, with a version of the record
  // it may show; `pos` follows the data set after moves the model does not predict.
  void ExpectRow(bool follow, bool read = true) {
    TDbTable& ds = *scanner_;
    ASSERT_EQ(ds.RecordCount(), static_cast<int>(model_.view.size()));
    if (model_.view.empty()) return;
    const int32_t id = ds.FieldByName("Id").AsInteger();
    if (follow) {
      const auto it = std::find(model_.view.begin(), model_.view.end(), id);
      ASSERT_NE(it, model_.view.end()) << "the data set shows Id " << id << ", not among its rows";
      pos_ = static_cast<int>(it - model_.view.begin());
    }
    ASSERT_EQ(id, model_.view.at(static_cast<size_t>(pos_))) << "row " << pos_;
    const std::string name = ds.FieldByName("Name").AsString();
    const int32_t qty = ds.FieldByName("Qty").AsInteger();
    const std::vector<Version>& v = model_.versions.at(id);
    const size_t oldest = read ? model_.Oldest(id) : model_.shown.at(id);
    size_t k = oldest;
    if (!read) {
      ASSERT_EQ(name, v[k].name) << "Id " << id;
      ASSERT_EQ(qty, v[k].qty) << "Id " << id;
    }
    while (k < v.size() && (v[k].name != name || v[k].qty != qty)) ++k;
    ASSERT_LT(k, v.size()) << "Id " << id << " shows " << name << "/" << qty << "; expected from version " << oldest
                           << " (" << v[oldest].name << "/" << v[oldest].qty << ") to " << v.size() - 1;
    model_.shown[id] = k;
  }

  void ExpectWholeScan() {
    TDbTable& ds = *scanner_;
    std::vector<int32_t> ids;
    for (ds.First(); !ds.Eof(); ds.Next()) {
      const int32_t id = ds.FieldByName("Id").AsInteger();
      ids.push_back(id);
      const Version& last = model_.versions.at(id).back();
      ASSERT_EQ(ds.FieldByName("Name").AsString(), last.name) << "Id " << id;
      ASSERT_EQ(ds.FieldByName("Qty").AsInteger(), last.qty) << "Id " << id;
      model_.shown[id] = model_.versions.at(id).size() - 1;
    }
    ASSERT_EQ(ids, model_.view);
    pos_ = static_cast<int>(model_.view.size()) - 1;
  }

  int32_t AnyLive(std::mt19937& rng) const {
    const std::vector<int32_t> ids = model_.LiveIds();
    return ids.empty() ? 0 : ids[rng() % ids.size()];
  }

  // A data set's write, done to the model too: 0 appends a new record, 1 edits and 2 deletes the
  // record `id` the data set stands on. The Id written (appended, edited or deleted).
  int32_t WriteThrough(TDbTable& ds, unsigned what, int32_t id, std::mt19937& rng) {
    if (what == 2) {
      ds.Delete();
      model_.Delete(id, true);
      return id;
    }
    if (what == 0) id = model_.next_id++;
    const std::string name = model_.NewName();
    const auto qty = static_cast<int32_t>(rng() % 1000);
    if (what == 0) {
      ds.Append();
      ds.FieldByName("Id").SetAsInteger(id);
    } else {
      ds.Edit();
    }
    SetValues(ds, name, qty);
    ds.Post();
    model_.Write(id, name, qty, true);
    return id;
  }

  void WriterStep(std::mt19937& rng) {
    TDbTable& w = *writer_;
    w.Refresh();
    const int32_t target = AnyLive(rng);
    const unsigned what = target == 0 ? 0 : rng() % 3;
    if (what != 0) {
      ASSERT_TRUE(w.Locate("Id", Variant(target), 0)) << "the writer does not find Id " << target;
    }
    WriteThrough(w, what, target, rng);
  }

  void ChildStep(ChildWriter& child, std::mt19937& rng) {
    Command c;
    const int32_t target = AnyLive(rng);
    c.kind = target == 0 ? 1 : 1 + static_cast<int32_t>(rng() % 3);
    c.id = c.kind == 1 ? model_.next_id++ : target;
    c.qty = static_cast<int32_t>(rng() % 1000);
    const std::string name = model_.NewName();
    std::strncpy(c.name, name.c_str(), sizeof c.name - 1);
    ASSERT_EQ(child.Run(c), 0) << "the child's write failed";
    if (c.kind == 3) model_.Delete(c.id, false);
    else model_.Write(c.id, name, c.qty, false);
  }

  // The data set's own write on the row it stands on (when that record is live) or a new row.
  void OwnWrite(std::mt19937& rng) {
    TDbTable& ds = *scanner_;
    const int64_t generation = ds.TableIO()->LoadGeneration();
    const int32_t id = model_.view.empty() ? 0 : ds.FieldByName("Id").AsInteger();
    const unsigned what = id == 0 || !model_.live.at(id) ? 0 : rng() % 3;
    const int32_t written = WriteThrough(ds, what, id, rng);
    if (what == 0) model_.view.push_back(written);
    if (what == 2) std::erase(model_.view, written);
    // A write that found the table changed by others reloaded it: the rows are all live records.
    if (ds.TableIO()->LoadGeneration() != generation) {
      model_.view = model_.LiveIds();
      ++reloads_;
    }
    ExpectRow(true);
  }

  void Navigate(std::mt19937& rng) {
    TDbTable& ds = *scanner_;
    const int rows = static_cast<int>(model_.view.size());
    const int before = pos_;
    const unsigned what = rng() % 20;
    bool fetched = false;  // First and Last read their row again even where the cursor stands
    if (what < 12) {
      ds.Next();
      if (pos_ < rows - 1) ++pos_;
      else ASSERT_TRUE(ds.Eof());
    } else if (what < 15) {
      ds.Prior();
      if (pos_ > 0) --pos_;
      else ASSERT_TRUE(ds.Bof());
    } else if (what < 17) {
      const int by = static_cast<int>(rng() % 41) - 20;
      ds.MoveBy(by);
      pos_ = std::clamp(pos_ + by, 0, std::max(rows - 1, 0));
    } else if (what < 18) {
      ds.First();
      pos_ = 0;
      fetched = true;
    } else {
      ds.Last();
      pos_ = rows - 1;
      fetched = true;
    }
    // A data set that did not move shows the values it read when it came to the row.
    ExpectRow(false, fetched || pos_ != before);
  }

  TempDir dir_;
  std::string path_;
  std::vector<std::unique_ptr<TDbSession>> sessions_;
  std::unique_ptr<TDbTable> writer_;
  std::unique_ptr<TDbTable> scanner_;
  ScanModel model_;
  int pos_ = 0;
  int reloads_ = 0;
};

TEST_P(DataSetScan, ShowsTheRowsOfTheLastRefreshAndEveryWriteOfThisProcess) {
  const uint32_t seed = StressSeed(2412);
  const int steps = StressSteps(3000);
  std::printf("seed %u, %d steps (ZQ_STRESS_SEED, ZQ_STRESS_STEPS)\n", seed, steps);
  std::mt19937 rng(seed);
  for (int k = 0; k < 300; ++k) {
    WriterStep(rng);
    ASSERT_FALSE(HasFailure());
  }
  scanner_ = DataSetIn("Scan", path_, GetParam());
  model_.Refreshed();
  ExpectWholeScan();
  ChildWriter child(path_);
  ASSERT_TRUE(child.Started());
  int refreshes = 0;
  for (int step = 0; step < steps && !HasFailure(); ++step) {
    SCOPED_TRACE("seed " + std::to_string(seed) + ", step " + std::to_string(step));
    const unsigned what = rng() % 100;
    if (what < 60) {
      Navigate(rng);
    } else if (what < 66) {
      scanner_->Refresh();
      model_.Refreshed();
      ++refreshes;
      ExpectRow(true);
      if (rng() % 2 == 0) ExpectWholeScan();
    } else if (what < 72) {
      OwnWrite(rng);
    } else if (what < 86) {
      WriterStep(rng);
    } else {
      ChildStep(child, rng);
    }
  }
  EXPECT_GT(refreshes, steps / 30);
  EXPECT_GT(reloads_, 0);
  scanner_->Refresh();
  model_.Refreshed();
  ExpectWholeScan();
}

INSTANTIATE_TEST_SUITE_P(Orders, DataSetScan, ::testing::Values("", "ById"),
                         [](const auto& info) { return std::string(*info.param ? "ById" : "Physical"); });

// Rows read ahead are served without the file lock: another opener holding it does not stop the
// scan within a run, and the scan reads the same rows as one that reads row by row.
TEST(DataSetScanRuns, RowsReadAheadNeedNoLockAndMatchSingleReads) {
  TempDir dir;
  const std::string path = dir.File("runs.zqc");
  TDbCreator::CreateFile(path, ScanSchema());
  TDbSession session;
  session.SetSessionName("Runs");
  auto ds = DataSetIn("Runs", path, "");
  for (int k = 1; k <= 2000; ++k) {
    ds->Append();
    ds->FieldByName("Id").SetAsInteger(k);
    SetValues(*ds, "n" + std::to_string(k), k % 7);
    ds->Post();
  }
  ds->Refresh();
  // Runs of 1, 2, 4 and 8 rows: rows 0, 1–2, 3–6, 7–14.
  ds->First();
  for (int k = 0; k < 7; ++k) ds->Next();
  ASSERT_EQ(ds->FieldByName("Id").AsInteger(), 8);
  Opener other(path, "S");
  other.owner->io().Lock();
  for (int k = 9; k <= 15; ++k) {
    ds->Next();
    EXPECT_EQ(ds->FieldByName("Id").AsInteger(), k);
    EXPECT_EQ(ds->FieldByName("Name").AsString(), "n" + std::to_string(k));
  }
  other.owner->io().Unlock();
  int expected = 15;
  for (ds->Next(); !ds->Eof(); ds->Next()) {
    ++expected;
    ASSERT_EQ(ds->FieldByName("Id").AsInteger(), expected);
    ASSERT_EQ(ds->FieldByName("Qty").AsInteger(), expected % 7);
  }
  EXPECT_EQ(expected, 2000);
  // Backwards, and an edit of every row visited: each row shows what was written.
  int k = 2000;
  for (ds->Last(); !ds->Bof(); ds->Prior(), --k) {
    ASSERT_EQ(ds->FieldByName("Id").AsInteger(), k);
    ds->Edit();
    ds->FieldByName("Qty").SetAsInteger(-k);
    ds->Post();
    ASSERT_EQ(ds->FieldByName("Qty").AsInteger(), -k);
  }
  EXPECT_EQ(k, 0);
  k = 0;
  for (ds->First(); !ds->Eof(); ds->Next()) ASSERT_EQ(ds->FieldByName("Qty").AsInteger(), -++k);
  EXPECT_EQ(k, 2000);
  ds->Close();
}

}  // namespace
}  // namespace zq
