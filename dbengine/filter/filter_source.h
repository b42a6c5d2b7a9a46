// What the filter parser needs from the data set that owns it: the filter options, field lookup
// by name, and the current record's field values.
//
// The data set implements TFilterFieldSource and hands it to its TFilterParser. The parser asks
// for field descriptions while it parses a filter text and for field values while it evaluates
// the parsed expression against the current record (the filter buffer).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "dbengine/format/field_type.h"

namespace zq {

// Filter options of a data set (FilterOptions property).
enum TFilterOption : uint8_t {
  foCaseInsensitive = 0,   // string comparisons and LIKE ignore case
  foNoPartialCompare = 1,  // a '*' in a string constant is an ordinary character
};

// A set of TFilterOption values.
class TFilterOptions {
 public:
  constexpr TFilterOptions() = default;
  constexpr TFilterOptions(std::initializer_list<TFilterOption> options) {
    for (TFilterOption option : options) Include(option);
  }
  constexpr bool Contains(TFilterOption option) const { return (bits_ >> option) & 1u; }
  constexpr TFilterOptions& Include(TFilterOption option) {
    bits_ = static_cast<uint8_t>(bits_ | (1u << option));
    return *this;
  }
  constexpr TFilterOptions& Exclude(TFilterOption option) {
    bits_ = static_cast<uint8_t>(bits_ & ~(1u << option));
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const TFilterOptions&) const = default;

 private:
  uint8_t bits_ = 0;
};

// A field as the filter parser sees it.
struct TFilterFieldInfo {
  TFieldType DataType = ftUnknown;
  // Defined size in characters for string, fixed-char, wide-string and GUID fields, else 0.
  int Size = 0;
  // Field number: 1-based for physical fields; 0 or negative for calculated and lookup fields.
  int FieldNo = 0;
  // Position in the data set's field list; handed back to FilterFieldData / FilterBlobText.
  int Index = -1;
  // Calculated or lookup field (no physical slot in the record buffer). Filters reject these.
  bool Calculated = false;
};

class TFilterFieldSource {
 public:
  virtual ~TFilterFieldSource() = default;

  // The field of that name, compared without regard to case. Raises EDatabaseError
  // "Field '%s' not found" when the data set has no such field.
  virtual TFilterFieldInfo FilterFieldByName(const std::string& name) = 0;

  // The stored bytes of a physical non-blob field in the current record (filter buffer), in the
  // record buffer's native form: string types NUL-terminated text (Size + 1 bytes), ftSmallint
  // int16, ftInteger/ftAutoInc int32, ftWord uint16, ftBoolean 16 bits (non-zero = true),
  // ftFloat/ftCurrency double, ftDate int32 day number, ftTime int32 milliseconds, ftDateTime
  // double milliseconds of the time stamp, ftLargeint int64. An empty span means no current
  // record; the parser then reads zeros.
  virtual std::span<const uint8_t> FilterFieldData(int index) = 0;

  // The value of a blob field in the current record, as bytes (text for the memo types).
  virtual std::string FilterBlobText(int index) = 0;
};

// The OnFilterProgress percentage reported for row `row` (0-based) of `count` rows during a
// filter pass: the truncated value of row / count * 100 (0 when count is not positive).
int FilterProgressPercent(int64_t row, int64_t count);

}  // namespace zq
