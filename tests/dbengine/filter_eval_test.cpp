// Evaluation of filter expressions over a record holding every field type, with the filter
// options on and off.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "filter_test_fixture.h"
#include "tests/support/run_program.h"

namespace zq {
namespace {

using testing::FilterTest;

const TFilterOptions kNone{};
const TFilterOptions kCaseInsensitive{foCaseInsensitive};
const TFilterOptions kNoPartial{foNoPartialCompare};
const TFilterOptions kBoth{foCaseInsensitive, foNoPartialCompare};

class FilterEval : public FilterTest {
 protected:
  void SetUp() override {
    source.SetString("Name", "Smith");
    source.SetString("City", "Paris");
    source.SetString("Code", "ABC");
    source.SetString("Wide", "wide");
    source.SetString("Guid", "{00000000-0000-0000-0000-000000000001}");
    source.SetRaw<int16_t>("Small", -7);
    source.SetRaw<int32_t>("Qty", 12);
    source.SetRaw<int32_t>("Amount", 5);
    source.SetRaw<uint16_t>("WordF", 65535);
    source.SetBool("Flag", true);
    source.SetBool("Active", false);
    source.SetRaw<double>("Price", 2.5);
    source.SetRaw<double>("Cost", 100.25);
    source.SetDate("Birth", 2001, 3, 4);
    source.SetDate("Birth2", 2001, 3, 1);
    source.SetTime("AtTime", 14, 30, 15, 250);
    source.SetDateTime("Stamp", 2001, 3, 4, 6, 7, 8);
    source.SetRaw<int32_t>("Id", 42);
    source.SetRaw<int64_t>("Big", 5000000000LL);
    source.SetBlob("Memo", "  Memo text  ");
    source.SetBlob("Data", std::string("bin\0ary", 7));
    source.SetBlob("FmtMemo", "rich");
  }
};

TEST_F(FilterEval, PartialCompareWithAsterisk) {
  // Name = 'Sm*' matches names beginning with Sm unless partial compare is off.
  EXPECT_TRUE(Eval("Name = 'Sm*'"));
  EXPECT_TRUE(Eval("Name = 'Sm*'", kCaseInsensitive));
  EXPECT_FALSE(Eval("Name = 'Sm*'", kNoPartial));
  EXPECT_FALSE(Eval("Name = 'sm*'"));
  EXPECT_TRUE(Eval("Name = 'sm*'", kCaseInsensitive));
  EXPECT_FALSE(Eval("Name = 'sm*'", kBoth));
  source.SetString("Name", "Sm*");
  EXPECT_TRUE(Eval("Name = 'Sm*'", kNoPartial));  // exactly S, m and the asterisk
  source.SetString("Name", "Sm*x");
  EXPECT_FALSE(Eval("Name = 'Sm*'", kNoPartial));
  source.SetString("Name", "Jones");
  EXPECT_FALSE(Eval("Name = 'Sm*'"));
  EXPECT_TRUE(Eval("Name <> 'Sm*'"));
  // Only the right-hand constant carries the partial length.
  source.SetString("Name", "Sm*");
  EXPECT_FALSE(Eval("'Smith' = Name"));
  // Ordering operators compare the prefix too.
  source.SetString("Name", "Smz");
  EXPECT_FALSE(Eval("Name > 'Sm*'"));
  EXPECT_TRUE(Eval("Name > 'Sm*'", kNoPartial));
  // IN uses the same equality.
  source.SetString("Name", "Jones");
  EXPECT_TRUE(Eval("Name IN ('Sm*', 'Jo*')"));
  EXPECT_FALSE(Eval("Name IN ('Sm*', 'Jo*')", kNoPartial));
}

TEST_F(FilterEval, StringComparisonsFollowTheLocaleOrder) {
  EXPECT_TRUE(Eval("Name = 'Smith'"));
  EXPECT_FALSE(Eval("Name = 'smith'"));
  EXPECT_TRUE(Eval("Name = 'smith'", kCaseInsensitive));
  EXPECT_TRUE(Eval("Name <> 'smith'"));
  EXPECT_FALSE(Eval("Name <> 'smith'", kCaseInsensitive));
  EXPECT_TRUE(Eval("Name > 'Jones'"));
  EXPECT_TRUE(Eval("Name < 'Taylor'"));
  EXPECT_TRUE(Eval("Name >= 'Smith'"));
  EXPECT_TRUE(Eval("Name <= 'Smith'"));
  EXPECT_FALSE(Eval("Name < 'Smith'"));
  // Linguistic order, not byte order: 'b' sorts before 'C' although 'C' < 'b' in ASCII, and an
  // accented e sorts next to e, not after z.
  source.SetString("Name", "b");
  EXPECT_TRUE(Eval("Name < 'C'"));
  source.SetString("Name", "\xE9t\xE9");
  EXPECT_TRUE(Eval("Name < 'z'"));
  EXPECT_TRUE(Eval("Name > 'd'"));
  // Every text type compares as text.
  EXPECT_TRUE(Eval("Code = 'ABC'"));
  EXPECT_TRUE(Eval("Wide = 'wide'"));
  EXPECT_TRUE(Eval("Guid = '{00000000-0000-0000-0000-000000000001}'"));
  EXPECT_TRUE(Eval("Memo = '  Memo text  '"));
  EXPECT_TRUE(Eval("FmtMemo = 'RICH'", kCaseInsensitive));
  EXPECT_TRUE(Eval("City < Name OR City > Name"));
  EXPECT_TRUE(Eval("Code < Wide"));
}

TEST_F(FilterEval, NumbersCompareByValueInTheWiderType) {
  EXPECT_TRUE(Eval("Small = -7"));
  EXPECT_TRUE(Eval("Small < 0"));
  EXPECT_TRUE(Eval("WordF = 65535"));
  EXPECT_TRUE(Eval("WordF > Small"));
  EXPECT_TRUE(Eval("Qty = 12"));
  EXPECT_TRUE(Eval("Qty = 12.0"));
  EXPECT_FALSE(Eval("Qty = 12.5"));
  EXPECT_TRUE(Eval("Qty < 12.5"));
  EXPECT_TRUE(Eval("Id = 42"));
  EXPECT_TRUE(Eval("Big = 5000000000"));
  EXPECT_TRUE(Eval("Big > Qty"));
  EXPECT_TRUE(Eval("Big > 2147483647"));
  EXPECT_TRUE(Eval("Price = 2.5"));
  EXPECT_TRUE(Eval("Cost = 100.25"));
  EXPECT_TRUE(Eval("Cost > Price"));
  EXPECT_TRUE(Eval("Qty <> 13"));
  EXPECT_TRUE(Eval("Qty >= 12"));
  EXPECT_FALSE(Eval("Qty >= 13"));
  EXPECT_TRUE(Eval("Qty <= 12"));
  EXPECT_FALSE(Eval("Qty <= 11"));
  // 64-bit values that differ only beyond a double's precision still compare exactly.
  source.SetRaw<int64_t>("Big", (1LL << 60) + 1);
  EXPECT_TRUE(Eval("Big > Big - 1"));
}

TEST_F(FilterEval, GreaterOrEqualIsTheNegationOfLess) {
  // Qty >= 10 is NOT (Qty < 10): for a value that is neither (NaN) >= holds and < does not.
  source.SetRaw<double>("Price", std::numeric_limits<double>::quiet_NaN());
  EXPECT_FALSE(Eval("Price < 10"));
  EXPECT_TRUE(Eval("Price >= 10"));
  EXPECT_FALSE(Eval("Price > 10"));
  EXPECT_TRUE(Eval("Price <= 10"));
  source.SetRaw<int32_t>("Qty", 10);
  EXPECT_TRUE(Eval("Qty >= 10"));
  source.SetRaw<int32_t>("Qty", 9);
  EXPECT_FALSE(Eval("Qty >= 10"));
}

TEST_F(FilterEval, BooleansAndLogic) {
  EXPECT_TRUE(Eval("Flag"));
  EXPECT_FALSE(Eval("Active"));
  EXPECT_TRUE(Eval("Flag = True"));
  EXPECT_TRUE(Eval("Active = False"));
  EXPECT_TRUE(Eval("Flag <> Active"));
  EXPECT_TRUE(Eval("NOT Active"));
  EXPECT_TRUE(Eval("Flag = True AND Price > 0"));
  EXPECT_FALSE(Eval("Flag = True AND Price > 3"));
  EXPECT_TRUE(Eval("Active OR Qty = 12"));
  EXPECT_FALSE(Eval("Active OR Qty = 13"));
  EXPECT_TRUE(Eval("Flag IN (Active, True)"));
  // Any non-zero byte of the 16-bit value is true.
  source.SetRaw<uint16_t>("Active", 0x0100);
  EXPECT_TRUE(Eval("Active = True"));
}

TEST_F(FilterEval, AndOrEvaluateTheRightSideOnlyWhenNeeded) {
  parser.Parse("Active AND Name = 'x'");
  source.reads = 0;
  EXPECT_FALSE(parser.Evaluate({}).get<bool>());
  EXPECT_EQ(source.reads, 1);  // Name was not read
  parser.Parse("Flag OR Name = 'x'");
  source.reads = 0;
  EXPECT_TRUE(parser.Evaluate({}).get<bool>());
  EXPECT_EQ(source.reads, 1);
  parser.Parse("Flag AND Name = 'x'");
  source.reads = 0;
  EXPECT_FALSE(parser.Evaluate({}).get<bool>());
  EXPECT_EQ(source.reads, 2);
  // IN stops at the first match.
  parser.Parse("Qty IN (12, Id, Small)");
  source.reads = 0;
  EXPECT_TRUE(parser.Evaluate({}).get<bool>());
  EXPECT_EQ(source.reads, 1);
}

TEST_F(FilterEval, Like) {
  source.SetString("Code", "ABC");
  EXPECT_TRUE(Eval("Code LIKE 'A_C%'"));
  source.SetString("Code", "ABCD");
  EXPECT_TRUE(Eval("Code LIKE 'A_C%'"));
  source.SetString("Code", "AC");
  EXPECT_FALSE(Eval("Code LIKE 'A_C%'"));
  source.SetString("Code", "abcd");
  EXPECT_FALSE(Eval("Code LIKE 'A_C%'"));
  EXPECT_TRUE(Eval("Code LIKE 'A_C%'", kCaseInsensitive));
  EXPECT_TRUE(Eval("Code LIKE 'A_C%'", kBoth));
  // '*' is no wildcard in LIKE.
  EXPECT_FALSE(Eval("Name LIKE 'Sm*'"));
  EXPECT_TRUE(Eval("Name LIKE '%'"));
  EXPECT_TRUE(Eval("Name LIKE '%th'"));
  EXPECT_TRUE(Eval("Name LIKE '%m%t%'"));
  EXPECT_FALSE(Eval("Name LIKE '%x%'"));
  EXPECT_TRUE(Eval("Name LIKE '_____'"));
  EXPECT_FALSE(Eval("Name LIKE '______'"));
  EXPECT_TRUE(Eval("Memo LIKE '%text%'"));
  EXPECT_TRUE(Eval("City LIKE Name OR Name LIKE 'S%'"));
  // Accented letters fold too when ignoring case.
  source.SetString("Name", "\xC9T\xC9");
  EXPECT_TRUE(Eval("Name LIKE '\xE9t\xE9'", kCaseInsensitive));
  EXPECT_FALSE(Eval("Name LIKE '\xE9t\xE9'"));
  // Backtracking over many '%' stays fast and correct.
  source.SetBlob("Memo", std::string(2000, 'a') + "b");
  EXPECT_EQ(testing_support::InChildWithin([&] { return Eval("Memo LIKE '%a%a%a%a%a%a%a%b'") ? 1 : 0; }), 1);
  EXPECT_EQ(testing_support::InChildWithin([&] { return Eval("Memo LIKE '%a%a%a%a%a%a%a%c'") ? 1 : 0; }), 0);
}

TEST_F(FilterEval, InLists) {
  EXPECT_TRUE(Eval("Qty IN (1, 12, 3)"));
  EXPECT_FALSE(Eval("Qty IN (1, 2, 3)"));
  EXPECT_TRUE(Eval("Price IN (2.5)"));
  EXPECT_TRUE(Eval("City IN ('London', 'Paris')"));
  EXPECT_TRUE(Eval("City IN ('paris')", kCaseInsensitive));
  EXPECT_FALSE(Eval("City IN ('paris')"));
  EXPECT_TRUE(Eval("Birth IN ('3/4/2001')"));
  EXPECT_TRUE(Eval("Birth IN (Birth2 + 3)"));
  EXPECT_TRUE(Eval("NOT Qty IN (1, 2)"));
  EXPECT_TRUE(Eval("Qty + 1 IN (13)"));
}

TEST_F(FilterEval, Arithmetic) {
  EXPECT_TRUE(Eval("Amount / 2 = 2.5"));  // integer field, floating-point quotient
  EXPECT_TRUE(Eval("Qty / 0 > 1000000"));   // division by zero: infinity, no crash
  EXPECT_TRUE(Eval("Qty + Small = 5"));
  EXPECT_TRUE(Eval("Qty - Small = 19"));
  EXPECT_TRUE(Eval("Qty * Small = -84"));
  EXPECT_TRUE(Eval("WordF + 1 = 65536"));  // word results widen to integer
  EXPECT_TRUE(Eval("Small * Small = 49"));
  EXPECT_TRUE(Eval("Big + Qty = 5000000012"));
  EXPECT_TRUE(Eval("Price * 2 = 5"));
  EXPECT_TRUE(Eval("Cost - Price = 97.75"));
  EXPECT_TRUE(Eval("Qty + Price = 14.5"));
  EXPECT_TRUE(Eval("2 + 3 * 4 = 14"));
  EXPECT_TRUE(Eval("(2 + 3) * 4 = 20"));
  EXPECT_TRUE(Eval("10 - 2 - 3 = 5"));
  EXPECT_TRUE(Eval("Name + City = 'SmithParis'"));
  EXPECT_TRUE(Eval("Name + ' ' + Code = 'Smith ABC'"));
  EXPECT_TRUE(Eval("Memo + Name LIKE '%text  Smith'"));
  // 32-bit integer arithmetic wraps; 64-bit keeps the value.
  source.SetRaw<int32_t>("Qty", 2147483647);
  EXPECT_TRUE(Eval("Qty + 1 = -2147483648"));
  source.SetRaw<int64_t>("Big", 2147483647);
  EXPECT_TRUE(Eval("Big + 1 = 2147483648"));
  source.SetRaw<int64_t>("Big", std::numeric_limits<int64_t>::max());
  EXPECT_TRUE(Eval("Big + 1 < 0"));
}

TEST_F(FilterEval, DateAndTimeComparisons) {
  EXPECT_TRUE(Eval("Birth = '3/4/2001'"));
  EXPECT_TRUE(Eval("Birth > '3/3/2001'"));
  EXPECT_TRUE(Eval("Birth < '3/5/2001'"));
  EXPECT_TRUE(Eval("Birth = '2001-03-04'"));  // the locale's own form
  EXPECT_TRUE(Eval("'3/4/2001' = Birth"));
  EXPECT_TRUE(Eval("Birth = '3/4/2001 11:00 PM'"));  // a date keeps only the day
  EXPECT_TRUE(Eval("Birth > Birth2"));
  EXPECT_TRUE(Eval("AtTime = '2:30:15.25 PM'"));
  EXPECT_TRUE(Eval("AtTime = '14:30:15.250'"));
  EXPECT_TRUE(Eval("AtTime > '14:30'"));
  EXPECT_TRUE(Eval("AtTime < '3 PM'"));
  EXPECT_TRUE(Eval("Stamp = '3/4/2001 6:07:08'"));
  EXPECT_TRUE(Eval("Stamp = '2001-03-04T06:07:08'"));
  EXPECT_TRUE(Eval("Stamp > '3/4/2001'"));
  EXPECT_TRUE(Eval("Stamp < '3/4/2001 6:07:09 AM'"));
  // Mixed kinds: a date against a date-time compares moments, a time against a date-time the
  // time of day.
  EXPECT_TRUE(Eval("Stamp > Birth"));
  EXPECT_TRUE(Eval("Birth < Stamp"));
  source.SetDateTime("Stamp", 2001, 3, 4, 0, 0, 0);
  EXPECT_TRUE(Eval("Stamp = Birth"));
  source.SetDateTime("Stamp", 1999, 1, 1, 14, 30, 15);
  EXPECT_TRUE(Eval("AtTime > Stamp"));
  source.SetTime("AtTime", 14, 30, 15);
  EXPECT_TRUE(Eval("AtTime = Stamp"));
  EXPECT_TRUE(Eval("Stamp = AtTime"));
  // A date against a time: both as date-time values, the date at midnight and the time on
  // 1899-12-30.
  const struct {
    int year, month, day, hour;
    bool less;  // Birth < AtTime
  } date_time_cases[] = {
      {2001, 3, 4, 14, false}, {1899, 12, 31, 0, false}, {1899, 12, 30, 0, false},
      {1899, 12, 30, 1, true},  {1899, 12, 29, 23, true}, {1, 1, 1, 0, true},
  };
  for (const auto& c : date_time_cases) {
    source.SetDate("Birth", c.year, c.month, c.day);
    source.SetTime("AtTime", c.hour, 0, 0);
    const bool equal = c.year == 1899 && c.month == 12 && c.day == 30 && c.hour == 0;
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day));
    EXPECT_EQ(Eval("Birth < AtTime"), c.less);
    EXPECT_EQ(Eval("AtTime > Birth"), c.less);
    EXPECT_EQ(Eval("Birth = AtTime"), equal);
    EXPECT_EQ(Eval("AtTime <> Birth"), !equal);
    EXPECT_EQ(Eval("Birth > AtTime"), !c.less && !equal);
    EXPECT_EQ(Eval("AtTime IN (Birth)"), equal);
  }
}

