// The examples of docs/filter_expressions.md, evaluated as the page states them.
#include <gtest/gtest.h>

#include <string>

#include "filter_test_fixture.h"

namespace zq {
namespace {

using testing::FilterTest;
using FilterDocExamples = FilterTest;

TEST_F(FilterDocExamples, DateArithmeticWithTheConstantOnTheLeft) {
  source.SetDate("Birth", 2024, 1, 10);
  // The field on the left: the constant becomes a date and the difference counts days.
  EXPECT_TRUE(Eval("Birth - '2024-01-01' = 9"));
  // The constant on the left: it is a date-time and the difference counts milliseconds.
  EXPECT_TRUE(Eval("'2024-01-15' - Birth = 432000000"));
  EXPECT_TRUE(Eval("'2024-01-15 12:00' - Birth = 475200000"));
  // "Born more than 30 days before 15 January 2024", both ways round.
  for (auto [day, older] : {std::pair{10, false}, std::pair{1, false}}) {
    source.SetDate("Birth", 2024, 1, day);
    EXPECT_EQ(Eval("'2024-01-15' - Birth > 2592000000"), older) << day;
    EXPECT_EQ(Eval("Birth + 30 < '2024-01-15'"), older) << day;
  }
  source.SetDate("Birth", 2023, 12, 16);
  EXPECT_FALSE(Eval("'2024-01-15' - Birth > 2592000000"));  // exactly 30 days
  EXPECT_FALSE(Eval("Birth + 30 < '2024-01-15'"));
  source.SetDate("Birth", 2023, 12, 15);
  EXPECT_TRUE(Eval("'2024-01-15' - Birth > 2592000000"));
  EXPECT_TRUE(Eval("Birth + 30 < '2024-01-15'"));
  EXPECT_TRUE(Eval("'2024-01-15' - Birth > 30 * 86400000"));
  // A number cannot stand on the left of a date.
  EXPECT_EQ(ParseError("30 + Birth < '2024-01-15'"), "Type mismatch in expression");
}

TEST_F(FilterDocExamples, DecimalSeparatorOfTheFormatSettings) {
  source.SetRaw<double>("Price", 2.5);
  EXPECT_TRUE(Eval("Price = 2.5"));
  EXPECT_EQ(ParseError("Price = 2,5"), "Filter expression incorrectly terminated");
  TFilterFormatSettings comma;
  comma.DecimalSeparator = ',';
  parser.SetFormatSettings(comma);
  EXPECT_TRUE(Eval("Price = 2,5"));
  EXPECT_TRUE(Eval("Price IN (1, 2,5)"));
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST_F(FilterDocExamples, NestingLimit) {
  for (auto [open, close] : {std::pair<std::string, std::string>{"(", ")"}, {"UPPER(", ")"}}) {
    const std::string tail = open == "(" ? "" : " = 'x'";
    EXPECT_EQ(ParseError(Repeat(open, 127) + (open == "(" ? "Flag" : "Name") + Repeat(close, 127) + tail), "")
        << open;
    EXPECT_EQ(ParseError(Repeat(open, 128) + (open == "(" ? "Flag" : "Name") + Repeat(close, 128) + tail),
              "Filter expression nested too deeply")
        << open;
  }
}

// The order of this system's default locale (C.UTF-8, served by ICU's root order).
TEST_F(FilterDocExamples, LocaleOrder) {
  struct Case {
    const char* value;
    const char* text;
    bool result;
  };
  const Case cases[] = {
      {"e", "Name < '\xE9'", true}, {"\xE9", "Name < 'f'", true}, {"a", "Name < 'B'", true},
      {"b", "Name < 'B'", true},    {"B", "Name < 'c'", true},      {"Z", "Name < 'a'", false},
  };
  for (const Case& c : cases) {
    source.SetString("Name", c.value);
    EXPECT_EQ(Eval(c.text), c.result) << c.value << " " << c.text;
  }
  source.SetString("Name", "b");
  EXPECT_TRUE(Eval("Name = 'B'", {foCaseInsensitive}));
  EXPECT_FALSE(Eval("Name = 'B'"));
}

}  // namespace
}  // namespace zq
