// TDbFileIO: the engine's one point of contact with an open database file or memory stream. It
// opens and validates the file, keeps the options block and table directory in memory, owns the
// compression and encryption managers and serialises their use, checks passwords, takes the
// 1-byte file lock at offset 1 that guards table loads and record reads and writes, and offers
// the block reads and writes that the table layer and blob streams build on.
//
// Every offset and count read from the file is checked against the file before it is used; a
// damaged file raises EDatabaseError "Database file '<name>' is damaged: <what>".
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbengine/storage/db_file_owner.h"
#include "dbengine/format/db_format.h"
#include "dbengine/pipeline/pipeline_progress.h"
#include "platform/clock.h"
#include "platform/stream.h"

namespace zq {

class TCompressMgr;
class TEncryptMgr;

// A writer that holds back some of its writes while a bulk group is open (TDbFileIO::BeginBulk)
// and writes them when the group ends, or earlier when it needs them in the file.
class TDbBulkWriter {
 public:
  virtual void FinishBulk() = 0;

 protected:
  ~TDbBulkWriter() = default;
};

class TDbFileIO : public TPipelineOwner {
 public:
  // Records the owner's medium and exclusive flag; creates both managers.
  explicit TDbFileIO(TDbFileOwner* owner);
  ~TDbFileIO() override;
  TDbFileIO(const TDbFileIO&) = delete;
  TDbFileIO& operator=(const TDbFileIO&) = delete;

  // Opens and validates the database. Does nothing when already open. A failed open leaves the
  // object closed. mtMemory names are ":" + hex digits of a stream in TMemoryStreamRegistry.
  void Open(const std::string& file_name, TDbMediumType medium, int32_t start_offset, bool read_only,
            bool exclusive);
  // Frees the stream for mtDisk; forgets the caller's stream for mtMemory.
  void Close();
  // Writes the file's buffers to the disk (mtDisk).
  void Flush();
  bool IsOpen() const { return stream_ != nullptr; }
  // The stream's flushed flag on disk; always true for a memory stream.
  bool IsFlushed() const;
  // True for any password on an unencrypted file; on an encrypted one true exactly when the
  // password's check text equals the stored one, and then the encryption key is set up.
  bool CheckPassword(const std::string& password);
  // The check text stored for a password in an encrypted file.
  static std::string PasswordCheckText(const std::string& password);

  // The 1-byte lock at offset 1 (mtDisk only). Retries LockRetryCount times, sleeping
  // LockWaitTime ms through the clock between attempts; "Wait for unlock time out" after that.
  // Nested calls by the same object only count, so an operation holding the lock may call
  // another that takes it.
  void Lock();
  void Unlock();

  // A read batch holds the lock across a run of reads. In a scan, reads that move forward through
  // the file are served from a read-ahead window, filled by one read. In a search (the probes of a
  // binary search, then the record found), a small read near the one before is served from the
  // aligned block of kSearchBlockSize bytes around it, kept while the batch lasts, so that the
  // last probes of a search, which lie close together, and the record found cost one read. Both are
  // valid only while the lock is held (no other user of the engine writes meanwhile) and are
  // dropped by every write of this object. Nests like Lock; the outermost batch sets the pattern.
  enum class TReadPattern { Scan, Search };
  void BeginReadBatch(TReadPattern pattern = TReadPattern::Scan);
  void EndReadBatch();
  static constexpr int64_t kSearchBlockSize = 4096;

  // A bulk group holds the lock across many writes of this object; the table layer then trusts
  // what it verified once in the group and holds back link and head writes until the group ends
  // (each writer that held something back joins the group and is finished at its end, before
  // the lock is released). Nests: only the outermost EndBulk ends the group. EndBulk releases the
  // lock even when a held-back write fails, and raises that failure afterwards.
  void BeginBulk();
  void EndBulk();
  bool InBulk() const { return bulk_depth_ > 0; }
  // Counts the groups begun, so a writer can tell a group from an earlier one.
  uint64_t BulkSerial() const { return bulk_serial_; }
  void JoinBulk(TDbBulkWriter* writer);
  void LeaveBulk(TDbBulkWriter* writer);

  // A count of the writes to this file by every file object of this process that has it open
  // (also under another name): a reader that kept records it read compares it to see whether any
  // of them may have changed since. Writes by other processes do not count.
  uint64_t WriteStamp() const { return write_stamp_ ? *write_stamp_ : 0; }

  // Fixed blocks.
  void ReadOptionsBlock();
  void ReadDirectory();
  void ReadTableHeader(int table, TTableDefBlock& header);
  void WriteTableHeader(int table, const TTableDefBlock& header);
  // Reads exactly count bytes at position; positions outside the file are damage.
  void ReadAt(void* buffer, int64_t position, int64_t count);
  // Reads count bytes at position; false when the file ends before them.
  bool TryReadAt(void* buffer, int64_t position, int64_t count);
  // Writes count bytes at position (position may equal the file size, to append).
  void WriteAt(const void* buffer, int64_t position, int64_t count);
  // The size of the database (file size less the start offset).
  int64_t FileSize();
  // Table names in directory order.
  void GetTableNames(std::vector<std::string>& names);
  // Offset of a table's header, checked against the directory and the file.
  int32_t TableHeaderPosition(int table);