TEST_F(FilterEval, DateAndTimeArithmetic) {
  EXPECT_TRUE(Eval("Birth - Birth2 = 3"));        // days
  EXPECT_TRUE(Eval("Birth2 + 3 = Birth"));
  // date - number is a day number (an integer), whole days toward zero.
  const int32_t day = *TryEncodeDayNumber(2001, 3, 4);
  EXPECT_TRUE(Eval("Birth - 3 = " + std::to_string(day - 3)));
  EXPECT_TRUE(Eval("Birth - 1.5 = " + std::to_string(day - 2)));
  EXPECT_TRUE(Eval("Birth - '3/1/2001' = 3"));
  EXPECT_TRUE(Eval("AtTime - '14:30' = 15250"));  // milliseconds
  EXPECT_TRUE(Eval("AtTime + 1000 > '14:30:16'"));
  EXPECT_TRUE(Eval("AtTime - AtTime = 0"));
  // Date-time arithmetic in milliseconds of the time stamp.
  EXPECT_TRUE(Eval("Stamp - '3/4/2001' = 22028000"));
  EXPECT_TRUE(Eval("'3/5/2001' - Stamp = 64372000"));
  EXPECT_TRUE(Eval("Stamp - Birth = 22028000"));
  EXPECT_TRUE(Eval("Stamp + 1000 = '3/4/2001 6:07:09'"));
  const double stamp = TimeStampToMSecs(TTimeStamp{22028000, day});
  EXPECT_TRUE(Eval("Stamp - 1000 = " + std::to_string(static_cast<int64_t>(stamp) - 1000) + ".0"));
  EXPECT_TRUE(Eval("Stamp - 0.5 = " + std::to_string(static_cast<int64_t>(stamp)) + ".0 - 0.5"));
  EXPECT_TRUE(Eval("'3/5/2001' - Birth = 86400000"));
  // Results beyond the range wrap or saturate instead of faulting.
  EXPECT_FALSE(Eval("Birth + 1e300 = Birth"));
}

