#include "dbengine/filter/filter_parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "dbengine/format/date_time.h"
#include "dbengine/format/db_error.h"
#include "dbengine/filter/filter_date_text.h"
#include "dbengine/filter/filter_types.h"

namespace zq {

using filter::IsDateTimeKind;
using filter::IsIntegerLike;
using filter::IsNumeric;
using filter::IsText;
using filter::SameText;

namespace {

[[noreturn]] void TypeMismatch() { throw EDatabaseError("Type mismatch in expression"); }
[[noreturn]] void TooDeep() { throw EDatabaseError("Filter expression nested too deeply"); }

struct FunctionName {
  const char* name;
  TExprFunction function;
};
constexpr FunctionName kFunctions[] = {
    {"UPPER", fnUpper},         {"LOWER", fnLower},     {"SUBSTRING", fnSubstring},
    {"TRIM", fnTrim},           {"TRIMLEFT", fnTrimLeft}, {"TRIMRIGHT", fnTrimRight},
    {"YEAR", fnYear},           {"MONTH", fnMonth},     {"DAY", fnDay},
    {"HOUR", fnHour},           {"MINUTE", fnMinute},   {"SECOND", fnSecond},
    {"GETDATE", fnGetDate},
};

TExprFunction FindFunction(const std::string& name) {
  for (const FunctionName& f : kFunctions) {
    if (SameText(name, f.name)) return f.function;
  }
  return fnNone;
}

// Arithmetic rank of the numeric types; the result of + - * takes the higher one.
int NumericRank(TFieldType t) {
  switch (t) {
    case ftSmallint: return 0;
    case ftWord: return 1;
    case ftInteger:
    case ftAutoInc: return 2;
    case ftLargeint: return 3;
    case ftFloat: return 4;
    case ftCurrency: return 5;
    default: return -1;
  }
}

bool IsStringConstant(const TExprNode& node) {
  return node.Kind == enConst && node.DataType == ftString;
}

bool IsBooleanKeyword(const std::string& s, bool& value) {
  if (SameText(s, "TRUE")) {
    value = true;
    return true;
  }
  if (SameText(s, "FALSE")) {
    value = false;
    return true;
  }
  return false;
}

// [-]digits with a value that fits 32 bits.
bool TryParseInteger(const std::string& text, int32_t& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first == last) return false;
  const char* digits = *first == '-' ? first + 1 : first;
  if (digits == last) return false;
  for (const char* p = digits; p < last; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last;
}

// [-]digits[<sep>digits][(E|e)[+|-]digits] with at least one mantissa digit.
bool TryParseFloat(const std::string& text, char separator, double& value) {
  std::string normal;
  size_t i = 0;
  if (i < text.size() && text[i] == '-') normal += text[i++];
  int mantissa_digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') normal += text[i++], ++mantissa_digits;
  if (i < text.size() && text[i] == separator) {
    normal += '.';
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') normal += text[i++], ++mantissa_digits;
  }
  if (mantissa_digits == 0) return false;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    normal += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) normal += text[i++];
    int exponent_digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') normal += text[i++], ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  if (i != text.size()) return false;
  auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  return error == std::errc() && end == normal.data() + normal.size() && std::isfinite(value);
}

int CurrentYear() { return DecodeDate(Now()).Year; }

}  // namespace

struct TFilterParser::NestingGuard {
  explicit NestingGuard(int& level) : level_(level) {
    if (++level_ > kMaxExprNesting) {
      --level_;
      TooDeep();
    }
  }
  ~NestingGuard() { --level_; }
  int& level_;
};

// ---- grammar ------------------------------------------------------------------------------------

TExprNode* TFilterParser::ParseExpression() {
  NestingGuard guard(nesting_);
  TExprNode* left = ParseTerm();
  while (Token() == etSymbol && SameText(TokenString(), "OR")) {
    NextToken();
    TExprNode* right = ParseTerm();
    if (left->DataType != ftBoolean || right->DataType != ftBoolean) TypeMismatch();
    left = NewOperator(coOR, left, right);
    left->DataType = ftBoolean;
  }
  return left;
}

TExprNode* TFilterParser::ParseTerm() {
  TExprNode* left = ParseFactor();
  while (Token() == etSymbol && SameText(TokenString(), "AND")) {
    NextToken();
    TExprNode* right = ParseFactor();
    if (left->DataType != ftBoolean || right->DataType != ftBoolean) TypeMismatch();
    left = NewOperator(coAND, left, right);
    left->DataType = ftBoolean;
  }
  return left;
}

