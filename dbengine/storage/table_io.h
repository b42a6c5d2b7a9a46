// TDbTableIO: the storage side of one table of an open database. It loads the table's
// definitions and record lists from the file, reads records into a data set's field buffers,
// appends, rewrites and deletes records, keeps every index's order both in memory and in the
// file's link chains, enforces unique keys and assigns auto-increment values.
//
// Row list 0 holds the live records in physical order (ascending record ID); row list i + 1 holds
// them in the order of index i. Every operation that touches the file holds the file lock.
//
// Many openers: other processes and other database objects may change the file between two
// operations of this object. Every write therefore works from the file's state at the moment it
// holds the lock: it compares the table header (appends by others), and it checks in the file
// every fact its row lists give it (the liveness of the records it relies on, and that the
// neighbours between which it unlinks or links a record follow each other in the chain). When a
// fact differs the table is reloaded and the write planned again. See docs/concurrency.md and the
// comment above VerifyNeighbours in table_write_checks.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbengine/format/db_defs.h"
#include "dbengine/format/db_format.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/storage/db_file_owner.h"
#include "dbengine/storage/field_buffers.h"
#include "platform/stream.h"

namespace zq {

class TOptimBlobStream;

// Called by AppendRecord with (-1, -1, new row) before any index is updated, then with
// (index number, insertion position in list index + 1, new row) before the row is inserted there.
using TIndexCallback = std::function<void(int list, int position, const TRowRef& row)>;
// Called by ModifyRecord with (index number, old position, new position) for each index in which
// the record changes place.
using TMoveCallback = std::function<void(int index, int old_position, int new_position)>;

// Bulk groups (TDbFileIO::BeginBulk, TDbDatabase::StartBulk): while a group holds the file lock,
// no other opener writes, so a write trusts what an earlier write of the group verified (the
// header, the liveness of records, the neighbours in the chains) instead of reading it again. An
// append then writes its slot live at once, and holds back the links that lead to it and the
// index heads until the group ends (or a modify that moves a record needs the chains whole): a
// program stopped inside the group leaves its records counted and live but missing from the
// chains, which the load rebuilds from their keys. The file ends byte for byte as the same
// operations one at a time leave it.
class TDbTableIO : private TDbBulkWriter {
 public:
  explicit TDbTableIO(TDbFileOwner* owner);
  ~TDbTableIO();
  TDbTableIO(const TDbTableIO&) = delete;
  TDbTableIO& operator=(const TDbTableIO&) = delete;

  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& name) { table_name_ = name; }
  int TableNumber() const { return table_number_; }
  int OpenCount() const { return open_count_; }
  bool Loaded() const { return !row_lists_.empty(); }
  // Increases each time the table is (re)loaded from the file; a data set compares it to notice
  // that the row lists were rebuilt (another process changed the table).
  int64_t LoadGeneration() const { return load_generation_; }

  // The first opener loads the table; the last closer unloads it.
  void Open();
  void Close();

  TDbFieldDefs& FieldDefs() { return field_defs_; }
  TDbIndexDefs& IndexDefs() { return index_defs_; }
  const TTableDefBlock& Header() const { return header_; }
  int32_t RecordSize() const { return record_size_; }
  const TIntegerAry& FieldOffsets() const { return field_offsets_; }
  int AutoIncField() const { return auto_inc_field_; }

  // List 0 = physical order, i + 1 = order of index i.
  TRowList& RowList(int list_number);
  int RowListCount() const { return static_cast<int>(row_lists_.size()); }
  // Builds a missing row list; with reread_slots the slots are read from the file first.
  void LoadRowList(int list_number, bool reread_slots);
  int PrimaryIndex() const;

  bool FieldIsEncrypted(int field_number) const;
  bool FieldIsCompressed(int field_number) const;
  // Slot width of a field in the record image (20 for blob types).
  int32_t FieldSlotWidth(int field_number) const;

  // The stored bytes of one field of one record, decoded.
  void ReadStoredField(TMemoryStream& out, int32_t record_id, int field_number);
  // Compares a key value (size bytes at key) with a stored value of the same field type.
  static int CompareValues(const uint8_t* key, int64_t key_size, const uint8_t* stored, int64_t stored_size,
                           bool partial, bool case_insensitive, uint8_t field_type);

  // Binary search of the key values in key (items by field number) in a row list ordered by index.
  int FindKey(const TFieldBuffers& key, const TRowList& list, bool partial, int key_field_count, int& result,
              int index);
  int FindKeyBound(const TFieldBuffers& key, const TRowList& list, bool partial, int key_field_count,
                   int& result, bool first, int index);
  int InsertPosition(const TFieldBuffers& buffers, int index);
  int PhysicalPosition(const TRowList& list, int position);
  int MapPosition(int from_list, int position, int to_list);