TEST_F(FilterEval, StringFunctions) {
  EXPECT_TRUE(Eval("UPPER(Name) = 'SMITH'"));
  EXPECT_TRUE(Eval("LOWER(Name) = 'smith'"));
  // Only ASCII letters change case.
  source.SetString("Name", "\xE9t\xE9");
  EXPECT_TRUE(Eval("UPPER(Name) = '\xE9T\xE9'"));
  EXPECT_TRUE(Eval("TRIM(Memo) = 'Memo text'"));
  EXPECT_TRUE(Eval("TRIMLEFT(Memo) = 'Memo text  '"));
  EXPECT_TRUE(Eval("TRIMRIGHT(Memo) = '  Memo text'"));
  source.SetBlob("Memo", std::string("\t\x01 x \x1F"));
  EXPECT_TRUE(Eval("TRIM(Memo) = 'x'"));
  source.SetBlob("Memo", "   ");
  EXPECT_TRUE(Eval("TRIM(Memo) = ''"));
  source.SetString("Name", "Smith");
  EXPECT_TRUE(Eval("SUBSTRING(Name, 2, 3) = 'mit'"));
  EXPECT_TRUE(Eval("SUBSTRING(Name, 1, 100) = 'Smith'"));
  EXPECT_TRUE(Eval("SUBSTRING(Name, 5, 1) = 'h'"));
  EXPECT_TRUE(Eval("SUBSTRING(Name, 6, 1) = ''"));    // beyond the end: nothing
  EXPECT_TRUE(Eval("SUBSTRING(Name, 0, 2) = 'Sm'"));  // before the start: from the start
  EXPECT_TRUE(Eval("SUBSTRING(Name, -5, 1) = 'S'"));
  EXPECT_TRUE(Eval("SUBSTRING(Name, 2, 0) = ''"));
  EXPECT_TRUE(Eval("SUBSTRING(Name, 2, -1) = ''"));
  EXPECT_TRUE(Eval("UPPER(SUBSTRING(Name, 1, 2)) + LOWER(City) = 'SMparis'"));
  // A blob is read as bytes: the text ends at its first NUL.
  EXPECT_TRUE(Eval("Data = 'bin'"));
}

