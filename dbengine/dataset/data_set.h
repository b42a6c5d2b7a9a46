// The data-set framework: the generic part of every data set. It keeps the state, the open and
// close sequences with their events, the record buffers, the field objects, bookmarks, data
// sources, calculated fields and the filter properties, and moves through the records with
// First/Next/Prior/Last/MoveBy. A concrete data set supplies the storage through the protected
// hooks (the Internal*, GetRecord, buffer and bookmark members).
//
// Record buffers: the data set holds the active buffer (the current record, or the record being
// edited or inserted), a spare buffer into which the next record is fetched before it replaces
// the active one, a temporary buffer (for lookups and searches) and a calculated-fields buffer.
// Each buffer is a record-size part the hooks lay out, followed by the calculated fields (one
// has-value byte and the value each) and whatever the concrete data set appends after them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dataset/data_link.h"
#include "dbengine/dataset/field_defs.h"
#include "dbengine/dataset/fields.h"
#include "dbengine/filter/filter_source.h"
#include "dbengine/dataset/index_defs.h"
#include "platform/stream.h"

namespace zq {

class EDatabaseError;
class TDataSource;

enum class TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOpening,
};

// The states in which the fields of the active record may be written.
inline bool InEditModes(TDataSetState s) {
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert || s == TDataSetState::dsSetKey;
}

enum class TGetMode { gmCurrent, gmNext, gmPrior };
enum class TGetResult { grOK, grBOF, grEOF, grError };
enum class TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };
enum class TDataAction { daFail, daAbort, daRetry };
enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

// Options of Locate and Lookup.
enum TLocateOption : uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = uint8_t;

using TRecordBuffer = uint8_t*;
using TBookmark = std::vector<uint8_t>;

class TDataSet {
 public:
  using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
  using TDataSetErrorEvent = std::function<void(TDataSet&, const EDatabaseError&, TDataAction&)>;
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;

