// Table data sets over indexes: visible order, posting key changes, locate and lookup, ranges
// from a master, filters, deletes and unique keys.
#include <gtest/gtest.h>

#include "dbengine/dataset/data_source.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/table_io.h"
#include "tests/dbengine/db_table_fixture.h"

namespace zq {
namespace {

using testing::ErrorOf;

TDbSchemaRecord Person(int id, const char* name, const char* city, int age) {
  return {{{"Id", Variant(id)}, {"Name", Variant(name)}, {"City", Variant(city)}, {"Age", Variant(age)}}};
}

TDbSchema People() {
  TDbSchema s;
  TDbSchemaTable t{"People",
                   {{"Id", ftInteger}, {"Name", ftString, 20}, {"City", ftString, 20}, {"Age", ftSmallint}},
                   {{"PK", {"Id"}, tiPrimary},
                    {"ByName", {"Name"}, tiCaseInsensitive},
                    {"ByNameCs", {"Name"}, 0},
                    {"ByAgeDesc", {"Age"}, tiDescending}},
                   {}};
  t.Records = {Person(3, "carol", "Oran", 30), Person(1, "alice", "Alger", 25),
               Person(4, "dave", "Blida", 40), Person(2, "Bob", "alger", 35),
               Person(5, "Alfred", "Annaba", 20)};
  s.Tables = {t};
  TDbSchemaTable plain{"Plain", {{"N", ftInteger}}, {}, {}};
  for (int n : {5, 3, 9}) plain.Records.push_back({{{"N", Variant(n)}}});
  s.Tables.push_back(plain);
  return s;
}

std::vector<std::string> Column(TDbTable& t, const char* field) {
  std::vector<std::string> out;
  for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName(field).AsString());
  return out;
}

class DbTableIndex : public testing::DbTableTest {
 protected:
  void SetUp() override { path = Create("people.db", People()); }
  std::string path;
};

TEST_F(DbTableIndex, OrderFollowsIndexNameWithThePrimaryAsDefault) {
  auto t = Table(path, "People");
  t->Open();
  EXPECT_EQ(t->CurrentIndex(), 0);  // no IndexName: the primary index
  EXPECT_EQ(Column(*t, "Id"), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  t->SetIndexName("byname");
  EXPECT_EQ(t->CurrentIndex(), 1);
  EXPECT_EQ(Column(*t, "Name"), (std::vector<std::string>{"Alfred", "alice", "Bob", "carol", "dave"}));
  t->SetIndexName("ByAgeDesc");
  EXPECT_EQ(Column(*t, "Age"), (std::vector<std::string>{"40", "35", "30", "25", "20"}));
  t->SetIndexName("unknown");  // an unknown name falls back to the primary index
  EXPECT_EQ(t->CurrentIndex(), 0);
  ASSERT_EQ(t->IndexDefs().Count(), 4);
  EXPECT_EQ(t->IndexDefs()[1].Name(), "ByName");
  EXPECT_EQ(t->IndexDefs()[1].Fields(), "Name");
  EXPECT_EQ(t->IndexDefs()[1].Options(), ixCaseInsensitive);
  EXPECT_EQ(t->IndexDefs()[0].Options(), ixPrimary);
  EXPECT_EQ(t->IndexDefs()[3].Options(), ixDescending);

  auto plain = Table(path, "Plain");
  plain->Open();
  EXPECT_EQ(plain->CurrentIndex(), -1);  // no primary index: physical order
  EXPECT_EQ(Column(*plain, "N"), (std::vector<std::string>{"5", "3", "9"}));
}

TEST_F(DbTableIndex, PostingAKeyChangeMovesTheCurrentRow) {
  auto t = Table(path, "People");
  t->SetIndexName("ByName");
  t->Open();
  ASSERT_TRUE(t->Locate("Name", Variant("bob"), loCaseInsensitive));
  EXPECT_EQ(t->RecNo(), 3);
  t->Edit();
  t->FieldByName("Name").SetAsString("zora");
  t->Post();
  EXPECT_EQ(t->FieldByName("Name").AsString(), "zora");  // still the current row
  EXPECT_EQ(t->RecNo(), 5);
  EXPECT_EQ(Column(*t, "Name"), (std::vector<std::string>{"Alfred", "alice", "carol", "dave", "zora"}));
  // And back to the front.
  t->Last();
  t->Edit();
  t->FieldByName("Name").SetAsString("Aaron");
  t->Post();
  EXPECT_EQ(t->RecNo(), 1);
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 2);
  // The file keeps that order after reopening.
  t->Close();
  t->Open();
  EXPECT_EQ(Column(*t, "Name"), (std::vector<std::string>{"Aaron", "Alfred", "alice", "carol", "dave"}));
}

TEST_F(DbTableIndex, AppendedRowsTakeTheirPlaceAndBecomeCurrent) {
  auto t = Table(path, "People");
  t->SetIndexName("ByName");
  t->Open();
  t->Append();
  t->FieldByName("Id").SetAsInteger(6);
  t->FieldByName("Name").SetAsString("Cedric");
  t->Post();
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 6);
  EXPECT_EQ(t->RecNo(), 5);
  EXPECT_EQ(Column(*t, "Name"),
            (std::vector<std::string>{"Alfred", "alice", "Bob", "carol", "Cedric", "dave"}));
  // A duplicate primary key is refused before anything is written; the insert stays open.
  t->Append();
  t->FieldByName("Id").SetAsInteger(6);
  t->FieldByName("Name").SetAsString("Dup");
  EXPECT_EQ(ErrorOf([&] { t->Post(); }), "Invalid unique field value '6'");
  EXPECT_EQ(t->State(), TDataSetState::dsInsert);
  t->Cancel();
  EXPECT_EQ(t->RecordCount(), 6);
}