TEST_F(FilterEval, DateFunctions) {
  EXPECT_TRUE(Eval("YEAR(Birth) = 2001"));
  EXPECT_TRUE(Eval("MONTH(Birth) = 3"));
  EXPECT_TRUE(Eval("DAY(Birth) = 4"));
  EXPECT_TRUE(Eval("YEAR(Stamp) = 2001 AND MONTH(Stamp) = 3 AND DAY(Stamp) = 4"));
  EXPECT_TRUE(Eval("HOUR(Stamp) = 6 AND MINUTE(Stamp) = 7 AND SECOND(Stamp) = 8"));
  EXPECT_TRUE(Eval("HOUR(AtTime) = 14 AND MINUTE(AtTime) = 30 AND SECOND(AtTime) = 15"));
  EXPECT_TRUE(Eval("Stamp < GETDATE()"));
  EXPECT_TRUE(Eval("YEAR(GETDATE()) >= 2024"));
  // Stored values that are no valid moment decode as 1899-12-30 00:00 instead of failing.
  source.SetRaw<int32_t>("Birth", 0);
  EXPECT_TRUE(Eval("YEAR(Birth) = 1899"));
  source.SetRaw<int32_t>("AtTime", -5);
  EXPECT_TRUE(Eval("HOUR(AtTime) = 0"));
}

