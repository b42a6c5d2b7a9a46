// The data-set framework driven through a small in-memory data set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbengine/dataset/data_set.h"
#include "dbengine/dataset/data_source.h"
#include "dbengine/format/db_error.h"
#include "tests/dbengine/data_set_mem.h"
#include "tests/dbengine/engine_test_support.h"

namespace zq {
namespace {

using testing::TMemDataSet;
using testing_support::ErrorOf;

std::vector<testing::MemFieldSpec> Schema() {
  return {{"Id", ftInteger}, {"Name", ftString, 10}, {"Amount", ftFloat}};
}

void AddRows(TMemDataSet& ds, int n) {
  for (int i = 1; i <= n; ++i) {
    ds.Append();
    ds.FieldByName("Id").SetAsInteger(i);
    ds.FieldByName("Name").SetAsString("row" + std::to_string(i));
    ds.Post();
  }
}

TEST(DataSetFramework, OpenAndCloseRunTheirEventsInOrder) {
  TMemDataSet ds(Schema());
  std::vector<std::string> log;
  ds.BeforeOpen = [&](TDataSet& d) { log.push_back("BeforeOpen:" + std::to_string(d.Active())); };
  ds.AfterOpen = [&](TDataSet& d) {
    log.push_back("AfterOpen:" + std::to_string(d.State() == TDataSetState::dsBrowse));
  };
  ds.BeforeClose = [&](TDataSet&) { log.push_back("BeforeClose"); };
  ds.AfterClose = [&](TDataSet& d) { log.push_back("AfterClose:" + std::to_string(d.Active())); };
  ds.Open();
  EXPECT_TRUE(ds.Active());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.Fields().Count(), 3);
  EXPECT_EQ(ds.FieldByName("name").FieldNo(), 2);
  ds.Close();
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.Fields().Count(), 0);  // default fields go with the cursor
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeOpen:0", "AfterOpen:1", "BeforeClose",
                                           "AfterClose:0"}));
}

TEST(DataSetFramework, FailedOpenEndsInactiveAndClosesTheCursor) {
  TMemDataSet ds(Schema());
  ds.FailOpen = true;
  bool after_open = false;
  ds.AfterOpen = [&](TDataSet&) { after_open = true; };
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "open failed");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.State(), TDataSetState::dsInactive);
  EXPECT_EQ(ds.InternalCloseCalls, 1);
  EXPECT_FALSE(after_open);
  // An abort from BeforeOpen stops before the cursor is touched.
  ds.FailOpen = false;
  ds.BeforeOpen = [](TDataSet&) { TDataSet::Abort(); };
  EXPECT_THROW(ds.Open(), EAbort);
  EXPECT_EQ(ds.InternalCloseCalls, 1);
  EXPECT_FALSE(ds.Active());
}

TEST(DataSetFramework, ClosedAndOpenDataSetChecks) {
  TMemDataSet ds(Schema());
  EXPECT_EQ(ErrorOf([&] { ds.Edit(); }), "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(ErrorOf([&] { ds.Next(); }), "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(ErrorOf([&] { ds.Append(); }), "Cannot perform this operation on a closed dataset");
  ds.Open();
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("Id").SetFieldName("X"); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("Nope"); }), "Field 'Nope' not found");
  EXPECT_EQ(ErrorOf([&] { ds.GetFieldList("Id;Nope"); }), "Field 'Nope' not found");
  auto list = ds.GetFieldList("amount; ID");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->FieldName(), "Amount");
  EXPECT_EQ(list[1]->FieldName(), "Id");
}