  void ReadRecord(TFieldBuffers& buffers, const TRowList& list, int position);
  // The record images of count rows of list from position from, read under one hold of the lock
  // (count * RecordSize() bytes), with the offset each was read at; DecodeImage then gives what
  // ReadRecord gives for that row at the time of the read (record_id: the row's record, whose slot
  // its blob streams follow to the image they load from).
  void ReadImages(const TRowList& list, int from, int count, std::vector<uint8_t>& images,
                  std::vector<int32_t>& offsets);
  void DecodeImage(TFieldBuffers& buffers, const uint8_t* image, int32_t data_offset, int32_t record_id);
  // Fills `to` with what ReadRecord gives for a record just written from `from` (whose values the
  // write has normalised in place), without reading the file. False, and nothing copied, when the
  // record has blob fields, which only a read binds to their place in the file.
  bool CopyWrittenValues(const TFieldBuffers& from, TFieldBuffers& to) const;
  void AppendRecord(TFieldBuffers& buffers, bool flush, const TIndexCallback& index_callback);
  void ModifyRecord(TFieldBuffers& buffers, int physical_position, const TMoveCallback& move_callback, bool flush);
  void DeleteRecord(int physical_position, bool flush);

  // Read-back attempts of a checked blob write before it fails.
  static constexpr int kBlobWriteAttempts = 3;

  // Holds the file lock across a run of ReadRecord calls and lets the file layer serve records
  // read in file order from a read-ahead window (TDbFileIO::BeginReadBatch): for scans that read
  // many records in one go. Keep it short, as other users of the file wait meanwhile.
  class ReadBatch {
   public:
    explicit ReadBatch(TDbTableIO& table);
    ~ReadBatch();
    ReadBatch(const ReadBatch&) = delete;
    ReadBatch& operator=(const ReadBatch&) = delete;

   private:
    TDbFileIO& io_;
  };

  // Holds the file lock across a key search and the read of the record it finds, serving the
  // probes from the blocks read around them (TDbFileIO::BeginReadBatch, search pattern).
  class SearchBatch {
   public:
    explicit SearchBatch(TDbTableIO& table);
    ~SearchBatch();
    SearchBatch(const SearchBatch&) = delete;
    SearchBatch& operator=(const SearchBatch&) = delete;

   private:
    TDbFileIO& io_;
  };

 private:
  // Holds the file lock for a scope; released on every exit.
  class LockGuard {
   public:
    explicit LockGuard(TDbFileIO& io) : io_(io) { io_.Lock(); }
    ~LockGuard() { io_.Unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

   private:
    TDbFileIO& io_;
  };
  TDbFileIO& FileIO() const;
  int32_t ImageOffset(const TRowRef& ref);
  void Load();
  void Unload();
  void LoadLocked();
  void ReloadIfChanged();
  // The physical position of a live record by ID after ReloadIfChanged (reload: LoadLocked
  // instead); a record that another opener deleted raises "... was deleted by another user".
  int LivePosition(int32_t record_id, bool reload);
  // The record ID at a place of the physical list; "Record position N out of range" when none.
  int32_t RecordIdAt(int physical_position);
  // Checks of the facts a write relies on, in the file (see table_write_checks.cpp).
  void BeginChecks();
  bool DeletedInFile(int32_t record_id);
  TIndexLink CheckedLink(int index, int32_t record_id);
  bool LiveInFile(int32_t record_id);
  bool NextLiveIs(int index, int32_t next, int32_t expected);
  bool VerifyNeighbours(int index, const TRowList& list, int position);
  [[noreturn]] void RaiseStale();
  void CheckBlocksForWrite();
  int64_t SlotPosition(int32_t record_id) const;
  int64_t LinkPosition(int index, int32_t record_id) const;
  int64_t HeaderPosition() const;
  TIndexLink ReadLink(int index, int32_t record_id);
  void WriteLink(int index, const TIndexLink& link);
  void WriteHeader();
  int CompareKey(const TFieldBuffers& key, int32_t record_id, bool partial, int key_field_count, int index);
  const uint8_t* ReadKeySlot(int32_t record_id, int field_number, int64_t& size);
  // The outcome of one index search for a key: FindKey's position and result.
  struct TKeySearch {
    bool Done = false;
    int Position = -1;
    int Result = -2;
  };
  // Raises "Invalid unique field value" for a key that another live record holds in the file;
  // with searches, records each unique index's search by index number. False when the search met
  // a record that the file no longer holds (the row lists are stale).
  bool CheckUnique(const TFieldBuffers& buffers, int physical_position, std::vector<TKeySearch>* searches = nullptr);
  // Whether a field is one of the key fields of any index.
  bool IsKeyField(int field_number) const;
  int FindWriteKey(const TFieldBuffers& key, const TRowList& list, int& result, int index);
  static int InsertPositionOf(int position, int result);
  void WriteBlob(TMemoryStream& encoded, int32_t area_offset, TMemoryStream* plain, int field_number);
  void EncodeBlob(TFieldBufferItem& item, int field_number, TMemoryStream& plain, TMemoryStream& encoded);
  // The reorder after a modify, planned before anything is written: each index's old and new
  // position of the record. False when a fact it relies on differs in the file.
  struct TMove {
    int Old = -1;
    int New = -1;  // in the list without the record
  };
  bool PlanReorder(const TFieldBuffers& buffers, const TFieldBuffers& stored_key, int32_t record_id,
                   int physical_position, std::vector<TMove>& plan);
  // The stored values of the key fields of a record (image: its record image), as key buffers
  // (placeholders for the other fields), held in `values`.
  struct TStoredKey {
    TFieldBuffers Buffers;
    std::vector<std::vector<uint8_t>> Values;
    std::vector<std::unique_ptr<TOptimBlobStream>> Blobs;
  };
  void ReadStoredKey(int32_t record_id, const std::vector<uint8_t>& image, TStoredKey& key);
  // The position of a record in list index + 1, found by its stored key: a binary search for the
  // first equal key, then the record among the equal ones. -1 when the list lacks it.
  int PositionByKey(const TFieldBuffers& stored_key, int32_t record_id, int index);
  void ApplyReorder(const std::vector<TMove>& plan, const TMoveCallback& move_callback);

