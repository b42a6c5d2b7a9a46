// Filter expressions end to end over a real table: every field type in the record buffer, the
// filter options, a parse error leaving the filter in force, OnFilterProgress and the find
// operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db_table_fixture.h"
#include "dbengine/format/date_time.h"

namespace zq {
namespace {

using testing::DbTableTest;
using testing::ErrorOf;

TDbSchemaRecord Person(const std::string& name, int32_t qty, bool flag, double price,
                       const std::string& birth, const std::string& at, const std::string& stamp,
                       const std::string& code, const std::string& memo, int64_t big) {
  TDbSchemaRecord r;
  r.Values = {{"Name", Variant(name)},
              {"Small", Variant(static_cast<int32_t>(-qty))},
              {"Qty", Variant(qty)},
              {"WordF", Variant(static_cast<int32_t>(qty * 1000))},
              {"Flag", Variant(flag)},
              {"Price", Variant(price)},
              {"Cost", Variant(TCurrency{price * 2})},
              {"Birth", Variant(birth)},
              {"AtTime", Variant(at)},
              {"Stamp", Variant(stamp)},
              {"Id", Variant(static_cast<int32_t>(0))},
              {"Code", Variant(code)},
              {"Big", Variant(big)},
              {"Memo", Variant(memo)},
              {"Data", Variant(std::string("\x01\x02", 2))}};
  return r;
}

using Rows = std::vector<std::string>;

class FilterTable : public DbTableTest {
 protected:
  void SetUp() override {
    TDbSchemaTable t;
    t.Name = "People";
    t.Fields = {{"Name", ftString, 20},  {"Small", ftSmallint, 0}, {"Qty", ftInteger, 0},
                {"WordF", ftWord, 0},    {"Flag", ftBoolean, 0},   {"Price", ftFloat, 0},
                {"Cost", ftCurrency, 0}, {"Birth", ftDate, 0},     {"AtTime", ftTime, 0},
                {"Stamp", ftDateTime, 0}, {"Id", ftAutoInc, 0},    {"Code", ftFixedChar, 5},
                {"Big", ftLargeint, 0},  {"Memo", ftMemo, 0},      {"Data", ftBlob, 0}};
    t.Records = {
        Person("Smith", 12, true, 2.5, "2001-03-04", "14:30:15", "2001-03-04T06:07:08", "ABC",
               "hello world", 5000000000LL),
        Person("smithers", 3, false, 0.5, "1999-12-31", "08:00:00", "1999-12-31T23:59:59", "ABCD",
               "  padded  ", -1),
        Person("Jones", 10, true, 10, "2024-02-29", "00:00:00", "2024-02-29T12:00:00", "AC", "",
               0),
        Person("Sm*", 0, false, -1.25, "1970-01-01", "23:59:59", "1970-01-01T00:00:00", "abc",
               "Memo%text", 7),
        Person("Brown", 25, true, 100, "2001-03-05", "12:00:00", "2001-03-05T00:00:00", "XYZ",
               "hello", 5000000001LL),
    };
    TDbSchema schema;
    schema.Tables.push_back(t);
    path_ = Create("filter.zqc", schema);
    table_ = Table(path_, "People");
    table_->Open();
  }
  void TearDown() override {
    if (table_) table_->Close();
  }

  // Names of the visible rows in order.
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    table_->First();
    while (!table_->Eof()) {
      out.push_back(table_->FieldByName("Name").AsString());
      table_->Next();
    }
    return out;
  }

  std::vector<std::string> Filtered(const std::string& text, TFilterOptions options = {}) {
    table_->SetFiltered(false);
    table_->SetFilter(text);
    table_->SetFilterOptions(options);
    table_->SetFiltered(true);
    return Names();
  }