TEST(DataSetFramework, NavigationBofEofMoveByAndRecNo) {
  TMemDataSet ds(Schema());
  ds.Open();
  AddRows(ds, 5);
  int before = 0, after = 0;
  ds.BeforeScroll = [&](TDataSet&) { ++before; };
  ds.AfterScroll = [&](TDataSet&) { ++after; };
  ds.First();
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 1);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(ds.MoveBy(3), 3);
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 4);
  EXPECT_EQ(ds.MoveBy(10), 1);
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 5);
  ds.Next();  // at the end: nothing moves, no scroll events
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 5);
  ds.Prior();
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 4);
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.MoveBy(-10), -3);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 1);
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 5);
  EXPECT_EQ(ds.RecNo(), 5);
  EXPECT_EQ(before, 6);
  EXPECT_EQ(after, 6);
  // Walking the whole set with Next visits every row once.
  std::vector<int> seen;
  for (ds.First(); !ds.Eof(); ds.Next()) seen.push_back(ds.FieldByName("Id").AsInteger());
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(DataSetFramework, EditPostCancelAndTheirEvents) {
  TMemDataSet ds(Schema());
  ds.Open();
  AddRows(ds, 2);
  std::vector<std::string> log;
  ds.BeforeEdit = [&](TDataSet&) { log.push_back("BeforeEdit"); };
  ds.AfterEdit = [&](TDataSet&) { log.push_back("AfterEdit"); };
  ds.BeforePost = [&](TDataSet&) { log.push_back("BeforePost"); };
  ds.AfterPost = [&](TDataSet&) { log.push_back("AfterPost"); };
  ds.BeforeCancel = [&](TDataSet&) { log.push_back("BeforeCancel"); };
  ds.AfterCancel = [&](TDataSet&) { log.push_back("AfterCancel"); };
  ds.First();
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("Name").SetAsString("x"); }),
            "Dataset not in edit or insert mode");
  EXPECT_EQ(ErrorOf([&] { ds.Post(); }), "Dataset not in edit or insert mode");
  ds.Edit();
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  ds.FieldByName("Name").SetAsString("changed");
  EXPECT_TRUE(ds.Modified());
  ds.Post();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "changed");
  ds.Edit();
  ds.FieldByName("Name").SetAsString("dropped");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "changed");
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost",
                                           "BeforeEdit", "AfterEdit", "BeforeCancel",
                                           "AfterCancel"}));
  // Moving away from a modified record posts it; an unmodified one is cancelled.
  ds.Edit();
  ds.FieldByName("Amount").SetAsFloat(2.5);
  ds.Next();
  ds.First();
  EXPECT_EQ(ds.FieldByName("Amount").AsFloat(), 2.5);
}

TEST(DataSetFramework, InsertAppendAndEditOnEmptyDataSet) {
  TMemDataSet ds(Schema());
  ds.Open();
  bool new_record = false;
  ds.OnNewRecord = [&](TDataSet& d) {
    new_record = true;
    d.FieldByName("Amount").SetAsFloat(9);
  };
  ds.Edit();  // empty: starts an insert
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_TRUE(new_record);
  EXPECT_FALSE(ds.Modified());  // values from OnNewRecord do not count as changes
  ds.FieldByName("Id").SetAsInteger(7);
  ds.Post();
  EXPECT_EQ(ds.StoredRows(), 1u);
  EXPECT_EQ(ds.FieldByName("Amount").AsFloat(), 9);
  ds.Append();
  ds.FieldByName("Id").SetAsInteger(8);
  ds.Post();
  ds.First();
  ds.Insert();
  ds.FieldByName("Id").SetAsInteger(6);
  ds.Post();
  std::vector<int> seen;
  for (ds.First(); !ds.Eof(); ds.Next()) seen.push_back(ds.FieldByName("Id").AsInteger());
  EXPECT_EQ(seen, (std::vector<int>{6, 7, 8}));
  // Cancelling an insert returns to the record that was current.
  ds.First();
  ds.Next();
  ds.Insert();
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 7);
  EXPECT_EQ(ds.StoredRows(), 3u);
}

