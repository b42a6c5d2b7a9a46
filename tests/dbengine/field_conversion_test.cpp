// Field values of every storable non-blob type to and from text and variants, through the
// in-memory data set.
#include <gtest/gtest.h>

#include <cstring>

#include "dbengine/format/date_time.h"
#include "dbengine/format/db_error.h"
#include "tests/dbengine/data_set_mem.h"
#include "tests/dbengine/engine_test_support.h"

namespace zq {
namespace {

using testing::TMemDataSet;
using testing_support::ErrorOf;

class FieldConversion : public ::testing::Test {
 protected:
  FieldConversion()
      : ds({{"S", ftString, 5},     {"Sm", ftSmallint}, {"I", ftInteger}, {"W", ftWord},
            {"B", ftBoolean},       {"F", ftFloat},     {"C", ftCurrency}, {"D", ftDate},
            {"T", ftTime},          {"DT", ftDateTime}, {"A", ftAutoInc}, {"FC", ftFixedChar, 3},
            {"L", ftLargeint}}) {
    ds.Open();
    ds.Append();
  }
  TField& F(const char* n) { return ds.FieldByName(n); }
  // Sets a text and reads it back through a posted record.
  std::string RoundTrip(const char* field, const std::string& text) {
    F(field).SetAsString(text);
    ds.Post();
    std::string back = F(field).AsString();
    ds.Edit();
    return back;
  }
  TMemDataSet ds;
};

TEST_F(FieldConversion, EveryTypeToAndFromText) {
  EXPECT_EQ(RoundTrip("S", "abc"), "abc");
  EXPECT_EQ(RoundTrip("Sm", "-32768"), "-32768");
  EXPECT_EQ(RoundTrip("I", "+2147483647"), "2147483647");
  EXPECT_EQ(RoundTrip("W", "65535"), "65535");
  EXPECT_EQ(RoundTrip("B", "tRuE"), "True");
  EXPECT_EQ(RoundTrip("B", "FALSE"), "False");
  EXPECT_EQ(RoundTrip("F", "0.1"), "0.1");
  EXPECT_EQ(RoundTrip("F", "-1.5e300"), "-1.5e+300");
  EXPECT_EQ(RoundTrip("C", "1234.56"), "1234.56");
  EXPECT_EQ(RoundTrip("D", "2013-01-15"), "2013-01-15");
  EXPECT_EQ(RoundTrip("T", "23:59:59.999"), "23:59:59.999");
  EXPECT_EQ(RoundTrip("DT", "2013-01-15T09:05:07.042"), "2013-01-15T09:05:07.042");
  EXPECT_EQ(RoundTrip("A", "42"), "42");
  EXPECT_EQ(RoundTrip("FC", "xyz"), "xyz");
  EXPECT_EQ(RoundTrip("L", "-9223372036854775808"), "-9223372036854775808");
}

// A date field set from a date-time text keeps the moment's calendar day, on either side of
// 1899-12-30 (the zero of TDateTime), and a date-time field keeps the whole moment.
TEST_F(FieldConversion, DateFromDateTimeTextKeepsTheCalendarDay) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"1850-06-15T18:00:00", "1850-06-15"}, {"1899-12-29T06:00:00", "1899-12-29"},
      {"1899-12-29 23:59:59.999", "1899-12-29"}, {"1899-12-30T23:59:59.999", "1899-12-30"},
      {"1899-12-31T00:00:00.001", "1899-12-31"}, {"0001-01-01T12:00", "0001-01-01"},
      {"1899-12-28", "1899-12-28"}, {"2013-01-15T09:00", "2013-01-15"},
  };
  for (const auto& [text, day] : cases) {
    F("DT").SetAsString(text);
    EXPECT_EQ(RoundTrip("D", text), day) << text;
    EXPECT_EQ(F("DT").AsString().substr(0, 10), day) << text;
  }
}

TEST_F(FieldConversion, RefusedTextsNameTheValueAndTheField) {
  EXPECT_EQ(ErrorOf([&] { F("I").SetAsString("12x"); }),
            "'12x' is not a valid integer value for field 'I'");
  EXPECT_EQ(ErrorOf([&] { F("Sm").SetAsString("32768"); }), "'32768' is out of range for field 'Sm'");
  EXPECT_EQ(ErrorOf([&] { F("W").SetAsString("-1"); }), "'-1' is out of range for field 'W'");
  EXPECT_EQ(ErrorOf([&] { F("I").SetAsString("99999999999999999999"); }),
            "'99999999999999999999' is out of range for field 'I'");
  EXPECT_EQ(ErrorOf([&] { F("B").SetAsString("yes"); }),
            "'yes' is not a valid boolean value for field 'B'");
  EXPECT_EQ(ErrorOf([&] { F("F").SetAsString("1,5"); }),
            "'1,5' is not a valid floating point value for field 'F'");
  EXPECT_EQ(ErrorOf([&] { F("F").SetAsString("nan"); }),
            "'nan' is not a valid floating point value for field 'F'");
  EXPECT_EQ(ErrorOf([&] { F("D").SetAsString("15/01/2013"); }),
            "'15/01/2013' is not a valid date value for field 'D'");
  EXPECT_EQ(ErrorOf([&] { F("T").SetAsString("25:00"); }),
            "'25:00' is not a valid time value for field 'T'");
  EXPECT_EQ(ErrorOf([&] { F("DT").SetAsString("2013-02-30T00:00"); }),
            "'2013-02-30T00:00' is not a valid date and time value for field 'DT'");
  EXPECT_EQ(ErrorOf([&] { F("L").SetAsString(""); F("L").SetAsString("--1"); }),
            "'--1' is not a valid integer value for field 'L'");
}