TEST_F(DbTableIndex, DeleteRemovesTheRowAndStepsBackAtTheEnd) {
  auto t = Table(path, "People");
  t->Open();
  t->Last();
  t->Delete();
  EXPECT_EQ(t->RecordCount(), 4);
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 4);
  t->First();
  t->Delete();
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 2);
  t->Close();
  t->Open();
  EXPECT_EQ(Column(*t, "Id"), (std::vector<std::string>{"2", "3", "4"}));
}

TEST_F(DbTableIndex, LocateWithAndWithoutAMatchingIndex) {
  auto t = Table(path, "People");
  t->Open();
  int scrolls = 0;
  t->AfterScroll = [&](TDataSet&) { ++scrolls; };
  // Primary index on Id.
  EXPECT_TRUE(t->Locate("Id", Variant(4), 0));
  EXPECT_EQ(t->FieldByName("Name").AsString(), "dave");
  EXPECT_EQ(scrolls, 1);
  EXPECT_FALSE(t->Locate("Id", Variant(42), 0));
  EXPECT_EQ(t->FieldByName("Name").AsString(), "dave");  // unchanged when not found
  EXPECT_EQ(scrolls, 1);
  // Case-insensitive index on Name, partial key.
  EXPECT_TRUE(t->Locate("Name", Variant("AL"), loCaseInsensitive | loPartialKey));
  EXPECT_EQ(t->FieldByName("Name").AsString(), "Alfred");  // first in that index's order
  // Case-sensitive: the case-sensitive index is used.
  EXPECT_FALSE(t->Locate("Name", Variant("BOB"), 0));
  EXPECT_TRUE(t->Locate("Name", Variant("Bob"), 0));
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 2);
  // No index on City: a scan in visible order.
  EXPECT_TRUE(t->Locate("City", Variant("ALGER"), loCaseInsensitive));
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 1);
  EXPECT_FALSE(t->Locate("City", Variant("ALGER"), 0));
  EXPECT_TRUE(t->Locate("City", Variant("An"), loPartialKey));
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 5);
  EXPECT_FALSE(t->Locate("City", Variant("An"), 0));
  // Several key fields.
  EXPECT_TRUE(t->Locate("City;Age", Variant(std::vector<Variant>{Variant("alger"), Variant(35)}), 0));
  EXPECT_EQ(t->FieldByName("Name").AsString(), "Bob");
  EXPECT_EQ(ErrorOf([&] { t->Locate("Nope", Variant(1), 0); }), "Field 'Nope' not found");
  EXPECT_EQ(ErrorOf([&] { t->Locate("City;Age", Variant(1), 0); }), "Invalid variant type conversion");
}

TEST_F(DbTableIndex, LookupReturnsValuesWithoutMoving) {
  auto t = Table(path, "People");
  t->Open();
  t->Locate("Id", Variant(3), 0);
  const Variant v = t->Lookup("Name", Variant("dave"), "Id;City");
  ASSERT_EQ(v.kind(), Variant::Kind::Array);
  EXPECT_EQ(v.get<std::vector<Variant>>()[0], Variant(4));
  EXPECT_EQ(v.get<std::vector<Variant>>()[1], Variant("Blida"));
  EXPECT_EQ(t->Lookup("Id", Variant(2), "Name"), Variant("Bob"));
  EXPECT_TRUE(t->Lookup("Id", Variant(99), "Name").IsNull());
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 3);  // the current row stays
}