TEST(DataSetFramework, DeleteAndReadOnly) {
  TMemDataSet ds(Schema());
  ds.Open();
  EXPECT_EQ(ErrorOf([&] { ds.Delete(); }), "Cannot perform this operation on an empty dataset");
  AddRows(ds, 3);
  ds.Last();
  int after_delete = 0;
  ds.AfterDelete = [&](TDataSet&) { ++after_delete; };
  ds.Delete();
  EXPECT_EQ(after_delete, 1);
  EXPECT_EQ(ds.StoredRows(), 2u);
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 2);  // stepped back onto the new last row
  ds.ReadOnly = true;
  EXPECT_EQ(ErrorOf([&] { ds.Edit(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { ds.Insert(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { ds.Append(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { ds.Delete(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.StoredRows(), 2u);
}

TEST(DataSetFramework, PostErrorEventCanRetryAbortOrFail) {
  TMemDataSet ds(Schema());
  ds.Open();
  std::vector<std::string> errors;
  TDataAction answer = TDataAction::daRetry;
  ds.OnPostError = [&](TDataSet&, const EDatabaseError& e, TDataAction& action) {
    errors.push_back(e.Message());
    action = answer;
  };
  ds.Append();
  ds.FieldByName("Id").SetAsInteger(1);
  ds.FailPost = 2;  // fails twice, then succeeds on the retries
  ds.Post();
  EXPECT_EQ(errors, (std::vector<std::string>{"post failed", "post failed"}));
  EXPECT_EQ(ds.StoredRows(), 1u);
  ds.Edit();
  ds.FailPost = 1;
  answer = TDataAction::daFail;
  EXPECT_EQ(ErrorOf([&] { ds.Post(); }), "post failed");
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);  // a failed post keeps the edit
  ds.FailPost = 1;
  answer = TDataAction::daAbort;
  EXPECT_THROW(ds.Post(), EAbort);
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  // An abort in BeforePost is silent and leaves the edit open too.
  ds.BeforePost = [](TDataSet&) { TDataSet::Abort(); };
  EXPECT_THROW(ds.Post(), EAbort);
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  ds.Cancel();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
}

TEST(DataSetFramework, BookmarksReturnToTheRecord) {
  TMemDataSet ds(Schema());
  ds.Open();
  AddRows(ds, 4);
  ds.First();
  ds.Next();
  ds.Next();
  const TBookmark b = ds.GetBookmark();
  ASSERT_EQ(b.size(), 4u);
  EXPECT_TRUE(ds.BookmarkValid(b));
  ds.First();
  ds.GotoBookmark(b);
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 3);
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(b));
  EXPECT_EQ(ErrorOf([&] { ds.GotoBookmark(b); }), "Bookmark not found");
  EXPECT_EQ(ErrorOf([&] { ds.GotoBookmark(TBookmark{1, 2}); }), "Bookmark not found");
}

TEST(DataSetFramework, CalculatedFieldsFollowTheRecord) {
  TMemDataSet ds(Schema());
  ds.Fields().Add(std::make_unique<TField>("Id", ftInteger));
  ds.Fields().Add(std::make_unique<TField>("Amount", ftFloat));
  ds.Fields().Add(std::make_unique<TField>("Double", ftFloat, 0, TFieldKind::fkCalculated));
  ds.Fields().Add(std::make_unique<TField>("Label", ftString, 12, TFieldKind::fkCalculated));
  int calcs = 0;
  ds.OnCalcFields = [&](TDataSet& d) {
    ++calcs;
    d.FieldByName("Double").SetAsFloat(d.FieldByName("Amount").AsFloat() * 2);
    d.FieldByName("Label").SetAsString("#" + d.FieldByName("Id").AsString());
  };
  ds.Open();
  EXPECT_EQ(ds.Fields().Count(), 4);  // persistent fields: no "Name" field made
  EXPECT_EQ(ds.FindField("Name"), nullptr);
  ds.Append();
  ds.FieldByName("Id").SetAsInteger(5);
  ds.FieldByName("Amount").SetAsFloat(1.25);
  EXPECT_EQ(ds.FieldByName("Double").AsFloat(), 2.5);  // recalculated on every change
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("Double").SetAsFloat(1); }),
            "Field 'Double' cannot be modified");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("Label").AsString(), "#5");
  EXPECT_EQ(calcs, 3);  // on the changes of Id and Amount, and on reading the posted record
  ds.Close();
  EXPECT_EQ(ds.Fields().Count(), 4);  // persistent fields stay after close
}

TEST(DataSetFramework, FilteredWithOnFilterRecord) {
  TMemDataSet ds(Schema());
  ds.Open();
  AddRows(ds, 6);
  ds.OnFilterRecord = [](TDataSet& d, bool& accept) {
    accept = d.FieldByName("Id").AsInteger() % 2 == 0;
  };
  ds.SetFiltered(true);
  std::vector<int> seen;
  for (ds.First(); !ds.Eof(); ds.Next()) seen.push_back(ds.FieldByName("Id").AsInteger());
  EXPECT_EQ(seen, (std::vector<int>{2, 4, 6}));
  EXPECT_EQ(ds.RecordCount(), 3);
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 6);
  EXPECT_EQ(ds.FieldByName("Id").AsInteger(), 1);
}

