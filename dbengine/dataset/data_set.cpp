#include "dbengine/dataset/data_set.h"

#include <algorithm>
#include <cstring>

#include "dbengine/dataset/data_source.h"
#include "dbengine/format/date_time.h"
#include "dbengine/format/db_error.h"

namespace zq {
namespace {

bool IsDateType(TFieldType t) { return t == ftDate || t == ftTime || t == ftDateTime; }

bool InEditModes(TDataSetState s) {
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert ||
         s == TDataSetState::dsSetKey;
}

}  // namespace

TDataSet::TDataSet() : fields_(this) {}

TDataSet::~TDataSet() {
  // A concrete data set closes itself in its own destructor (its hooks are gone by now); here
  // only the sources are detached.
  for (TDataSource* s : std::vector<TDataSource*>(data_sources_)) s->SetDataSet(nullptr);
}

void TDataSet::Abort() { throw EAbort(); }

// ---------------------------------------------------------------- state

void TDataSet::CheckActive() {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() {
  if (state_ != TDataSetState::dsInactive)
    throw EDatabaseError("Cannot perform this operation on an open dataset");
}

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  DataEvent(TDataEvent::deUpdateState, nullptr);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  const TDataSetState old = state_;
  state_ = state;
  return old;
}

void TDataSet::RestoreState(TDataSetState state) { state_ = state; }

void TDataSet::CheckCanModify() {
  if (!CanModify()) throw EDatabaseError("Cannot modify a read-only dataset");
}

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) OpenSequence();
  else CloseSequence();
}

void TDataSet::OpenSequence() {
  if (BeforeOpen) BeforeOpen(*this);
  state_ = TDataSetState::dsOpening;
  try {
    OpenCursor(false);
    SetState(TDataSetState::dsBrowse);
    FetchCurrent();
    bof_ = true;
    DataEvent(TDataEvent::deDataSetChange, nullptr);
    DoAfterOpen();
  } catch (...) {
    const bool was_open = state_ != TDataSetState::dsInactive;
    state_ = TDataSetState::dsInactive;
    if (was_open) {
      try {
        CloseCursor();
      } catch (...) {
        // The open's own error is the one to report.
      }
    }
    DataEvent(TDataEvent::deUpdateState, nullptr);
    throw;
  }
}

void TDataSet::CloseSequence() {
  if (BeforeClose) BeforeClose(*this);
  SetState(TDataSetState::dsInactive);
  CloseCursor();
  if (AfterClose) AfterClose(*this);
}

void TDataSet::OpenCursor(bool /*info_query*/) {
  InternalOpen();
  AllocateBuffers();
}

void TDataSet::CloseCursor() {
  FreeBuffers();
  InternalClose();
  record_count_ = 0;
  bof_ = eof_ = true;
  cursor_changed_ = false;
}

void TDataSet::AllocateBuffers() {
  FreeBuffers();
  active_ = AllocRecordBuffer();
  spare_ = AllocRecordBuffer();
  temp_ = AllocRecordBuffer();
  record_count_ = 0;
}

void TDataSet::FreeBuffers() {
  for (TRecordBuffer* b : {&active_, &spare_, &temp_})
    if (*b) FreeRecordBuffer(*b), *b = nullptr;
  calc_buffer_ = nullptr;
  filter_buffer_ = nullptr;
  record_count_ = 0;
}

// ---------------------------------------------------------------- fields

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

// ---------------------------------------------------------------- events and sources

void TDataSet::AddDataSource(TDataSource* source) { data_sources_.push_back(source); }

void TDataSet::RemoveDataSource(TDataSource* source) {
  data_sources_.erase(std::remove(data_sources_.begin(), data_sources_.end(), source),
                      data_sources_.end());
}

void TDataSet::DataEvent(TDataEvent event, TField* field) {
  if (event == TDataEvent::deFieldChange && field) {
    if (!field->Calculated() && auto_calc_fields_ &&
        (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert))
      CalculateFields(active_);
    if (field->OnChange) field->OnChange(*field);
  }
  if (ControlsDisabled() && event != TDataEvent::deUpdateState &&
      event != TDataEvent::deConnectChange) {
    pending_change_ = true;
    return;
  }
  for (TDataSource* s : std::vector<TDataSource*>(data_sources_)) s->DataEvent(event, field);
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ == 0 && pending_change_) {
    pending_change_ = false;
    DataEvent(Active() ? TDataEvent::deDataSetChange : TDataEvent::deUpdateState, nullptr);
  }
}

void TDataSet::InternalHandleException() {
  // No application-wide handler in the engine: the exception goes to the caller.
  throw;
}

// ---------------------------------------------------------------- navigation