TEST_F(FieldConversion, StringsAreCutAndZeroFilled) {
  // A long value first, then a short one: nothing of the long one remains after the NUL.
  F("S").SetAsString("abcde");
  F("S").SetAsString("xy");
  ds.Post();
  uint8_t raw[6];
  ASSERT_TRUE(F("S").GetData(raw, true));
  EXPECT_EQ(std::memcmp(raw, "xy\0\0\0\0", 6), 0);
  ds.Edit();
  F("S").SetAsString("123456789");
  EXPECT_EQ(F("S").AsString(), "12345");
  F("S").SetAsString(std::string("ab\0cd", 5));
  ASSERT_TRUE(F("S").GetData(raw, true));
  EXPECT_EQ(std::memcmp(raw, "ab\0\0\0\0", 6), 0);
  F("FC").SetAsString("abcd");
  EXPECT_EQ(F("FC").AsString(), "abc");
}

TEST_F(FieldConversion, NativeDateAndTimeEncodings) {
  F("D").SetAsDateTime(EncodeDate(1970, 1, 1) + 0.5);  // time part dropped in a date
  F("T").SetAsDateTime(EncodeTime(12, 0, 0, 0));
  F("DT").SetAsDateTime(EncodeDate(2000, 1, 1) + EncodeTime(0, 0, 1, 500));
  int32_t d, t;
  double dt;
  F("D").GetData(&d, true);
  F("T").GetData(&t, true);
  F("DT").GetData(&dt, true);
  EXPECT_EQ(d, 719163);
  EXPECT_EQ(t, 43200000);
  EXPECT_EQ(dt, 730120.0 * 86400000.0 + 1500.0);
  EXPECT_EQ(F("D").AsDateTime(), 25569.0);
  EXPECT_DOUBLE_EQ(F("T").AsDateTime(), 0.5);  // a time reads on 1899-12-30
  // A stored value that is no valid moment reads as 0.
  const int32_t bad = -5;
  F("D").SetData(&bad, true);
  EXPECT_EQ(F("D").AsDateTime(), 0.0);
  EXPECT_EQ(ErrorOf([&] { F("DT").SetAsDateTime(1e300); }), "'1e+300' is out of range for field 'DT'");
}

TEST_F(FieldConversion, VariantsBothWays) {
  F("I").SetValue(Variant(int64_t{12}));
  EXPECT_EQ(F("I").Value(), Variant(12));
  F("I").SetValue(Variant(2.6));  // rounds
  EXPECT_EQ(F("I").AsInteger(), 3);
  F("L").SetValue(Variant(int64_t{1} << 40));
  EXPECT_EQ(F("L").Value(), Variant(int64_t{1} << 40));
  F("B").SetValue(Variant(true));
  EXPECT_EQ(F("B").Value(), Variant(true));
  F("C").SetValue(Variant(TCurrency{2.25}));
  EXPECT_EQ(F("C").Value(), Variant(TCurrency{2.25}));
  F("DT").SetValue(Variant(TDateTimeValue{36526.25}));
  EXPECT_EQ(F("DT").Value(), Variant(TDateTimeValue{36526.25}));
  F("S").SetValue(Variant(42));
  EXPECT_EQ(F("S").Value(), Variant("42"));
  F("F").SetValue(Variant("2.5"));
  EXPECT_EQ(F("F").AsFloat(), 2.5);
  EXPECT_EQ(F("F").AsString(), "2.5");
  EXPECT_EQ(ErrorOf([&] { F("Sm").SetValue(Variant(70000)); }), "'70000' is out of range for field 'Sm'");
  EXPECT_EQ(ErrorOf([&] { F("I").SetValue(Variant(std::vector<Variant>{})); }),
            "Invalid variant type conversion for field 'I'");
  EXPECT_EQ(ErrorOf([&] { F("S").SetValue(Variant("abc")); (void)F("S").AsInteger(); }),
            "'abc' is not a valid integer value for field 'S'");
}

TEST_F(FieldConversion, NullLeavesPhysicalValuesAlone) {
  F("I").SetAsInteger(5);
  F("I").Clear();  // nothing stored: the value stays
  EXPECT_EQ(F("I").AsInteger(), 5);
  F("I").SetValue(Variant());
  EXPECT_FALSE(F("I").IsNull());
  F("I").SetAsString("  ");  // an empty text on a non-text field is a null
  EXPECT_EQ(F("I").AsInteger(), 5);
}

}  // namespace
}  // namespace zq
