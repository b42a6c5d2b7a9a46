#include "dbengine/dataset/field.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "dbengine/dataset/data_set.h"
#include "dbengine/format/date_time.h"
#include "dbengine/format/db_error.h"

namespace zq {
namespace {

bool IsDateType(TFieldType t) { return t == ftDate || t == ftTime || t == ftDateTime; }
bool IsIntegerType(TFieldType t) {
  return t == ftSmallint || t == ftInteger || t == ftWord || t == ftAutoInc || t == ftLargeint;
}

std::string_view Trim(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  return t;
}

std::string Lower(std::string_view t) {
  std::string s(t);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::optional<int64_t> ParseInt(std::string_view t) {
  t = Trim(t);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  int64_t v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
  return v;
}

// Parses a decimal number with "." as the separator; nullopt for anything else, including
// infinities and NaN.
std::optional<double> ParseFloat(std::string_view t) {
  t = Trim(t);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  double v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
  if (t.empty() || ec != std::errc() || p != t.data() + t.size() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

std::optional<bool> ParseBool(std::string_view t) {
  const std::string s = Lower(Trim(t));
  if (s == "true" || s == "1") return true;
  if (s == "false" || s == "0") return false;
  return std::nullopt;
}

template <class T>
T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
void Put(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace

int FieldValueSize(TFieldType type, int size) {
  switch (type) {
    case ftString: case ftFixedChar: case ftWideString: case ftGuid: return size + 1;
    case ftSmallint: case ftWord: case ftBoolean: return 2;
    case ftInteger: case ftAutoInc: return 4;
    case ftFloat: case ftCurrency: case ftDate: case ftTime: case ftDateTime: case ftLargeint:
      return 8;
    default: return 0;
  }
}

int FieldNativeSize(TFieldType type, int size) {
  if (type == ftDate || type == ftTime) return 4;
  if (IsBlobType(type)) return static_cast<int>(sizeof(void*));
  return FieldValueSize(type, size);
}

TField::TField(std::string name, TFieldType type, int size, TFieldKind kind)
    : name_(std::move(name)), type_(type), size_(IsStringType(type) ? size : 0), kind_(kind) {
  if (!IsStringType(type) && !IsBlobType(type) && FieldValueSize(type, 0) == 0)
    throw EDatabaseError(FormatMessage("Field '%s' is of an unknown type", {name_}));
  if (size_ < 0) throw EDatabaseError(FormatMessage("Invalid field size for field '%s'", {name_}));
}

TField::~TField() = default;

void TField::SetFieldName(const std::string& name) {
  if (data_set_) data_set_->CheckInactive();
  name_ = name;
}

void TField::SetSize(int size) {
  if (data_set_) data_set_->CheckInactive();
  if (IsStringType(type_)) size_ = size < 0 ? 0 : size;
}

void TField::SetFieldKind(TFieldKind kind) {
  if (data_set_) data_set_->CheckInactive();
  kind_ = kind;
}

int TField::Index() const { return data_set_ ? data_set_->Fields().IndexOf(*this) : -1; }

int TField::DataSize() const { return FieldNativeSize(type_, size_); }

bool TField::GetData(void* buffer, bool native) {
  if (!data_set_) throw EDatabaseError(FormatMessage("Field '%s' has no dataset", {name_}));
  return data_set_->GetFieldData(*this, buffer, native);
}

void TField::SetData(const void* buffer, bool native) {
  if (!data_set_) throw EDatabaseError(FormatMessage("Field '%s' has no dataset", {name_}));
  data_set_->SetFieldData(*this, buffer, native);
}

bool TField::IsNull() {
  if (IsBlob()) return BlobContents().empty();
  std::vector<uint8_t> tmp(FieldValueSize(type_, size_) + 1);
  return !GetData(tmp.data());
}

void TField::ConversionError(std::string_view text, const char* kind) const {
  throw EDatabaseError(FormatMessage("'%s' is not a valid %s value for field '%s'",
                                     {text, kind, name_}));
}

void TField::RangeError(std::string_view text) const {
  throw EDatabaseError(FormatMessage("'%s' is out of range for field '%s'", {text, name_}));
}

std::string TField::FloatText(double value) {
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value);
  if (ec != std::errc()) return "0";
  return std::string(buf, p);
}

std::string TField::BlobContents() {
  auto stream = data_set_ ? data_set_->CreateBlobStream(*this, TBlobStreamMode::bmRead) : nullptr;
  if (!stream) throw EDatabaseError(FormatMessage("Field '%s' has no dataset", {name_}));
  std::string out(static_cast<size_t>(stream->Size()), '\0');
  stream->SetPosition(0);
  if (!out.empty()) stream->ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
  return out;
}

void TField::StoreBlob(const void* data, size_t size) {
  auto stream = data_set_ ? data_set_->CreateBlobStream(*this, TBlobStreamMode::bmWrite) : nullptr;
  if (!stream) throw EDatabaseError(FormatMessage("Field '%s' has no dataset", {name_}));
  if (size > 0) stream->WriteBuffer(data, static_cast<int64_t>(size));
}

std::string TField::AsString() {
  if (IsBlob()) return BlobContents();
  std::vector<uint8_t> v(FieldValueSize(type_, size_) + 1, 0);
  if (!GetData(v.data())) return "";
  const uint8_t* p = v.data();
  switch (type_) {
    case ftString: case ftFixedChar: case ftWideString: case ftGuid:
      return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), size_ + 1));
    case ftSmallint: return std::to_string(Load<int16_t>(p));
    case ftWord: return std::to_string(Load<uint16_t>(p));
    case ftInteger: case ftAutoInc: return std::to_string(Load<int32_t>(p));
    case ftLargeint: return std::to_string(Load<int64_t>(p));
    case ftBoolean: return Load<int16_t>(p) != 0 ? "True" : "False";
    case ftFloat: case ftCurrency: return FloatText(Load<double>(p));
    case ftDate: return DateToIsoText(Load<double>(p));
    case ftTime: return TimeToIsoText(Load<double>(p));
    case ftDateTime: return DateTimeToIsoText(Load<double>(p));
    default: return "";
  }
}

void TField::SetAsString(std::string_view text) {
  if (IsBlob()) return StoreBlob(text.data(), text.size());
  if (IsStringType(type_)) {
    // The text ends at its first NUL; it keeps at most Size characters and every byte after
    // its end is zero.
    std::vector<uint8_t> v(size_ + 1, 0);
    const size_t len = std::min<size_t>(strnlen(text.data(), text.size()), size_);
    std::memcpy(v.data(), text.data(), len);
    return SetData(v.data());
  }
  if (Trim(text).empty()) return Clear();
  if (IsIntegerType(type_)) {
    const auto n = ParseInt(text);
    if (!n) {
      // A number out of the 64-bit range is a range error, not a malformed text.
      if (ParseFloat(text)) RangeError(text);
      ConversionError(text, "integer");
    }
    return StoreInteger(*n, text);
  }
  switch (type_) {
    case ftBoolean: {
      const auto b = ParseBool(text);
      if (!b) ConversionError(text, "boolean");
      return SetAsBoolean(*b);
    }
    case ftFloat: case ftCurrency: {
      const auto f = ParseFloat(text);
      if (!f) ConversionError(text, "floating point");
      return SetAsFloat(*f);
    }
    case ftDate: {
      auto d = TryIsoTextToDate(text);
      if (!d) d = TryIsoTextToDateTime(text);
      if (!d) ConversionError(text, "date");
      // The calendar day of the moment. Before 1899-12-30 a value is its day's (negative) number
      // minus the time of day, so the day is the value truncated toward zero, not rounded down.
      return SetAsDateTime(std::trunc(*d));
    }
    case ftTime: {
      const auto t = TryIsoTextToTime(text);
      if (!t) ConversionError(text, "time");
      return SetAsDateTime(*t);
    }
    case ftDateTime: {
      const auto t = TryIsoTextToDateTime(text);
      if (!t) ConversionError(text, "date and time");
      return SetAsDateTime(*t);
    }
    default: ConversionError(text, "field");
  }
}

void TField::StoreInteger(int64_t v, std::string_view text) {
  uint8_t buf[8] = {};
  const std::string shown = text.empty() ? std::to_string(v) : std::string(text);
  switch (type_) {
    case ftSmallint:
      if (v < INT16_MIN || v > INT16_MAX) RangeError(shown);
      Put<int16_t>(buf, static_cast<int16_t>(v));
      break;
    case ftWord:
      if (v < 0 || v > UINT16_MAX) RangeError(shown);
      Put<uint16_t>(buf, static_cast<uint16_t>(v));
      break;
    case ftInteger: case ftAutoInc:
      if (v < INT32_MIN || v > INT32_MAX) RangeError(shown);
      Put<int32_t>(buf, static_cast<int32_t>(v));
      break;
    case ftLargeint: Put<int64_t>(buf, v); break;
    case ftBoolean: Put<int16_t>(buf, v != 0 ? 1 : 0); break;
    case ftFloat: case ftCurrency: Put<double>(buf, static_cast<double>(v)); break;
    case ftDate: case ftTime: case ftDateTime: return SetAsDateTime(static_cast<double>(v));
    default:
      if (IsStringType(type_) || IsBlob()) return SetAsString(std::to_string(v));
      ConversionError(shown, "field");
  }
  SetData(buf);
}

void TField::StoreFloat(double v, std::string_view text) {
  const std::string shown = text.empty() ? FloatText(v) : std::string(text);
  if (!std::isfinite(v)) ConversionError(shown, "floating point");
  if (IsIntegerType(type_)) {
    const double r = std::nearbyint(v);
    if (r < -9.2233720368547758e18 || r >= 9.2233720368547758e18) RangeError(shown);
    return StoreInteger(static_cast<int64_t>(r), shown);
  }
  uint8_t buf[8] = {};
  switch (type_) {
    case ftFloat: case ftCurrency: Put<double>(buf, v); break;
    case ftBoolean: Put<int16_t>(buf, v != 0 ? 1 : 0); break;
    case ftDate: case ftTime: case ftDateTime: return SetAsDateTime(v);
    default:
      if (IsStringType(type_) || IsBlob()) return SetAsString(FloatText(v));
      ConversionError(shown, "field");
  }
  SetData(buf);
}

int32_t TField::AsInteger() {
  const int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) RangeError(std::to_string(v));
  return static_cast<int32_t>(v);
}

void TField::SetAsInteger(int32_t value) { StoreInteger(value, {}); }

int64_t TField::AsLargeInt() {
  const Variant v = Value();
  switch (v.kind()) {
    case Variant::Kind::Null: return 0;
    case Variant::Kind::Integer: return v.get<int32_t>();
    case Variant::Kind::Int64: return v.get<int64_t>();
    case Variant::Kind::Boolean: return v.get<bool>() ? 1 : 0;
    case Variant::Kind::Float: case Variant::Kind::Currency: case Variant::Kind::DateTime: {
      const double d = v.kind() == Variant::Kind::Float      ? v.get<double>()
                       : v.kind() == Variant::Kind::Currency ? v.get<TCurrency>().value
                                                              : v.get<TDateTimeValue>().value;
      const double r = std::nearbyint(d);
      if (!std::isfinite(r) || r < -9.2233720368547758e18 || r >= 9.2233720368547758e18)
        RangeError(FloatText(d));
      return static_cast<int64_t>(r);
    }
    case Variant::Kind::String: {
      const auto n = ParseInt(v.get<std::string>());
      if (!n) ConversionError(v.get<std::string>(), "integer");
      return *n;
    }
    default: ConversionError("", "integer");
  }
}

void TField::SetAsLargeInt(int64_t value) { StoreInteger(value, {}); }

double TField::AsFloat() {
  const Variant v = Value();
  switch (v.kind()) {
    case Variant::Kind::Null: return 0;
    case Variant::Kind::Integer: return v.get<int32_t>();
    case Variant::Kind::Int64: return static_cast<double>(v.get<int64_t>());
    case Variant::Kind::Boolean: return v.get<bool>() ? 1 : 0;
    case Variant::Kind::Float: return v.get<double>();
    case Variant::Kind::Currency: return v.get<TCurrency>().value;
    case Variant::Kind::DateTime: return v.get<TDateTimeValue>().value;
    case Variant::Kind::String: {
      const auto f = ParseFloat(v.get<std::string>());
      if (!f) ConversionError(v.get<std::string>(), "floating point");
      return *f;
    }
    default: ConversionError("", "floating point");
  }
}

void TField::SetAsFloat(double value) { StoreFloat(value, {}); }

bool TField::AsBoolean() {
  const Variant v = Value();
  switch (v.kind()) {
    case Variant::Kind::Null: return false;
    case Variant::Kind::Boolean: return v.get<bool>();
    case Variant::Kind::Integer: return v.get<int32_t>() != 0;
    case Variant::Kind::Int64: return v.get<int64_t>() != 0;
    case Variant::Kind::Float: return v.get<double>() != 0;
    case Variant::Kind::Currency: return v.get<TCurrency>().value != 0;
    case Variant::Kind::String: {
      const auto b = ParseBool(v.get<std::string>());
      if (!b) ConversionError(v.get<std::string>(), "boolean");
      return *b;
    }
    default: ConversionError(AsString(), "boolean");
  }
}

void TField::SetAsBoolean(bool value) {
  if (type_ == ftBoolean) {
    const int16_t v = value ? 1 : 0;
    return SetData(&v);
  }
  if (IsStringType(type_) || IsBlob()) return SetAsString(value ? "True" : "False");
  if (IsIntegerType(type_) || type_ == ftFloat || type_ == ftCurrency)
    return StoreInteger(value ? 1 : 0, {});
  ConversionError(value ? "True" : "False", "date and time");
}

TDateTime TField::AsDateTime() {
  const Variant v = Value();
  switch (v.kind()) {
    case Variant::Kind::Null: return 0;
    case Variant::Kind::DateTime: return v.get<TDateTimeValue>().value;
    case Variant::Kind::Float: return v.get<double>();
    case Variant::Kind::Currency: return v.get<TCurrency>().value;
    case Variant::Kind::Integer: return v.get<int32_t>();
    case Variant::Kind::Int64: return static_cast<double>(v.get<int64_t>());
    case Variant::Kind::String: {
      const std::string& s = v.get<std::string>();
      auto d = TryIsoTextToDateTime(s);
      if (!d) d = TryIsoTextToTime(s);
      if (!d) ConversionError(s, "date and time");
      return *d;
    }
    default: ConversionError(AsString(), "date and time");
  }
}

void TField::SetAsDateTime(TDateTime value) {
  if (IsDateType(type_)) {
    if (!TryDateTimeToTimeStamp(value)) RangeError(FloatText(value));
    return SetData(&value);
  }
  if (IsStringType(type_) || IsBlob()) {
    if (!TryDateTimeToTimeStamp(value)) RangeError(FloatText(value));
    return SetAsString(DateTimeToIsoText(value));
  }
  StoreFloat(value, {});
}

std::vector<uint8_t> TField::AsBytes() {
  const std::string s = AsString();
  return std::vector<uint8_t>(s.begin(), s.end());
}

void TField::SetAsBytes(const void* data, size_t size) {
  if (IsBlob()) return StoreBlob(data, size);
  SetAsString(std::string_view(static_cast<const char*>(data), size));
}

Variant TField::Value() {
  if (IsBlob()) return Variant(BlobContents());
  std::vector<uint8_t> v(FieldValueSize(type_, size_) + 1, 0);
  if (!GetData(v.data())) return Variant();
  const uint8_t* p = v.data();
  switch (type_) {
    case ftSmallint: return Variant(static_cast<int32_t>(Load<int16_t>(p)));
    case ftWord: return Variant(static_cast<int32_t>(Load<uint16_t>(p)));
    case ftInteger: case ftAutoInc: return Variant(Load<int32_t>(p));
    case ftLargeint: return Variant(Load<int64_t>(p));
    case ftBoolean: return Variant(Load<int16_t>(p) != 0);
    case ftFloat: return Variant(Load<double>(p));
    case ftCurrency: return Variant(TCurrency{Load<double>(p)});
    case ftDate: case ftTime: case ftDateTime: return Variant(TDateTimeValue{Load<double>(p)});
    default:
      return Variant(std::string(reinterpret_cast<const char*>(p),
                                 strnlen(reinterpret_cast<const char*>(p), size_ + 1)));
  }
}

void TField::SetValue(const Variant& value) {
  switch (value.kind()) {
    case Variant::Kind::Null: return Clear();
    case Variant::Kind::Integer: return StoreInteger(value.get<int32_t>(), {});
    case Variant::Kind::Int64: return StoreInteger(value.get<int64_t>(), {});
    case Variant::Kind::Float: return StoreFloat(value.get<double>(), {});
    case Variant::Kind::Currency: return StoreFloat(value.get<TCurrency>().value, {});
    case Variant::Kind::DateTime: return SetAsDateTime(value.get<TDateTimeValue>().value);
    case Variant::Kind::Boolean: return SetAsBoolean(value.get<bool>());
    case Variant::Kind::String: return SetAsString(value.get<std::string>());
    case Variant::Kind::Array:
      throw EDatabaseError(FormatMessage("Invalid variant type conversion for field '%s'", {name_}));
  }
}

}  // namespace zq
