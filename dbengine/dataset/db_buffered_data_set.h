// TDbBufferedDataSet: the record-buffer layout of the engine's data sets, field access, date and
// time conversion, filtering and the blob streams.
//
// Record buffer:
//   physical fields   for each field with a field number > 0, in field-list order: blob fields a
//                     pointer to the buffer's TOptimBlobStream (at a pointer-aligned offset),
//                     other fields their native value (the stored encoding of the file format;
//                     no null marker)
//   calculated fields has-value byte and value of each calculated field
//   bookmark          4 bytes: record ID
//   bookmark flag     1 byte
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dataset/db_data_set.h"
#include "dbengine/filter/filter_parser.h"
#include "dbengine/filter/filter_source.h"
#include "dbengine/storage/optim_blob_stream.h"

namespace zq {

class TDbFileIO;
class TFieldBuffers;

// Shows and hides the wait cursor while a filter runs (when the session's SQLHourGlass is set).
// The user interface installs a handler; without one nothing is shown.
using TWaitCursorHandler = std::function<void(bool busy)>;
void SetWaitCursorHandler(TWaitCursorHandler handler);

class TDbBufferedDataSet : public TDbDataSet, public TFilterFieldSource, public TBlobStreamOwner {
 public:
  explicit TDbBufferedDataSet(TComponent* owner = nullptr);
  ~TDbBufferedDataSet() override;

  TDbMediumType MediumType() const override { return medium_type_; }
  void SetMediumType(TDbMediumType value) override;

  // Hands the password to the database of this data set's DatabaseName in its session,
  // connecting it when needed.
  void SetPassword(const std::string& password);

  void SetFiltered(bool value) override;
  void SetFilterOptions(TFilterOptions options) override;

  std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override;
  TRecordBuffer GetActiveRecBuf() override;
  int RecNo() override;
  void SetRecNo(int value) override;

  // The blob stream kept for a blob field in a record buffer (nullptr for other fields).
  TOptimBlobStream* BlobStreamOf(TRecordBuffer buffer, const TField& field) const;

  // TFilterFieldSource
  TFilterFieldInfo FilterFieldByName(const std::string& name) override;
  std::span<const uint8_t> FilterFieldData(int index) override;
  std::string FilterBlobText(int index) override;

  // TBlobStreamOwner
  TDbFileIO* BlobFileIO() override;

  // Told a blob field changed through a blob stream.
  void BlobFieldChanged(TField& field) { FieldChanged(field); }

 protected:
  // Number of visible rows and the record ID of one of them.
  virtual int RowCount() = 0;
  virtual int32_t RowRecordId(int row) = 0;
  // Reads visible row `row` into the buffer (other row numbers do nothing).
  virtual void ReadRecordData(TRecordBuffer buffer, int row) = 0;
  virtual void ActivateFilter() = 0;
  virtual void DeactivateFilter() = 0;

  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) override;
  int GetRecordSize() override { return data_size_; }
  void InternalFirst() override { current_row_ = -1; }
  void InternalLast() override { current_row_ = RowCount(); }
  void GetBookmarkData(TRecordBuffer buffer, void* data) override;
  void SetBookmarkData(TRecordBuffer buffer, const void* data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  void InternalGotoBookmark(const void* bookmark) override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  bool GetFieldData(TField& field, void* buffer) override;
  void SetFieldData(TField& field, const void* buffer) override;
  void DataConvert(TField& field, const void* source, void* dest, bool to_native) override;
  bool FindRecord(bool restart, bool go_forward) override;
  void SetFilterText(const std::string& text) override;
  using TDataSet::GetFieldData;
  using TDataSet::SetFieldData;

  // Computes data size, field offsets and buffer size from the bound fields.
  void ComputeRecordLayout();
  // Field buffers for the table layer over a record buffer: one item per table field, an
  // inactive placeholder for a table field without a field object.
  void BuildFieldBuffers(TRecordBuffer buffer, TFieldBuffers& buffers, int table_field_count);
  // Runs OnFilterRecord and the parsed filter text on the record in the filter buffer.
  bool RowAccepted();
  // Parses the filter text when it is not empty.
  void PrepareFilter();
  void AllocateKeyBuffers();
  void FreeKeyBuffers();
  int FieldOffset(int field_no) const { return field_offsets_.at(static_cast<size_t>(field_no)); }
  int BookmarkOffset() const { return data_size_ + CalcFieldsSize(); }
  static void ShowWaitCursor(bool busy);

  TDbMediumType medium_type_ = mtDisk;
  std::unique_ptr<TFilterParser> parser_;
  int current_row_ = -1;
  int data_size_ = 0;
  int rec_buf_size_ = 0;
  std::vector<int> field_offsets_;  // by field number (1-based; entry 0 unused)
  TRecordBuffer key_buffers_[4] = {};
  TRecordBuffer key_buffer_ = nullptr;  // the active record buffer in set-key state
  bool can_modify_ = false;
  // Read buffer of FilterFieldData for date conversions and blob-free access.
  std::vector<uint8_t> filter_scratch_;
};

}  // namespace zq
