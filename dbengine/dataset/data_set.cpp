// The data-set framework's states, open and close sequences, record buffers, events and data
// sources, navigation, editing, bookmarks and filter properties. The fields and their values are in
// data_set_fields.cpp.
#include "dbengine/dataset/data_set.h"

#include <algorithm>

#include "dbengine/dataset/data_source.h"
#include "dbengine/format/db_error.h"

namespace zq {

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