TExprNode* TFilterParser::ParseFactor() {
  if (Token() == etSymbol && SameText(TokenString(), "NOT")) {
    NextToken();
    TExprNode* operand = ParseComparison();
    if (operand->DataType != ftBoolean) TypeMismatch();
    TExprNode* node = NewOperator(coNOT, operand, nullptr);
    node->DataType = ftBoolean;
    return node;
  }
  return ParseComparison();
}

TExprNode* TFilterParser::ParseComparison() {
  TExprNode* left = ParseSum();
  TExprOperator op = coNOTDEFINED;
  switch (Token()) {
    case etEQ: op = coEQ; break;
    case etNE: op = coNE; break;
    case etGT: op = coGT; break;
    case etLT: op = coLT; break;
    case etGE: op = coGE; break;
    case etLE: op = coLE; break;
    case etLIKE: op = coLIKE; break;
    case etIN: op = coIN; break;
    default: return left;
  }
  NextToken();
  if (op == coIN) {
    if (Token() != etLParen) {
      throw EDatabaseError(FormatMessage("'(' expected but %s found", {TokenDescription()}));
    }
    TExprNode* node = NewNode(enOperator);
    node->Operator = coIN;
    node->Left = left;
    ParseList(node->ArgList, false);
    for (TExprNode*& element : node->ArgList) CheckComparison(coEQ, node->Left, element);
    node->DataType = ftBoolean;
    int depth = left->Depth;
    for (TExprNode* element : node->ArgList) depth = std::max(depth, element->Depth);
    node->Depth = depth + 1;
    if (node->Depth > kMaxExprDepth) TooDeep();
    return node;
  }
  TExprNode* right = ParseSum();
  if (op == coLIKE) {
    if (!IsText(left->DataType) || !IsText(right->DataType)) TypeMismatch();
  } else {
    CheckComparison(op, left, right);
  }
  TExprNode* node = NewOperator(op, left, right);
  node->DataType = ftBoolean;
  return node;
}

TExprNode* TFilterParser::ParseSum() {
  TExprNode* left = ParseProduct();
  while (Token() == etADD || Token() == etSUB) {
    const TExprOperator op = Token() == etADD ? coADD : coSUB;
    NextToken();
    TExprNode* right = ParseProduct();
    left = NewOperator(op, left, right);
    CheckArithmetic(*left);
  }
  return left;
}

TExprNode* TFilterParser::ParseProduct() {
  TExprNode* left = ParsePrimary();
  while (Token() == etMUL || Token() == etDIV) {
    const TExprOperator op = Token() == etMUL ? coMUL : coDIV;
    NextToken();
    TExprNode* right = ParsePrimary();
    left = NewOperator(op, left, right);
    CheckArithmetic(*left);
  }
  return left;
}

TExprNode* TFilterParser::ParsePrimary() {
  switch (Token()) {
    case etSymbol: {
      const std::string name = TokenString();
      if (NextIsLParen()) {
        const TExprFunction function = FindFunction(name);
        if (function != fnNone) return ParseFunction(name, function);
      }
      bool value = false;
      if (IsBooleanKeyword(name, value)) {
        TExprNode* node = NewNode(enConst);
        node->SetBoolean(value);
        NextToken();
        return node;
      }
      TExprNode* node = NewField(name);
      NextToken();
      return node;
    }
    case etName: {
      TExprNode* node = NewField(TokenString());
      NextToken();
      return node;
    }
    case etNumber: {
      TExprNode* node = NewNumber(TokenString());
      NextToken();
      return node;
    }
    case etLiteral: {
      TExprNode* node = NewNode(enConst);
      node->DataType = ftString;
      node->SetString(TokenString());
      const size_t star = TokenString().find('*');
      node->PartialLength = star == std::string::npos ? -1 : static_cast<int>(star);
      NextToken();
      return node;
    }
    case etLParen: {
      NextToken();
      TExprNode* node = ParseExpression();
      if (Token() != etRParen) {
        throw EDatabaseError(FormatMessage("')' expected but %s found", {TokenDescription()}));
      }
      NextToken();
      return node;
    }
    default:
      throw EDatabaseError(FormatMessage("Expression expected but %s found", {TokenDescription()}));
  }
}

