// TDbTableIO's loading and reading: the table's definitions, slots, links and row lists from the
// file, the reload when another opener changed the table, positions in the row lists, and the
// reads of records into field buffers. The key searches, the checks before a write and the writes
// have units of their own (table_search.cpp, table_write_checks.cpp, table_write.cpp,
// table_modify.cpp).
#include "dbengine/storage/table_io.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "dbengine/format/db_error.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/storage/index_order.h"
#include "dbengine/storage/optim_blob_stream.h"

namespace zq {

using namespace dbfmt;

namespace {
constexpr int64_t kMaxRecordSize = 64 * 1024 * 1024;
}  // namespace

TDbTableIO::ReadBatch::ReadBatch(TDbTableIO& table) : io_(table.FileIO()) { io_.BeginReadBatch(); }

TDbTableIO::ReadBatch::~ReadBatch() { io_.EndReadBatch(); }

TDbTableIO::SearchBatch::SearchBatch(TDbTableIO& table) : io_(table.FileIO()) {
  io_.BeginReadBatch(TDbFileIO::TReadPattern::Search);
}

TDbTableIO::SearchBatch::~SearchBatch() { io_.EndReadBatch(); }

TDbTableIO::TDbTableIO(TDbFileOwner* owner) : owner_(owner) {}

TDbTableIO::~TDbTableIO() { Unload(); }

TDbFileIO& TDbTableIO::FileIO() const {
  TDbFileIO* io = owner_ ? owner_->FileIO() : nullptr;
  if (io == nullptr || !io->IsOpen()) throw EDatabaseError("Cannot perform this operation on a closed database");
  return *io;
}

void TDbTableIO::Open() {
  if (open_count_ == 0) Load();
  ++open_count_;
}

void TDbTableIO::Close() {
  if (open_count_ <= 0) return;
  if (open_count_ == 1) Unload();
  --open_count_;
}

void TDbTableIO::Unload() {
  // Held-back writes of completed appends still reach the file when it is open.
  if (TDbFileIO* io = owner_ ? owner_->FileIO() : nullptr) {
    if (io->IsOpen() && (!held_links_.empty() || !held_heads_.empty())) {
      try {
        WriteHeldBack();
      } catch (...) {
      }
    }
    io->LeaveBulk(this);
  }
  held_links_.clear();
  held_heads_.clear();
  field_defs_.Clear();
  index_defs_.Clear();
  row_lists_.clear();
  slots_.clear();
  slot_blocks_.clear();
  link_blocks_.clear();
}

void TDbTableIO::Load() {
  TDbFileIO& io = FileIO();
  LockGuard lock(io);
  try {
    LoadLocked();
  } catch (...) {
    Unload();
    throw;
  }
}

// Reads the header, definitions, slots and links of the table. Row list objects that already
// exist are refilled in place, so references that callers hold stay valid across a reload.
void TDbTableIO::LoadLocked() {
  TDbFileIO& io = FileIO();
  WriteHeldBack();
  ++load_generation_;
  std::vector<std::string> names;
  io.GetTableNames(names);
  table_number_ = -1;
  for (size_t t = 0; t < names.size(); ++t)
    if (SameName(names[t], table_name_)) {
      table_number_ = static_cast<int>(t);
      break;
    }
  if (table_number_ < 0) throw EDatabaseError(FormatMessage("Table '%s' not found", {table_name_}));

  io.ReadTableHeader(table_number_, header_);
  const std::string table_text = FormatMessage("table '%s' ", {header_.Name()});
  int32_t field_count = header_.FieldCount();
  int32_t index_count = header_.IndexCount();
  int32_t slot_count = header_.SlotCount();
  if (field_count < 0 || field_count > kMaxFields)
    io.RaiseDamaged(table_text + FormatMessage("field count %s", {std::to_string(field_count)}));
  if (index_count < 0 || index_count > kMaxIndexes)
    io.RaiseDamaged(table_text + FormatMessage("index count %s", {std::to_string(index_count)}));
  if (slot_count < 0) io.RaiseDamaged(table_text + FormatMessage("slot count %s", {std::to_string(slot_count)}));

  field_defs_.Clear();
  for (int i = 0; i < field_count; ++i) {
    TFieldDefEntry e = header_.Field(i);
    TDbFieldDef& d = field_defs_.Add();
    d.SetName(e.Name);
    d.FieldType = e.FieldType;
    d.FieldSize = e.FieldSize;
    d.StoreRaw = e.StoreRaw != 0;
  }
  index_defs_.Clear();
  for (int i = 0; i < index_count; ++i) {
    TIndexDefEntry e = header_.Index(i);
    TDbIndexDef& d = index_defs_.Add();
    d.SetName(e.Name);
    d.Options = e.Options;
    for (int32_t f : e.FieldNumbers) {
      if (f == -1) break;
      if (f < 0 || f >= field_count)
        io.RaiseDamaged(table_text + FormatMessage("index '%s' field number %s", {e.Name, std::to_string(f)}));
      d.FieldNumbers.push_back(f);
    }
  }

  // Record layout.
  field_offsets_.clear();
  slot_widths_.clear();
  int64_t total = 0;
  for (int i = 0; i < field_count; ++i) {
    const TDbFieldDef& d = field_defs_.Item(i);
    int64_t width = SlotWidth(d.FieldType, d.FieldSize);
    if (width < 0) {
      if (!(IsStringType(d.FieldType) && d.FieldType != ftWideString && d.FieldType != ftGuid))
        throw EDatabaseError("General error");
      io.RaiseDamaged(table_text + FormatMessage("size of field '%s'", {d.Name()}));
    }
    field_offsets_.push_back(static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX)));
    slot_widths_.push_back(static_cast<int32_t>(std::min<int64_t>(width, INT32_MAX)));
    total += width;
    // No sound table comes near this; a larger size is a damaged field size, not a reason to
    // allocate gigabytes for a record image.
    if (total > kMaxRecordSize) io.RaiseDamaged(table_text + "record size");
  }
  record_size_ = static_cast<int32_t>(total);
  auto_inc_field_ = -1;
  for (int i = 0; i < field_count; ++i)
    if (field_defs_.Item(i).FieldType == ftAutoInc) {
      auto_inc_field_ = i;
      break;
    }

  // Slots, with every live record image inside the file; an interrupted write is recovered here
  // (table_recovery.cpp).
  ResolveSwitchNote();
  ReadSlotsRecovering();
  int64_t file_size = io.FileSize();
  for (size_t r = 0; r < slots_.size(); ++r) {
    const TRecordSlot& s = slots_[r];
    if (s.Deleted == 0 && (s.DataOffset < kFileHeaderSize || int64_t{s.DataOffset} + record_size_ > file_size))
      io.RaiseDamaged(table_text + FormatMessage("record %s offset %s", {std::to_string(r), std::to_string(s.DataOffset)}));
  }
  slot_count = header_.SlotCount();

  // Link blocks of each index (also needed for appending later).
  link_blocks_.assign(static_cast<size_t>(index_count), TIntegerAry());
  std::vector<std::vector<TIndexLink>> links(static_cast<size_t>(index_count));
  for (int i = 0; i < index_count; ++i) {
    // No link blocks: the index's list stays empty; a write that needs a link raises damage then.
    if (header_.FirstLinkBlock(i) == 0 || slot_count == 0) continue;
    io.ReadLinkTable(header_, i, link_blocks_[static_cast<size_t>(i)], links[static_cast<size_t>(i)]);
  }
  EndBlockChains();

  size_t list_count = static_cast<size_t>(index_count) + 1;
  if (row_lists_.size() != list_count) {
    row_lists_.clear();
    for (size_t l = 0; l < list_count; ++l) row_lists_.push_back(std::make_unique<TRowList>());
  }
  TRowList& physical = *row_lists_[0];
  physical.clear();
  std::vector<bool> live(slots_.size(), false);
  for (size_t r = 0; r < slots_.size(); ++r)
    if (slots_[r].Deleted == 0) {
      physical.push_back({slots_[r].DataOffset, static_cast<int32_t>(r)});
      live[r] = true;
    }
  for (int i = 0; i < index_count; ++i) {
    TRowList& list = *row_lists_[static_cast<size_t>(i) + 1];
    list.clear();
    if (header_.FirstLinkBlock(i) == 0 || slot_count == 0) continue;
    const auto& chain = links[static_cast<size_t>(i)];
    // A chain that an interrupted write left broken is rebuilt from the records' keys.
    if (!ChainIsWhole(header_.HeadSlot(i), chain, live, nullptr)) {
      RebuildChain(i, chain, list);
      continue;
    }
    for (int32_t r = header_.HeadSlot(i); r != -1; r = chain[static_cast<size_t>(r)].NextRecordId)
      if (live[static_cast<size_t>(r)]) list.push_back({slots_[static_cast<size_t>(r)].DataOffset, r});
  }
  known_file_size_ = io.FileSize();
}

