// TDataSet's fields: the field definitions and objects, their binding to the record buffer, the
// calculated fields, and the reading and writing of field values with the conversion of dates and
// times between their stored and TDateTime forms. The rest of the framework is in data_set.cpp.
#include "dbengine/dataset/data_set.h"

#include <cstring>

#include "dbengine/format/date_time.h"
#include "dbengine/format/db_error.h"

namespace zq {
namespace {

bool IsDateType(TFieldType t) { return t == ftDate || t == ftTime || t == ftDateTime; }

}  // namespace

void TDataSet::UpdateFieldDefs() {
  if (!Active()) InternalInitFieldDefs();
}

void TDataSet::CreateFields() {
  default_fields_ = true;
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const TFieldDef& d = field_defs_[i];
    if (fields_.FindField(d.Name())) continue;
    TField& f = fields_.Add(std::make_unique<TField>(d.Name(), d.DataType(), d.Size()));
    f.persistent_ = false;
  }
}

void TDataSet::DestroyFields() {
  // Only the fields made from the definitions go; persistent (caller-made) fields stay.
  if (!default_fields_) return;
  for (int i = fields_.Count() - 1; i >= 0; --i)
    if (fields_[i].FieldKind() == TFieldKind::fkData && fields_[i].persistent_ == false)
      fields_.Remove(fields_[i]);
  default_fields_ = false;
}

bool TDataSet::HasPersistentDataFields() const {
  for (int i = 0; i < fields_.Count(); ++i)
    if (fields_[i].FieldKind() == TFieldKind::fkData && fields_[i].persistent_) return true;
  return false;
}

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  for (int i = 0; i < fields_.Count(); ++i) {
    TField& f = fields_[i];
    if (!binding) {
      f.field_no_ = 0;
      continue;
    }
    if (f.FieldKind() == TFieldKind::fkData) {
      const TFieldDef& d = field_defs_.Find(f.FieldName());
      if (d.DataType() != f.DataType() ||
          (IsStringType(d.DataType()) && d.Size() != f.Size()))
        throw EDatabaseError(
            FormatMessage("Type mismatch for field '%s'", {f.FieldName()}));
      f.field_no_ = d.FieldNo();
    } else {
      if (f.IsBlob())
        throw EDatabaseError(
            FormatMessage("Field '%s' cannot be a calculated blob field", {f.FieldName()}));
      f.field_no_ = 0;
      f.offset_ = calc_fields_size_;
      calc_fields_size_ += 1 + f.DataSize();
    }
  }
}

Variant TDataSet::FieldValues(const std::string& names) {
  const std::vector<TField*> list = GetFieldList(names);
  if (list.size() == 1) return list[0]->Value();
  std::vector<Variant> values;
  for (TField* f : list) values.push_back(f->Value());
  return Variant(std::move(values));
}

void TDataSet::SetFieldValues(const std::string& names, const Variant& value) {
  const std::vector<TField*> list = GetFieldList(names);
  if (list.size() == 1) return list[0]->SetValue(value);
  if (value.kind() != Variant::Kind::Array ||
      value.get<std::vector<Variant>>().size() != list.size())
    throw EDatabaseError("Invalid variant type conversion");
  for (size_t i = 0; i < list.size(); ++i)
    list[i]->SetValue(value.get<std::vector<Variant>>()[i]);
}

uint8_t* TDataSet::CalcFieldSlot(TRecordBuffer buffer, const TField& field) {
  return buffer + CalcFieldsOffset() + field.Offset();
}

void TDataSet::ClearCalcFields(TRecordBuffer buffer) {
  if (buffer && calc_fields_size_ > 0) std::memset(buffer + CalcFieldsOffset(), 0, calc_fields_size_);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  if (calc_fields_size_ == 0 && !OnCalcFields) return;
  TRecordBuffer saved = calc_buffer_;
  calc_buffer_ = buffer;
  const TDataSetState old = SetTempState(TDataSetState::dsCalcFields);
  try {
    ClearCalcFields(buffer);
    if (OnCalcFields) OnCalcFields(*this);
  } catch (...) {
    RestoreState(old);
    calc_buffer_ = saved;
    throw;
  }
  RestoreState(old);
  calc_buffer_ = saved;
}

TRecordBuffer TDataSet::DefaultActiveBuffer() {
  switch (state_) {
    case TDataSetState::dsBrowse: return record_count_ > 0 ? active_ : nullptr;
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsNewValue: return active_;
    case TDataSetState::dsCalcFields: return calc_buffer_;
    case TDataSetState::dsFilter: return filter_buffer_;
    default: return nullptr;
  }
}

bool TDataSet::GetFieldData(TField& field, void* buffer, bool native) {
  if (!native && IsDateType(field.DataType())) {
    uint8_t tmp[8] = {};
    if (!GetFieldData(field, tmp)) return false;
    if (buffer) DataConvert(field, tmp, buffer, false);
    return true;
  }
  return GetFieldData(field, buffer);
}

void TDataSet::SetFieldData(TField& field, const void* buffer, bool native) {
  const TDataSetState s = state_;
  const bool free_state = s == TDataSetState::dsCalcFields || s == TDataSetState::dsFilter ||
                          s == TDataSetState::dsSetKey;
  if (!InEditModes(s) && !free_state && s != TDataSetState::dsNewValue)
    throw EDatabaseError("Dataset not in edit or insert mode");
  if (field.Calculated() && s != TDataSetState::dsCalcFields && s != TDataSetState::dsFilter)
    throw EDatabaseError(FormatMessage("Field '%s' cannot be modified", {field.FieldName()}));
  if (field.ReadOnly() && !free_state)
    throw EDatabaseError(FormatMessage("Field '%s' cannot be modified", {field.FieldName()}));
  if (!native && buffer && IsDateType(field.DataType())) {
    uint8_t tmp[8] = {};
    DataConvert(field, buffer, tmp, true);
    return SetFieldData(field, tmp);
  }
  SetFieldData(field, buffer);
}

void TDataSet::DataConvert(TField& field, const void* source, void* dest, bool to_native) {
  double dt;
  if (to_native) {
    std::memcpy(&dt, source, sizeof dt);
    switch (field.DataType()) {
      case ftDate: {
        const int32_t v = DateTimeToDateField(dt);
        std::memcpy(dest, &v, 4);
        break;
      }
      case ftTime: {
        const int32_t v = DateTimeToTimeField(dt);
        std::memcpy(dest, &v, 4);
        break;
      }
      default: {
        const double v = DateTimeToDateTimeField(dt);
        std::memcpy(dest, &v, 8);
      }
    }
    return;
  }
  switch (field.DataType()) {
    case ftDate: {
      int32_t v;
      std::memcpy(&v, source, 4);
      dt = DateFieldToDateTime(v);
      break;
    }
    case ftTime: {
      int32_t v;
      std::memcpy(&v, source, 4);
      dt = TimeFieldToDateTime(v);
      break;
    }
    default: {
      double v;
      std::memcpy(&v, source, 8);
      dt = DateTimeFieldToDateTime(v);
    }
  }
  std::memcpy(dest, &dt, sizeof dt);
}

void TDataSet::FieldChanged(TField& field) {
  field.modified_ = true;
  if (state_ == TDataSetState::dsCalcFields || state_ == TDataSetState::dsFilter) return;
  modified_ = true;
  DataEvent(TDataEvent::deFieldChange, &field);
}

}  // namespace zq