void TDataSet::UpdateCursorPos() {
  if (cursor_changed_ && record_count_ > 0 && active_ &&
      GetBookmarkFlag(active_) == TBookmarkFlag::bfCurrent)
    InternalSetToRecord(active_);
  cursor_changed_ = false;
}

TGetResult TDataSet::Fetch(TGetMode mode) {
  const TGetResult r = GetRecord(spare_, mode, false);
  if (r == TGetResult::grOK) {
    std::swap(active_, spare_);
    record_count_ = 1;
    cursor_changed_ = false;
  } else {
    // The cursor may now stand beside the active record; put it back before the next move.
    cursor_changed_ = true;
  }
  return r;
}

void TDataSet::FetchCurrent() {
  InternalFirst();
  record_count_ = 0;
  cursor_changed_ = false;
  if (Fetch(TGetMode::gmNext) != TGetResult::grOK) record_count_ = 0;
  cursor_changed_ = false;
  bof_ = true;
  eof_ = record_count_ == 0;
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  FetchCurrent();
  DataEvent(TDataEvent::deDataSetChange, nullptr);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalLast();
  record_count_ = 0;
  if (Fetch(TGetMode::gmPrior) != TGetResult::grOK) record_count_ = 0;
  cursor_changed_ = false;
  eof_ = true;
  bof_ = record_count_ == 0;
  DataEvent(TDataEvent::deDataSetChange, nullptr);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = eof_ = false;
    DoBeforeScroll();
    UpdateCursorPos();
    if (record_count_ == 0) {
      bof_ = eof_ = true;
    } else if (distance > 0) {
      while (moved < distance) {
        if (Fetch(TGetMode::gmNext) != TGetResult::grOK) {
          eof_ = true;
          break;
        }
        ++moved;
      }
    } else {
      while (moved > distance) {
        if (Fetch(TGetMode::gmPrior) != TGetResult::grOK) {
          bof_ = true;
          break;
        }
        --moved;
      }
    }
    DataEvent(TDataEvent::deDataSetScroll, nullptr);
    DoAfterScroll();
  }
  return moved;
}

void TDataSet::Resync() {
  cursor_changed_ = false;
  TGetResult r = GetRecord(spare_, TGetMode::gmCurrent, false);
  if (r != TGetResult::grOK) r = GetRecord(spare_, TGetMode::gmNext, false);
  if (r != TGetResult::grOK) r = GetRecord(spare_, TGetMode::gmPrior, false);
  if (r == TGetResult::grOK) {
    std::swap(active_, spare_);
    record_count_ = 1;
    bof_ = eof_ = false;
  } else {
    record_count_ = 0;
    bof_ = eof_ = true;
  }
  DataEvent(TDataEvent::deDataSetChange, nullptr);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (BeforeRefresh) BeforeRefresh(*this);
  InternalRefresh();
  Resync();
  if (AfterRefresh) AfterRefresh(*this);
}

// ---------------------------------------------------------------- editing

void TDataSet::RunWithErrorEvent(const std::function<void()>& op, const TDataSetErrorEvent& event) {
  for (;;) {
    try {
      op();
      return;
    } catch (const EDatabaseError& e) {
      if (!event) throw;
      TDataAction action = TDataAction::daFail;
      event(*this, e, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) Abort();
    }
  }
}

void TDataSet::Edit() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (record_count_ == 0) return Insert();
  CheckBrowseMode();
  CheckCanModify();
  if (BeforeEdit) BeforeEdit(*this);
  UpdateCursorPos();
  RunWithErrorEvent([this] { InternalEdit(); }, OnEditError);
  SetState(TDataSetState::dsEdit);
  DataEvent(TDataEvent::deRecordChange, nullptr);
  if (AfterEdit) AfterEdit(*this);
}

void TDataSet::Insert() {
  CheckActive();
  CheckBrowseMode();
  CheckCanModify();
  if (BeforeInsert) BeforeInsert(*this);
  DoBeforeScroll();
  UpdateCursorPos();
  InternalInsert();
  InternalInitRecord(active_);
  ClearCalcFields(active_);
  SetBookmarkFlag(active_, TBookmarkFlag::bfInserted);
  record_count_ = 1;
  bof_ = eof_ = false;
  SetState(TDataSetState::dsInsert);
  DoOnNewRecord();
  modified_ = false;
  DataEvent(TDataEvent::deDataSetChange, nullptr);
  if (AfterInsert) AfterInsert(*this);
  DoAfterScroll();
}

