// The field value: a tagged variant of the value kinds a data set converts to and from a field's
// type (null, integer, 64-bit integer, floating point, currency, date-time, boolean, string).
// Strings are code page 1252 bytes. A date-time is a TDateTime: days since 30 December 1899,
// with the time of day as the fraction.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace zq {

using TDateTime = double;

struct TCurrency {
  double value = 0;
  bool operator==(const TCurrency&) const = default;
};

struct TDateTimeValue {
  TDateTime value = 0;
  bool operator==(const TDateTimeValue&) const = default;
};

class Variant {
 public:
  using Storage = std::variant<std::monostate, int32_t, int64_t, double, TCurrency, TDateTimeValue,
                               bool, std::string, std::vector<Variant>>;
  enum class Kind { Null, Integer, Int64, Float, Currency, DateTime, Boolean, String, Array };

  Variant() = default;
  Variant(int32_t v) : v_(v) {}
  Variant(int64_t v) : v_(v) {}
  Variant(double v) : v_(v) {}
  Variant(TCurrency v) : v_(v) {}
  Variant(TDateTimeValue v) : v_(v) {}
  Variant(bool v) : v_(v) {}
  Variant(std::string v) : v_(std::move(v)) {}
  Variant(const char* v) : v_(std::string(v)) {}
  Variant(std::vector<Variant> v) : v_(std::move(v)) {}

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool IsNull() const { return kind() == Kind::Null; }

  template <class T>
  const T& get() const { return std::get<T>(v_); }
  const Storage& storage() const { return v_; }

  bool operator==(const Variant&) const = default;

 private:
  Storage v_;
};

}  // namespace zq
