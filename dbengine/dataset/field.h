// A field object: one column of a data set, bound to a field definition by number (physical
// fields) or holding a value computed per record (calculated fields). A field reads and writes
// its value through its data set's active record buffer and converts it to and from variants and
// texts.
//
// Text forms (AsString / SetAsString):
//   string types       the text itself (longer texts are cut to the defined size on storing)
//   integer types      decimal digits with an optional sign
//   ftBoolean          "True" / "False" (any case on input; "1"/"0" accepted too)
//   ftFloat/Currency   the shortest text that reads back to the same double; "." decimal point
//   ftDate             "YYYY-MM-DD"
//   ftTime             "HH:MM:SS.mmm" (input also "HH:MM" and "HH:MM:SS[.f]")
//   ftDateTime         "YYYY-MM-DDTHH:MM:SS.mmm" (input also a date alone, or " " before the time)
//   blob types         the bytes of the value (memo types hold text)
// A text that does not convert raises EDatabaseError "'<text>' is not a valid <kind> value for
// field '<name>'"; a number outside the type's range "'<text>' is out of range for field '<name>'".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/format/field_type.h"
#include "dbengine/format/variant.h"

namespace zq {

class TDataSet;

enum class TFieldKind { fkData, fkCalculated, fkLookup };

class TField {
 public:
  TField(std::string name, TFieldType type, int size = 0, TFieldKind kind = TFieldKind::fkData);
  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return name_; }
  void SetFieldName(const std::string& name);
  TFieldType DataType() const { return type_; }
  // Defined size in characters for string types, else 0.
  int Size() const { return size_; }
  void SetSize(int size);
  TFieldKind FieldKind() const { return kind_; }
  void SetFieldKind(TFieldKind kind);
  bool Calculated() const { return kind_ != TFieldKind::fkData; }
  bool IsBlob() const { return IsBlobType(type_); }
  // 1-based number of the bound field definition; 0 for calculated fields and unbound fields.
  int FieldNo() const { return field_no_; }
  // Position in the data set's field list.
  int Index() const;
  TDataSet* DataSet() const { return data_set_; }
  // Offset of a calculated field's has-value byte within the calculated part of the buffer.
  int Offset() const { return offset_; }
  // Bytes of the value as kept in a record buffer (native form). Blob fields keep a stream
  // reference there, so their data size is that of a pointer.
  int DataSize() const;
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

  // Raw access in the field's own form (dates as TDateTime doubles) or, with native set, in the
  // record buffer's form. GetData returns false when the field has no value.
  bool GetData(void* buffer, bool native = false);
  // nullptr stores no value (a physical field then keeps what it had).
  void SetData(const void* buffer, bool native = false);

  bool IsNull();
  void Clear() { SetData(nullptr); }

  Variant Value();
  void SetValue(const Variant& value);
  std::string AsString();
  void SetAsString(std::string_view text);
  int32_t AsInteger();
  void SetAsInteger(int32_t value);
  int64_t AsLargeInt();
  void SetAsLargeInt(int64_t value);
  double AsFloat();
  void SetAsFloat(double value);
  bool AsBoolean();
  void SetAsBoolean(bool value);
  TDateTime AsDateTime();
  void SetAsDateTime(TDateTime value);
  // Blob contents as bytes (any blob type).
  std::vector<uint8_t> AsBytes();
  void SetAsBytes(const void* data, size_t size);

  // Called after a value was stored in this field.
  std::function<void(TField&)> OnChange;

  // The text of a double as written by AsString (shortest that reads back the same).
  static std::string FloatText(double value);

 private:
  friend class TDataSet;
  friend class TFields;

  [[noreturn]] void ConversionError(std::string_view text, const char* kind) const;
  [[noreturn]] void RangeError(std::string_view text) const;
  // Stores an integer into a numeric field, range-checked against the field's type.
  void StoreInteger(int64_t v, std::string_view text_for_errors);
  void StoreFloat(double v, std::string_view text_for_errors);
  std::string BlobContents();
  void StoreBlob(const void* data, size_t size);

  std::string name_;
  TFieldType type_;
  int size_;
  TFieldKind kind_;
  int field_no_ = 0;
  int offset_ = 0;
  bool read_only_ = false;
  bool required_ = false;
  bool modified_ = false;
  bool persistent_ = true;  // made by the caller, not from the field definitions
  TDataSet* data_set_ = nullptr;
};

// The size of the buffer that GetData/SetData use for a type in the field's own form (not
// native): string Size+1, dates 8 (TDateTime); a blob type 0 (no plain data).
int FieldValueSize(TFieldType type, int size);
// The size in a record buffer (native form).
int FieldNativeSize(TFieldType type, int size);

}  // namespace zq