  TDataSet();
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // --- state and opening ---
  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != TDataSetState::dsInactive && state_ != TDataSetState::dsOpening; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool v) { auto_calc_fields_ = v; }

  // --- fields ---
  TFields& Fields() { return fields_; }
  TFieldDefs& FieldDefs() { return field_defs_; }
  TIndexDefs& IndexDefs() { return index_defs_; }
  TField* FindField(const std::string& name) { return fields_.FindField(name); }
  TField& FieldByName(const std::string& name) { return fields_.FieldByName(name); }
  std::vector<TField*> GetFieldList(const std::string& names) { return fields_.GetFieldList(names); }
  // Value of a field by name, and value of several (";"-separated) as an array.
  Variant FieldValues(const std::string& names);
  void SetFieldValues(const std::string& names, const Variant& value);
  // Builds the field definitions from the underlying storage (opens nothing else).
  void UpdateFieldDefs();

  // --- navigation ---
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() { return Active() && record_count_ == 0 && bof_ && eof_; }
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves by up to distance records; returns the distance actually moved.
  int MoveBy(int distance);
  virtual int RecordCount() { return 0; }
  virtual int RecNo() { return -1; }
  virtual void SetRecNo(int /*value*/) {}
  void Refresh();
  // Re-reads the current record (and its neighbours' availability) from the cursor.
  void Resync();

  // --- editing ---
  void Edit();
  void Insert();
  void Append();
  virtual void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();
  void UpdateRecord();
  bool Modified() const { return modified_; }
  virtual bool CanModify() { return GetCanModify(); }

  // --- bookmarks ---
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark);

  // --- searching ---
  virtual bool Locate(const std::string& key_fields, const Variant& key_values, TLocateOptions options);
  virtual Variant Lookup(const std::string& key_fields, const Variant& key_values,
                         const std::string& result_fields);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool Found() const { return found_; }

  // --- filtering ---
  const std::string& Filter() const { return filter_text_; }
  void SetFilter(const std::string& text) { SetFilterText(text); }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value);
  TFilterOptions FilterOptions() const { return filter_options_; }
  virtual void SetFilterOptions(TFilterOptions options);

  // --- blobs ---
  // A stream on a blob field of the active record; the caller owns it.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode);

  // --- data sources and controls ---
  virtual TDataSource* DataSource() { return nullptr; }
  void DisableControls() { ++disable_count_; }
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }

  // --- field data (called by the field objects) ---
  // The field's value in the active buffer; false when it has none. Native: the record buffer's
  // form, otherwise the field's own (dates as TDateTime).
  bool GetFieldData(TField& field, void* buffer, bool native);
  void SetFieldData(TField& field, const void* buffer, bool native);
  // The active record buffer for the current state (nullptr when there is none).
  virtual TRecordBuffer GetActiveRecBuf() { return DefaultActiveBuffer(); }

  // --- events ---
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh, OnCalcFields, OnNewRecord;
  TFilterRecordEvent OnFilterRecord;
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;

  // Raises the silent abort.
  [[noreturn]] static void Abort();

 protected:
  // ----- hooks for concrete data sets -----
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) = 0;
  // Bytes of the physical part of a record buffer (calculated fields follow).
  virtual int GetRecordSize() = 0;
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual bool IsCursorOpen() = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalPost() = 0;
  virtual void InternalAddRecord(TRecordBuffer buffer, bool append) = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  virtual void InternalRefresh() {}
  virtual void InternalHandleException();
  virtual void GetBookmarkData(TRecordBuffer buffer, void* data) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const void* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual void InternalGotoBookmark(const void* bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  // Field data in the record buffer's native form; false when the field has no value.
  virtual bool GetFieldData(TField& field, void* buffer) = 0;
  virtual void SetFieldData(TField& field, const void* buffer) = 0;
  virtual bool GetCanModify() { return true; }
  // Converts a date or time value between the field's own form (TDateTime) and the native form.
  virtual void DataConvert(TField& field, const void* source, void* dest, bool to_native);
  virtual bool FindRecord(bool restart, bool go_forward);
  virtual void SetFilterText(const std::string& text) { filter_text_ = text; }
  virtual void OpenCursor(bool info_query);
  virtual void CloseCursor();
  // Called after the first records are fetched, before AfterOpen.
  virtual void DoAfterOpen() { if (AfterOpen) AfterOpen(*this); }
  virtual void DoOnNewRecord() { if (OnNewRecord) OnNewRecord(*this); }
  virtual void DataEvent(TDataEvent event, TField* field);
  virtual void ClearCalcFields(TRecordBuffer buffer);
  virtual void CalculateFields(TRecordBuffer buffer);
  virtual void SetBookmarkSize(int size) { bookmark_size_ = size; }

  // ----- helpers for concrete data sets -----
  void CheckActive();
  void CheckInactive();
  // Sets a temporary state and returns the previous one; RestoreState puts it back.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);
  // Makes `buffer` the record that fields read and write, in filter state, until the scope ends
  // (normally or by an exception); then the earlier state and record come back.
  class TFilterRecordScope {
   public:
    TFilterRecordScope(TDataSet& data_set, TRecordBuffer buffer)
        : data_set_(data_set), saved_buffer_(data_set.filter_buffer_),
          saved_state_(data_set.SetTempState(TDataSetState::dsFilter)) {
      data_set.filter_buffer_ = buffer;
    }
    ~TFilterRecordScope() {
      data_set_.RestoreState(saved_state_);
      data_set_.filter_buffer_ = saved_buffer_;
    }
    TFilterRecordScope(const TFilterRecordScope&) = delete;
    TFilterRecordScope& operator=(const TFilterRecordScope&) = delete;
    // Switches the record within the scope.
    void SetRecord(TRecordBuffer buffer) { data_set_.filter_buffer_ = buffer; }

   private:
    TDataSet& data_set_;
    TRecordBuffer saved_buffer_;
    TDataSetState saved_state_;
  };
  void SetState(TDataSetState state);
  void CheckCanModify();
  TRecordBuffer ActiveBuffer() const { return active_; }
  TRecordBuffer TempBuffer() const { return temp_; }
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  int CalcFieldsSize() const { return calc_fields_size_; }
  int BookmarkSize() const { return bookmark_size_; }
  // Offset of the calculated fields inside a record buffer: the record size of the layout in use,
  // asked each time, so a buffer set up while the cursor opens already finds the right place.
  int CalcFieldsOffset() { return GetRecordSize(); }
  bool DefaultFields() const { return default_fields_; }
  void CreateFields();
  void DestroyFields();
  void BindFields(bool binding);
  // Makes the cursor stand on the active record again (after it was moved elsewhere).
  void UpdateCursorPos();
  void CursorPosChanged() { cursor_changed_ = true; }
  void DoBeforeScroll() { if (BeforeScroll) BeforeScroll(*this); }
  void DoAfterScroll() { if (AfterScroll) AfterScroll(*this); }
  // Tells a field's change: marks it modified and notifies the links.
  void FieldChanged(TField& field);
  // The records after a successful open or reposition: fetches the active record.
  void FetchCurrent();
  // The calculated-fields part of the active buffer for a calculated field.
  uint8_t* CalcFieldSlot(TRecordBuffer buffer, const TField& field);
  // Whether the record passes OnFilterRecord (true when none is assigned).
  bool RecordFilterAccepts();
  TRecordBuffer DefaultActiveBuffer();
  // A record fetched into the temporary buffer becomes the one fields read in filter state.
  TRecordBuffer filter_buffer_ = nullptr;
  bool found_ = false;
  bool filtered_ = false;
  std::string filter_text_;
  TFilterOptions filter_options_;
  // True when the caller made data fields of its own before opening.
  bool HasPersistentDataFields() const;

 private:
  friend class TDataSource;
  friend class TField;
  void OpenSequence();
  void CloseSequence();
  void AllocateBuffers();
  void FreeBuffers();
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  // Runs op, offering the error event on EDatabaseError (retry / abort / fail).
  void RunWithErrorEvent(const std::function<void()>& op, const TDataSetErrorEvent& event);
  TGetResult Fetch(TGetMode mode);

  TDataSetState state_ = TDataSetState::dsInactive;
  TFields fields_;
  TFieldDefs field_defs_;
  TIndexDefs index_defs_;
  std::vector<TDataSource*> data_sources_;
  TRecordBuffer active_ = nullptr;
  TRecordBuffer spare_ = nullptr;
  TRecordBuffer temp_ = nullptr;
  TRecordBuffer calc_buffer_ = nullptr;
  int record_count_ = 0;  // records in the buffers: 0 (empty) or 1
  int calc_fields_size_ = 0;
  int bookmark_size_ = 0;
  int disable_count_ = 0;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool default_fields_ = false;
  bool auto_calc_fields_ = true;
  bool cursor_changed_ = false;
  bool pending_change_ = false;
};

}  // namespace zq
