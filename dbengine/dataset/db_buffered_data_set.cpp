#include "dbengine/dataset/db_buffered_data_set.h"

#include <cstring>

#include "dbengine/format/date_time.h"
#include "dbengine/dataset/db_blob_stream.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/field_buffers.h"

namespace zq {
namespace {

TWaitCursorHandler& WaitCursorHandler() {
  static TWaitCursorHandler handler;
  return handler;
}

}  // namespace

void SetWaitCursorHandler(TWaitCursorHandler handler) { WaitCursorHandler() = std::move(handler); }

void TDbBufferedDataSet::ShowWaitCursor(bool busy) {
  if (WaitCursorHandler()) WaitCursorHandler()(busy);
}

TDbBufferedDataSet::TDbBufferedDataSet(TComponent* owner)
    : TDbDataSet(owner), parser_(std::make_unique<TFilterParser>(*this)) {}

TDbBufferedDataSet::~TDbBufferedDataSet() = default;

void TDbBufferedDataSet::SetMediumType(TDbMediumType value) {
  if (value == medium_type_) return;
  CheckInactive();
  // Stored first: the database copies the value back to its registered data sets.
  const TDbMediumType previous = medium_type_;
  medium_type_ = value;
  try {
    ApplyMediumTypeToDatabase(value);
  } catch (...) {
    medium_type_ = previous;
    throw;
  }
}

void TDbBufferedDataSet::SetPassword(const std::string& password) {
  ReconcileSession();
  TDbDatabase* db = DataSetSession().OpenDatabase(DatabaseName(), false, this);
  db->SetPassword(password);
}

// ---------------------------------------------------------------- layout and buffers

void TDbBufferedDataSet::ComputeRecordLayout() {
  int max_no = 0;
  for (int i = 0; i < Fields().Count(); ++i) max_no = std::max(max_no, Fields()[i].FieldNo());
  field_offsets_.assign(static_cast<size_t>(max_no) + 1, 0);
  data_size_ = 0;
  for (int i = 0; i < Fields().Count(); ++i) {
    TField& f = Fields()[i];
    if (f.FieldNo() <= 0) continue;
    // A blob slot holds a stream pointer: keep it aligned for the table layer, which reads it
    // in place.
    if (f.IsBlob()) data_size_ = (data_size_ + alignof(void*) - 1) / alignof(void*) * alignof(void*);
    field_offsets_[static_cast<size_t>(f.FieldNo())] = data_size_;
    data_size_ += f.DataSize();
  }
  rec_buf_size_ = data_size_ + CalcFieldsSize() + 5;
}

TRecordBuffer TDbBufferedDataSet::AllocRecordBuffer() {
  auto* buffer = new uint8_t[static_cast<size_t>(rec_buf_size_)]();
  for (int i = 0; i < Fields().Count(); ++i) {
    TField& f = Fields()[i];
    if (f.FieldNo() > 0 && f.IsBlob()) {
      TOptimBlobStream* s = new TOptimBlobStream(this);
      std::memcpy(buffer + FieldOffset(f.FieldNo()), &s, sizeof s);
    }
  }
  return buffer;
}

void TDbBufferedDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  if (!buffer) return;
  for (int i = 0; i < Fields().Count(); ++i) {
    TField& f = Fields()[i];
    if (f.FieldNo() > 0 && f.IsBlob()) delete BlobStreamOf(buffer, f);
  }
  delete[] buffer;
  buffer = nullptr;
}

TOptimBlobStream* TDbBufferedDataSet::BlobStreamOf(TRecordBuffer buffer, const TField& field) const {
  if (!buffer || field.FieldNo() <= 0 || !field.IsBlob() ||
      static_cast<size_t>(field.FieldNo()) >= field_offsets_.size())
    return nullptr;
  TOptimBlobStream* s = nullptr;
  std::memcpy(&s, buffer + FieldOffset(field.FieldNo()), sizeof s);
  return s;
}

void TDbBufferedDataSet::InternalInitRecord(TRecordBuffer buffer) {
  ClearCalcFields(buffer);
  const TDateTime now = Now();
  for (int i = 0; i < Fields().Count(); ++i) {
    TField& f = Fields()[i];
    if (f.FieldNo() <= 0) continue;
    uint8_t* p = buffer + FieldOffset(f.FieldNo());
    switch (f.DataType()) {
      case ftDateTime: {
        const double ms = DateTimeToDateTimeField(0.0);
        std::memcpy(p, &ms, 8);
        break;
      }
      case ftDate: {
        const int32_t d = DateTimeToDateField(now);
        std::memcpy(p, &d, 4);
        break;
      }
      case ftTime: {
        const int32_t t = DateTimeToTimeField(now);
        std::memcpy(p, &t, 4);
        break;
      }
      default:
        if (f.IsBlob()) BlobStreamOf(buffer, f)->Clear();
        else std::memset(p, 0, static_cast<size_t>(f.DataSize()));
    }
  }
}

void TDbBufferedDataSet::AllocateKeyBuffers() {
  FreeKeyBuffers();
  for (auto& k : key_buffers_) {
    k = AllocRecordBuffer();
    InternalInitRecord(k);
  }
}

