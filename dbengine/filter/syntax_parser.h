// The tokenizer of filter expressions.
//
// Tokens: names (bare symbols and [bracketed names]), numbers, 'string literals' ('' inside
// stands for one quote, at most 256 characters kept), parentheses, comparison and arithmetic
// operators, commas, and the keywords LIKE and IN. Blanks (characters below '!') and /* ... */
// comments are skipped. Every other word (AND, OR, NOT, True, False, function and field names)
// stays a symbol for the grammar to recognise.
#pragma once

#include <cstddef>
#include <string>

namespace zq {

// Token kinds; the numbers are part of the parser's contract (messages and tests use them).
enum TExprToken : int {
  etEnd = 0,
  etSymbol = 1,
  etName = 2,  // [bracketed name]
  etNumber = 3,
  etLiteral = 4,
  etLParen = 5,
  etRParen = 6,
  etEQ = 7,
  etNE = 8,
  etGE = 9,
  etLE = 10,
  etGT = 11,
  etLT = 12,
  etADD = 13,
  etSUB = 14,
  etMUL = 15,
  etDIV = 16,
  etComma = 17,
  etLIKE = 19,
  etIN = 22,
};

// The locale conventions the parser reads numbers and dates with.
struct TFilterFormatSettings {
  char DecimalSeparator = '.';
  // One- and two-digit years fall in the 100 years that start this many years before the
  // current year (0: in the current century).
  int TwoDigitYearCenturyWindow = 50;
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
};

// Longest string literal kept; further characters are dropped.
constexpr size_t kMaxLiteralLength = 256;

class TSyntaxParserBase {
 public:
  TSyntaxParserBase() = default;
  virtual ~TSyntaxParserBase() = default;

  const TFilterFormatSettings& FormatSettings() const { return settings_; }
  void SetFormatSettings(const TFilterFormatSettings& settings) { settings_ = settings; }

  TExprToken Token() const { return token_; }
  const std::string& TokenString() const { return token_string_; }
  TExprToken PrevToken() const { return prev_token_; }
  size_t TokenStart() const { return token_start_; }
  size_t Position() const { return pos_; }

 protected:
  // Starts scanning a new text at its first character; no token is read yet.
  void SetText(const std::string& text);
  // Reads the next token into Token()/TokenString().
  void NextToken();
  // True when the next non-blank character is '(' (used for function calls).
  bool NextIsLParen() const;
  // The current token for messages: its text in single quotes, or "nothing" at the end.
  std::string TokenDescription() const;

 private:
  void SkipBlanksAndComments();
  void ScanLiteral();
  void ScanName();
  void ScanSymbol();
  void ScanNumber();

  TFilterFormatSettings settings_;
  std::string text_;
  size_t pos_ = 0;
  size_t token_start_ = 0;
  TExprToken token_ = etEnd;
  TExprToken prev_token_ = etEnd;
  std::string token_string_;
};

}  // namespace zq