void TFilterParser::ParseList(std::vector<TExprNode*>& list, bool allow_empty) {
  NextToken();  // past '('
  if (Token() == etRParen) {
    if (!allow_empty) throw EDatabaseError("IN predicate list may not be empty");
    NextToken();
    return;
  }
  for (;;) {
    list.push_back(ParseExpression());
    if (Token() == etComma) {
      NextToken();
      // A list cut off by the end of the text right after a comma is not closed.
      if (Token() == etEnd) {
        throw EDatabaseError(FormatMessage("')' expected but %s found", {TokenDescription()}));
      }
      continue;
    }
    if (Token() == etRParen) {
      NextToken();
      return;
    }
    if (Token() == etEnd) {
      throw EDatabaseError(FormatMessage("')' expected but %s found", {TokenDescription()}));
    }
    throw EDatabaseError(FormatMessage("')' or ',' expected but %s found", {TokenDescription()}));
  }
}

TExprNode* TFilterParser::ParseFunction(const std::string& name, int function) {
  TExprNode* node = NewNode(enFunc);
  node->Name = name;
  node->Function = static_cast<TExprFunction>(function);
  NextToken();  // the '('
  ParseList(node->ArgList, true);
  int depth = 0;
  for (TExprNode* arg : node->ArgList) depth = std::max(depth, arg->Depth);
  node->Depth = depth + 1;
  if (node->Depth > kMaxExprDepth) TooDeep();
  CheckFunction(*node);
  return node;
}

// ---- node construction --------------------------------------------------------------------------

TExprNode* TFilterParser::NewOperator(TExprOperator op, TExprNode* left, TExprNode* right) {
  TExprNode* node = NewNode(enOperator);
  node->Operator = op;
  node->Left = left;
  node->Right = right;
  node->Depth = 1 + std::max(left ? left->Depth : 0, right ? right->Depth : 0);
  if (node->Depth > kMaxExprDepth) TooDeep();
  return node;
}

TExprNode* TFilterParser::NewField(const std::string& name) {
  const TFilterFieldInfo info = source_.FilterFieldByName(name);
  // Calculated and lookup fields have no slot in the record buffer the filter reads.
  if (info.Calculated || info.FieldNo <= 0 || !filter::IsFilterableType(info.DataType)) {
    TypeMismatch();
  }
  TExprNode* node = NewNode(enField);
  node->Name = name;
  node->DataType = info.DataType;
  node->IsBlobField = IsBlobType(info.DataType);
  node->FieldIndex = info.Index;
  return node;
}

TExprNode* TFilterParser::NewNumber(const std::string& text) {
  TExprNode* node = NewNode(enConst);
  int32_t integer = 0;
  double real = 0;
  if (TryParseInteger(text, integer)) {
    node->SetInt(ftInteger, integer);
  } else if (TryParseFloat(text, FormatSettings().DecimalSeparator, real)) {
    node->SetDouble(ftFloat, real);
  } else {
    throw EDatabaseError(FormatMessage("'%s' is not a valid floating point value", {text}));
  }
  return node;
}

// ---- type rules ---------------------------------------------------------------------------------

namespace {

// Turns a string constant into a constant of a date/time type; a text that is no date or time
// is a conversion error.
void ConvertToDateTime(TExprNode& node, TFieldType type, const TFilterFormatSettings& settings) {
  const std::string text = node.AsString();
  const std::optional<TTimeStamp> stamp = TryFilterTextToTimeStamp(text, settings, CurrentYear());
  if (!stamp) {
    const char* pattern = type == ftDate   ? "'%s' is not a valid date"
                          : type == ftTime ? "'%s' is not a valid time"
                                           : "'%s' is not a valid date and time";
    throw EDatabaseError(FormatMessage(pattern, {text}));
  }
  node.PartialLength = -1;
  if (type == ftDate) {
    node.SetInt(ftDate, stamp->Date);
  } else if (type == ftTime) {
    node.SetInt(ftTime, stamp->Time);
  } else {
    node.SetDouble(ftDateTime, TimeStampToMSecs(*stamp));
  }
}

}  // namespace