// Before a write: when another process changed this table in the file since it was loaded, reload
// it, so that a record ID is never handed out twice and the links stay consistent.
// A file that grew meanwhile may hold records that another opener's modify moved to new images:
// the slots are read again, and a slot that changed more than its image offset reloads the table.
void TDbTableIO::ReloadIfChanged() {
  if (Trusted()) return;
  TDbFileIO& io = FileIO();
  TTableDefBlock current;
  io.ReadTableHeader(table_number_, current);
  if (current.Bytes != header_.Bytes) return LoadLocked();
  if (io.FileSize() == known_file_size_) return;
  TIntegerAry blocks;
  std::vector<TRecordSlot> now;
  io.ReadSlotTable(header_, blocks, now);
  if (now.size() != slots_.size()) return LoadLocked();
  bool moved = false;
  for (size_t r = 0; r < now.size(); ++r) {
    if (now[r].Deleted != slots_[r].Deleted) return LoadLocked();
    moved = moved || now[r].DataOffset != slots_[r].DataOffset;
  }
  if (moved) {
    slots_ = std::move(now);
    for (auto& list : row_lists_)
      for (TRowRef& ref : *list) ref.DataOffset = slots_[static_cast<size_t>(ref.RecordId)].DataOffset;
  }
  known_file_size_ = io.FileSize();
}

