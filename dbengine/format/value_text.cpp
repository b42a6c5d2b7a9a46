#include "dbengine/format/value_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "dbengine/format/date_time.h"
#include "dbengine/format/db_format.h"
#include "dbengine/format/field_type.h"

namespace zq {

namespace {

std::string UpToNul(const uint8_t* data, int64_t size) {
  if (data == nullptr || size <= 0) return {};
  const uint8_t* end = std::find(data, data + size, uint8_t{0});
  return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(end - data));
}

// Day numbers of 0001-01-01 to 9999-12-31 and the milliseconds of one day.
constexpr int32_t kMaxDay = 3652059;
constexpr int64_t kMsPerDay = 86400000;

std::string FloatText(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general);
  if (result.ec != std::errc()) return {};
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string ValueText(const uint8_t* data, int64_t size, uint8_t field_type) {
  if (IsStringType(field_type) || IsBlobType(field_type)) return UpToNul(data, size);
  if (data == nullptr) return {};
  // Fixed-width values need their whole width.
  int64_t width = dbfmt::SlotWidth(field_type, 0);
  if (width <= 0 || size < width) return {};
  try {
    switch (field_type) {
      case ftSmallint: return std::to_string(dbfmt::GetI16(data));
      case ftWord: return std::to_string(static_cast<uint16_t>(dbfmt::GetI16(data)));
      case ftInteger:
      case ftAutoInc: return std::to_string(dbfmt::GetI32(data));
      case ftLargeint: return std::to_string(dbfmt::GetI64(data));
      case ftBoolean: return dbfmt::GetI16(data) != 0 ? "True" : "False";
      case ftFloat:
      case ftCurrency: return FloatText(dbfmt::GetF64(data));
      case ftDate: {
        int32_t day = dbfmt::GetI32(data);
        if (day < 1 || day > kMaxDay) return {};
        return DateToShortText(DateFieldToDateTime(day));
      }
      case ftTime: {
        int32_t ms = dbfmt::GetI32(data);
        if (ms < 0 || ms >= kMsPerDay) return {};
        return TimeToShortText(TimeFieldToDateTime(ms));
      }
      case ftDateTime: {
        double ms = dbfmt::GetF64(data);
        if (!(ms >= double(kMsPerDay) && ms < double(kMaxDay + 1) * double(kMsPerDay))) return {};
        return DateTimeToShortText(DateTimeFieldToDateTime(ms));
      }
      default: return {};
    }
  } catch (...) {
    return {};
  }
}

}  // namespace zq