void TFilterParser::CheckComparison(TExprOperator op, TExprNode*& left, TExprNode*& right) {
  const TFieldType l = left->DataType;
  const TFieldType r = right->DataType;
  if (IsNumeric(l) && IsNumeric(r)) return;
  if (IsDateTimeKind(l) && IsDateTimeKind(r)) return;
  if (IsDateTimeKind(l) && IsStringConstant(*right)) {
    ConvertToDateTime(*right, l, FormatSettings());
    return;
  }
  if (IsStringConstant(*left) && IsDateTimeKind(r)) {
    ConvertToDateTime(*left, r, FormatSettings());
    return;
  }
  if (IsText(l) && IsText(r)) return;
  if (l == ftBoolean && r == ftBoolean && (op == coEQ || op == coNE)) return;
  TypeMismatch();
}

void TFilterParser::CheckArithmetic(TExprNode& node) {
  TExprNode& left = *node.Left;
  TExprNode& right = *node.Right;
  const TExprOperator op = node.Operator;
  TFieldType l = left.DataType;
  TFieldType r = right.DataType;
  if (IsNumeric(l) && IsNumeric(r)) {
    if (op == coDIV) {
      node.DataType = ftFloat;
      return;
    }
    const TFieldType higher = NumericRank(l) >= NumericRank(r) ? l : r;
    node.DataType = IsIntegerLike(higher) ? ftInteger : higher;
    return;
  }
  if (op == coADD && IsText(l) && IsText(r)) {
    node.DataType = ftString;
    return;
  }
  if (op == coSUB && IsStringConstant(left) && IsDateTimeKind(r)) {
    ConvertToDateTime(left, ftDateTime, FormatSettings());
    node.DataType = ftFloat;
    return;
  }
  if (op == coSUB && IsDateTimeKind(l)) {
    if (IsStringConstant(right)) {
      ConvertToDateTime(right, l, FormatSettings());
      r = l;
    }
    if (l == ftDate && (r == ftDate || IsNumeric(r))) {
      node.DataType = ftInteger;
    } else if (l == ftTime && (r == ftTime || IsNumeric(r))) {
      node.DataType = ftInteger;
    } else if (IsDateTimeKind(r) || IsNumeric(r)) {
      node.DataType = ftFloat;
    } else {
      TypeMismatch();
    }
    return;
  }
  if (op == coADD && IsDateTimeKind(l) && IsNumeric(r)) {
    node.DataType = l;
    return;
  }
  TypeMismatch();
}

void TFilterParser::CheckFunction(TExprNode& node) {
  const std::vector<TExprNode*>& args = node.ArgList;
  auto arg_type = [&](size_t i) { return args[i]->DataType; };
  switch (node.Function) {
    case fnUpper:
    case fnLower:
    case fnTrim:
    case fnTrimLeft:
    case fnTrimRight:
      if (args.size() != 1 || !IsText(arg_type(0))) TypeMismatch();
      node.DataType = ftString;
      return;
    case fnSubstring:
      if (args.size() != 3 || !IsText(arg_type(0))) TypeMismatch();
      for (size_t i = 1; i < 3; ++i) {
        if (args[i]->Kind != enConst || !IsIntegerLike(arg_type(i))) TypeMismatch();
      }
      node.DataType = ftString;
      return;
    case fnYear:
    case fnMonth:
    case fnDay:
      if (args.size() != 1 || (arg_type(0) != ftDate && arg_type(0) != ftDateTime)) TypeMismatch();
      node.DataType = ftInteger;
      return;
    case fnHour:
    case fnMinute:
    case fnSecond:
      if (args.size() != 1 || (arg_type(0) != ftTime && arg_type(0) != ftDateTime)) TypeMismatch();
      node.DataType = ftInteger;
      return;
    case fnGetDate:
      if (!args.empty()) TypeMismatch();
      // The moment of parsing, fixed for the whole filter pass.
      node.Kind = enConst;
      node.SetDouble(ftDateTime, DateTimeToDateTimeField(Now()));
      return;
    case fnNone:
      break;
  }
  TypeMismatch();
}

void TFilterParser::CheckRoot(TExprNode& root) {
  if (root.DataType != ftBoolean) TypeMismatch();
}

int FilterProgressPercent(int64_t row, int64_t count) {
  if (count <= 0 || row <= 0) return 0;
  if (row >= count) return 100;
  if (row > INT64_MAX / 100) return static_cast<int>(static_cast<long double>(row) * 100 / count);
  return static_cast<int>(row * 100 / count);
}

}  // namespace zq