  std::string path_;
  std::unique_ptr<TDbTable> table_;
};

const Rows kAll = {"Smith", "smithers", "Jones", "Sm*", "Brown"};

TEST_F(FilterTable, EdgeCasesOverTheTable) {
  EXPECT_EQ(Filtered("Name = 'Sm*'"), (Rows{"Smith", "Sm*"}));
  EXPECT_EQ(Filtered("Name = 'Sm*'", {foCaseInsensitive}), (Rows{"Smith", "smithers", "Sm*"}));
  EXPECT_EQ(Filtered("Name = 'Sm*'", {foNoPartialCompare}), (Rows{"Sm*"}));
  EXPECT_EQ(Filtered("Name = 'sm*'", {foCaseInsensitive, foNoPartialCompare}), (Rows{"Sm*"}));
  EXPECT_EQ(Filtered("Qty >= 10"), (Rows{"Smith", "Jones", "Brown"}));
}

TEST_F(FilterTable, OperatorsAndFunctionsOverEveryFieldType) {
  struct Case {
    const char* text;
    TFilterOptions options;
    Rows rows;
  };
  const Case cases[] = {
      {"Code LIKE 'A_C%'", {}, {"Smith", "smithers"}},
      {"Code LIKE 'A_C%'", {foCaseInsensitive}, {"Smith", "smithers", "Sm*"}},
      {"Flag = True AND Price > 0", {}, {"Smith", "Jones", "Brown"}},
      {"NOT Flag", {}, {"smithers", "Sm*"}},
      {"Flag <> False OR Qty = 0", {}, {"Smith", "Jones", "Sm*", "Brown"}},
      {"Small < -5", {}, {"Smith", "Jones", "Brown"}},
      {"WordF = 12000", {}, {"Smith"}},
      {"WordF + Small = 2997", {}, {"smithers"}},
      {"Qty IN (0, 25, 99)", {}, {"Sm*", "Brown"}},
      {"Price <= 0.5", {}, {"smithers", "Sm*"}},
      {"Cost = Price * 2 AND Cost > 20", {}, {"Brown"}},
      {"Qty / 4 = 2.5", {}, {"Jones"}},
      {"Qty * 2 - 1 > 20", {}, {"Smith", "Brown"}},
      {"Big > 4294967296", {}, {"Smith", "Brown"}},
      {"Big + 1 = 5000000002", {}, {"Brown"}},
      {"Big < 0", {}, {"smithers"}},
      {"Birth = '3/4/2001'", {}, {"Smith"}},
      {"Birth > '12/31/99'", {}, {"Smith", "Jones", "Brown"}},
      {"Birth >= '2001-03-04'", {}, {"Smith", "Jones", "Brown"}},
      {"Birth - '3/1/2001' IN (3, 4)", {}, {"Smith", "Brown"}},
      {"AtTime < '9:00 AM'", {}, {"smithers", "Jones"}},
      {"AtTime > '11:59:59 PM' OR AtTime = '2:30:15 PM'", {}, {"Smith"}},
      {"Stamp < '1/1/2000'", {}, {"smithers", "Sm*"}},
      {"Stamp - Birth > 43200000", {}, {"smithers"}},
      {"Stamp > Birth", {}, {"Smith", "smithers", "Jones"}},
      {"YEAR(Birth) = 2001", {}, {"Smith", "Brown"}},
      {"MONTH(Stamp) = 2 AND DAY(Birth) = 29", {}, {"Jones"}},
      {"HOUR(AtTime) >= 12", {}, {"Smith", "Sm*", "Brown"}},
      {"MINUTE(Stamp) = 59 AND SECOND(Stamp) = 59", {}, {"smithers"}},
      {"HOUR(Stamp) = 6", {}, {"Smith"}},
      {"UPPER(Name) = 'SMITH'", {}, {"Smith"}},
      {"LOWER(Name) LIKE 'sm%'", {}, {"Smith", "smithers", "Sm*"}},
      {"SUBSTRING(Name, 2, 3) = 'mit'", {}, {"Smith", "smithers"}},
      {"Memo LIKE 'hello%'", {}, {"Smith", "Brown"}},
      {"TRIM(Memo) = 'padded'", {}, {"smithers"}},
      {"TRIMLEFT(Memo) = 'padded  '", {}, {"smithers"}},
      {"TRIMRIGHT(Memo) = '  padded'", {}, {"smithers"}},
      {"Memo = ''", {}, {"Jones"}},
      {"Memo LIKE 'Memo_text'", {}, {"Sm*"}},
      {"Name + Code = 'JonesAC'", {}, {"Jones"}},
      {"Name IN ('SMITH', 'brown')", {foCaseInsensitive}, {"Smith", "Brown"}},
      {"Name IN ('SMITH', 'brown')", {}, {}},
      {"Name > 'Jones'", {}, {"Smith", "smithers", "Sm*"}},
      {"Data LIKE '__'", {}, {"Smith", "smithers", "Jones", "Sm*", "Brown"}},
      {"Stamp < GETDATE()", {}, {"Smith", "smithers", "Jones", "Sm*", "Brown"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Filtered(c.text, c.options), c.rows) << c.text;
}

TEST_F(FilterTable, AutoIncrementValues) {
  table_->First();
  const int32_t first_id = table_->FieldByName("Id").AsInteger();
  EXPECT_EQ(Filtered("Id = " + std::to_string(first_id)), (Rows{"Smith"}));
  EXPECT_EQ(Filtered("Id > " + std::to_string(first_id)), (Rows{"smithers", "Jones", "Sm*", "Brown"}));
}

TEST_F(FilterTable, AParseErrorLeavesThePreviousFilterInForce) {
  EXPECT_EQ(Filtered("Qty >= 10"), (Rows{"Smith", "Jones", "Brown"}));
  for (const auto& [filter_text, message] :
       std::vector<std::pair<std::string, std::string>>{
           {"Qty >", "Expression expected but nothing found"},
           {"Qty = 'x'", "Type mismatch in expression"},
           {"Nope = 1", "Field 'Nope' not found"},
           {"Qty IN ()", "IN predicate list may not be empty"},
           {"Qty", "Type mismatch in expression"},
           {"Birth = 'soon'", "'soon' is not a valid date"}}) {
    const std::string& text = filter_text;  // a structured binding cannot be captured by every compiler
    EXPECT_EQ(ErrorOf([&] { table_->SetFilter(text); }), message) << text;
    EXPECT_EQ(table_->Filter(), "Qty >= 10") << text;
    EXPECT_TRUE(table_->Filtered());
    EXPECT_EQ(table_->RecordCount(), 3) << text;
    EXPECT_EQ(Names(), (Rows{"Smith", "Jones", "Brown"})) << text;
  }
  // Changing the options re-applies the filter in force.
  table_->SetFilter("Name = 'sm*'");
  EXPECT_EQ(Names(), (Rows{"smithers"}));
  table_->SetFilterOptions({foCaseInsensitive});
  EXPECT_EQ(Names(), (Rows{"Smith", "smithers", "Sm*"}));
  table_->SetFiltered(false);
  EXPECT_EQ(Names(), kAll);
}

TEST_F(FilterTable, FilterProgressSequences) {
  std::vector<int> percents;
  table_->OnFilterProgress = [&](TDbTable&, int percent) { percents.push_back(percent); };
  // Accepting every row: once per row, 0 first, then increasing whole percentages.
  EXPECT_EQ(Filtered("Qty >= 0"), kAll);
  EXPECT_EQ(percents, (std::vector<int>{0, 20, 40, 60, 80}));
  EXPECT_EQ(table_->RecordCount(), 5);
  // A narrowing filter reports the same sequence over the rows it scans.
  percents.clear();
  EXPECT_EQ(Filtered("Qty > 10"), (Rows{"Smith", "Brown"}));
  EXPECT_EQ(percents, (std::vector<int>{0, 20, 40, 60, 80}));
  // Changing the text re-filters from all rows; a failing text reports nothing.
  percents.clear();
  table_->SetFilter("Qty < 5");
  EXPECT_EQ(percents, (std::vector<int>{0, 20, 40, 60, 80}));
  EXPECT_EQ(Names(), (Rows{"smithers", "Sm*"}));
  percents.clear();
  EXPECT_EQ(ErrorOf([&] { table_->SetFilter("Qty <"); }), "Expression expected but nothing found");
  EXPECT_TRUE(percents.empty());
}

TEST_F(FilterTable, FindOperationsUseTheFilterText) {
  table_->SetFilter("Flag = True");
  ASSERT_FALSE(table_->Filtered());
  EXPECT_TRUE(table_->FindFirst());
  EXPECT_EQ(table_->FieldByName("Name").AsString(), "Smith");
  EXPECT_TRUE(table_->FindNext());
  EXPECT_EQ(table_->FieldByName("Name").AsString(), "Jones");
  EXPECT_TRUE(table_->FindNext());
  EXPECT_EQ(table_->FieldByName("Name").AsString(), "Brown");
  EXPECT_FALSE(table_->FindNext());
  EXPECT_EQ(table_->FieldByName("Name").AsString(), "Brown");  // stays where it was
  EXPECT_TRUE(table_->FindPrior());
  EXPECT_EQ(table_->FieldByName("Name").AsString(), "Jones");
  EXPECT_TRUE(table_->FindLast());
  EXPECT_EQ(table_->FieldByName("Name").AsString(), "Brown");
  table_->SetFilter("Name = 'Sm*'");
  EXPECT_TRUE(table_->FindLast());
  EXPECT_EQ(table_->FieldByName("Name").AsString(), "Sm*");
  table_->SetFilterOptions({foNoPartialCompare});
  EXPECT_TRUE(table_->FindFirst());
  EXPECT_EQ(table_->FieldByName("Name").AsString(), "Sm*");
  table_->SetFilter("Qty > 1000");
  table_->First();
  EXPECT_FALSE(table_->FindFirst());
  EXPECT_EQ(table_->FieldByName("Name").AsString(), "Smith");
  // All rows stay visible: find does not filter.
  EXPECT_EQ(table_->RecordCount(), 5);
}

}  // namespace
}  // namespace zq
