// Hostile filter texts: random bytes, deep nesting, long chains and a megabyte of text end in a
// clear error or a result, never in a crash or a stack overflow.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "filter_test_fixture.h"

namespace zq {
namespace {

using testing::FilterTest;
using FilterHostile = FilterTest;

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

// Parses and, when that works, evaluates; only the project's exceptions may come out.
void ParseAndEvaluate(TFilterParser& parser, const std::string& text) {
  try {
    parser.Parse(text);
    (void)parser.Evaluate({foCaseInsensitive});
    (void)parser.Evaluate({});
  } catch (const zq::Exception& e) {
    EXPECT_FALSE(e.Message().empty()) << text;
  }
}

TEST_F(FilterHostile, RandomBytes) {
  std::mt19937 rng(20240115);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 120);
  for (int i = 0; i < 3000; ++i) {
    std::string text(static_cast<size_t>(length(rng)), '\0');
    for (char& c : text) c = static_cast<char>(byte(rng));
    ParseAndEvaluate(parser, text);
  }
}

TEST_F(FilterHostile, RandomTokenSoup) {
  // Pieces of the grammar in random order reach far deeper into the parser than raw bytes.
  const char* pieces[] = {"Qty", "Name", "Birth", "Stamp", "AtTime", "Flag", "Memo", "Big",
                          "Price", "(", ")", "=", "<>", "<", ">=", "+", "-", "*", "/", ",",
                          " AND ", " OR ", " NOT ", " LIKE ", " IN ", "'1/2/2003'", "'a*'",
                          "'%'", "1", "-2", "2.5", "1e3", "True", "UPPER(", "SUBSTRING(",
                          "YEAR(", "GETDATE()", "TRIM(", "HOUR(", "[Name]", "/*x*/", "''"};
  std::mt19937 rng(7);
  std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> count(1, 25);
  int parsed = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (int n = count(rng); n > 0; --n) text += pieces[pick(rng)];
    ParseAndEvaluate(parser, text);
    parsed += parser.HasExpression() ? 1 : 0;
  }
  EXPECT_GT(parsed, 0);  // some of them are valid filters and got evaluated
}

TEST_F(FilterHostile, DeepParenthesesEndInAClearError) {
  EXPECT_EQ(ParseError(Repeat("(", 100) + "Flag" + Repeat(")", 100)), "");
  EXPECT_TRUE(parser.Evaluate({}).get<bool>() == false);  // Flag is zero in the empty record
  EXPECT_EQ(ParseError(Repeat("(", 127) + "Flag" + Repeat(")", 127)), "");
  EXPECT_EQ(ParseError(Repeat("(", 128) + "Flag" + Repeat(")", 128)),
            "Filter expression nested too deeply");
  EXPECT_EQ(ParseError(Repeat("(", 1000000)), "Filter expression nested too deeply");
  EXPECT_EQ(ParseError(Repeat("UPPER(", 200) + "Name" + Repeat(")", 200) + " = 'x'"),
            "Filter expression nested too deeply");
  EXPECT_EQ(ParseError(Repeat("Qty IN (", 200) + "1" + Repeat(")", 200)),
            "Filter expression nested too deeply");
  EXPECT_EQ(ParseError(Repeat("NOT (", 200) + "Flag" + Repeat(")", 200)),
            "Filter expression nested too deeply");
}

TEST_F(FilterHostile, LongChainsEndInAClearErrorOrWork) {
  // 900 alternatives are fine and evaluate; chains past the depth limit fail clearly.
  source.SetRaw<int32_t>("Qty", 899);
  std::string chain = "Qty = 0";
  for (int i = 1; i < 900; ++i) chain += " OR Qty = " + std::to_string(i);
  EXPECT_EQ(ParseError(chain), "");
  EXPECT_TRUE(parser.Evaluate({}).get<bool>());
  EXPECT_EQ(ParseError("Qty = 0" + Repeat(" OR Qty = 1", 5000)),
            "Filter expression nested too deeply");
  EXPECT_EQ(ParseError(Repeat("1 + ", 5000) + "1 = Qty"), "Filter expression nested too deeply");
  EXPECT_EQ(ParseError("Flag" + Repeat(" AND Flag", 5000)), "Filter expression nested too deeply");
  EXPECT_EQ(ParseError("Name" + Repeat(" + Name", 999) + " = 'x'"),
            "Filter expression nested too deeply");
}

TEST_F(FilterHostile, AMegabyteOfText) {
  const size_t mb = 1 << 20;
  EXPECT_EQ(ParseError(std::string(mb, ' ') + "Flag"), "");
  EXPECT_EQ(ParseError("/*" + std::string(mb, '*') + "*/ Flag"), "");
  EXPECT_EQ(ParseError("/*" + std::string(mb, '/')), "Invalid filter expression character: ''");
  EXPECT_EQ(ParseError("Name = '" + std::string(mb, 'x') + "'"), "");
  EXPECT_EQ(parser.Root()->Right->AsString().size(), 256u);
  EXPECT_EQ(ParseError("Name = '" + std::string(mb, 'x')), "Unterminated string constant");
  EXPECT_EQ(ParseError("[" + std::string(mb, 'x')), "Unterminated field name");
  const std::string long_name(mb, 'q');
  EXPECT_EQ(ParseError(long_name), "Field '" + long_name + "' not found");
  EXPECT_EQ(ParseError(std::string(mb, '7')), "'" + std::string(mb, '7') +
                                                   "' is not a valid floating point value");
  EXPECT_EQ(ParseError(std::string(mb, ')')), "Expression expected but ')' found");
  EXPECT_EQ(ParseError(Repeat("Qty=1 ", mb / 6)), "Filter expression incorrectly terminated");
  // A long IN list is flat: a quarter of a million elements parse and evaluate.
  source.SetRaw<int32_t>("Qty", 3);
  EXPECT_EQ(ParseError("Qty IN (" + Repeat("1,", mb / 4) + "3)"), "");
  EXPECT_TRUE(parser.Evaluate({}).get<bool>());
}

TEST_F(FilterHostile, KeywordsInOperandPositions) {
  EXPECT_EQ(ParseError("NOT NOT Flag"), "Field 'NOT' not found");
  EXPECT_EQ(ParseError("Flag AND"), "Expression expected but nothing found");
  EXPECT_EQ(ParseError("AND Flag"), "Field 'AND' not found");
  EXPECT_EQ(ParseError("Qty IN IN (1)"), "'(' expected but 'IN' found");
  EXPECT_EQ(ParseError("LIKE"), "Expression expected but 'LIKE' found");
  EXPECT_EQ(ParseError("Name LIKE"), "Expression expected but nothing found");
  EXPECT_EQ(ParseError("[NOT] = 1"), "Field 'NOT' not found");
}

}  // namespace
}  // namespace zq
