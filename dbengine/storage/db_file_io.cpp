#include "dbengine/storage/db_file_io.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <unordered_set>

#include "dbengine/pipeline/data_process_mgr.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_stream.h"
#include "dbengine/storage/memory_stream_registry.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"

namespace zq {

using namespace dbfmt;

namespace {

// Session defaults, used when the file access object has no owner.
constexpr int32_t kDefaultLockRetryCount = 20;
constexpr int32_t kDefaultLockWaitTime = 100;
// The byte that the file lock covers.
constexpr int64_t kLockOffset = 1;

// The write count of a file, shared by the file objects of this process that have it open.
// A file whose identity cannot be read gets a count of its own.
std::shared_ptr<uint64_t> SharedWriteStamp(int fd) {
  TFileIdentity id;
  if (!GetFileIdentity(fd, id)) return std::make_shared<uint64_t>(0);
  static std::mutex guard;
  static std::map<TFileIdentity, std::weak_ptr<uint64_t>> stamps;
  std::lock_guard lock(guard);
  std::erase_if(stamps, [](const auto& entry) { return entry.second.expired(); });
  std::weak_ptr<uint64_t>& slot = stamps[id];
  std::shared_ptr<uint64_t> stamp = slot.lock();
  if (!stamp) {
    stamp = std::make_shared<uint64_t>(0);
    slot = stamp;
  }
  return stamp;
}

}  // namespace

TDbFileIO::TDbFileIO(TDbFileOwner* owner)
    : owner_(owner),
      compress_mgr_(std::make_unique<TCompressMgr>(this)),
      encrypt_mgr_(std::make_unique<TEncryptMgr>(this)) {
  if (owner_) {
    medium_ = owner_->MediumType();
    exclusive_ = owner_->Exclusive();
  }
}

TDbFileIO::~TDbFileIO() { Close(); }

TPipelineProgressTarget* TDbFileIO::ProgressTarget() const {
  return dynamic_cast<TPipelineProgressTarget*>(owner_);
}

void TDbFileIO::RaiseDamaged(const std::string& what) const {
  throw EDatabaseError(FormatMessage("Database file '%s' is damaged: %s", {file_name_, what}));
}

void TDbFileIO::CheckSignature(TStream& stream, const std::string& name) {
  TDbSignature signature;
  stream.SetPosition(0);
  int64_t got = stream.Read(signature.Bytes.data(), kSignatureSize);
  if (got < kMagicSize || !signature.HasMagic())
    throw EDatabaseError(FormatMessage("Database file '%s' is a invalid database file", {name}));
  std::string version = got == kSignatureSize ? signature.Version() : std::string();
  if (version == "1.00") throw EDatabaseError("Version 1.00 is not compatible");
  if (version.compare("2.0") > 0) throw EDatabaseError("Version of database file is too High");
}

void TDbFileIO::Open(const std::string& file_name, TDbMediumType medium, int32_t start_offset, bool read_only,
                     bool exclusive) {
  if (IsOpen()) return;
  medium_ = medium;
  exclusive_ = exclusive;
  read_only_ = read_only;
  start_offset_ = start_offset < 0 ? 0 : start_offset;
  file_is_read_only_ = false;
  file_name_ = file_name;
  try {
    if (medium == mtDisk) {
      if (!FileExists(file_name)) throw EDatabaseError(FormatMessage("Cannot open file %s", {file_name}));
      {
        TDbFileStream check(file_name, FileAccess::Read, FileShare::DenyNone, start_offset_);
        CheckSignature(check, file_name);
      }
      file_is_read_only_ = zq::FileIsReadOnly(file_name);
      FileAccess access = (file_is_read_only_ || read_only) ? FileAccess::Read : FileAccess::ReadWrite;
      FileShare share = exclusive ? FileShare::Exclusive : FileShare::DenyNone;
      own_stream_ = std::make_unique<TDbFileStream>(file_name, access, share, start_offset_);
      stream_ = own_stream_.get();
      write_stamp_ = SharedWriteStamp(static_cast<TFileStream*>(stream_)->Handle());
    } else {
      if (!TMemoryStreamRegistry::IsValidName(file_name))
        throw EDatabaseError(FormatMessage("Invalid database name '%s'", {file_name}));
      TStream* stream = TMemoryStreamRegistry::Find(file_name);
      if (stream == nullptr) throw EDatabaseError(FormatMessage("Invalid database name '%s'", {file_name}));
      CheckSignature(*stream, file_name);
      stream_ = stream;
      write_stamp_ = std::make_shared<uint64_t>(0);
    }
    if (FileSize() < kFileHeaderSize) RaiseDamaged("file header truncated");
    ReadOptionsBlock();
    if (options_.Compressed()) compress_mgr_->SetAlgoName(options_.CompressAlgoName());
    if (options_.Encrypted()) {
      encrypt_mgr_->SetAlgoName(options_.EncryptAlgoName());
      encrypt_mgr_->SetMode(options_.EncryptMode());
    }
    ReadDirectory();
  } catch (...) {
    Close();
    throw;
  }
}

void TDbFileIO::Close() {
  if (bulk_depth_ > 0) {
    // The group's held-back writes belong to completed operations: written before the file closes.
    try {
      FinishBulkWriters();
    } catch (...) {
    }
    bulk_depth_ = 0;
  }
  if (lock_depth_ > 0 && stream_ != nullptr && medium_ == mtDisk && own_stream_) {
    UnlockFileRange(static_cast<TFileStream*>(own_stream_.get())->Handle(), kLockOffset, 1);
  }
  lock_depth_ = 0;
  read_batch_depth_ = 0;
  locked_size_ = -1;
  DropReadCaches();
  own_stream_.reset();
  stream_ = nullptr;
  write_stamp_.reset();
}

void TDbFileIO::Flush() {
  if (auto* s = dynamic_cast<TDbFileStream*>(stream_)) s->Flush();
}

bool TDbFileIO::IsFlushed() const {
  if (auto* s = dynamic_cast<TDbFileStream*>(stream_)) return s->Flushed();
  return true;
}

std::string TDbFileIO::PasswordCheckText(const std::string& password) { return PipelinePasswordCheckText(password); }

bool TDbFileIO::CheckPassword(const std::string& password) {
  if (!IsOpen()) return false;
  if (!options_.Encrypted()) return true;
  std::string expected = options_.PasswordCheck();
  std::string actual = PasswordCheckText(password);
  if (actual != expected) return false;
  std::lock_guard guard(managers_lock_);
  encrypt_mgr_->InitKey(password);
  return true;
}

void TDbFileIO::Lock() {
  if (!IsOpen() || medium_ != mtDisk) return;
  if (lock_depth_ > 0) {
    ++lock_depth_;
    return;
  }
  int32_t count = owner_ ? owner_->LockRetryCount() : kDefaultLockRetryCount;
  int32_t wait = owner_ ? owner_->LockWaitTime() : kDefaultLockWaitTime;
  if (count < 0) count = 0;
  if (wait < 0) wait = 0;
  int fd = static_cast<TFileStream*>(stream_)->Handle();
  int64_t attempts = 0;
  for (;;) {
    // A descriptor opened for reading only cannot hold a write lock; its read lock still keeps
    // writers out while it reads, which is all a read-only opener needs.
    bool exclusive = !(file_is_read_only_ || read_only_);
    if (TryLockFileRange(fd, kLockOffset + start_offset_, 1, exclusive)) {
      lock_depth_ = 1;
      return;
    }
    ++attempts;
    if (count != 0 && attempts > count) throw EDatabaseError("Wait for unlock time out");
    clock_->Sleep(static_cast<uint32_t>(wait));
  }
}

void TDbFileIO::Unlock() {
  if (!IsOpen() || medium_ != mtDisk || lock_depth_ == 0) return;
  if (--lock_depth_ > 0) return;
  locked_size_ = -1;
  DropReadCaches();
  UnlockFileRange(static_cast<TFileStream*>(stream_)->Handle(), kLockOffset + start_offset_, 1);
}

void TDbFileIO::BeginBulk() {
  Lock();
  if (bulk_depth_++ == 0) ++bulk_serial_;
}

void TDbFileIO::EndBulk() {
  if (bulk_depth_ == 0) return;
  if (bulk_depth_ > 1) {
    --bulk_depth_;
    Unlock();
    return;
  }
  std::exception_ptr failure;
  try {
    FinishBulkWriters();
  } catch (...) {
    failure = std::current_exception();
  }
  bulk_depth_ = 0;
  Unlock();
  if (failure) std::rethrow_exception(failure);
}

void TDbFileIO::JoinBulk(TDbBulkWriter* writer) {
  if (std::find(bulk_writers_.begin(), bulk_writers_.end(), writer) == bulk_writers_.end())
    bulk_writers_.push_back(writer);
}

void TDbFileIO::LeaveBulk(TDbBulkWriter* writer) {
  bulk_writers_.erase(std::remove(bulk_writers_.begin(), bulk_writers_.end(), writer), bulk_writers_.end());
}

// Every writer is finished even when one fails; the first failure is raised.
void TDbFileIO::FinishBulkWriters() {
  std::vector<TDbBulkWriter*> writers;
  writers.swap(bulk_writers_);
  std::exception_ptr failure;
  for (TDbBulkWriter* writer : writers) {
    try {
      writer->FinishBulk();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TDbFileIO::BeginReadBatch(TReadPattern pattern) {
  Lock();
  if (read_batch_depth_++ == 0) {
    last_read_end_ = -1;
    read_pattern_ = pattern;
  }
}

void TDbFileIO::EndReadBatch() {
  if (read_batch_depth_ == 0) return;
  if (--read_batch_depth_ == 0) DropReadCaches();
  Unlock();
}

void TDbFileIO::DropReadCaches() {
  window_.clear();
  for (auto& block : search_blocks_) block.first = -1;
}

// A read inside one aligned block, served from the blocks of the current search batch. A block is
// read when the read lies near the one before (the narrowing end of a binary search, then the
// record found); the first, far-apart probes read only their own bytes. False when the read is not
// served here.
bool TDbFileIO::ReadFromSearchBlock(void* buffer, int64_t position, int64_t count) {
  constexpr size_t kBlocks = 8;
  const int64_t start = position - position % kSearchBlockSize;
  const int64_t previous = last_read_end_;
  last_read_end_ = position + count;
  if (position + count > start + kSearchBlockSize) return false;
  auto held = std::find_if(search_blocks_.begin(), search_blocks_.end(),
                           [start](const auto& block) { return block.first == start; });
  if (held == search_blocks_.end()) {
    if (previous < 0 || std::abs(position - previous) >= kSearchBlockSize) return false;
    if (search_blocks_.size() < kBlocks) search_blocks_.emplace_back(-1, std::vector<uint8_t>());
    held = search_blocks_.begin() + static_cast<std::ptrdiff_t>(next_search_block_++ % search_blocks_.size());
    held->first = -1;
    held->second.resize(static_cast<size_t>(kSearchBlockSize));
    const int64_t got = stream_->Seek(start, SeekOrigin::Begin) == start ? stream_->Read(held->second.data(), kSearchBlockSize) : 0;
    held->second.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
    held->first = start;
  }
  if (position + count > start + static_cast<int64_t>(held->second.size())) return false;
  std::memcpy(buffer, &held->second[static_cast<size_t>(position - start)], static_cast<size_t>(count));
  return true;
}

int64_t TDbFileIO::FileSize() {
  if (!stream_) return 0;
  if (locked_size_ >= 0) return locked_size_;
  int64_t size = stream_->Size();
  if (lock_depth_ > 0) locked_size_ = size;
  return size;
}

bool TDbFileIO::TryReadAt(void* buffer, int64_t position, int64_t count) {
  if (!stream_) throw EDatabaseError("Cannot perform this operation on a closed database");
  if (count < 0 || position < 0 || position > INT32_MAX) return false;
  if (count == 0) return position <= FileSize();
  constexpr int64_t kWindowSize = 64 * 1024;
  // In a read batch on disk, a read at or a little after the previous one is part of a forward
  // scan: it is served from the window, which is refilled from its position when it runs out.
  if (read_batch_depth_ > 0 && lock_depth_ > 0 && read_pattern_ == TReadPattern::Search) {
    if (ReadFromSearchBlock(buffer, position, count)) return true;
  } else if (read_batch_depth_ > 0 && lock_depth_ > 0 && count <= kWindowSize / 2) {
    const bool forward = last_read_end_ >= 0 && position >= last_read_end_ && position - last_read_end_ < kWindowSize;
    last_read_end_ = position + count;
    const auto window_end = window_start_ + static_cast<int64_t>(window_.size());
    if (forward && (position < window_start_ || position + count > window_end)) {
      window_.resize(static_cast<size_t>(kWindowSize));
      int64_t got = stream_->Seek(position, SeekOrigin::Begin) == position ? stream_->Read(window_.data(), kWindowSize) : 0;
      window_.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
      window_start_ = position;
    }
    if (position >= window_start_ && position + count <= window_start_ + static_cast<int64_t>(window_.size())) {
      std::memcpy(buffer, &window_[static_cast<size_t>(position - window_start_)], static_cast<size_t>(count));
      return true;
    }
  }
  // A read that comes back short went past the end of the file: no separate size query needed.
  return stream_->Seek(position, SeekOrigin::Begin) == position && stream_->Read(buffer, count) == count;
}

void TDbFileIO::ReadAt(void* buffer, int64_t position, int64_t count) {
  if (!TryReadAt(buffer, position, count))
    RaiseDamaged(FormatMessage("read of %s bytes at offset %s outside the file",
                               {std::to_string(count), std::to_string(position)}));
}

void TDbFileIO::WriteAt(const void* buffer, int64_t position, int64_t count) {
  if (!stream_) throw EDatabaseError("Cannot perform this operation on a closed database");
  if (position < 0 || position + count > INT32_MAX)
    throw EDatabaseError("Database file would exceed the largest size the format can address");
  DropReadCaches();
  if (write_stamp_) ++*write_stamp_;
  const int64_t known_size = locked_size_;
  locked_size_ = -1;  // a write that fails part-way leaves the size unknown
  stream_->SetPosition(position);
  stream_->WriteBuffer(buffer, count);
  if (known_size >= 0) locked_size_ = std::max(known_size, position + count);
}

void TDbFileIO::ReadOptionsBlock() { ReadAt(options_.Bytes.data(), kOptionsOffset, kOptionsSize); }

void TDbFileIO::ReadDirectory() {
  ReadAt(directory_.Bytes.data(), kDirectoryOffset, kDirectorySize);
  int32_t count = directory_.TableCount();
  if (count < 0 || count > kMaxTables) RaiseDamaged(FormatMessage("table count %s", {std::to_string(count)}));
}

int32_t TDbFileIO::TableHeaderPosition(int table) {
  if (table < 0 || table >= directory_.TableCount())
    RaiseDamaged(FormatMessage("table number %s", {std::to_string(table)}));
  int32_t offset = directory_.TableOffset(table);
  if (offset < kFileHeaderSize || int64_t{offset} + kTableHeaderSize > FileSize())
    RaiseDamaged(FormatMessage("table header offset %s", {std::to_string(offset)}));
  return offset;
}

void TDbFileIO::ReadTableHeader(int table, TTableDefBlock& header) {
  ReadAt(header.Bytes.data(), TableHeaderPosition(table), kTableHeaderSize);
}

void TDbFileIO::WriteTableHeader(int table, const TTableDefBlock& header) {
  WriteAt(header.Bytes.data(), TableHeaderPosition(table), kTableHeaderSize);
}

void TDbFileIO::GetTableNames(std::vector<std::string>& names) {
  names.clear();
  TTableDefBlock header;
  for (int t = 0; t < directory_.TableCount(); ++t) {
    ReadTableHeader(t, header);
    names.push_back(header.Name());
  }
}

void TDbFileIO::ReadBlockChain(int32_t first_block, int32_t count, int item_size, const char* what,
                               std::vector<int32_t>& block_offsets, std::vector<uint8_t>& items) {
  block_offsets.clear();
  items.clear();
  if (count < 0) RaiseDamaged(FormatMessage("%s count %s", {what, std::to_string(count)}));
  if (count == 0) return;
  int64_t blocks = (int64_t{count} + kPerBlock - 1) / kPerBlock;
  int64_t block_size = 4 + int64_t{kPerBlock} * item_size;
  // Every block lies in the file, so a count needing more blocks than fit is damage.
  if (blocks * block_size > FileSize()) RaiseDamaged(FormatMessage("%s count %s", {what, std::to_string(count)}));
  items.resize(static_cast<size_t>(count) * static_cast<size_t>(item_size));
  block_offsets.reserve(static_cast<size_t>(blocks));
  int64_t position = first_block;
  int32_t done = 0;
  uint8_t next[4];
  std::unordered_set<int64_t> visited;
  while (done < count) {
    if (position < kFileHeaderSize || position + block_size > FileSize())
      RaiseDamaged(FormatMessage("%s block offset %s", {what, std::to_string(position)}));
    if (!visited.insert(position).second)
      RaiseDamaged(FormatMessage("%s block chain loops at offset %s", {what, std::to_string(position)}));
    block_offsets.push_back(static_cast<int32_t>(position));
    ReadAt(next, position, 4);
    int32_t n = std::min<int32_t>(kPerBlock, count - done);
    ReadAt(&items[static_cast<size_t>(done) * item_size], position + 4, int64_t{n} * item_size);
    done += n;
    position = GetI32(next);
  }
}

void TDbFileIO::ReadSlotTable(const TTableDefBlock& header, std::vector<int32_t>& block_offsets,
                              std::vector<TRecordSlot>& slots) {
  std::vector<uint8_t> raw;
  ReadBlockChain(header.FirstSlotBlock(), header.SlotCount(), kSlotSize, "record slot", block_offsets, raw);
  slots.resize(raw.size() / kSlotSize);
  for (size_t i = 0; i < slots.size(); ++i) slots[i] = TRecordSlot::Read(&raw[i * kSlotSize]);
}

void TDbFileIO::ReadLinkTable(const TTableDefBlock& header, int index, std::vector<int32_t>& block_offsets,
                              std::vector<TIndexLink>& links) {
  std::vector<uint8_t> raw;
  ReadBlockChain(header.FirstLinkBlock(index), header.SlotCount(), kLinkSize, "index link", block_offsets, raw);
  links.resize(raw.size() / kLinkSize);
  for (size_t i = 0; i < links.size(); ++i) links[i] = TIndexLink::Read(&raw[i * kLinkSize]);
}

void TDbFileIO::ReadFieldValue(TMemoryStream& out, int64_t slot_position, bool decompress, bool decrypt,
                               bool is_blob, int32_t slot_width, int32_t field_offset) {
  uint8_t raw_slot[kSlotSize];
  ReadAt(raw_slot, slot_position, kSlotSize);
  ReadImageField(out, TRecordSlot::Read(raw_slot).DataOffset, decompress, decrypt, is_blob, slot_width, field_offset);
}

void TDbFileIO::ReadImageField(TMemoryStream& out, int32_t data_offset, bool decompress, bool decrypt, bool is_blob,
                               int32_t slot_width, int32_t field_offset) {
  if (data_offset < kFileHeaderSize) RaiseDamaged(FormatMessage("record offset %s", {std::to_string(data_offset)}));
  int64_t position = int64_t{data_offset} + field_offset;
  TMemoryStream stored;
  if (is_blob) {
    uint8_t raw[kBlobDescriptorSize];
    ReadAt(raw, position, kBlobDescriptorSize);
    TBlobDescriptor d = TBlobDescriptor::Read(raw);
    if (d.DataLength < 0 || d.AreaOffset < 0 || int64_t{d.AreaOffset} + d.DataLength > FileSize())
      RaiseDamaged(FormatMessage("blob descriptor at offset %s", {std::to_string(position)}));
    stored.SetSize(d.DataLength);
    if (d.DataLength > 0) ReadAt(stored.Memory(), d.AreaOffset, d.DataLength);
  } else {
    if (slot_width < 0 || position + slot_width > FileSize())
      RaiseDamaged(FormatMessage("record image at offset %s", {std::to_string(data_offset)}));
    stored.SetSize(slot_width);
    ReadAt(stored.Memory(), position, slot_width);
  }
  DecodeStreamData(stored, out, decompress, decrypt);
}

void TDbFileIO::MarkDeleted(int64_t slot_position) {
  uint8_t raw[kSlotSize];
  ReadAt(raw, slot_position, kSlotSize);
  raw[4] = 1;
  WriteAt(raw, slot_position, kSlotSize);
}

void TDbFileIO::DecodeStreamData(TMemoryStream& source, TMemoryStream& destination, bool decompress, bool decrypt) {
  std::lock_guard guard(managers_lock_);
  source.SetPosition(0);
  if (&destination != &source) destination.Clear();
  if (!decompress && !decrypt) {
    if (&destination != &source) destination.CopyFrom(source, 0);
    destination.SetPosition(0);
    return;
  }
  if (decrypt) encrypt_mgr_->DecodeStream(source, destination, source.Size());
  if (decompress) {
    if (!decrypt) {
      compress_mgr_->DecodeStream(source, destination, -1);
    } else {
      TMemoryStream copy;
      copy.LoadFromStream(destination);
      destination.Clear();
      compress_mgr_->DecodeStream(copy, destination, -1);
    }
  }
  destination.SetPosition(0);
}

void TDbFileIO::EncodeStreamData(TMemoryStream& source, TMemoryStream& destination, bool compress, bool encrypt) {
  std::lock_guard guard(managers_lock_);
  source.SetPosition(0);
  if (&destination != &source) destination.Clear();
  if (!compress && !encrypt) {
    if (&destination != &source) destination.CopyFrom(source, 0);
    destination.SetPosition(0);
    return;
  }
  if (compress) compress_mgr_->EncodeStream(source, destination, -1);
  if (encrypt) {
    if (!compress) {
      encrypt_mgr_->EncodeStream(source, destination, source.Size());
    } else {
      TMemoryStream copy;
      copy.LoadFromStream(destination);
      destination.Clear();
      encrypt_mgr_->EncodeStream(copy, destination, copy.Size());
    }
  }
  destination.SetPosition(0);
}

void TDbFileIO::EncodeBufferData(const void* source, void* destination, bool encrypt, int32_t count) {
  if (count <= 0) return;
  std::lock_guard guard(managers_lock_);
  if (encrypt)
    encrypt_mgr_->EncodeBuffer(source, destination, count);
  else if (source != destination)
    std::memmove(destination, source, static_cast<size_t>(count));
}

void TDbFileIO::DecodeBufferData(const void* source, void* destination, bool decrypt, int32_t count) {
  if (count <= 0) return;
  std::lock_guard guard(managers_lock_);
  if (decrypt)
    encrypt_mgr_->DecodeBuffer(source, destination, count);
  else if (source != destination)
    std::memmove(destination, source, static_cast<size_t>(count));
}

}  // namespace zq