void TDataSet::Append() {
  CheckActive();
  CheckBrowseMode();
  CheckCanModify();
  if (BeforeInsert) BeforeInsert(*this);
  DoBeforeScroll();
  InternalLast();
  cursor_changed_ = true;
  InternalInsert();
  InternalInitRecord(active_);
  ClearCalcFields(active_);
  SetBookmarkFlag(active_, TBookmarkFlag::bfEOF);
  record_count_ = 1;
  bof_ = false;
  eof_ = true;
  SetState(TDataSetState::dsInsert);
  DoOnNewRecord();
  modified_ = false;
  DataEvent(TDataEvent::deDataSetChange, nullptr);
  if (AfterInsert) AfterInsert(*this);
  DoAfterScroll();
}

void TDataSet::UpdateRecord() {
  if (!InEditModes(state_)) throw EDatabaseError("Dataset not in edit or insert mode");
  DataEvent(TDataEvent::deUpdateRecord, nullptr);
}

void TDataSet::Post() {
  CheckActive();
  UpdateRecord();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  DataEvent(TDataEvent::deCheckBrowseMode, nullptr);
  if (BeforePost) BeforePost(*this);
  for (int i = 0; i < fields_.Count(); ++i) {
    TField& f = fields_[i];
    if (f.Required() && !f.Calculated() && f.IsNull())
      throw EDatabaseError(FormatMessage("Field '%s' must have a value", {f.FieldName()}));
  }
  if (state_ == TDataSetState::dsEdit) UpdateCursorPos();
  RunWithErrorEvent([this] { InternalPost(); }, OnPostError);
  SetState(TDataSetState::dsBrowse);
  Resync();
  if (AfterPost) AfterPost(*this);
}

void TDataSet::Cancel() {
  switch (state_) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert: {
      DataEvent(TDataEvent::deCheckBrowseMode, nullptr);
      if (BeforeCancel) BeforeCancel(*this);
      InternalCancel();
      SetState(TDataSetState::dsBrowse);
      Resync();
      if (AfterCancel) AfterCancel(*this);
      break;
    }
    case TDataSetState::dsSetKey:
      SetState(TDataSetState::dsBrowse);
      DataEvent(TDataEvent::deDataSetChange, nullptr);
      break;
    default: break;
  }
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert || state_ == TDataSetState::dsSetKey) return Cancel();
  if (record_count_ == 0)
    throw EDatabaseError("Cannot perform this operation on an empty dataset");
  CheckCanModify();
  DataEvent(TDataEvent::deCheckBrowseMode, nullptr);
  if (BeforeDelete) BeforeDelete(*this);
  DoBeforeScroll();
  UpdateCursorPos();
  RunWithErrorEvent([this] { InternalDelete(); }, OnDeleteError);
  SetState(TDataSetState::dsBrowse);
  Resync();
  if (AfterDelete) AfterDelete(*this);
  DoAfterScroll();
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(TDataEvent::deCheckBrowseMode, nullptr);
  switch (state_) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      UpdateRecord();
      if (modified_) Post();
      else Cancel();
      break;
    case TDataSetState::dsSetKey: Post(); break;
    default: break;
  }
}

// ---------------------------------------------------------------- bookmarks and searches

TBookmark TDataSet::GetBookmark() {
  if (!Active() || record_count_ == 0 || !active_ ||
      GetBookmarkFlag(active_) != TBookmarkFlag::bfCurrent || bookmark_size_ <= 0)
    return {};
  TBookmark b(bookmark_size_);
  GetBookmarkData(active_, b.data());
  return b;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  if (static_cast<int>(bookmark.size()) != bookmark_size_)
    throw EDatabaseError("Bookmark not found");
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync();
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark& /*bookmark*/) { return false; }

bool TDataSet::Locate(const std::string&, const Variant&, TLocateOptions) {
  throw EDatabaseError("Capability not supported");
}

Variant TDataSet::Lookup(const std::string&, const Variant&, const std::string&) {
  throw EDatabaseError("Capability not supported");
}

bool TDataSet::FindRecord(bool, bool) { throw EDatabaseError("Capability not supported"); }

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField&, TBlobStreamMode) {
  throw EDatabaseError("Capability not supported");
}

bool TDataSet::RecordFilterAccepts() {
  if (!OnFilterRecord) return true;
  bool accept = true;
  OnFilterRecord(*this, accept);
  return accept;
}

void TDataSet::SetFiltered(bool value) {
  if (Active()) {
    CheckBrowseMode();
    filtered_ = value;
    First();
  } else {
    filtered_ = value;
  }
}

void TDataSet::SetFilterOptions(TFilterOptions options) {
  if (Active()) CheckBrowseMode();
  filter_options_ = options;
  if (Active() && filtered_) First();
}

}  // namespace zq