TEST_F(DbTableIndex, BookmarksAndGotoBookmark) {
  auto t = Table(path, "People");
  t->Open();
  t->Locate("Id", Variant(4), 0);
  const TBookmark b = t->GetBookmark();
  EXPECT_TRUE(t->BookmarkValid(b));
  t->First();
  t->GotoBookmark(b);
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 4);
  t->Delete();
  EXPECT_FALSE(t->BookmarkValid(b));
  EXPECT_EQ(ErrorOf([&] { t->GotoBookmark(b); }), "Bookmark not found");
}

TEST_F(DbTableIndex, FilterByEventAndByExpression) {
  auto t = Table(path, "People");
  std::vector<int> progress;
  t->OnFilterProgress = [&](TDbTable&, int percent) { progress.push_back(percent); };
  t->Open();
  // An expression that accepts every row leaves the rows as they are.
  t->SetFilter("Age > 0");
  t->SetFiltered(true);
  EXPECT_EQ(t->RecordCount(), 5);
  EXPECT_EQ(progress, (std::vector<int>{0, 20, 40, 60, 80}));
  t->SetFilter("Age >= 30");
  EXPECT_EQ(Column(*t, "Id"), (std::vector<std::string>{"2", "3", "4"}));
  t->OnFilterRecord = [](TDataSet& d, bool& accept) { accept = d.FieldByName("Id").AsInteger() != 3; };
  t->SetFiltered(true);  // unchanged: only moves to the first row
  EXPECT_EQ(t->RecordCount(), 3);
  t->SetFiltered(false);
  t->SetFiltered(true);
  EXPECT_EQ(Column(*t, "Id"), (std::vector<std::string>{"2", "4"}));
  // A malformed text leaves everything as it was.
  EXPECT_EQ(ErrorOf([&] { t->SetFilter("Age >"); }), "Expression expected but nothing found");
  EXPECT_EQ(t->Filter(), "Age >= 30");
  EXPECT_EQ(t->RecordCount(), 2);
  t->SetFiltered(false);
  EXPECT_EQ(t->RecordCount(), 5);
  // FindFirst / FindNext with the filter criteria while unfiltered.
  t->OnFilterRecord = nullptr;
  t->SetFilter("City = 'alger'");
  t->SetFilterOptions({foCaseInsensitive});
  EXPECT_TRUE(t->FindFirst());
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 1);
  EXPECT_TRUE(t->FindNext());
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 2);
  EXPECT_FALSE(t->FindNext());
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 2);  // not found: the row stays
  EXPECT_TRUE(t->FindLast());
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 2);
  EXPECT_TRUE(t->FindPrior());
  EXPECT_EQ(t->FieldByName("Id").AsInteger(), 1);
}

TEST_F(DbTableIndex, ChangingTheIndexShowsTheNewOrderUnfiltered) {
  auto t = Table(path, "People");
  t->Open();
  t->SetFilter("Age >= 30");
  t->SetFiltered(true);
  EXPECT_EQ(Column(*t, "Id"), (std::vector<std::string>{"2", "3", "4"}));
  t->SetIndexName("ByName");
  EXPECT_TRUE(t->Filtered());  // kept, but not applied to the new order
  EXPECT_EQ(Column(*t, "Name"), (std::vector<std::string>{"Alfred", "alice", "Bob", "carol", "dave"}));
  t->SetFiltered(false);
  t->SetFiltered(true);
  EXPECT_EQ(Column(*t, "Name"), (std::vector<std::string>{"Bob", "carol", "dave"}));
}

TEST_F(DbTableIndex, FilteredTableKeepsPostedRowsInKeyOrder) {
  auto t = Table(path, "People");
  t->Open();
  t->SetFilter("Age >= 30");
  t->SetFiltered(true);
  t->Append();
  t->FieldByName("Id").SetAsInteger(0);
  t->FieldByName("Age").SetAsInteger(50);
  t->Post();
  EXPECT_EQ(t->RecNo(), 1);
  EXPECT_EQ(Column(*t, "Id"), (std::vector<std::string>{"0", "2", "3", "4"}));
}

TEST_F(DbTableIndex, RefreshSeesRowsAddedThroughAnotherDataSet) {
  auto a = Table(path, "Plain");
  auto b = Table(path, "Plain");
  a->Open();
  b->Open();
  b->Append();
  b->FieldByName("N").SetAsInteger(11);
  b->Post();
  EXPECT_EQ(a->RecordCount(), 3);
  a->Last();
  a->Refresh();
  EXPECT_EQ(a->RecordCount(), 4);
  EXPECT_EQ(a->FieldByName("N").AsInteger(), 9);  // refresh keeps the current row
}

