// TDbTable's key searches (SetKey, GotoKey, FindKey on the current index), Locate and Lookup.
#include "dbengine/dataset/db_table.h"

#include <algorithm>
#include <cstring>

#include "dbengine/dataset/db_table_internal.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/storage/table_io.h"

namespace zq {

using db_table_detail::FindRow;

void TDbTable::SetKey() {
  CheckBrowseMode();
  if (current_index_ < 0) throw EDatabaseError("No index currently active");
  key_buffer_ = key_buffers_[0];
  InternalInitRecord(key_buffer_);
  for (int i = 0; i < Fields().Count(); ++i) Fields()[i].SetModified(false);
  SetState(TDataSetState::dsSetKey);
  DataEvent(TDataEvent::deDataSetChange, nullptr);
}

bool TDbTable::SearchKey(TRecordBuffer key, int key_field_count) {
  if (current_index_ < 0) throw EDatabaseError("No index currently active");
  TFieldBuffers buffers;
  BuildFieldBuffers(key, buffers, TableFieldCount());
  table_io_->LoadRowList(current_index_ + 1, false);
  const TRowList& list = table_io_->RowList(current_index_ + 1);
  int row = -1;
  {
    // The search and the read of the row it finds under one hold of the lock.
    TDbTableIO::SearchBatch batch(*table_io_);
    int result = 0;
    const int p =
        table_io_->FindKeyBound(buffers, list, false, key_field_count, result, true, current_index_);
    if (result != 0) return false;
    row = FilterOrRangeActive() ? FindRow(*visible_, list[static_cast<size_t>(p)].RecordId) : p;
    if (row < 0) return false;
    HoldRow(row);
  }
  DoBeforeScroll();
  current_row_ = row;
  Resync();
  DoAfterScroll();
  return true;
}

bool TDbTable::GotoKey() {
  if (State() != TDataSetState::dsSetKey) CheckBrowseMode();
  if (current_index_ < 0) throw EDatabaseError("No index currently active");
  // The key ends after the last index field that was assigned.
  const TDbIndexDef& def = table_io_->IndexDefs().Item(current_index_);
  int count = 0;
  for (size_t k = 0; k < def.FieldNumbers.size(); ++k)
    if (TField* f = Fields().FieldByNumber(def.FieldNumbers[k] + 1); f && f->Modified())
      count = static_cast<int>(k) + 1;
  if (State() == TDataSetState::dsSetKey) Post();
  if (count == 0) return false;
  return SearchKey(key_buffers_[0], count);
}

TField& TDbTable::KeyField(const TDbIndexDef& index, int k) {
  const int no = index.FieldNumbers[static_cast<size_t>(k)];
  TField* f = Fields().FieldByNumber(no + 1);
  if (!f) throw EDatabaseError(FormatMessage("Field '%s' not found", {table_io_->FieldDefs().Item(no).Name()}));
  return *f;
}

bool TDbTable::FindKey(const std::vector<Variant>& values) {
  CheckBrowseMode();
  if (current_index_ < 0) throw EDatabaseError("No index currently active");
  const TDbIndexDef& def = table_io_->IndexDefs().Item(current_index_);
  const int count = static_cast<int>(std::min(values.size(), def.FieldNumbers.size()));
  if (count == 0) return false;
  TRecordBuffer key = key_buffers_[3];
  InternalInitRecord(key);
  {
    const TFilterRecordScope filter_record(*this, key);
    for (int k = 0; k < count; ++k) KeyField(def, k).SetValue(values[static_cast<size_t>(k)]);
  }
  return SearchKey(key, count);
}

// ---------------------------------------------------------------- locate and lookup

int TDbTable::IndexForFields(const std::vector<TField*>& fields, bool case_insensitive) const {
  bool has_text = false;
  for (TField* f : fields) has_text = has_text || IsStringType(f->DataType());
  for (int i = 0; i < table_io_->IndexDefs().Count(); ++i) {
    const TDbIndexDef& d = table_io_->IndexDefs().Item(i);
    if (d.FieldNumbers.size() != fields.size()) continue;
    bool same = true;
    for (size_t k = 0; k < fields.size() && same; ++k)
      same = d.FieldNumbers[k] == fields[k]->FieldNo() - 1;
    if (!same) continue;
    if (has_text && ((d.Options & tiCaseInsensitive) != 0) != case_insensitive) continue;
    return i;
  }
  return -1;
}

int TDbTable::LocateRow(const std::string& key_fields, const Variant& key_values,
                        TLocateOptions options) {
  const std::vector<TField*> fields = GetFieldList(key_fields);
  if (fields.empty() || !visible_) return -1;
  for (TField* f : fields)
    if (f->Calculated() || f->IsBlob())
      throw EDatabaseError(FormatMessage("Field '%s' cannot be a search key", {f->FieldName()}));
  std::vector<Variant> values;
  if (fields.size() == 1) {
    if (key_values.kind() == Variant::Kind::Array) {
      const auto& a = key_values.get<std::vector<Variant>>();
      values.push_back(a.empty() ? Variant() : a[0]);
    } else {
      values.push_back(key_values);
    }
  } else {
    if (key_values.kind() != Variant::Kind::Array ||
        key_values.get<std::vector<Variant>>().size() < fields.size())
      throw EDatabaseError("Invalid variant type conversion");
    values = key_values.get<std::vector<Variant>>();
  }
  const bool partial = (options & loPartialKey) != 0;
  const bool ci = (options & loCaseInsensitive) != 0;

  TRecordBuffer key = TempBuffer();
  InternalInitRecord(key);
  int row = -1;
  {
    const TFilterRecordScope filter_record(*this, key);
    for (size_t i = 0; i < fields.size(); ++i) fields[i]->SetValue(values[i]);
    const int index = IndexForFields(fields, ci);
    if (index >= 0) {
      TFieldBuffers buffers;
      BuildFieldBuffers(key, buffers, TableFieldCount());
      table_io_->LoadRowList(index + 1, false);
      const TRowList& list = table_io_->RowList(index + 1);
      TDbTableIO::SearchBatch batch(*table_io_);
      int result = 0;
      // The first equal entry in index order, so the same row wins as in a scan of that order.
      const int p = table_io_->FindKeyBound(buffers, list, partial, static_cast<int>(fields.size()),
                                            result, true, index);
      if (result == 0) {
        if (index == current_index_ && !FilterOrRangeActive()) row = p;
        else row = FindRow(*visible_, list[static_cast<size_t>(p)].RecordId);
      }
      if (row >= 0) HoldRow(row);
    } else {
      TMemoryStream stored;
      for (int r = 0; r < RowCount() && row < 0; ++r) {
        bool equal = true;
        for (TField* f : fields) {
          stored.Clear();
          table_io_->ReadStoredField(stored, RowRecordId(r), f->FieldNo() - 1);
          if (TDbTableIO::CompareValues(key + FieldOffset(f->FieldNo()), f->DataSize(),
                                        stored.Memory(), stored.Size(), partial, ci,
                                        f->DataType()) != 0) {
            equal = false;
            break;
          }
        }
        if (equal) row = r;
      }
    }
  }
  return row;
}

bool TDbTable::Locate(const std::string& key_fields, const Variant& key_values,
                      TLocateOptions options) {
  CheckBrowseMode();
  DoBeforeScroll();
  const int row = LocateRow(key_fields, key_values, options);
  if (row < 0) return false;
  current_row_ = row;
  Resync();
  DoAfterScroll();
  return true;
}

Variant TDbTable::Lookup(const std::string& key_fields, const Variant& key_values,
                         const std::string& result_fields) {
  CheckBrowseMode();
  Variant result;
  const int row = LocateRow(key_fields, key_values, 0);
  if (row < 0) return result;
  TRecordBuffer buffer = TempBuffer();
  {
    const TFilterRecordScope filter_record(*this, buffer);
    ReadRecordData(buffer, row);
    CalculateFields(buffer);
    result = FieldValues(result_fields);
  }
  return result;
}

}  // namespace zq
