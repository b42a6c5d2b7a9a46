// TDbTable: the table data set's properties, opening and closing, the reading of rows (with the
// read-ahead of a scan), posting and deleting, filters and the master range. The key searches,
// Locate and Lookup are in db_table_search.cpp.
#include "dbengine/dataset/db_table.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "dbengine/dataset/data_source.h"
#include "dbengine/dataset/db_table_internal.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/storage/table_io.h"

namespace zq {

using db_table_detail::FindRow;
using db_table_detail::ScopeExit;

namespace {

// Calls body for rows 0 … rows − 1 in batches, each under one hold of the file lock, so that a scan
// costs a lock and a few large reads per batch instead of a lock and a read per row. Between
// batches other users of the file get their turn.
template <class Body>
void ForEachRowInBatches(TDbTableIO& table, int rows, Body&& body) {
  constexpr int kRowsPerBatch = 1024;
  for (int start = 0; start < rows; start += kRowsPerBatch) {
    TDbTableIO::ReadBatch batch(table);
    for (int i = start; i < std::min(rows, start + kRowsPerBatch); ++i) body(i);
  }
}

}  // namespace

TDbTable::TDbTable(TComponent* owner) : TDbBufferedDataSet(owner), master_link_(this) {
  master_link_.OnMasterChange = [this] { MasterChanged(); };
  master_link_.OnMasterDisable = [this] { MasterDisabled(); };
}

TDbTable::~TDbTable() {
  try {
    Close();
  } catch (...) {
    // Closing while being destroyed: nothing is left to report the error to.
  }
  master_link_.SetDataSource(nullptr);
}

// ---------------------------------------------------------------- properties

void TDbTable::SetTableName(const std::string& value) {
  if (value == table_name_) return;
  CheckInactive();
  table_name_ = value;
  FieldDefsChanged();
}

void TDbTable::SetDatabaseName(const std::string& value) {
  const bool changed = value != DatabaseName();
  TDbBufferedDataSet::SetDatabaseName(value);
  if (changed && !Loading()) {
    table_name_.clear();
    index_name_.clear();
  }
}

int TDbTable::ResolveIndex() const {
  if (!table_io_) return -1;
  int i = index_name_.empty() ? -1 : table_io_->IndexDefs().IndexOf(index_name_);
  if (i < 0) i = table_io_->PrimaryIndex();
  return i;
}

void TDbTable::SetIndexName(const std::string& value) {
  if (!Active()) {
    index_name_ = value;
    if (value.empty()) current_index_ = -1;
    return;
  }
  CheckBrowseMode();
  index_name_ = value;
  current_index_ = ResolveIndex();
  LoadVisibleRows(false);
  range_active_ = false;
  FollowMaster();
  First();
}

void TDbTable::SetMasterSource(TDataSource* value) {
  // Walk the chain of masters: reaching this data set again would loop forever.
  for (TDataSource* s = value; s; ) {
    TDataSet* ds = s->DataSet();
    if (!ds) break;
    if (ds == this) throw EDatabaseError("Circular datalinks are not allowed");
    s = ds->DataSource();
  }
  if (value && value->IsLinkedTo(this) && value != master_link_.DataSource())
    throw EDatabaseError("Circular datalinks are not allowed");
  master_link_.SetDataSource(value);
}

int TDbTable::RecordCount() { return Active() ? RowCount() : 0; }

int TDbTable::TableFieldCount() const { return table_io_ ? table_io_->FieldDefs().Count() : 0; }

bool TDbTable::BookmarkValid(const TBookmark& bookmark) {
  if (!Active() || bookmark.size() != 4 || !visible_) return false;
  int32_t id;
  std::memcpy(&id, bookmark.data(), 4);
  return FindRow(*visible_, id) >= 0;
}

bool TDbTable::GetCanModify() {
  return can_modify_ && !read_only_ && !DatabaseReadOnly();
}

// ---------------------------------------------------------------- open and close

void TDbTable::InternalOpen() {
  TDbTableIO* io = FindTableIO(table_name_);
  if (!io) throw EDatabaseError(FormatMessage("Table '%s' not found", {table_name_}));
  io->Open();
  table_io_ = io;
  table_io_opened_ = true;
  visible_ = std::make_unique<TRowList>();
  update_batch_ = 0;
  current_row_ = -1;
  range_active_ = false;
  SetBookmarkSize(4);
  can_modify_ = true;
  InternalInitFieldDefs();
  if (!HasPersistentDataFields()) CreateFields();
  BindFields(true);
  IndexDefs().Clear();
  for (int i = 0; i < io->IndexDefs().Count(); ++i) {
    const TDbIndexDef& d = io->IndexDefs().Item(i);
    std::string names;
    for (int32_t no : d.FieldNumbers) {
      if (no < 0 || no >= io->FieldDefs().Count()) continue;
      if (!names.empty()) names += ",";
      names += io->FieldDefs().Item(no).Name();
    }
    TIndexOptions options = 0;
    if (d.Options & tiPrimary) options |= ixPrimary;
    if (d.Options & tiUnique) options |= ixUnique;
    if (d.Options & tiDescending) options |= ixDescending;
    if (d.Options & tiCaseInsensitive) options |= ixCaseInsensitive;
    IndexDefs().Add(d.Name(), names, options);
  }
  current_index_ = ResolveIndex();
  LoadVisibleRows(true);
  ComputeRecordLayout();
  AllocateKeyBuffers();
}

void TDbTable::InternalInitFieldDefs() {
  if (!table_io_) return;
  FieldDefs().Clear();
  for (int i = 0; i < table_io_->FieldDefs().Count(); ++i) {
    const TDbFieldDef& d = table_io_->FieldDefs().Item(i);
    const auto type = static_cast<TFieldType>(d.FieldType);
    FieldDefs().Add(d.Name(), type, IsStringType(type) ? d.FieldSize : 0, false);
  }
}

void TDbTable::InternalClose() {
  DropReadAhead();
  read_buffers_.clear();
  read_ahead_.images = {};
  FreeKeyBuffers();
  if (table_io_ && table_io_opened_) table_io_->Close();
  table_io_opened_ = false;
  table_io_ = nullptr;
  visible_.reset();
  BindFields(false);
  DestroyFields();
  current_row_ = -1;
  can_modify_ = false;
  range_active_ = false;
}

void TDbTable::DoAfterOpen() {
  if (FollowMaster()) First();
  if (Filtered()) ActivateFilter();
  TDbBufferedDataSet::DoAfterOpen();
}

void TDbTable::LoadVisibleRows(bool reread_slots) {
  const int list = current_index_ + 1;
  table_io_->LoadRowList(list, reread_slots);
  if (!visible_) visible_ = std::make_unique<TRowList>();
  *visible_ = table_io_->RowList(list);
}

void TDbTable::ReadRecordData(TRecordBuffer buffer, int row) {
  if (!visible_ || row < 0 || row >= RowCount()) return;
  TFieldBuffers& buffers = ReadBuffersOf(buffer);
  if (appended_from_ && appended_from_ != buffer && RowRecordId(row) == appended_record_id_) {
    TFieldBuffers written;
    BuildFieldBuffers(appended_from_, written, TableFieldCount());
    if (table_io_->CopyWrittenValues(written, buffers)) return;
  }
  if (ReadAhead(buffers, row)) return;
  table_io_->ReadRecord(buffers, *visible_, row);
}

// A scan (First/Next, Last/Prior, a filter) reads its rows in runs under one hold of the lock each,
// and serves the rows in between from the images read: a run is one row after a jump or a write
// and doubles as long as the scan goes on in one direction, up to kMaxRows rows or kMaxBytes bytes.
// So a loop that edits every row it visits reads no more than it did row by row. The images stand
// for the file while nothing has been written to it in this process (write stamp) and the table
// was not reloaded; another process's writes show from the next run on, and all of them after
// Refresh, which drops the images.
bool TDbTable::HoldRow(int row) {
  constexpr int kMaxRows = 1024;
  constexpr int64_t kMaxBytes = 256 * 1024;
  TDbFileIO* io = BlobFileIO();
  if (!io || io->MediumType() != mtDisk) return false;
  TReadAheadRows& ahead = read_ahead_;
  const bool current = ahead.write_stamp == io->WriteStamp() && ahead.generation == table_io_->LoadGeneration();
  const int at = row - ahead.first_row;
  const int held = static_cast<int>(ahead.record_ids.size());
  if (current && at >= 0 && at < held && ahead.record_ids[static_cast<size_t>(at)] == RowRecordId(row)) return true;
  // The scan ran off the rows read (forward or back): read twice as many; anything else starts over.
  const bool continues = current && held > 0 && ((row == ahead.first_row + held && ahead.last_row == row - 1) ||
                                                  (row == ahead.first_row - 1 && ahead.last_row == row + 1));
  const bool backward = continues && row < ahead.first_row;
  const int64_t most = std::clamp<int64_t>(kMaxBytes / std::max<int64_t>(1, table_io_->RecordSize()), 1, kMaxRows);
  ahead.run = continues ? static_cast<int>(std::min<int64_t>(int64_t{ahead.run} * 2, most)) : 1;
  const int first = backward ? std::max(0, row - ahead.run + 1) : row;
  const int count = backward ? row - first + 1 : std::min(ahead.run, RowCount() - row);
  ahead.record_ids.clear();
  table_io_->ReadImages(*visible_, first, count, ahead.images, ahead.offsets);
  for (int i = 0; i < count; ++i) ahead.record_ids.push_back(RowRecordId(first + i));
  ahead.first_row = first;
  ahead.write_stamp = io->WriteStamp();
  ahead.generation = table_io_->LoadGeneration();
  return true;
}

bool TDbTable::ReadAhead(TFieldBuffers& buffers, int row) {
  if (!HoldRow(row)) return false;
  const auto index = static_cast<size_t>(row - read_ahead_.first_row);
  const auto record_size = static_cast<size_t>(table_io_->RecordSize());
  table_io_->DecodeImage(buffers, &read_ahead_.images[index * record_size], read_ahead_.offsets[index],
                         read_ahead_.record_ids[index]);
  read_ahead_.last_row = row;
  return true;
}

TFieldBuffers& TDbTable::ReadBuffersOf(TRecordBuffer buffer) {
  constexpr size_t kKept = 8;  // the buffers a scan alternates between, and a few more
  for (auto& [kept, buffers] : read_buffers_)
    if (kept == buffer) return *buffers;
  if (read_buffers_.size() >= kKept) read_buffers_.erase(read_buffers_.begin());
  read_buffers_.emplace_back(buffer, std::make_unique<TFieldBuffers>());
  BuildFieldBuffers(buffer, *read_buffers_.back().second, TableFieldCount());
  return *read_buffers_.back().second;
}

void TDbTable::FreeRecordBuffer(TRecordBuffer& buffer) {
  std::erase_if(read_buffers_, [buffer](const auto& kept) { return kept.first == buffer; });
  TDbBufferedDataSet::FreeRecordBuffer(buffer);
}

void TDbTable::DropReadAhead() {
  read_ahead_.record_ids.clear();
  read_ahead_.last_row = -2;
  read_ahead_.run = 1;
}

// ---------------------------------------------------------------- posting

void TDbTable::Post() {
  {
    posting_ = true;
    const ScopeExit done([this] {
      posting_ = false;
      appended_record_id_ = -1;
      appended_from_ = nullptr;
    });
    TDbBufferedDataSet::Post();
  }
  if (State() == TDataSetState::dsSetKey) {
    DataEvent(TDataEvent::deCheckBrowseMode, nullptr);
    SetState(TDataSetState::dsBrowse);
    DataEvent(TDataEvent::deDataSetChange, nullptr);
  }
}

void TDbTable::InternalPost() {
  if (State() == TDataSetState::dsEdit) return ModifyCurrentRow();
  if (GetBookmarkFlag(ActiveBuffer()) == TBookmarkFlag::bfEOF) current_row_ = RowCount();
  AddRow(ActiveBuffer());
}

void TDbTable::InternalAddRecord(TRecordBuffer buffer, bool append) {
  if (append) current_row_ = RowCount();
  AddRow(buffer);
}

int TDbTable::KeyPosition(const TFieldBuffers& buffers) {
  int result = 0;
  const int p = table_io_->FindKey(buffers, *visible_, false, 0, result, current_index_);
  if (result == -2) return 0;
  return result == -1 ? p : p + 1;
}

void TDbTable::AddRow(TRecordBuffer buffer) {
  TFieldBuffers buffers;
  BuildFieldBuffers(buffer, buffers, TableFieldCount());
  const int64_t generation = table_io_->LoadGeneration();
  int32_t appended = -1;
  WriteThroughTable(appended, [&] {
    table_io_->AppendRecord(buffers, false, [&](int list, int position, const TRowRef& row) {
      if (list == -1) appended = row.RecordId;
      // Rows of lists that a reload rebuilt: the visible rows are built again afterwards.
      if (table_io_->LoadGeneration() != generation) return;
      if (list == -1) {
        if (posting_) {
          appended_record_id_ = row.RecordId;
          appended_from_ = buffer;
        }
        if (current_index_ == -1) {
          visible_->push_back(row);
          current_row_ = static_cast<int>(visible_->size()) - 1;
        }
        return;
      }
      if (list != current_index_) return;
      int p = FilterOrRangeActive() ? KeyPosition(buffers) : position;
      p = std::clamp(p, 0, static_cast<int>(visible_->size()));
      visible_->insert(visible_->begin() + p, row);
      current_row_ = p;
    });
  });
}

void TDbTable::ModifyCurrentRow() {
  const int physical = table_io_->PhysicalPosition(*visible_, current_row_);
  if (physical < 0) throw EDatabaseError("Record not found");
  const int32_t id = RowRecordId(current_row_);
  TFieldBuffers buffers;
  BuildFieldBuffers(ActiveBuffer(), buffers, TableFieldCount());
  const int64_t generation = table_io_->LoadGeneration();
  WriteThroughTable(id, [&] {
    table_io_->ModifyRecord(
        buffers, physical,
        [&](int index, int old_position, int new_position) {
          if (index != current_index_ || table_io_->LoadGeneration() != generation) return;
          const bool at_cursor = current_row_ >= 0 && current_row_ < RowCount() && RowRecordId(current_row_) == id;
          const int from = at_cursor ? current_row_ : FindRow(*visible_, id);
          if (from < 0) return;
          auto row = visible_->begin() + from;
          if (FilterOrRangeActive()) {
            const TRowRef ref = *row;
            visible_->erase(row);
            const int to = std::clamp(KeyPosition(buffers), 0, static_cast<int>(visible_->size()));
            visible_->insert(visible_->begin() + to, ref);
            current_row_ = to;
            return;
          }
          // new_position counts places in the list that still holds the row. The row is taken out
          // and put back at its new place: the row list moves one block for each, where a rotation
          // would move every row between the two places.
          int to = new_position > old_position ? new_position - 1 : new_position;
          to = std::clamp(to, 0, static_cast<int>(visible_->size()) - 1);
          if (to != from) {
            const TRowRef ref = *row;
            visible_->erase(row);
            visible_->insert(visible_->begin() + to, ref);
          }
          current_row_ = to;
        },
        false);
  });
}

void TDbTable::InternalDelete() {
  const int physical = table_io_->PhysicalPosition(*visible_, current_row_);
  if (physical < 0) throw EDatabaseError("Record not found");
  const int32_t id = RowRecordId(current_row_);
  const int64_t generation = table_io_->LoadGeneration();
  WriteThroughTable(id, [&] { table_io_->DeleteRecord(physical, false); });
  if (table_io_->LoadGeneration() != generation) {
    // Built again from the reloaded lists, which no longer hold the deleted row: the cursor goes to
    // the row that took its place.
    return;
  }
  visible_->erase(visible_->begin() + current_row_);
  if (current_row_ >= RowCount()) --current_row_;
}

template <class Write>
void TDbTable::WriteThroughTable(const int32_t& keep_id, Write&& write) {
  const int64_t generation = table_io_->LoadGeneration();
  const int row = current_row_;
  auto rebuild = [&] {
    RebuildVisibleRows(false, keep_id);
    if (keep_id >= 0 && FindRow(*visible_, keep_id) < 0) current_row_ = std::min(row, RowCount() - 1);
  };
  try {
    write();
  } catch (...) {
    if (table_io_->LoadGeneration() != generation) {
      try {
        rebuild();
      } catch (...) {
        // The write's error is the one to report.
      }
    }
    throw;
  }
  if (table_io_->LoadGeneration() != generation) rebuild();
}

void TDbTable::InternalFirst() {
  DropReadAhead();
  TDbBufferedDataSet::InternalFirst();
}

void TDbTable::InternalLast() {
  DropReadAhead();
  TDbBufferedDataSet::InternalLast();
}

void TDbTable::InternalRefresh() {
  DropReadAhead();
  const int32_t id = current_row_ >= 0 && current_row_ < RowCount() ? RowRecordId(current_row_) : -1;
  RebuildVisibleRows(true, id);
}

void TDbTable::RebuildVisibleRows(bool reread, int32_t id) {
  if (range_active_ && current_index_ < 0) throw EDatabaseError("No index currently active");
  LoadVisibleRows(reread);
  if (range_active_) ApplyMasterRange();
  if (Filtered()) {
    // Narrow the rows again without moving: the refresh puts the cursor back itself.
    {
      const TFilterRecordScope filter_record(*this, TempBuffer());
      PrepareFilter();
      TRowList accepted;
      ForEachRowInBatches(*table_io_, RowCount(), [&](int i) {
        ReadRecordData(TempBuffer(), i);
        if (RowAccepted()) accepted.push_back((*visible_)[static_cast<size_t>(i)]);
      });
      *visible_ = std::move(accepted);
    }
  }
  const int row = id >= 0 ? FindRow(*visible_, id) : -1;
  current_row_ = row >= 0 ? row : std::min(current_row_, RowCount() - 1);
}

// ---------------------------------------------------------------- filtering

void TDbTable::ActivateFilter() {
  const TDataSetState old = SetTempState(TDataSetState::dsFilter);
  (void)old;
  TRecordBuffer saved = filter_buffer_;
  filter_buffer_ = ActiveBuffer();
  const bool hour_glass = SessionHourGlass();
  if (hour_glass) ShowWaitCursor(true);
  auto finish = [&] {
    if (hour_glass) ShowWaitCursor(false);
    filter_buffer_ = saved;
    RestoreState(TDataSetState::dsBrowse);
    current_row_ = -1;
  };
  try {
    PrepareFilter();
    TRowList accepted;
    const int rows = RowCount();
    ForEachRowInBatches(*table_io_, rows, [&](int i) {
      current_row_ = i;
      ReadRecordData(filter_buffer_, i);
      if (RowAccepted()) accepted.push_back((*visible_)[static_cast<size_t>(i)]);
      if (OnFilterProgress) OnFilterProgress(*this, FilterProgressPercent(i, rows));
    });
    if (static_cast<int>(accepted.size()) != rows) *visible_ = std::move(accepted);
  } catch (...) {
    finish();
    First();
    throw;
  }
  finish();
  First();
}

void TDbTable::DeactivateFilter() {
  // All rows of the current index: a master's range goes too, until the master moves again.
  LoadVisibleRows(false);
  range_active_ = false;
  current_row_ = -1;
  First();
  can_modify_ = true;
}

// ---------------------------------------------------------------- master and detail

void TDbTable::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  FollowMaster();
  First();
}

