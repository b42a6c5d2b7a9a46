// TDbTable: one table of a database file as a data set. It keeps the visible rows (a copy of the
// row list of the current index, possibly narrowed by a filter or a key range), posts, adds and
// deletes through the table's storage object keeping the visible rows in order, resolves
// IndexName, locates and looks up records (by index search when an index fits the key fields,
// by scan otherwise) and follows a master data set through a key range.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/dataset/data_link.h"
#include "dbengine/dataset/db_buffered_data_set.h"
#include "dbengine/storage/field_buffers.h"

namespace zq {

class TDbTableIO;

class TDbTable : public TDbBufferedDataSet {
 public:
  using TOnProgressEvent = std::function<void(TDbTable& sender, int percent)>;

  explicit TDbTable(TComponent* owner = nullptr);
  ~TDbTable() override;

  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& value);
  const std::string& IndexName() const { return index_name_; }
  void SetIndexName(const std::string& value);
  // Current index number: -1 = physical order.
  int CurrentIndex() const { return current_index_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  const std::string& MasterFields() const { return master_link_.FieldNames(); }
  void SetMasterFields(const std::string& value) { master_link_.SetFieldNames(value); }
  TDataSource* MasterSource() const { return master_link_.DataSource(); }
  void SetMasterSource(TDataSource* value);
  TDataSource* DataSource() override { return master_link_.DataSource(); }
  bool RangeActive() const { return range_active_; }

  void SetDatabaseName(const std::string& value) override;
  int RecordCount() override;
  bool BookmarkValid(const TBookmark& bookmark) override;
  void Post() override;
  bool Locate(const std::string& key_fields, const Variant& key_values,
              TLocateOptions options) override;
  Variant Lookup(const std::string& key_fields, const Variant& key_values,
                 const std::string& result_fields) override;

  // Key searches on the current index: SetKey enters set-key state on an empty key buffer, where
  // field assignments set key values; GotoKey leaves it and moves to the first row whose leading
  // key fields (as many as were assigned) equal the key. FindKey does both with the values given
  // for the leading fields. "No index currently active" in physical order.
  void SetKey();
  bool GotoKey();
  bool FindKey(const std::vector<Variant>& values);

  // The table storage object in use (present while open).
  TDbTableIO* TableIO() const { return table_io_; }

  TOnProgressEvent OnFilterProgress;

 protected:
  // TDataSet hooks
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  bool IsCursorOpen() override { return visible_ != nullptr; }
  void InternalPost() override;
  void InternalAddRecord(TRecordBuffer buffer, bool append) override;
  void InternalDelete() override;
  void InternalRefresh() override;
  // A scan from either end starts from the file: rows read ahead serve one scan only, so a new
  // walk shows another program's changes to the rows it visits.
  void InternalFirst() override;
  void InternalLast() override;
  bool GetCanModify() override;
  void DoAfterOpen() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;

  // TDbBufferedDataSet hooks
  int RowCount() override { return visible_ ? static_cast<int>(visible_->size()) : 0; }
  int32_t RowRecordId(int row) override { return visible_->at(static_cast<size_t>(row)).RecordId; }
  void ReadRecordData(TRecordBuffer buffer, int row) override;
  void ActivateFilter() override;
  void DeactivateFilter() override;

 private:
  int ResolveIndex() const;
  int TableFieldCount() const;
  // Serves a row from the images read ahead, reading the next run of rows when the row is not
  // among them (see db_table.cpp). False on a database in memory, which is read row by row.
  bool ReadAhead(TFieldBuffers& buffers, int row);
  // Makes the row one of the rows read ahead (reading it when it is not); false on a database in
  // memory.
  bool HoldRow(int row);
  void DropReadAhead();
  // The field buffers over a record buffer that rows are read into, built once per buffer.
  TFieldBuffers& ReadBuffersOf(TRecordBuffer buffer);
  // Visible rows := a copy of the current index's row list.
  void LoadVisibleRows(bool reread_slots);
  // The visible rows built again from the table's lists (reread: from the file), narrowed by the
  // range and the filter in force, the cursor on the same record when it is still there.
  void RebuildVisibleRows(bool reread, int32_t keep_id);
  // Runs a write of the table storage object. When the write reloaded the table (another opener
  // had changed it), the visible rows are a copy of lists that no longer exist: they are built
  // again, also when the write fails, with the cursor on keep_id (read when the write has ended,
  // so an append can name the record it added), or where it was when that record is gone.
  template <class Write>
  void WriteThroughTable(const int32_t& keep_id, Write&& write);
  void AddRow(TRecordBuffer buffer);
  void ModifyCurrentRow();
  // Position in the visible rows at which a row with the key in `buffers` belongs (filter or
  // range active: the visible rows are not the whole list).
  int KeyPosition(const TFieldBuffers& buffers);
  bool FilterOrRangeActive() const { return Filtered() || range_active_; }
  // Master/detail.
  void MasterChanged();
  void MasterDisabled();
  // On open, on a master change and after IndexName changes: switches a filter off and applies
  // the master's range. False when there is no range to follow (no master fields or no index).
  bool FollowMaster();
  void ApplyMasterRange();
  // Search of Locate and Lookup: the visible row, or -1.
  int LocateRow(const std::string& key_fields, const Variant& key_values, TLocateOptions options);
  int IndexForFields(const std::vector<TField*>& fields, bool case_insensitive) const;
  // The field of key field k of an index; raises "Field '%s' not found" when the data set lacks it.
  TField& KeyField(const TDbIndexDef& index, int k);
  bool SearchKey(TRecordBuffer key, int key_field_count);

  std::string table_name_;
  std::string index_name_;
  int current_index_ = -1;
  std::unique_ptr<TRowList> visible_;
  int update_batch_ = 0;
  bool range_active_ = false;
  int range_key_count_ = 0;
  bool read_only_ = false;
  TMasterDataLink master_link_;
  TDbTableIO* table_io_ = nullptr;
  bool table_io_opened_ = false;
  // Post appends a record and then reads it back. While Post runs, the record just appended and
  // the buffer it was written from: the read-back copies the values from there instead of reading
  // the same bytes again (the append stores back into the buffer what it changes).
  bool posting_ = false;
  int32_t appended_record_id_ = -1;
  TRecordBuffer appended_from_ = nullptr;

  // Record images of the visible rows from first_row on, read under one hold of the file lock.
  // They stand for the file only while no writer of this process has written to it since (the
  // write stamp) and the table was not reloaded; Refresh drops them, so that other processes'
  // changes show as they did without them.
  struct TReadAheadRows {
    int first_row = 0;
    std::vector<int32_t> record_ids;
    std::vector<int32_t> offsets;
    std::vector<uint8_t> images;
    uint64_t write_stamp = 0;
    int64_t generation = -1;
    int last_row = -2;  // the row read last
    int run = 1;        // rows to read at the next step of a scan in one direction
  };
  TReadAheadRows read_ahead_;
  std::vector<std::pair<TRecordBuffer, std::unique_ptr<TFieldBuffers>>> read_buffers_;
};

}  // namespace zq