TDbSchema Orders() {
  TDbSchema s;
  TDbSchemaTable orders{"Orders", {{"Id", ftInteger}, {"Client", ftString, 10}},
                        {{"PK", {"Id"}, tiPrimary}}, {}};
  for (int i = 1; i <= 3; ++i)
    orders.Records.push_back({{{"Id", Variant(i)}, {"Client", Variant("c" + std::to_string(i))}}});
  TDbSchemaTable lines{"Lines", {{"OrderId", ftInteger}, {"Line", ftInteger}, {"Qty", ftInteger}},
                       {{"ByOrder", {"OrderId", "Line"}, tiUnique}}, {}};
  for (auto [o, l, q] : std::vector<std::tuple<int, int, int>>{
           {2, 1, 10}, {1, 1, 5}, {2, 2, 20}, {3, 1, 7}, {2, 3, 30}, {1, 2, 6}})
    lines.Records.push_back({{{"OrderId", Variant(o)}, {"Line", Variant(l)}, {"Qty", Variant(q)}}});
  s.Tables = {orders, lines};
  return s;
}

TEST_F(DbTableIndex, DetailFollowsItsMaster) {
  const std::string p = Create("orders.db", Orders());
  auto master = Table(p, "Orders");
  auto detail = Table(p, "Lines");
  TDataSource source(master.get());
  detail->SetIndexName("ByOrder");
  detail->SetMasterSource(&source);
  detail->SetMasterFields("Id");
  master->Open();
  detail->Open();
  EXPECT_TRUE(detail->RangeActive());
  EXPECT_EQ(Column(*detail, "Qty"), (std::vector<std::string>{"5", "6"}));
  master->Next();
  EXPECT_EQ(Column(*detail, "Qty"), (std::vector<std::string>{"10", "20", "30"}));
  master->Last();
  EXPECT_EQ(Column(*detail, "Qty"), (std::vector<std::string>{"7"}));
  // A new detail row for the current master shows at once.
  detail->Append();
  detail->FieldByName("OrderId").SetAsInteger(3);
  detail->FieldByName("Line").SetAsInteger(2);
  detail->FieldByName("Qty").SetAsInteger(8);
  detail->Post();
  EXPECT_EQ(Column(*detail, "Qty"), (std::vector<std::string>{"7", "8"}));
  // The range takes the place of a filter: applying it switches the filter off, and switching a
  // filter off drops the range until the master moves again.
  master->First();
  detail->SetFilter("Qty > 5");
  detail->SetFiltered(true);
  EXPECT_EQ(Column(*detail, "Qty"), (std::vector<std::string>{"6"}));
  master->Next();
  EXPECT_FALSE(detail->Filtered());
  EXPECT_TRUE(detail->RangeActive());
  EXPECT_EQ(Column(*detail, "Qty"), (std::vector<std::string>{"10", "20", "30"}));
  detail->SetFiltered(true);
  EXPECT_EQ(Column(*detail, "Qty"), (std::vector<std::string>{"10", "20", "30"}));
  detail->SetFiltered(false);
  EXPECT_FALSE(detail->RangeActive());
  EXPECT_EQ(detail->RecordCount(), 7);
  detail->SetFiltered(true);
  EXPECT_EQ(detail->RecordCount(), 6);  // every row but the 5 of order 1
  detail->SetIndexName("ByOrder");     // the range comes back in place of the filter
  EXPECT_FALSE(detail->Filtered());
  EXPECT_EQ(Column(*detail, "Qty"), (std::vector<std::string>{"10", "20", "30"}));
  master->Last();
  // Closing the master drops the range.
  master->Close();
  EXPECT_FALSE(detail->RangeActive());
  EXPECT_EQ(detail->RecordCount(), 7);
  // A chain back to the detail is refused.
  TDataSource detail_source(detail.get());
  EXPECT_EQ(ErrorOf([&] { master->SetMasterSource(&detail_source); }),
            "Circular datalinks are not allowed");
  TDataSource self(master.get());
  EXPECT_EQ(ErrorOf([&] { master->SetMasterSource(&self); }), "Circular datalinks are not allowed");
  // A bad master field name keeps the previous one.
  EXPECT_EQ(ErrorOf([&] {
              master->Open();
              detail->SetMasterFields("Nope");
            }),
            "Field 'Nope' not found");
  EXPECT_EQ(detail->MasterFields(), "Id");
}

}  // namespace
}  // namespace zq