void TDbBufferedDataSet::FreeKeyBuffers() {
  for (auto& k : key_buffers_) FreeRecordBuffer(k);
  key_buffer_ = nullptr;
}

void TDbBufferedDataSet::BuildFieldBuffers(TRecordBuffer buffer, TFieldBuffers& buffers,
                                           int table_field_count) {
  buffers.Clear();
  for (int no = 1; no <= table_field_count; ++no) {
    TField* f = Fields().FieldByNumber(no);
    if (!f) {
      buffers.AddPlaceholder();
      continue;
    }
    buffers.Add(buffer + FieldOffset(no), f->DataType(), f->DataSize());
  }
}

// ---------------------------------------------------------------- records

TGetResult TDbBufferedDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) {
  const int rows = RowCount();
  TGetResult result = TGetResult::grOK;
  if (rows <= 0) {
    result = TGetResult::grEOF;
  } else {
    switch (mode) {
      case TGetMode::gmCurrent:
        if (current_row_ < 0 || current_row_ >= rows) result = TGetResult::grError;
        break;
      case TGetMode::gmNext:
        if (current_row_ < rows - 1) ++current_row_;
        else result = TGetResult::grEOF;
        break;
      case TGetMode::gmPrior:
        if (current_row_ > 0) --current_row_;
        else result = TGetResult::grBOF;
        break;
    }
  }
  if (result == TGetResult::grOK) {
    ReadRecordData(buffer, current_row_);
    SetBookmarkFlag(buffer, TBookmarkFlag::bfCurrent);
    const int32_t id = RowRecordId(current_row_);
    std::memcpy(buffer + BookmarkOffset(), &id, 4);
    CalculateFields(buffer);
  } else if (result == TGetResult::grError && do_check) {
    throw EDatabaseError("No records");
  }
  return result;
}

TRecordBuffer TDbBufferedDataSet::GetActiveRecBuf() {
  switch (State()) {
    case TDataSetState::dsSetKey: return key_buffer_;
    default: return DefaultActiveBuffer();
  }
}

bool TDbBufferedDataSet::GetFieldData(TField& field, void* dest) {
  TRecordBuffer buffer = GetActiveRecBuf();
  if (!buffer) return false;
  if (field.Calculated()) {
    const uint8_t* slot = CalcFieldSlot(buffer, field);
    if (slot[0] == 0) return false;
    if (dest) std::memcpy(dest, slot + 1, static_cast<size_t>(field.DataSize()));
    return true;
  }
  if (field.IsBlob()) throw EDatabaseError("General error");
  if (dest)
    std::memcpy(dest, buffer + FieldOffset(field.FieldNo()), static_cast<size_t>(field.DataSize()));
  return true;
}

void TDbBufferedDataSet::SetFieldData(TField& field, const void* source) {
  TRecordBuffer buffer = GetActiveRecBuf();
  if (!buffer) return;
  if (field.Calculated()) {
    uint8_t* slot = CalcFieldSlot(buffer, field);
    slot[0] = source ? 1 : 0;
    if (source) std::memcpy(slot + 1, source, static_cast<size_t>(field.DataSize()));
    else std::memset(slot + 1, 0, static_cast<size_t>(field.DataSize()));
  } else if (source) {
    if (field.IsBlob()) throw EDatabaseError("General error");
    std::memcpy(buffer + FieldOffset(field.FieldNo()), source, static_cast<size_t>(field.DataSize()));
  }
  FieldChanged(field);
}

void TDbBufferedDataSet::DataConvert(TField& field, const void* source, void* dest, bool to_native) {
  if (to_native) return TDataSet::DataConvert(field, source, dest, true);
  // Stored values come from the file: anything that is no valid moment reads as 0.
  try {
    TDataSet::DataConvert(field, source, dest, false);
  } catch (const EDatabaseError&) {
    const double zero = 0;
    std::memcpy(dest, &zero, sizeof zero);
  }
}

// ---------------------------------------------------------------- bookmarks and positions

void TDbBufferedDataSet::GetBookmarkData(TRecordBuffer buffer, void* data) {
  std::memcpy(data, buffer + BookmarkOffset(), 4);
}

void TDbBufferedDataSet::SetBookmarkData(TRecordBuffer buffer, const void* data) {
  std::memcpy(buffer + BookmarkOffset(), data, 4);
}

TBookmarkFlag TDbBufferedDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[BookmarkOffset() + 4]);
}

void TDbBufferedDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[BookmarkOffset() + 4] = static_cast<uint8_t>(flag);
}

void TDbBufferedDataSet::InternalGotoBookmark(const void* bookmark) {
  int32_t id;
  std::memcpy(&id, bookmark, 4);
  const int rows = RowCount();
  for (int i = 0; i < rows; ++i)
    if (RowRecordId(i) == id) {
      current_row_ = i;
      return;
    }
  throw EDatabaseError("Bookmark not found");
}

void TDbBufferedDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  InternalGotoBookmark(buffer + BookmarkOffset());
}