// The physical position of a live record after checking the file: ReloadIfChanged (or, with
// reload, a full reload); a record that another opener deleted meanwhile is an error, after which
// the lists no longer hold it.
int TDbTableIO::LivePosition(int32_t record_id, bool reload) {
  if (reload) LoadLocked();
  else ReloadIfChanged();
  BeginChecks();
  const std::string deleted =
      FormatMessage("Record %s of table '%s' was deleted by another user", {std::to_string(record_id), table_name_});
  if (record_id < 0 || static_cast<size_t>(record_id) >= slots_.size()) throw EDatabaseError(deleted);
  if (!LiveInFile(record_id)) {
    LoadLocked();
    throw EDatabaseError(deleted);
  }
  const TRowList& now = RowList(0);
  auto it = std::lower_bound(now.begin(), now.end(), record_id,
                             [](const TRowRef& ref, int32_t v) { return ref.RecordId < v; });
  if (it == now.end() || it->RecordId != record_id) throw EDatabaseError(deleted);
  return static_cast<int>(it - now.begin());
}


TRowList& TDbTableIO::RowList(int list_number) {
  if (list_number < 0 || static_cast<size_t>(list_number) >= row_lists_.size())
    throw EDatabaseError(FormatMessage("Row list %s of table '%s' does not exist", {std::to_string(list_number), table_name_}));
  if (!row_lists_[static_cast<size_t>(list_number)]) LoadRowList(list_number, false);
  return *row_lists_[static_cast<size_t>(list_number)];
}

void TDbTableIO::LoadRowList(int list_number, bool reread_slots) {
  if (list_number < 0 || static_cast<size_t>(list_number) >= row_lists_.size())
    throw EDatabaseError(FormatMessage("Row list %s of table '%s' does not exist", {std::to_string(list_number), table_name_}));
  if (row_lists_[static_cast<size_t>(list_number)] && !reread_slots) return;
  TDbFileIO& io = FileIO();
  LockGuard lock(io);
  // Rereading slots rebuilds every list from the file, so they stay consistent with each other.
  LoadLocked();
}

int TDbTableIO::PrimaryIndex() const {
  for (int i = 0; i < index_defs_.Count(); ++i)
    if (index_defs_.Item(i).Options & tiPrimary) return i;
  return -1;
}

bool TDbTableIO::FieldIsEncrypted(int field_number) const {
  TDbFileIO& io = FileIO();
  return io.Options().Encrypted() && !field_defs_.Item(field_number).StoreRaw;
}

bool TDbTableIO::FieldIsCompressed(int field_number) const {
  TDbFileIO& io = FileIO();
  const TDbFieldDef& d = field_defs_.Item(field_number);
  return io.Options().Compressed() && IsBlobType(d.FieldType) && !d.StoreRaw;
}

int32_t TDbTableIO::FieldSlotWidth(int field_number) const {
  return slot_widths_.at(static_cast<size_t>(field_number));
}