void TDbTable::MasterDisabled() {
  if (!Active()) return;
  LoadVisibleRows(false);
  range_active_ = false;
  can_modify_ = true;
  current_row_ = -1;
  Resync();
  if (Filtered()) ActivateFilter();
  else First();
}

bool TDbTable::FollowMaster() {
  if (!master_link_.Active() || master_link_.Fields().empty() || current_index_ < 0) return false;
  // The range takes the place of a filter: the filter is switched off, not applied within it.
  filtered_ = false;
  ApplyMasterRange();
  return true;
}

void TDbTable::ApplyMasterRange() {
  if (!master_link_.Active() || master_link_.Fields().empty()) return;
  if (current_index_ < 0) return;
  const TDbIndexDef& def = table_io_->IndexDefs().Item(current_index_);
  const int n = static_cast<int>(
      std::min(master_link_.Fields().size(), def.FieldNumbers.size()));
  if (n == 0) return;
  TRecordBuffer start = key_buffers_[1];
  TRecordBuffer end = key_buffers_[2];
  InternalInitRecord(start);
  InternalInitRecord(end);
  {
    TFilterRecordScope filter_record(*this, start);
    for (TRecordBuffer b : {start, end}) {
      filter_record.SetRecord(b);
      for (int k = 0; k < n; ++k) KeyField(def, k).SetValue(master_link_.Fields()[static_cast<size_t>(k)]->Value());
    }
  }

  TFieldBuffers start_buffers, end_buffers;
  BuildFieldBuffers(start, start_buffers, TableFieldCount());
  BuildFieldBuffers(end, end_buffers, TableFieldCount());
  table_io_->LoadRowList(current_index_ + 1, false);
  const TRowList& list = table_io_->RowList(current_index_ + 1);
  TRowList rows;
  if (!list.empty()) {
    int r1 = 0, r2 = 0;
    int lo = table_io_->FindKeyBound(start_buffers, list, false, n, r1, true, current_index_);
    if (r1 == 1) ++lo;
    int hi = table_io_->FindKeyBound(end_buffers, list, false, n, r2, false, current_index_);
    if (r2 == -1) --hi;
    for (int i = std::max(lo, 0); i <= hi && i < static_cast<int>(list.size()); ++i)
      rows.push_back(list[static_cast<size_t>(i)]);
  }
  *visible_ = std::move(rows);
  range_key_count_ = n;
  range_active_ = true;
  current_row_ = -1;
}

}  // namespace zq