  // The table layer's reads.
  void ReadSlotTable(const TTableDefBlock& header, std::vector<int32_t>& block_offsets,
                     std::vector<TRecordSlot>& slots);
  void ReadLinkTable(const TTableDefBlock& header, int index, std::vector<int32_t>& block_offsets,
                     std::vector<TIndexLink>& links);
  // Reads one field of the record whose slot lies at slot_position and decodes it into out.
  void ReadFieldValue(TMemoryStream& out, int64_t slot_position, bool decompress, bool decrypt, bool is_blob,
                      int32_t slot_width, int32_t field_offset);
  // The same for the record image at data_offset.
  void ReadImageField(TMemoryStream& out, int32_t data_offset, bool decompress, bool decrypt, bool is_blob,
                      int32_t slot_width, int32_t field_offset);
  // Sets the Deleted byte of the slot at slot_position.
  void MarkDeleted(int64_t slot_position);

  // Processing, each under the managers' lock.
  void DecodeStreamData(TMemoryStream& source, TMemoryStream& destination, bool decompress, bool decrypt);
  void EncodeStreamData(TMemoryStream& source, TMemoryStream& destination, bool compress, bool encrypt);
  void EncodeBufferData(const void* source, void* destination, bool encrypt, int32_t count);
  void DecodeBufferData(const void* source, void* destination, bool decrypt, int32_t count);

  // State.
  TDbFileOwner* Owner() const { return owner_; }
  // The owner, when it listens for the pipeline's progress.
  TPipelineProgressTarget* ProgressTarget() const override;
  const std::string& FileName() const { return file_name_; }
  TDbMediumType MediumType() const { return medium_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return read_only_; }
  bool FileIsReadOnly() const { return file_is_read_only_; }
  int32_t StartOffset() const { return start_offset_; }
  TStream* Stream() const { return stream_; }
  const TDbOptionsBlock& Options() const { return options_; }
  const TTableDirectory& Directory() const { return directory_; }
  TCompressMgr& CompressMgr() { return *compress_mgr_; }
  TEncryptMgr& EncryptMgr() { return *encrypt_mgr_; }

  // The clock that Lock sleeps on (the system clock unless a test installs another).
  void SetClock(TClock* clock) { clock_ = clock ? clock : &SystemClock(); }

  // Raises "Database file '<name>' is damaged: <what>".
  [[noreturn]] void RaiseDamaged(const std::string& what) const;

 private:
  void CheckSignature(TStream& stream, const std::string& name);
  void ReadBlockChain(int32_t first_block, int32_t count, int item_size, const char* what,
                      std::vector<int32_t>& block_offsets, std::vector<uint8_t>& items);

  TDbFileOwner* owner_;
  std::string file_name_;
  TDbMediumType medium_ = mtDisk;
  bool exclusive_ = false;
  TStream* stream_ = nullptr;
  std::unique_ptr<TStream> own_stream_;
  int32_t start_offset_ = 0;
  bool read_only_ = false;
  bool file_is_read_only_ = false;
  std::unique_ptr<TCompressMgr> compress_mgr_;
  std::unique_ptr<TEncryptMgr> encrypt_mgr_;
  TDbOptionsBlock options_;
  TTableDirectory directory_;
  std::recursive_mutex managers_lock_;
  TClock* clock_ = &SystemClock();
  int lock_depth_ = 0;
  void FinishBulkWriters();
  int bulk_depth_ = 0;
  uint64_t bulk_serial_ = 0;
  std::vector<TDbBulkWriter*> bulk_writers_;
  // The file size as known while the lock is held (-1: ask the stream). Only this object changes
  // the size then, and its writes keep the figure current.
  int64_t locked_size_ = -1;
  int read_batch_depth_ = 0;
  std::vector<uint8_t> window_;  // read-ahead bytes of a read batch, from window_start_
  int64_t window_start_ = 0;
  int64_t last_read_end_ = -1;  // where the previous read of the batch ended
  TReadPattern read_pattern_ = TReadPattern::Scan;
  // The blocks a search batch read: (offset in the file, bytes; fewer at the end of the file).
  std::vector<std::pair<int64_t, std::vector<uint8_t>>> search_blocks_;
  size_t next_search_block_ = 0;
  bool ReadFromSearchBlock(void* buffer, int64_t position, int64_t count);
  void DropReadCaches();
  // Shared by the file objects of this process that have the same file open.
  std::shared_ptr<uint64_t> write_stamp_;
};

}  // namespace zq
