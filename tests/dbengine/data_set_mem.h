// A small in-memory data set for the framework tests: rows of native field values kept in a
// vector, with the hooks of the data-set framework implemented plainly. Filtered with
// OnFilterRecord hides rows.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "dbengine/dataset/data_set.h"
#include "dbengine/format/db_error.h"

namespace zq::testing {

struct MemFieldSpec {
  std::string name;
  TFieldType type;
  int size = 0;
};

class TMemDataSet : public TDataSet {
 public:
  explicit TMemDataSet(std::vector<MemFieldSpec> fields) : field_specs_(std::move(fields)) {}
  ~TMemDataSet() override {
    try {
      Close();
    } catch (...) {
    }
  }

  bool ReadOnly = false;
  bool FailOpen = false;
  int FailPost = 0;  // the next FailPost internal posts raise "post failed"
  int InternalCloseCalls = 0;
  // Number of rows (ignores the filter).
  size_t StoredRows() const { return rows_.size(); }
  const std::vector<uint8_t>& StoredRow(size_t i) const { return rows_.at(i).data; }

  int RecordCount() override {
    if (!Active()) return 0;
    int n = 0;
    for (size_t i = 0; i < rows_.size(); ++i) n += Visible(i) ? 1 : 0;
    return n;
  }
  int RecNo() override {
    if (!Active() || cur_ < 0) return Active() && RecordCount() > 0 ? 1 : 0;
    int n = 0;
    for (int i = 0; i <= cur_ && i < static_cast<int>(rows_.size()); ++i) n += Visible(i) ? 1 : 0;
    return n;
  }
  bool BookmarkValid(const TBookmark& b) override {
    if (b.size() != 4) return false;
    int32_t id;
    std::memcpy(&id, b.data(), 4);
    for (auto& r : rows_)
      if (r.id == id) return true;
    return false;
  }
  using TDataSet::ActiveBuffer;

 protected:
  struct Row {
    int32_t id;
    std::vector<uint8_t> data;
  };