TEST_F(FilterEval, EvaluatesAgainTheCurrentRecordEachTime) {
  parser.Parse("Qty > 10 AND Name LIKE 'S%'");
  EXPECT_TRUE(parser.Evaluate({}).get<bool>());
  source.SetRaw<int32_t>("Qty", 3);
  EXPECT_FALSE(parser.Evaluate({}).get<bool>());
  source.SetRaw<int32_t>("Qty", 30);
  source.SetString("Name", "Brown");
  EXPECT_FALSE(parser.Evaluate({}).get<bool>());
  source.SetString("Name", "Stone");
  EXPECT_TRUE(parser.Evaluate({}).get<bool>());
}

TEST_F(FilterEval, NoCurrentRecordReadsZeros) {
  source.no_record = true;
  EXPECT_TRUE(Eval("Qty = 0"));
  EXPECT_TRUE(Eval("Name = ''"));
  EXPECT_TRUE(Eval("Active = False"));
  EXPECT_TRUE(Eval("Price = 0"));
}

TEST(FilterProgress, TruncatedPercentages) {
  EXPECT_EQ(FilterProgressPercent(0, 3), 0);
  EXPECT_EQ(FilterProgressPercent(1, 3), 33);
  EXPECT_EQ(FilterProgressPercent(2, 3), 66);
  EXPECT_EQ(FilterProgressPercent(29, 100), 29);
  EXPECT_EQ(FilterProgressPercent(57, 100), 57);
  EXPECT_EQ(FilterProgressPercent(999, 1000), 99);
  EXPECT_EQ(FilterProgressPercent(0, 0), 0);
  EXPECT_EQ(FilterProgressPercent(5, 5), 100);
  EXPECT_EQ(FilterProgressPercent(std::numeric_limits<int64_t>::max() - 1,
                                  std::numeric_limits<int64_t>::max()),
            99);
}

}  // namespace
}  // namespace zq
