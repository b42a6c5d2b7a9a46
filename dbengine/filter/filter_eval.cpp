// Evaluation of a parsed filter expression against the current record.
#include <cmath>
#include <cstring>
#include <limits>

#include "dbengine/format/date_time.h"
#include "dbengine/filter/filter_parser.h"
#include "dbengine/filter/filter_types.h"
#include "platform/collation.h"

namespace zq {

using filter::IsDateTimeKind;
using filter::IsFloatLike;
using filter::IsNumeric;
using filter::IsText;

namespace {

// Double to integer without undefined behaviour: truncates toward zero, saturates at the ends of
// the 64-bit range, NaN gives 0.
int64_t TruncToInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

int64_t WrapAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
int64_t WrapSub(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
int64_t WrapMul(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

template <class T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// A date/time operand in milliseconds of the time stamp (a time alone counts from day 0).
double AsTimeStampMSecs(const TExprNode& node) {
  switch (node.DataType) {
    case ftDate: return static_cast<double>(node.AsInt64()) * kMSecsPerDay;
    case ftTime: return static_cast<double>(node.AsInt64());
    default: return node.AsDouble();
  }
}

// A date or time operand as a date-time value, in milliseconds of the time stamp: a date at
// midnight, a time on 1899-12-30.
double AsDateTimeMSecs(const TExprNode& node) {
  if (node.DataType == ftTime) return static_cast<double>(kDateDelta) * kMSecsPerDay + AsTimeStampMSecs(node);
  return AsTimeStampMSecs(node);
}

// The time of day of a time or date-time operand, in milliseconds.
double AsTimeOfDay(const TExprNode& node) {
  if (node.DataType == ftTime) return static_cast<double>(node.AsInt64());
  const double ms = std::fmod(node.AsDouble(), static_cast<double>(kMSecsPerDay));
  return ms < 0 ? ms + kMSecsPerDay : ms;
}

// The moment of a date, time or date-time operand as TDateTime; invalid stored values give 0.
TDateTime AsDateTime(const TExprNode& node) {
  switch (node.DataType) {
    case ftDate: return DateFieldToDateTime(static_cast<int32_t>(node.AsInt64()));
    case ftTime: return TimeFieldToDateTime(static_cast<int32_t>(node.AsInt64()));
    default: return DateTimeFieldToDateTime(node.AsDouble());
  }
}

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string TrimLeftText(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

std::string TrimRightText(const std::string& s) {
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return s.substr(0, n);
}

}  // namespace

void TFilterParser::LoadField(TExprNode& node) {
  if (node.IsBlobField) {
    node.SetString(source_.FilterBlobText(node.FieldIndex));
    return;
  }
  const std::span<const uint8_t> data = source_.FilterFieldData(node.FieldIndex);
  if (IsText(node.DataType)) {
    if (data.empty()) {
      node.SetString(std::string());
      return;
    }
    const auto* chars = reinterpret_cast<const char*>(data.data());
    const void* nul = std::memchr(chars, 0, data.size());
    const size_t length = nul ? static_cast<const char*>(nul) - chars : data.size();
    node.SetString(std::string(chars, length));
    return;
  }
  if (node.DataType == ftBoolean) {
    // Stored as 16 bits; any non-zero byte is true.
    bool value = false;
    for (size_t i = 0; i < data.size() && i < 2; ++i) value = value || data[i] != 0;
    node.Data.assign(1, value ? 1 : 0);
    return;
  }
  const size_t width = StoredWidth(node.DataType);
  node.Data.assign(width, 0);
  if (!data.empty()) std::memcpy(node.Data.data(), data.data(), std::min(width, data.size()));
}

void TFilterParser::EvaluateNode(TExprNode& node, TFilterOptions options) {
  switch (node.Kind) {
    case enField:
      LoadField(node);
      return;
    case enConst:
      return;
    case enFunc:
      for (TExprNode* arg : node.ArgList) EvaluateNode(*arg, options);
      EvaluateFunction(node);
      return;
    case enOperator:
      break;
  }
  switch (node.Operator) {
    case coAND:
      EvaluateNode(*node.Left, options);
      if (node.Left->AsBoolean()) {
        EvaluateNode(*node.Right, options);
        node.SetBoolean(node.Right->AsBoolean());
      } else {
        node.SetBoolean(false);
      }
      return;
    case coOR:
      EvaluateNode(*node.Left, options);
      if (node.Left->AsBoolean()) {
        node.SetBoolean(true);
      } else {
        EvaluateNode(*node.Right, options);
        node.SetBoolean(node.Right->AsBoolean());
      }
      return;
    case coNOT:
      EvaluateNode(*node.Left, options);
      node.SetBoolean(!node.Left->AsBoolean());
      return;
    case coEQ:
    case coNE:
    case coGT:
    case coLT:
    case coGE:
    case coLE:
      EvaluateNode(*node.Left, options);
      EvaluateNode(*node.Right, options);
      node.SetBoolean(Compare(node.Operator, *node.Left, *node.Right, options));
      return;
    case coLIKE:
      EvaluateNode(*node.Left, options);
      EvaluateNode(*node.Right, options);
      node.SetBoolean(filter::MatchLike(node.Left->AsString(), node.Right->AsString(),
                                        options.Contains(foCaseInsensitive)));
      return;
    case coIN: {
      EvaluateNode(*node.Left, options);
      bool found = false;
      for (TExprNode* element : node.ArgList) {
        EvaluateNode(*element, options);
        if (Equal(*node.Left, *element, options)) {
          found = true;
          break;
        }
      }
      node.SetBoolean(found);
      return;
    }
    case coADD:
    case coSUB:
    case coMUL:
    case coDIV:
      EvaluateNode(*node.Left, options);
      EvaluateNode(*node.Right, options);
      EvaluateArithmetic(node);
      return;
    case coNOTDEFINED:
      break;
  }
  node.SetBoolean(false);
}

// -1, 0 or 1 for the operand types the parser accepted for comparison.
int TFilterParser::CompareNodes(TExprNode& left, TExprNode& right, TFilterOptions options) {
  const TFieldType l = left.DataType;
  const TFieldType r = right.DataType;
  if (IsNumeric(l) && IsNumeric(r)) {
    if (IsFloatLike(l) || IsFloatLike(r)) return Sign(left.AsDouble(), right.AsDouble());
    return Sign(left.AsInt64(), right.AsInt64());
  }
  if (IsDateTimeKind(l) && IsDateTimeKind(r)) {
    if (l == r) {
      return l == ftDateTime ? Sign(left.AsDouble(), right.AsDouble())
                             : Sign(left.AsInt64(), right.AsInt64());
    }
    // Mixed kinds: a time against a date-time compares times of day; a date against a
    // date-time or a time compares both as date-time values.
    if ((l == ftTime && r == ftDateTime) || (l == ftDateTime && r == ftTime))
      return Sign(AsTimeOfDay(left), AsTimeOfDay(right));
    return Sign(AsDateTimeMSecs(left), AsDateTimeMSecs(right));
  }
  if (l == ftBoolean && r == ftBoolean) {
    return Sign(static_cast<int>(left.AsBoolean()), static_cast<int>(right.AsBoolean()));
  }
  const bool ignore_case = options.Contains(foCaseInsensitive);
  const std::string a = left.AsString();
  const std::string b = right.AsString();
  if (!options.Contains(foNoPartialCompare) && right.Kind == enConst && right.PartialLength >= 0) {
    return CompareStringPrefixA(a, b, static_cast<size_t>(right.PartialLength), ignore_case);
  }
  return CompareStringA(a, b, ignore_case);
}

bool TFilterParser::Equal(TExprNode& left, TExprNode& right, TFilterOptions options) {
  return CompareNodes(left, right, options) == 0;
}

bool TFilterParser::Less(TExprNode& left, TExprNode& right, TFilterOptions options) {
  return CompareNodes(left, right, options) < 0;
}

bool TFilterParser::Greater(TExprNode& left, TExprNode& right, TFilterOptions options) {
  return CompareNodes(left, right, options) > 0;
}

bool TFilterParser::Compare(TExprOperator op, TExprNode& left, TExprNode& right,
                            TFilterOptions options) {
  switch (op) {
    case coEQ: return Equal(left, right, options);
    case coNE: return !Equal(left, right, options);
    case coLT: return Less(left, right, options);
    case coGE: return !Less(left, right, options);
    case coGT: return Greater(left, right, options);
    case coLE: return !Greater(left, right, options);
    default: return false;
  }
}

void TFilterParser::EvaluateArithmetic(TExprNode& node) {
  TExprNode& left = *node.Left;
  TExprNode& right = *node.Right;
  const TExprOperator op = node.Operator;
  const TFieldType l = left.DataType;
  const TFieldType r = right.DataType;

  if (IsText(node.DataType)) {  // text + text
    node.SetString(left.AsString() + right.AsString());
    return;
  }
  if (IsNumeric(l) && IsNumeric(r)) {
    if (node.DataType == ftFloat || node.DataType == ftCurrency) {
      const double a = left.AsDouble();
      const double b = right.AsDouble();
      double v = 0;
      switch (op) {
        case coADD: v = a + b; break;
        case coSUB: v = a - b; break;
        case coMUL: v = a * b; break;
        default: v = a / b; break;
      }
      node.SetDouble(node.DataType, v);
      return;
    }
    const int64_t a = left.AsInt64();
    const int64_t b = right.AsInt64();
    int64_t v = 0;
    switch (op) {
      case coADD: v = WrapAdd(a, b); break;
      case coSUB: v = WrapSub(a, b); break;
      default: v = WrapMul(a, b); break;
    }
    node.SetInt(node.DataType, v);  // ftInteger keeps the low 32 bits
    return;
  }
  // Date and time arithmetic.
  if (op == coADD) {  // date/time + number, in the left's unit
    if (l == ftDateTime) {
      node.SetDouble(ftDateTime, left.AsDouble() + right.AsDouble());
    } else if (IsFloatLike(r)) {
      node.SetInt(l, TruncToInt64(static_cast<double>(left.AsInt64()) + right.AsDouble()));
    } else {
      node.SetInt(l, WrapAdd(left.AsInt64(), right.AsInt64()));
    }
    return;
  }
  // Subtraction.
  if (node.DataType == ftInteger) {  // date - date|number in days, time - time|number in ms
    if (IsFloatLike(r)) {
      node.SetInt(ftInteger, TruncToInt64(static_cast<double>(left.AsInt64()) - right.AsDouble()));
    } else {
      node.SetInt(ftInteger, WrapSub(left.AsInt64(), right.AsInt64()));
    }
    return;
  }
  // Everything else in milliseconds of the time stamp.
  const double a = AsTimeStampMSecs(left);
  const double b = IsNumeric(r) ? right.AsDouble() : AsTimeStampMSecs(right);
  node.SetDouble(ftFloat, a - b);
}

void TFilterParser::EvaluateFunction(TExprNode& node) {
  const std::vector<TExprNode*>& args = node.ArgList;
  switch (node.Function) {
    case fnUpper: node.SetString(UpperAscii(args[0]->AsString())); return;
    case fnLower: node.SetString(LowerAscii(args[0]->AsString())); return;
    case fnTrim: node.SetString(TrimLeftText(TrimRightText(args[0]->AsString()))); return;
    case fnTrimLeft: node.SetString(TrimLeftText(args[0]->AsString())); return;
    case fnTrimRight: node.SetString(TrimRightText(args[0]->AsString())); return;
    case fnSubstring: {
      const std::string s = args[0]->AsString();
      int64_t start = args[1]->AsInt64();
      const int64_t length = args[2]->AsInt64();
      if (start < 1) start = 1;
      if (length <= 0 || start > static_cast<int64_t>(s.size())) {
        node.SetString(std::string());
      } else {
        node.SetString(s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(length)));
      }
      return;
    }
    case fnYear:
    case fnMonth:
    case fnDay: {
      const DateParts d = DecodeDate(AsDateTime(*args[0]));
      node.SetInt(ftInteger, node.Function == fnYear ? d.Year
                             : node.Function == fnMonth ? d.Month
                                                         : d.Day);
      return;
    }
    case fnHour:
    case fnMinute:
    case fnSecond: {
      const TimeParts t = DecodeTime(AsDateTime(*args[0]));
      node.SetInt(ftInteger, node.Function == fnHour ? t.Hour
                             : node.Function == fnMinute ? t.Minute
                                                          : t.Second);
      return;
    }
    case fnGetDate:  // became a constant while parsing
    case fnNone:
      return;
  }
}

}  // namespace zq