  // Crash recovery and the order of writes (table_recovery.cpp).
  bool MayWrite() const;
  void ResolveSwitchNote();
  void ReadSlotsRecovering();
  void EndBlockChains();
  void RebuildChain(int index, const std::vector<TIndexLink>& links, TRowList& list);
  void WriteCounter(int64_t position, int32_t old_value, int32_t new_value);
  void WriteSwitchNote(int64_t at, int64_t slot_position, int32_t old_offset, int32_t new_offset);
  void WriteNext(int index, int32_t record_id, int32_t next);
  void WriteHeadSlot(int index, int32_t head);
  void WriteDeleted(int32_t record_id, uint8_t deleted);
  void BeginWrite();
  // Bulk groups: whether this write may trust what an earlier write of the group verified.
  bool Trusted() const;
  void EndWriteInBulk();
  void HoldLink(int index, int32_t record_id, int32_t next, bool whole);
  void HoldHeadSlot(int index);
  void WriteHeldBack();
  void FinishBulk() override;
  struct THeldLink {
    int32_t Next = -1;
    bool Whole = false;  // the record's own link (record ID and next), not only its next
  };
  std::unordered_map<uint64_t, THeldLink> held_links_;  // by (index << 32 | record ID)
  std::vector<int> held_heads_;                        // indexes whose HeadSlot waits
  uint64_t trusted_bulk_ = 0;                          // the group in which the lists were verified
  // A slot pointer that a modify left torn, corrected in memory by an opener that may not write.
  struct TPendingSwitch {
    int64_t SlotPosition = -1;
    int32_t DataOffset = 0;
  };
  TPendingSwitch pending_switch_;
  // Set when a write failed part-way: the next operation reloads (and so recovers) first.
  bool reload_before_write_ = false;
  // The file's size after this object last loaded or wrote: a larger one tells of writes by
  // others, which may have moved record images.
  int64_t known_file_size_ = -1;

  TDbFileOwner* owner_;
  int open_count_ = 0;
  std::string table_name_;
  int table_number_ = -1;
  TDbFieldDefs field_defs_;
  TDbIndexDefs index_defs_;
  int32_t record_size_ = 0;
  TIntegerAry field_offsets_;
  TIntegerAry slot_widths_;
  int auto_inc_field_ = -1;
  TTableDefBlock header_;
  std::vector<TRecordSlot> slots_;
  TIntegerAry slot_blocks_;
  std::vector<TIntegerAry> link_blocks_;
  std::vector<std::unique_ptr<TRowList>> row_lists_;
  int64_t load_generation_ = 0;
  // Scratch buffers of the per-record paths (key comparisons, record reads), kept between calls
  // so that a search or a scan does not allocate for every record it touches.
  std::vector<uint8_t> key_slot_;
  TMemoryStream compare_raw_;
  TMemoryStream compare_stored_;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> slot_;
  std::vector<TKeySearch> key_searches_;
  std::vector<int> insert_positions_;
  std::vector<TMove> moves_;
  // What the checks of the current write read from the file: (record ID, deleted), (index, link).
  std::vector<std::pair<int32_t, bool>> checked_slots_;
  std::vector<std::pair<int, TIndexLink>> checked_links_;
};

}  // namespace zq