  TRecordBuffer AllocRecordBuffer() override {
    return new uint8_t[static_cast<size_t>(BufferSize())]();
  }
  void FreeRecordBuffer(TRecordBuffer& b) override {
    delete[] b;
    b = nullptr;
  }
  void InternalInitRecord(TRecordBuffer b) override { std::memset(b, 0, record_size_); }
  TGetResult GetRecord(TRecordBuffer b, TGetMode mode, bool do_check) override {
    int i = cur_;
    const int n = static_cast<int>(rows_.size());
    if (mode == TGetMode::gmNext) {
      do ++i; while (i < n && !Visible(i));
      if (i >= n) return TGetResult::grEOF;
    } else if (mode == TGetMode::gmPrior) {
      if (i > n) i = n;
      do --i; while (i >= 0 && !Visible(i));
      if (i < 0) return TGetResult::grBOF;
    } else if (i < 0 || i >= n || !Visible(i)) {
      if (do_check) throw EDatabaseError("No records");
      return TGetResult::grError;
    }
    cur_ = i;
    Fill(b, i);
    CalculateFields(b);
    return TGetResult::grOK;
  }
  int GetRecordSize() override { return record_size_; }
  void InternalOpen() override {
    if (FailOpen) throw EDatabaseError("open failed");
    InternalInitFieldDefs();
    if (!HasPersistentDataFields()) CreateFields();
    BindFields(true);
    offsets_.assign(FieldDefs().Count() + 1, 0);
    record_size_ = 0;
    for (int i = 0; i < FieldDefs().Count(); ++i) {
      offsets_[i + 1] = record_size_;
      record_size_ += FieldNativeSize(FieldDefs()[i].DataType(), FieldDefs()[i].Size());
    }
    SetBookmarkSize(4);
    cur_ = -1;
    open_ = true;
  }
  void InternalClose() override {
    ++InternalCloseCalls;
    BindFields(false);
    DestroyFields();
    open_ = false;
    cur_ = -1;
  }
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    for (auto& s : field_specs_) FieldDefs().Add(s.name, s.type, s.size);
  }
  bool IsCursorOpen() override { return open_; }
  void InternalFirst() override { cur_ = -1; }
  void InternalLast() override { cur_ = static_cast<int>(rows_.size()); }
  void InternalPost() override {
    if (FailPost > 0) {
      --FailPost;
      throw EDatabaseError("post failed");
    }
    if (State() == TDataSetState::dsEdit) {
      std::memcpy(rows_.at(cur_).data.data(), ActiveBuffer(), record_size_);
    } else {
      InternalAddRecord(ActiveBuffer(), GetBookmarkFlag(ActiveBuffer()) == TBookmarkFlag::bfEOF);
    }
  }
  void InternalAddRecord(TRecordBuffer b, bool append) override {
    Row r{next_id_++, std::vector<uint8_t>(b, b + record_size_)};
    int pos = append ? static_cast<int>(rows_.size()) : std::max(cur_, 0);
    if (pos > static_cast<int>(rows_.size())) pos = static_cast<int>(rows_.size());
    rows_.insert(rows_.begin() + pos, std::move(r));
    cur_ = pos;
  }
  void InternalDelete() override {
    rows_.erase(rows_.begin() + cur_);
    if (cur_ >= static_cast<int>(rows_.size())) cur_ = static_cast<int>(rows_.size()) - 1;
  }
  void GetBookmarkData(TRecordBuffer b, void* d) override {
    std::memcpy(d, b + BookmarkOffset(), 4);
  }
  void SetBookmarkData(TRecordBuffer b, const void* d) override {
    std::memcpy(b + BookmarkOffset(), d, 4);
  }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer b) override {
    return static_cast<TBookmarkFlag>(b[BookmarkOffset() + 4]);
  }
  void SetBookmarkFlag(TRecordBuffer b, TBookmarkFlag f) override {
    b[BookmarkOffset() + 4] = static_cast<uint8_t>(f);
  }
  void InternalGotoBookmark(const void* bm) override {
    int32_t id;
    std::memcpy(&id, bm, 4);
    for (size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i].id == id) {
        cur_ = static_cast<int>(i);
        return;
      }
    throw EDatabaseError("Bookmark not found");
  }
  void InternalSetToRecord(TRecordBuffer b) override { InternalGotoBookmark(b + BookmarkOffset()); }
  bool GetFieldData(TField& f, void* dest) override {
    TRecordBuffer b = GetActiveRecBuf();
    if (!b) return false;
    if (f.Calculated()) {
      uint8_t* slot = CalcFieldSlot(b, f);
      if (slot[0] == 0) return false;
      if (dest) std::memcpy(dest, slot + 1, f.DataSize());
      return true;
    }
    if (dest) std::memcpy(dest, b + offsets_[f.FieldNo()], f.DataSize());
    return true;
  }
  void SetFieldData(TField& f, const void* src) override {
    TRecordBuffer b = GetActiveRecBuf();
    if (!b) return;
    if (f.Calculated()) {
      uint8_t* slot = CalcFieldSlot(b, f);
      slot[0] = src ? 1 : 0;
      if (src) std::memcpy(slot + 1, src, f.DataSize());
      else std::memset(slot + 1, 0, f.DataSize());
    } else if (src) {
      std::memcpy(b + offsets_[f.FieldNo()], src, f.DataSize());
    }
    FieldChanged(f);
  }
  bool GetCanModify() override { return !ReadOnly; }
  using TDataSet::GetFieldData;
  using TDataSet::SetFieldData;

 private:
  int BufferSize() const { return record_size_ + CalcFieldsSize() + 5; }
  int BookmarkOffset() const { return record_size_ + CalcFieldsSize(); }
  bool Visible(size_t i) {
    if (!Filtered() || !OnFilterRecord) return true;
    // Evaluate the filter event on the candidate row through the temporary buffer.
    Fill(TempBuffer(), static_cast<int>(i));
    TRecordBuffer saved = filter_buffer_;
    filter_buffer_ = TempBuffer();
    const TDataSetState old = SetTempState(TDataSetState::dsFilter);
    bool ok;
    try {
      ok = RecordFilterAccepts();
    } catch (...) {
      RestoreState(old);
      filter_buffer_ = saved;
      throw;
    }
    RestoreState(old);
    filter_buffer_ = saved;
    return ok;
  }
  void Fill(TRecordBuffer b, int i) {
    std::memcpy(b, rows_[i].data.data(), record_size_);
    std::memcpy(b + BookmarkOffset(), &rows_[i].id, 4);
    b[BookmarkOffset() + 4] = static_cast<uint8_t>(TBookmarkFlag::bfCurrent);
  }

  std::vector<MemFieldSpec> field_specs_;
  std::vector<Row> rows_;
  std::vector<int> offsets_;
  int record_size_ = 0;
  int cur_ = -1;
  int32_t next_id_ = 0;
  bool open_ = false;
};

}  // namespace zq::testing