int64_t TDbTableIO::SlotPosition(int32_t record_id) const {
  size_t block = static_cast<size_t>(record_id) / kPerBlock;
  if (record_id < 0 || block >= slot_blocks_.size())
    FileIO().RaiseDamaged(FormatMessage("no slot block for record %s", {std::to_string(record_id)}));
  return int64_t{slot_blocks_[block]} + 4 + (record_id % kPerBlock) * kSlotSize;
}

int64_t TDbTableIO::LinkPosition(int index, int32_t record_id) const {
  const TIntegerAry& blocks = link_blocks_.at(static_cast<size_t>(index));
  size_t block = static_cast<size_t>(record_id) / kPerBlock;
  if (record_id < 0 || block >= blocks.size())
    FileIO().RaiseDamaged(FormatMessage("no link block for record %s", {std::to_string(record_id)}));
  return int64_t{blocks[block]} + 4 + (record_id % kPerBlock) * kLinkSize;
}

int64_t TDbTableIO::HeaderPosition() const { return FileIO().TableHeaderPosition(table_number_); }

TIndexLink TDbTableIO::ReadLink(int index, int32_t record_id) {
  const auto held = held_links_.find(uint64_t{static_cast<uint32_t>(index)} << 32 | static_cast<uint32_t>(record_id));
  if (held != held_links_.end() && held->second.Whole) return {record_id, held->second.Next};
  uint8_t raw[kLinkSize];
  FileIO().ReadAt(raw, LinkPosition(index, record_id), kLinkSize);
  TIndexLink link = TIndexLink::Read(raw);
  if (held != held_links_.end()) link.NextRecordId = held->second.Next;
  return link;
}

void TDbTableIO::WriteLink(int index, const TIndexLink& link) {
  uint8_t raw[kLinkSize];
  link.Write(raw);
  FileIO().WriteAt(raw, LinkPosition(index, link.RecordId), kLinkSize);
}

void TDbTableIO::WriteHeader() { FileIO().WriteTableHeader(table_number_, header_); }

void TDbTableIO::ReadStoredField(TMemoryStream& out, int32_t record_id, int field_number) {
  if (record_id < 0 || static_cast<size_t>(record_id) >= slots_.size())
    FileIO().RaiseDamaged(FormatMessage("record %s of table '%s'", {std::to_string(record_id), table_name_}));
  const TDbFieldDef& d = field_defs_.Item(field_number);
  bool blob = IsBlobType(d.FieldType);
  SlotPosition(record_id);  // the slot's block must exist, as for a read of the slot
  FileIO().ReadImageField(out, slots_[static_cast<size_t>(record_id)].DataOffset, FieldIsCompressed(field_number),
                          FieldIsEncrypted(field_number), blob, blob ? kBlobDescriptorSize : FieldSlotWidth(field_number),
                          field_offsets_.at(static_cast<size_t>(field_number)));
}


int32_t TDbTableIO::RecordIdAt(int physical_position) {
  const TRowList& physical = RowList(0);
  if (physical_position < 0 || static_cast<size_t>(physical_position) >= physical.size())
    throw EDatabaseError(FormatMessage("Record position %s out of range", {std::to_string(physical_position)}));
  return physical[static_cast<size_t>(physical_position)].RecordId;
}

int TDbTableIO::PhysicalPosition(const TRowList& list, int position) {
  if (position < 0 || static_cast<size_t>(position) >= list.size()) return -1;
  int32_t id = list[static_cast<size_t>(position)].RecordId;
  const TRowList& physical = RowList(0);
  auto it = std::lower_bound(physical.begin(), physical.end(), id,
                             [](const TRowRef& ref, int32_t v) { return ref.RecordId < v; });
  if (it == physical.end() || it->RecordId != id) return -1;
  return static_cast<int>(it - physical.begin());
}

int TDbTableIO::MapPosition(int from_list, int position, int to_list) {
  const TRowList& from = RowList(from_list);
  if (position < 0 || static_cast<size_t>(position) >= from.size()) return -1;
  if (from_list == to_list) return position;
  int32_t id = from[static_cast<size_t>(position)].RecordId;
  const TRowList& to = RowList(to_list);
  for (size_t i = 0; i < to.size(); ++i)
    if (to[i].RecordId == id) return static_cast<int>(i);
  return -1;
}

void TDbTableIO::ReadRecord(TFieldBuffers& buffers, const TRowList& list, int position) {
  if (position < 0 || static_cast<size_t>(position) >= list.size())
    throw EDatabaseError(FormatMessage("Record position %s out of range", {std::to_string(position)}));
  TDbFileIO& io = FileIO();
  LockGuard lock(io);
  const int32_t data_offset = ImageOffset(list[static_cast<size_t>(position)]);
  image_.resize(static_cast<size_t>(record_size_));
  io.ReadAt(image_.data(), data_offset, record_size_);
  DecodeImage(buffers, image_.data(), data_offset, list[static_cast<size_t>(position)].RecordId);
}

