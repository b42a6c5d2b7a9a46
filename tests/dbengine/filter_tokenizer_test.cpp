// Tokens of filter expressions: kinds, texts, the minus rule, numbers, comments and the
// tokenizer's messages.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "dbengine/format/db_error.h"
#include "dbengine/filter/syntax_parser.h"
#include "tests/dbengine/engine_test_support.h"

namespace zq {
namespace {

class Tokenizer : public TSyntaxParserBase {
 public:
  // Every token of `text` as (kind, text) up to and including the end token.
  std::vector<std::pair<int, std::string>> All(const std::string& text) {
    SetText(text);
    std::vector<std::pair<int, std::string>> out;
    do {
      NextToken();
      out.emplace_back(Token(), TokenString());
    } while (Token() != etEnd);
    return out;
  }
  std::string Error(const std::string& text) {
    std::string message = testing_support::ErrorOf<EDatabaseError>([&] { All(text); });
    return message == "<no error>" ? "" : message;
  }
  std::string Description(const std::string& text) {
    SetText(text);
    NextToken();
    return TokenDescription();
  }
  bool LParenFollows(const std::string& text) {
    SetText(text);
    NextToken();
    return NextIsLParen();
  }
};

using Tokens = std::vector<std::pair<int, std::string>>;

TEST(FilterTokenizer, EveryOperatorHasItsNumber) {
  Tokenizer t;
  EXPECT_EQ(t.All("( ) = <> >= <= > < + * / ,"),
            (Tokens{{5, "("}, {6, ")"}, {7, "="}, {8, "<>"}, {9, ">="}, {10, "<="}, {11, ">"},
                    {12, "<"}, {13, "+"}, {15, "*"}, {16, "/"}, {17, ","}, {0, ""}}));
  // Without blanks the two-character operators still win.
  EXPECT_EQ(t.All("a<>b<=c>=d<e>f"),
            (Tokens{{1, "a"}, {8, "<>"}, {1, "b"}, {10, "<="}, {1, "c"}, {9, ">="}, {1, "d"},
                    {12, "<"}, {1, "e"}, {11, ">"}, {1, "f"}, {0, ""}}));
}

TEST(FilterTokenizer, SymbolsNamesKeywords) {
  Tokenizer t;
  EXPECT_EQ(t.All("Name like 'x' AND City In [My Field] _a1.b[c]"),
            (Tokens{{1, "Name"}, {19, "like"}, {4, "x"}, {1, "AND"}, {1, "City"}, {22, "In"},
                    {2, "My Field"}, {1, "_a1.b[c]"}, {0, ""}}));
  // LIKE and IN only as whole words.
  EXPECT_EQ(t.All("LIKED INTO"), (Tokens{{1, "LIKED"}, {1, "INTO"}, {0, ""}}));
  // Bracketed names take any character up to the next ']'.
  EXPECT_EQ(t.All("[a'(b]"), (Tokens{{2, "a'(b"}, {0, ""}}));
  // Accented letters of the ANSI code page start and continue names.
  EXPECT_EQ(t.All("Soci\xE9t\xE9 = \xC9t\xE9"),
            (Tokens{{1, "Soci\xE9t\xE9"}, {7, "="}, {1, "\xC9t\xE9"}, {0, ""}}));
}

TEST(FilterTokenizer, StringLiterals) {
  Tokenizer t;
  EXPECT_EQ(t.All("'it''s' ''"), (Tokens{{4, "it's"}, {4, ""}, {0, ""}}));
  // Longer literals keep their first 256 characters.
  const std::string long_text(300, 'x');
  EXPECT_EQ(t.All("'" + long_text + "'"), (Tokens{{4, std::string(256, 'x')}, {0, ""}}));
  // Doubled quotes count once toward the limit.
  std::string quotes;
  for (int i = 0; i < 300; ++i) quotes += "''";
  EXPECT_EQ(t.All("'" + quotes + "'"), (Tokens{{4, std::string(256, '\'')}, {0, ""}}));
}

TEST(FilterTokenizer, MinusIsOperatorOnlyAfterAnOperand) {
  Tokenizer t;
  EXPECT_EQ(t.All("-5"), (Tokens{{3, "-5"}, {0, ""}}));
  EXPECT_EQ(t.All("a-5"), (Tokens{{1, "a"}, {14, "-"}, {3, "5"}, {0, ""}}));
  EXPECT_EQ(t.All("[a]-5"), (Tokens{{2, "a"}, {14, "-"}, {3, "5"}, {0, ""}}));
  EXPECT_EQ(t.All("5-5"), (Tokens{{3, "5"}, {14, "-"}, {3, "5"}, {0, ""}}));
  EXPECT_EQ(t.All("'s'-5"), (Tokens{{4, "s"}, {14, "-"}, {3, "5"}, {0, ""}}));
  EXPECT_EQ(t.All("(1)-5"),
            (Tokens{{5, "("}, {3, "1"}, {6, ")"}, {14, "-"}, {3, "5"}, {0, ""}}));
  EXPECT_EQ(t.All("a > -5"), (Tokens{{1, "a"}, {11, ">"}, {3, "-5"}, {0, ""}}));
  EXPECT_EQ(t.All("(-5"), (Tokens{{5, "("}, {3, "-5"}, {0, ""}}));
  EXPECT_EQ(t.All("a - -5"), (Tokens{{1, "a"}, {14, "-"}, {3, "-5"}, {0, ""}}));
}

TEST(FilterTokenizer, Numbers) {
  Tokenizer t;
  EXPECT_EQ(t.All("12.5e+3 7E-2 1e5x"),
            (Tokens{{3, "12.5e+3"}, {3, "7E-2"}, {3, "1e5"}, {1, "x"}, {0, ""}}));
  // + and - belong to the number only right after the exponent letter.
  EXPECT_EQ(t.All("1+2"), (Tokens{{3, "1"}, {13, "+"}, {3, "2"}, {0, ""}}));
  // Comma separator: "1,5" is a number, "1, 2" a list.
  TFilterFormatSettings comma;
  comma.DecimalSeparator = ',';
  t.SetFormatSettings(comma);
  EXPECT_EQ(t.All("1,5"), (Tokens{{3, "1,5"}, {0, ""}}));
  EXPECT_EQ(t.All("1, 2"), (Tokens{{3, "1"}, {17, ","}, {3, "2"}, {0, ""}}));
  // With a comma separator the point is no part of a number.
  EXPECT_EQ(t.Error("1.5"), "Invalid filter expression character: '.'");
}

TEST(FilterTokenizer, BlanksAndComments) {
  Tokenizer t;
  EXPECT_EQ(t.All("\t\r\n a /* b = c */ =/**/1 "),
            (Tokens{{1, "a"}, {7, "="}, {3, "1"}, {0, ""}}));
  EXPECT_EQ(t.All(std::string("a\0=\x01" "1", 5)),
            (Tokens{{1, "a"}, {7, "="}, {3, "1"}, {0, ""}}));
}

TEST(FilterTokenizer, Messages) {
  Tokenizer t;
  EXPECT_EQ(t.Error("a = 'abc"), "Unterminated string constant");
  EXPECT_EQ(t.Error("a = 'it''"), "Unterminated string constant");
  EXPECT_EQ(t.Error("[abc = 1"), "Unterminated field name");
  EXPECT_EQ(t.Error("a = 1 /* open"), "Invalid filter expression character: ''");
  EXPECT_EQ(t.Error("a = 1 /*"), "Invalid filter expression character: ''");
  EXPECT_EQ(t.Error("a # 1"), "Invalid filter expression character: '#'");
  EXPECT_EQ(t.Error("a ! 1"), "Invalid filter expression character: '!'");
  EXPECT_EQ(t.Error("a = \"x\""), "Invalid filter expression character: '\"'");
  EXPECT_EQ(t.Error("a = \x80"), "Invalid filter expression character: '\x80'");
  EXPECT_EQ(t.Error("a = \xFF"), "Invalid filter expression character: '\xFF'");
  EXPECT_EQ(t.Error("a ] 1"), "Invalid filter expression character: ']'");
}

TEST(FilterTokenizer, DescriptionsAndLookahead) {
  Tokenizer t;
  EXPECT_EQ(t.Description("Name"), "'Name'");
  EXPECT_EQ(t.Description("'lit'"), "'lit'");
  EXPECT_EQ(t.Description(")"), "')'");
  EXPECT_EQ(t.Description("   "), "nothing");
  EXPECT_TRUE(t.LParenFollows("UPPER  (x)"));
  EXPECT_FALSE(t.LParenFollows("UPPER x"));
  EXPECT_FALSE(t.LParenFollows("UPPER"));
}

}  // namespace
}  // namespace zq
