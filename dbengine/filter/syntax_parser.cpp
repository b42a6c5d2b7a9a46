#include "dbengine/filter/syntax_parser.h"

#include "dbengine/format/db_error.h"

namespace zq {

namespace {

bool IsAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
// Bytes 0x81..0xFE are the accented letters and other characters of the ANSI code page; names
// may start with and contain them.
bool IsHighLetter(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != 0; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == 0;
}

[[noreturn]] void InvalidCharacter(std::string_view shown) {
  throw EDatabaseError(FormatMessage("Invalid filter expression character: '%s'", {shown}));
}

}  // namespace

void TSyntaxParserBase::SetText(const std::string& text) {
  text_ = text;
  pos_ = 0;
  token_start_ = 0;
  token_ = etEnd;
  prev_token_ = etEnd;
  token_string_.clear();
}

void TSyntaxParserBase::SkipBlanksAndComments() {
  for (;;) {
    while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) < '!') ++pos_;
    if (pos_ + 1 < text_.size() && text_[pos_] == '/' && text_[pos_ + 1] == '*') {
      size_t close = text_.find("*/", pos_ + 2);
      if (close == std::string::npos) {
        // The scan stops at the end of the text: there is no character to show.
        pos_ = text_.size();
        InvalidCharacter("");
      }
      pos_ = close + 2;
      continue;
    }
    return;
  }
}

bool TSyntaxParserBase::NextIsLParen() const {
  size_t p = pos_;
  while (p < text_.size() && static_cast<unsigned char>(text_[p]) < '!') ++p;
  return p < text_.size() && text_[p] == '(';
}

std::string TSyntaxParserBase::TokenDescription() const {
  if (token_ == etEnd) return "nothing";
  return "'" + token_string_ + "'";
}

void TSyntaxParserBase::NextToken() {
  prev_token_ = token_;
  token_string_.clear();
  SkipBlanksAndComments();
  token_start_ = pos_;
  if (pos_ >= text_.size()) {
    token_ = etEnd;
    return;
  }
  const unsigned char c = static_cast<unsigned char>(text_[pos_]);
  if (c == '\'') {
    ScanLiteral();
    return;
  }
  if (c == '[') {
    ScanName();
    return;
  }
  if (IsAsciiLetter(c) || c == '_' || IsHighLetter(c)) {
    ScanSymbol();
    return;
  }
  const bool minus_is_operator = prev_token_ == etSymbol || prev_token_ == etName ||
                                 prev_token_ == etNumber || prev_token_ == etLiteral ||
                                 prev_token_ == etRParen;
  if (IsDigit(c) || (c == '-' && !minus_is_operator)) {
    ScanNumber();
    return;
  }
  const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
  switch (c) {
    case '(': token_ = etLParen; break;
    case ')': token_ = etRParen; break;
    case '=': token_ = etEQ; break;
    case '+': token_ = etADD; break;
    case '-': token_ = etSUB; break;
    case '*': token_ = etMUL; break;
    case '/': token_ = etDIV; break;
    case ',': token_ = etComma; break;
    case '<':
      if (next == '=') {
        token_ = etLE;
      } else if (next == '>') {
        token_ = etNE;
      } else {
        token_ = etLT;
      }
      break;
    case '>': token_ = next == '=' ? etGE : etGT; break;
    default:
      InvalidCharacter(std::string_view(&text_[pos_], 1));
  }
  const size_t length = (token_ == etLE || token_ == etNE || token_ == etGE) ? 2 : 1;
  token_string_.assign(text_, pos_, length);
  pos_ += length;
}

void TSyntaxParserBase::ScanLiteral() {
  ++pos_;  // opening quote
  for (;;) {
    if (pos_ >= text_.size()) throw EDatabaseError("Unterminated string constant");
    const char c = text_[pos_];
    if (c == '\'') {
      if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
        if (token_string_.size() < kMaxLiteralLength) token_string_ += '\'';
        pos_ += 2;
        continue;
      }
      ++pos_;
      break;
    }
    if (token_string_.size() < kMaxLiteralLength) token_string_ += c;
    ++pos_;
  }
  token_ = etLiteral;
}

void TSyntaxParserBase::ScanName() {
  const size_t close = text_.find(']', pos_ + 1);
  if (close == std::string::npos) throw EDatabaseError("Unterminated field name");
  token_string_.assign(text_, pos_ + 1, close - pos_ - 1);
  pos_ = close + 1;
  token_ = etName;
}

void TSyntaxParserBase::ScanSymbol() {
  const size_t start = pos_;
  ++pos_;
  while (pos_ < text_.size()) {
    const unsigned char c = static_cast<unsigned char>(text_[pos_]);
    if (!(IsAsciiLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '[' || c == ']' ||
          IsHighLetter(c))) {
      break;
    }
    ++pos_;
  }
  token_string_.assign(text_, start, pos_ - start);
  if (EqualsIgnoringCase(token_string_, "LIKE")) {
    token_ = etLIKE;
  } else if (EqualsIgnoringCase(token_string_, "IN")) {
    token_ = etIN;
  } else {
    token_ = etSymbol;
  }
}

void TSyntaxParserBase::ScanNumber() {
  const size_t start = pos_;
  const char separator = settings_.DecimalSeparator;
  ++pos_;  // the digit or the leading '-'
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    const char before = text_[pos_ - 1];
    if (IsDigit(static_cast<unsigned char>(c)) || c == 'E' || c == 'e' || c == separator ||
        ((c == '+' || c == '-') && (before == 'E' || before == 'e'))) {
      ++pos_;
      continue;
    }
    break;
  }
  // "1, 2" with a comma as decimal separator is a list, not the number "1,".
  if (separator == ',' && pos_ - start > 1 && text_[pos_ - 1] == ',' && pos_ < text_.size() &&
      text_[pos_] == ' ') {
    --pos_;
  }
  token_string_.assign(text_, start, pos_ - start);
  token_ = etNumber;
}

}  // namespace zq
