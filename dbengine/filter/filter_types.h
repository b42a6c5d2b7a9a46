// Type groups of filter expressions and the small text helpers the parser and the evaluator share.
#pragma once

#include <string>
#include <string_view>

#include "dbengine/format/field_type.h"

namespace zq::filter {

constexpr bool IsIntegerLike(TFieldType t) {
  return t == ftSmallint || t == ftInteger || t == ftWord || t == ftAutoInc;
}
constexpr bool IsNumeric(TFieldType t) {
  return IsIntegerLike(t) || t == ftLargeint || t == ftFloat || t == ftCurrency;
}
constexpr bool IsFloatLike(TFieldType t) { return t == ftFloat || t == ftCurrency; }
constexpr bool IsDateTimeKind(TFieldType t) {
  return t == ftDate || t == ftTime || t == ftDateTime;
}
constexpr bool IsText(TFieldType t) { return IsStringType(t) || IsBlobType(t); }

// Field types a filter can read: the text, numeric, date/time and boolean groups.
constexpr bool IsFilterableType(TFieldType t) {
  return IsText(t) || IsNumeric(t) || IsDateTimeKind(t) || t == ftBoolean;
}

// ASCII-only case-insensitive equality (keywords and function names).
bool SameText(std::string_view a, std::string_view b);

// Upper case of a code page 1252 character (ASCII and the accented letters).
unsigned char UpperCp1252(unsigned char c);

// LIKE: '%' any run (also none), '_' one character, others themselves.
bool MatchLike(std::string_view text, std::string_view pattern, bool ignore_case);

}  // namespace zq::filter