// A link that records what it is told.
class RecordingLink : public TDataLink {
 public:
  std::vector<std::string> log;

 protected:
  void ActiveChanged() override { log.push_back(Active() ? "active" : "inactive"); }
  void EditingChanged() override { log.push_back(Editing() ? "editing" : "browsing"); }
  void RecordChanged(TField* f) override { log.push_back(f ? "field:" + f->FieldName() : "record"); }
  void DataSetChanged() override { log.push_back("changed"); }
  void DataSetScrolled() override { log.push_back("scrolled"); }
};

TEST(DataSetFramework, DataSourcesForwardEventsToLinks) {
  TMemDataSet ds(Schema());
  TDataSource src(&ds);
  RecordingLink link;
  link.SetDataSource(&src);
  EXPECT_EQ(link.DataSet(), &ds);
  std::vector<int> states;  // the data set's state at each change the source reports
  src.OnStateChange = [&](TDataSource&) { states.push_back(static_cast<int>(ds.State())); };
  ds.Open();
  EXPECT_TRUE(link.Active());
  AddRows(ds, 2);
  link.log.clear();
  ds.First();
  ds.Next();
  ds.Edit();
  ds.FieldByName("Name").SetAsString("z");
  ds.Post();
  EXPECT_EQ(link.log, (std::vector<std::string>{"changed", "scrolled", "editing", "record",
                                                "field:Name", "browsing", "changed"}));
  link.log.clear();
  ds.DisableControls();
  ds.First();
  ds.Next();
  EXPECT_TRUE(link.log.empty());
  ds.EnableControls();
  EXPECT_EQ(link.log, (std::vector<std::string>{"changed"}));
  src.SetEnabled(false);
  EXPECT_FALSE(link.Active());
  src.SetEnabled(true);
  ds.Close();
  EXPECT_FALSE(link.Active());
  // Browse after the open; insert and browse for each appended row; edit and browse; inactive.
  using S = TDataSetState;
  EXPECT_EQ(states, (std::vector<int>{int(S::dsBrowse), int(S::dsInsert), int(S::dsBrowse), int(S::dsInsert),
                                      int(S::dsBrowse), int(S::dsEdit), int(S::dsBrowse), int(S::dsInactive)}));
}

TEST(DataSetFramework, MasterLinkFollowsTheMaster) {
  TMemDataSet master(Schema());
  TMemDataSet detail(Schema());
  TDataSource src(&master);
  TMasterDataLink link(&detail);
  std::vector<int> changes;
  int disables = 0;
  link.OnMasterChange = [&] { changes.push_back(master.FieldByName("Id").AsInteger()); };
  link.OnMasterDisable = [&] { ++disables; };
  link.SetDataSource(&src);
  detail.Open();
  master.Open();
  AddRows(master, 3);
  EXPECT_EQ(ErrorOf([&] { link.SetFieldNames("Nope"); }), "Field 'Nope' not found");
  EXPECT_TRUE(link.FieldNames().empty());
  link.SetFieldNames("Id");
  ASSERT_EQ(link.Fields().size(), 1u);
  changes.clear();
  master.First();
  master.Next();
  EXPECT_EQ(changes, (std::vector<int>{1, 2}));
  EXPECT_TRUE(src.IsLinkedTo(&detail));
  EXPECT_FALSE(src.IsLinkedTo(&master));
  const int disables_before = disables;
  master.Close();
  EXPECT_EQ(disables, disables_before + 1);
}

TEST(DataSetFramework, FieldValuesByNameList) {
  TMemDataSet ds(Schema());
  ds.Open();
  ds.Append();
  ds.SetFieldValues("Id;Name", Variant(std::vector<Variant>{Variant(3), Variant("abc")}));
  ds.Post();
  const Variant v = ds.FieldValues("Id;Name");
  ASSERT_EQ(v.kind(), Variant::Kind::Array);
  EXPECT_EQ(v.get<std::vector<Variant>>()[0], Variant(3));
  EXPECT_EQ(v.get<std::vector<Variant>>()[1], Variant("abc"));
  EXPECT_EQ(ds.FieldValues("Name"), Variant("abc"));
  ds.Edit();
  EXPECT_EQ(ErrorOf([&] { ds.SetFieldValues("Id;Name", Variant(4)); }),
            "Invalid variant type conversion");
  ds.Cancel();
}

}  // namespace
}  // namespace zq