int TDbBufferedDataSet::RecNo() {
  if (!Active()) return -1;
  UpdateCursorPos();
  if (current_row_ == -1 && RowCount() > 0) return 1;
  return current_row_ + 1;
}

void TDbBufferedDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value < 0 || value > RowCount() || value == RecNo()) return;
  DoBeforeScroll();
  current_row_ = value - 1;
  Resync();
  DoAfterScroll();
}

// ---------------------------------------------------------------- blobs

std::unique_ptr<TStream> TDbBufferedDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  return std::make_unique<TDbBlobStream>(field, mode);
}

TDbFileIO* TDbBufferedDataSet::BlobFileIO() { return DatabaseFileIO(); }

// ---------------------------------------------------------------- filtering

void TDbBufferedDataSet::PrepareFilter() {
  if (!Filter().empty()) parser_->Parse(Filter());
}

bool TDbBufferedDataSet::RowAccepted() {
  bool accept = true;
  if (OnFilterRecord) OnFilterRecord(*this, accept);
  if (accept && !Filter().empty()) {
    const Variant v = parser_->Evaluate(FilterOptions());
    accept = v.kind() == Variant::Kind::Boolean && v.get<bool>();
  }
  return accept;
}

void TDbBufferedDataSet::SetFilterText(const std::string& text) {
  if (Active()) {
    CheckBrowseMode();
    if (!text.empty()) parser_->Parse(text);  // a syntax error leaves everything as it was
  }
  const std::string previous = filter_text_;
  filter_text_ = text;
  if (Active() && Filtered() && previous != text) {
    try {
      DeactivateFilter();
      ActivateFilter();
    } catch (...) {
      filter_text_ = previous;
      // Put the rows back under the filter that stays in force.
      try {
        DeactivateFilter();
        ActivateFilter();
      } catch (...) {
      }
      throw;
    }
  }
}

void TDbBufferedDataSet::SetFilterOptions(TFilterOptions options) {
  if (Active()) CheckBrowseMode();
  const TFilterOptions previous = filter_options_;
  filter_options_ = options;
  if (Active() && Filtered() && !(previous == options)) {
    try {
      DeactivateFilter();
      ActivateFilter();
    } catch (...) {
      filter_options_ = previous;
      try {
        DeactivateFilter();
        ActivateFilter();
      } catch (...) {
      }
      throw;
    }
  }
}

void TDbBufferedDataSet::SetFiltered(bool value) {
  if (!Active()) {
    filtered_ = value;
    return;
  }
  CheckBrowseMode();
  if (value != filtered_) {
    filtered_ = value;
    if (value) {
      try {
        ActivateFilter();
      } catch (...) {
        filtered_ = false;
        DeactivateFilter();
        throw;
      }
    } else {
      DeactivateFilter();
    }
  }
  First();
}

bool TDbBufferedDataSet::FindRecord(bool restart, bool go_forward) {
  CheckBrowseMode();
  DoBeforeScroll();
  found_ = false;
  UpdateCursorPos();
  const int saved = current_row_;
  const int rows = RowCount();
  PrepareFilter();
  {
    const TFilterRecordScope filter_record(*this, TempBuffer());
    try {
      int i = go_forward ? (restart ? 0 : current_row_ + 1) : (restart ? rows - 1 : current_row_ - 1);
      for (; go_forward ? i < rows : i >= 0; go_forward ? ++i : --i) {
        current_row_ = i;
        ReadRecordData(TempBuffer(), i);
        if (RowAccepted()) {
          found_ = true;
          break;
        }
      }
    } catch (...) {
      current_row_ = saved;
      throw;
    }
  }
  if (!found_) current_row_ = saved;
  Resync();
  if (found_) DoAfterScroll();
  return found_;
}

// ---------------------------------------------------------------- filter field source

TFilterFieldInfo TDbBufferedDataSet::FilterFieldByName(const std::string& name) {
  TField& f = FieldByName(name);
  TFilterFieldInfo info;
  info.DataType = f.DataType();
  info.Size = f.Size();
  info.FieldNo = f.FieldNo();
  info.Index = f.Index();
  info.Calculated = f.Calculated();
  return info;
}

std::span<const uint8_t> TDbBufferedDataSet::FilterFieldData(int index) {
  if (index < 0 || index >= Fields().Count()) return {};
  TField& f = Fields()[index];
  TRecordBuffer buffer = GetActiveRecBuf();
  if (!buffer || f.Calculated() || f.IsBlob()) return {};
  return {buffer + FieldOffset(f.FieldNo()), static_cast<size_t>(f.DataSize())};
}

std::string TDbBufferedDataSet::FilterBlobText(int index) {
  if (index < 0 || index >= Fields().Count()) return {};
  TOptimBlobStream* s = BlobStreamOf(GetActiveRecBuf(), Fields()[index]);
  if (!s) return {};
  std::string out(static_cast<size_t>(s->Size()), '\0');
  s->SetPosition(0);
  if (!out.empty()) s->ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
  return out;
}

}  // namespace zq