void TDbTableIO::ReadImages(const TRowList& list, int from, int count, std::vector<uint8_t>& images,
                            std::vector<int32_t>& offsets) {
  if (from < 0 || count < 0 || static_cast<size_t>(from) + static_cast<size_t>(count) > list.size())
    throw EDatabaseError(FormatMessage("Record position %s out of range", {std::to_string(from + count)}));
  // Many rows: the read-ahead window also serves images that lie a little apart.
  constexpr int kWindowRows = 64;
  std::optional<ReadBatch> batch;
  std::optional<LockGuard> lock;
  if (count >= kWindowRows) batch.emplace(*this);
  else lock.emplace(FileIO());
  TDbFileIO& io = FileIO();
  const auto size = static_cast<size_t>(record_size_);
  images.resize(static_cast<size_t>(count) * size);
  offsets.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) offsets[static_cast<size_t>(i)] = ImageOffset(list[static_cast<size_t>(from + i)]);
  // Images that follow each other in the file are read together.
  for (int i = 0; i < count;) {
    int end = i + 1;
    while (end < count && int64_t{offsets[static_cast<size_t>(end)]} ==
                              int64_t{offsets[static_cast<size_t>(end) - 1]} + record_size_)
      ++end;
    io.ReadAt(&images[static_cast<size_t>(i) * size], offsets[static_cast<size_t>(i)],
              static_cast<int64_t>(end - i) * record_size_);
    i = end;
  }
}

// Where the record's image is now, under the lock: a row list copied earlier may hold an offset
// that a modify has since left behind.
int32_t TDbTableIO::ImageOffset(const TRowRef& ref) {
  if (ref.RecordId < 0 || static_cast<size_t>(ref.RecordId) >= slots_.size()) return ref.DataOffset;
  TDbFileIO& io = FileIO();
  int32_t offset = slots_[static_cast<size_t>(ref.RecordId)].DataOffset;
  // Another opener's modify may have moved the image since this object last loaded or wrote
  // (it grew the file): the slot in the file says where it is now.
  uint8_t raw[kSlotSize];
  if (io.FileSize() != known_file_size_ && io.TryReadAt(raw, SlotPosition(ref.RecordId), kSlotSize)) {
    const TRecordSlot now = TRecordSlot::Read(raw);
    if (now.DataOffset >= kFileHeaderSize && int64_t{now.DataOffset} + record_size_ <= io.FileSize())
      offset = now.DataOffset;
  }
  return offset;
}

void TDbTableIO::DecodeImage(TFieldBuffers& buffers, const uint8_t* image, int32_t data_offset, int32_t record_id) {
  TDbFileIO& io = FileIO();
  const bool encrypted_file = io.Options().Encrypted();
  std::vector<uint8_t>& slot = slot_;
  int count = std::min(buffers.Count(), field_defs_.Count());
  for (int i = 0; i < count; ++i) {
    TFieldBufferItem& item = buffers.Item(i);
    if (!item.Active()) continue;
    const int32_t offset = field_offsets_[static_cast<size_t>(i)];
    const bool encrypted = encrypted_file && !field_defs_.Item(i).StoreRaw;
    if (IsBlobType(field_defs_.Item(i).FieldType)) {
      if (item.BlobStream()) {
        const bool known = record_id >= 0 && static_cast<size_t>(record_id) < slots_.size();
        item.BlobStream()->SetSource(int64_t{data_offset} + offset, encrypted, FieldIsCompressed(i),
                                     known ? SlotPosition(record_id) : 0, offset);
      }
      continue;
    }
    if (!item.Data()) continue;
    // The slot is processed as a whole; the item receives as much as it holds.
    const int32_t width = slot_widths_[static_cast<size_t>(i)];
    const auto wanted = static_cast<size_t>(std::min(width, item.DataSize()));
    if (!encrypted) {
      std::memcpy(item.Data(), &image[static_cast<size_t>(offset)], wanted);
      continue;
    }
    slot.assign(static_cast<size_t>(width), 0);
    io.DecodeBufferData(&image[static_cast<size_t>(offset)], slot.data(), true, width);
    std::memcpy(item.Data(), slot.data(), wanted);
  }
}

}  // namespace zq
