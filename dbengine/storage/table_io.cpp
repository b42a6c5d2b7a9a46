#include "dbengine/storage/table_io.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/index_order.h"
#include "dbengine/storage/optim_blob_stream.h"
#include "platform/collation.h"

namespace zq {

using namespace dbfmt;

namespace {
constexpr int64_t kMaxRecordSize = 64 * 1024 * 1024;
}  // namespace

// Holds the file lock for a scope; released on every exit.
class TDbTableIO::LockGuard {
 public:
  explicit LockGuard(TDbFileIO& io) : io_(io) { io_.Lock(); }
  ~LockGuard() { io_.Unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  TDbFileIO& io_;
};

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

// ---- Many openers: the facts a write relies on, checked in the file under the lock.
//
// Other openers of the file (other processes, other database objects of this one) change it
// between two operations of this object, and three kinds of change leave the table header as it
// was: a delete sets one slot's Deleted byte, a modify that moves a record in an index rewires
// link blocks only (and a modify writes a new record image at the end of the file). A write of this object
// reads its key values from the file, but it takes from its row lists which records are live and
// in which order they stand; both may be stale. Reading all slot and link blocks before every write
// would cost O(records) per write, so each write instead checks exactly the facts it relies on:
//
//   - the table header, compared whole (appends by others change SlotCount; heads and the last
//     auto-increment value live there too): a difference reloads the table;
//   - the record written (modify, delete) is still live: its slot is read;
//   - a unique key found in the lists belongs to a record that is live in the file;
//   - where a record is linked in (append, modify) between X and Y of its list, or unlinked
//     after its predecessor P, or kept in place between P and S: X (P) is live in the file and
//     its NextRecordId leads, through records deleted in the file and in the lists alike, to
//     Y (the record; S), which is live; at the head, HeadSlot leads there.
//
// The binary search that finds the place has compared the new key with X and Y as they are in
// the file (a modify moves a record's image, but it also grows the file, and ReloadIfChanged then
// reads the slots again), and the chain in the file is in key order, so when
// these facts hold, linking the record between X and Y keeps the chain in order, and no other live
// record holds a unique key that the search did not find between X and Y. When any fact differs
// the table is reloaded from the file and the write planned again; after a reload the facts hold
// unless the file is damaged. All checks run before the first byte is written. The file format is
// unchanged: nothing but the format's own structures is read or written.

// The facts are read once per plan: a write's checks meet the same few slots and links more than
// once (the unique search and the record's place end between the same records), and nothing is
// written while they run. BeginChecks forgets what the previous plan read.
void TDbTableIO::BeginChecks() {
  checked_slots_.clear();
  checked_links_.clear();
}

bool TDbTableIO::DeletedInFile(int32_t record_id) {
  if (Trusted()) return slots_[static_cast<size_t>(record_id)].Deleted != 0;
  for (const auto& [id, deleted] : checked_slots_)
    if (id == record_id) return deleted;
  uint8_t raw[kSlotSize];
  FileIO().ReadAt(raw, SlotPosition(record_id), kSlotSize);
  const bool deleted = TRecordSlot::Read(raw).Deleted != 0;
  checked_slots_.emplace_back(record_id, deleted);
  return deleted;
}

TIndexLink TDbTableIO::CheckedLink(int index, int32_t record_id) {
  for (const auto& [i, link] : checked_links_)
    if (i == index && link.RecordId == record_id) return link;
  TIndexLink link = ReadLink(index, record_id);
  link.RecordId = record_id;
  checked_links_.emplace_back(index, link);
  return link;
}

bool TDbTableIO::LiveInFile(int32_t record_id) {
  if (record_id < 0 || static_cast<size_t>(record_id) >= slots_.size()) return false;
  return slots_[static_cast<size_t>(record_id)].Deleted == 0 && !DeletedInFile(record_id);
}

// Follows an index chain from a NextRecordId value over records deleted (in the file and in the
// lists) to the next record; true when that is `expected` (-1: the end of the chain) and live.
bool TDbTableIO::NextLiveIs(int index, int32_t next, int32_t expected) {
  if (Trusted()) return true;
  const int32_t slot_count = header_.SlotCount();
  for (int32_t steps = 0; steps <= slot_count; ++steps) {
    if (next == expected) return expected == -1 || LiveInFile(expected);
    if (next < 0 || next >= slot_count || slots_[static_cast<size_t>(next)].Deleted == 0) return false;
    if (!DeletedInFile(next)) return false;
    next = CheckedLink(index, next).NextRecordId;
  }
  return false;
}

// The place `position` of `list` (the order of index `index`): the record before it, when there is
// one, is live and its chain leads to the record at the place (or the end of the chain).
bool TDbTableIO::VerifyNeighbours(int index, const TRowList& list, int position) {
  if (Trusted()) return true;
  // A table without records has no chain yet (its HeadSlot is 0 and stays unread).
  if (header_.SlotCount() == 0) return list.empty();
  const int32_t after = static_cast<size_t>(position) < list.size() ? list[static_cast<size_t>(position)].RecordId : -1;
  if (position == 0) return NextLiveIs(index, header_.HeadSlot(index), after);
  const int32_t before = list[static_cast<size_t>(position) - 1].RecordId;
  return LiveInFile(before) && NextLiveIs(index, CheckedLink(index, before).NextRecordId, after);
}

void TDbTableIO::RaiseStale() {
  FileIO().RaiseDamaged(FormatMessage("table '%s' index chains do not match its records", {header_.Name()}));
}

// A write reaches slots and links of every record ID below SlotCount: their blocks must all exist,
// checked before anything is written.
void TDbTableIO::CheckBlocksForWrite() {
  size_t needed = (static_cast<size_t>(header_.SlotCount()) + kPerBlock - 1) / kPerBlock;
  if (slot_blocks_.size() != needed) FileIO().RaiseDamaged(FormatMessage("table '%s' record slot blocks", {header_.Name()}));
  for (int i = 0; i < index_defs_.Count(); ++i)
    if (link_blocks_[static_cast<size_t>(i)].size() != needed)
      FileIO().RaiseDamaged(FormatMessage("table '%s' index '%s' link blocks", {header_.Name(), index_defs_.Item(i).Name()}));
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

namespace {

template <class T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Copies a fixed-width value, zero-filling what the source lacks.
void Fixed(const uint8_t* p, int64_t size, uint8_t* out, int width) {
  std::memset(out, 0, static_cast<size_t>(width));
  if (p && size > 0) std::memcpy(out, p, static_cast<size_t>(std::min<int64_t>(size, width)));
}

std::string_view TextOf(const uint8_t* p, int64_t size) {
  if (!p || size <= 0) return {};
  const uint8_t* end = std::find(p, p + size, uint8_t{0});
  return std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
}

}  // namespace

int TDbTableIO::CompareValues(const uint8_t* key, int64_t key_size, const uint8_t* stored, int64_t stored_size,
                              bool partial, bool case_insensitive, uint8_t field_type) {
  if (IsStringType(field_type) || IsMemoType(field_type)) {
    std::string_view a = TextOf(key, key_size);
    std::string_view b = TextOf(stored, stored_size);
    if (partial) return CompareStringPrefixA(a, b, a.size(), case_insensitive);
    return CompareStringA(a, b, case_insensitive);
  }
  uint8_t x[8], y[8];
  Fixed(key, key_size, x, 8);
  Fixed(stored, stored_size, y, 8);
  switch (field_type) {
    case ftSmallint: return Sign(GetI16(x), GetI16(y));
    case ftWord: return Sign(static_cast<uint16_t>(GetI16(x)), static_cast<uint16_t>(GetI16(y)));
    case ftBoolean: return Sign(GetI16(x) != 0, GetI16(y) != 0);
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime: return Sign(GetI32(x), GetI32(y));
    case ftLargeint: return Sign(GetI64(x), GetI64(y));
    case ftFloat:
    case ftCurrency:
    case ftDateTime: return Sign(GetF64(x), GetF64(y));
    default: break;
  }
  // Binary blobs: byte order, a shorter value first on a common prefix.
  int64_t n = std::min(key_size, stored_size);
  int c = (n > 0 && key && stored) ? std::memcmp(key, stored, static_cast<size_t>(n)) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return Sign(key_size, stored_size);
}

int TDbTableIO::CompareKey(const TFieldBuffers& key, int32_t record_id, bool partial, int key_field_count, int index) {
  const TDbIndexDef& def = index_defs_.Item(index);
  int fields = static_cast<int>(def.FieldNumbers.size());
  if (key_field_count > 0) fields = std::min(fields, key_field_count);
  bool ci = (def.Options & tiCaseInsensitive) != 0;
  int result = 0;
  for (int k = 0; k < fields && result == 0; ++k) {
    int f = def.FieldNumbers[static_cast<size_t>(k)];
    if (f >= key.Count()) break;
    const TFieldBufferItem& item = key.Item(f);
    const uint8_t field_type = field_defs_.Item(f).FieldType;
    if (IsBlobType(field_type)) {
      ReadStoredField(compare_stored_, record_id, f);
      result = CompareValues(item.ValueRef(), item.ValueSize(), compare_stored_.Memory(), compare_stored_.Size(),
                             partial, ci, field_type);
      continue;
    }
    // A fixed slot: read it straight from the record image, whose offset the loaded slots hold.
    int64_t stored_size = 0;
    const uint8_t* stored = ReadKeySlot(record_id, f, stored_size);
    result = CompareValues(item.ValueRef(), item.ValueSize(), stored, stored_size, partial, ci, field_type);
  }
  if (def.Options & tiDescending) result = -result;
  return result;
}

// The decoded slot of a fixed-size field for a key comparison, in a buffer kept by the table (valid
// until the next call). Same bytes and same errors as ReadStoredField, without allocating and
// without rereading the record slot: a record's image never moves once its slot is written.
const uint8_t* TDbTableIO::ReadKeySlot(int32_t record_id, int field_number, int64_t& size) {
  TDbFileIO& io = FileIO();
  if (record_id < 0 || static_cast<size_t>(record_id) >= slots_.size())
    io.RaiseDamaged(FormatMessage("record %s of table '%s'", {std::to_string(record_id), table_name_}));
  SlotPosition(record_id);  // the slot's block must exist, as for a read of the slot
  const int32_t data_offset = slots_[static_cast<size_t>(record_id)].DataOffset;
  if (data_offset < kFileHeaderSize) io.RaiseDamaged(FormatMessage("record offset %s", {std::to_string(data_offset)}));
  const int32_t width = FieldSlotWidth(field_number);
  const int64_t position = int64_t{data_offset} + field_offsets_.at(static_cast<size_t>(field_number));
  if (width < 0 || position > INT32_MAX)
    io.RaiseDamaged(FormatMessage("record image at offset %s", {std::to_string(data_offset)}));
  if (!FieldIsEncrypted(field_number)) {
    key_slot_.resize(static_cast<size_t>(width));
    if (!io.TryReadAt(key_slot_.data(), position, width))
      io.RaiseDamaged(FormatMessage("record image at offset %s", {std::to_string(data_offset)}));
    size = width;
    return key_slot_.data();
  }
  compare_raw_.SetSize(width);
  if (!io.TryReadAt(compare_raw_.Memory(), position, width))
    io.RaiseDamaged(FormatMessage("record image at offset %s", {std::to_string(data_offset)}));
  io.DecodeStreamData(compare_raw_, compare_stored_, false, true);
  size = compare_stored_.Size();
  return compare_stored_.Memory();
}

int TDbTableIO::FindKey(const TFieldBuffers& key, const TRowList& list, bool partial, int key_field_count,
                        int& result, int index) {
  result = -2;
  int lo = 0, hi = static_cast<int>(list.size()) - 1, position = -1;
  while (lo <= hi) {
    int mid = lo + (hi - lo) / 2;
    position = mid;
    int c = CompareKey(key, list[static_cast<size_t>(mid)].RecordId, partial, key_field_count, index);
    if (c == 0) {
      result = 0;
      break;
    }
    if (c < 0) {
      result = -1;
      hi = mid - 1;
    } else {
      result = 1;
      lo = mid + 1;
    }
  }
  return position;
}

int TDbTableIO::FindKeyBound(const TFieldBuffers& key, const TRowList& list, bool partial, int key_field_count,
                             int& result, bool first, int index) {
  result = -2;
  int lo = 0, hi = static_cast<int>(list.size()) - 1, position = -1;
  bool seen_equal = false;
  while (lo <= hi) {
    int mid = lo + (hi - lo) / 2;
    if (!seen_equal) position = mid;
    int c = CompareKey(key, list[static_cast<size_t>(mid)].RecordId, partial, key_field_count, index);
    if (c > 0) {
      lo = mid + 1;
      if (!seen_equal) result = 1;
    } else if (c < 0) {
      hi = mid - 1;
      if (!seen_equal) result = -1;
    } else {
      result = 0;
      seen_equal = true;
      position = mid;
      if (first)
        hi = mid - 1;
      else
        lo = mid + 1;
    }
  }
  return position;
}

// FindKey for a whole key on the way to a write. A key beyond the last row (the usual append in
// key order) is settled by one comparison: FindKey's search would end on the last row with the
// same answer.
int TDbTableIO::FindWriteKey(const TFieldBuffers& key, const TRowList& list, int& result, int index) {
  if (!list.empty() && CompareKey(key, list.back().RecordId, false, 0, index) > 0) {
    result = 1;
    return static_cast<int>(list.size()) - 1;
  }
  return FindKey(key, list, false, 0, result, index);
}

int TDbTableIO::InsertPositionOf(int position, int result) {
  if (result == 0 || result == 1) return position + 1;
  if (result == -1) return position;
  return 0;
}

int TDbTableIO::InsertPosition(const TFieldBuffers& buffers, int index) {
  int result = 0;
  int position = FindWriteKey(buffers, RowList(index + 1), result, index);
  return InsertPositionOf(position, result);
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
  DecodeImage(buffers, image_.data(), data_offset);
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

void TDbTableIO::DecodeImage(TFieldBuffers& buffers, const uint8_t* image, int32_t data_offset) {
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
      if (item.BlobStream()) item.BlobStream()->SetSource(int64_t{data_offset} + offset, encrypted, FieldIsCompressed(i));
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

bool TDbTableIO::CopyWrittenValues(const TFieldBuffers& from, TFieldBuffers& to) const {
  const int count = std::min({from.Count(), to.Count(), field_defs_.Count()});
  for (int i = 0; i < field_defs_.Count(); ++i)
    if (IsBlobType(field_defs_.Item(i).FieldType)) return false;
  for (int i = 0; i < count; ++i) {
    const TFieldBufferItem& source = from.Item(i);
    TFieldBufferItem& item = to.Item(i);
    if (!item.Active() || !item.Data()) continue;
    // A write stores the first min(width, size) bytes of the value and zeros after them; a read
    // gives the item back as much of the slot as it holds.
    const int32_t width = slot_widths_[static_cast<size_t>(i)];
    const int32_t stored = source.Active() && source.Data() ? std::min(width, source.DataSize()) : 0;
    const int32_t wanted = std::min(width, item.DataSize());
    auto* out = static_cast<uint8_t*>(item.Data());
    if (stored > 0) std::memcpy(out, source.Data(), static_cast<size_t>(std::min(stored, wanted)));
    if (wanted > stored) std::memset(out + std::max(stored, 0), 0, static_cast<size_t>(wanted - std::max(stored, 0)));
  }
  return true;
}

// Unique check: physical_position -1 on append; on modify the record's own key is allowed. An equal
// key refuses the write only when its record is live in the file; a search that ends between two
// records finds no equal key only when they follow each other in the file's chain. When a fact
// differs the lists are stale and the result is false.
bool TDbTableIO::CheckUnique(const TFieldBuffers& buffers, int physical_position, std::vector<TKeySearch>* searches) {
  for (int i = 0; i < index_defs_.Count(); ++i) {
    const TDbIndexDef& def = index_defs_.Item(i);
    if (!(def.Options & (tiPrimary | tiUnique))) continue;
    const TRowList& list = RowList(i + 1);
    int result = 0;
    int position = FindWriteKey(buffers, list, result, i);
    if (searches) (*searches)[static_cast<size_t>(i)] = {true, position, result};
    if (result != 0) {
      // No equal key between the two records where the search ended: true of the file only when
      // they follow each other in its chain. An append checks that place later, as the place of
      // its record (searches); a modify checks it here.
      if (!searches && !VerifyNeighbours(i, list, InsertPositionOf(position, result))) return false;
      continue;
    }
    if (physical_position >= 0 && PhysicalPosition(list, position) == physical_position) continue;
    if (!LiveInFile(list[static_cast<size_t>(position)].RecordId)) return false;
    std::string text;
    for (size_t k = 0; k < def.FieldNumbers.size(); ++k) {
      if (k > 0) text += ",";
      int f = def.FieldNumbers[k];
      if (f < buffers.Count()) text += buffers.Item(f).AsText();
    }
    throw EDatabaseError(FormatMessage("Invalid unique field value '%s'", {text}));
  }
  return true;
}

void TDbTableIO::EncodeBlob(TFieldBufferItem& item, int field_number, TMemoryStream& plain, TMemoryStream& encoded) {
  plain.Clear();
  if (item.BlobStream()) {
    item.BlobStream()->EnsureLoaded();
    plain.CopyFrom(*item.BlobStream(), 0);
  }
  FileIO().EncodeStreamData(plain, encoded, FieldIsCompressed(field_number), FieldIsEncrypted(field_number));
}

// Writes an encoded blob and its padding at area_offset. With CheckBlobWrites the bytes are read
// back, decoded and compared (CRC-32) with the value; a mismatch re-encodes and writes again, at
// most kBlobWriteAttempts times, and then fails.
void TDbTableIO::WriteBlob(TMemoryStream& encoded, int32_t area_offset, TMemoryStream* plain, int field_number) {
  TDbFileIO& io = FileIO();
  int64_t length = encoded.Size();
  bool check = io.Options().CheckBlobWrites() && plain != nullptr;
  uLong expected = 0;
  if (check) expected = crc32(crc32(0L, Z_NULL, 0), plain->Memory(), static_cast<uInt>(plain->Size()));
  for (int attempt = 1;; ++attempt) {
    io.WriteAt(encoded.Memory(), area_offset, length);
    if (!check) break;
    TMemoryStream back, decoded;
    back.SetSize(length);
    if (length > 0) io.ReadAt(back.Memory(), area_offset, length);
    try {
      io.DecodeStreamData(back, decoded, FieldIsCompressed(field_number), FieldIsEncrypted(field_number));
    } catch (const Exception&) {
      // What was decoded before the failure is compared as it is.
    }
    uLong actual = crc32(crc32(0L, Z_NULL, 0), decoded.Memory(), static_cast<uInt>(decoded.Size()));
    if (actual == expected) break;
    if (attempt >= kBlobWriteAttempts)
      throw EDatabaseError(FormatMessage("Blob field '%s' could not be written correctly: the data read back differs",
                                         {field_defs_.Item(field_number).Name()}));
    io.EncodeStreamData(*plain, encoded, FieldIsCompressed(field_number), FieldIsEncrypted(field_number));
    length = encoded.Size();
  }
  int32_t padding = kBlobAreaUnit - static_cast<int32_t>(length % kBlobAreaUnit);
  std::vector<uint8_t> zeros(static_cast<size_t>(padding), 0);
  io.WriteAt(zeros.data(), area_offset + length, padding);
}

namespace {

// Keeps a string value within its data and zeroes every byte after its text. True when a byte
// changed.
bool NormaliseString(TFieldBufferItem& item) {
  if (!item.Data() || item.DataSize() <= 0) return false;
  auto* p = static_cast<uint8_t*>(item.Data());
  int32_t size = item.DataSize();
  uint8_t* nul = std::find(p, p + size - 1, uint8_t{0});
  bool changed = std::any_of(nul, p + size, [](uint8_t b) { return b != 0; });
  std::memset(nul, 0, static_cast<size_t>(p + size - nul));
  return changed;
}

// Whether a field is one of the key fields of any index.
bool IsKeyField(const TDbIndexDefs& indexes, int field_number) {
  for (int i = 0; i < indexes.Count(); ++i)
    for (int32_t f : indexes.Item(i).FieldNumbers)
      if (f == field_number) return true;
  return false;
}

// Adds an item referring to the same value as `item` (the same data or blob stream).
TFieldBufferItem& AddSameValue(TFieldBuffers& to, const TFieldBufferItem& item) {
  TFieldBufferItem& added = item.IsBlob() ? to.AddBlob(item.BlobStream(), item.FieldType())
                                          : to.Add(item.Data(), item.FieldType(), item.DataSize());
  added.SetActive(item.Active());
  return added;
}

}  // namespace

void TDbTableIO::AppendRecord(TFieldBuffers& caller_buffers, bool flush, const TIndexCallback& index_callback) {
  TDbFileIO& io = FileIO();
  LockGuard lock(io);
  // A placeholder for the auto-increment field gets the next value like an item holding 0: the
  // record is written from a view of the caller's items in which that field has a value of its own.
  int32_t placeholder_auto_inc = 0;
  TFieldBuffers view;
  const bool auto_inc_placeholder = auto_inc_field_ >= 0 && auto_inc_field_ < caller_buffers.Count() &&
                                    auto_inc_field_ < field_defs_.Count() &&
                                    !caller_buffers.Item(auto_inc_field_).Active();
  if (auto_inc_placeholder)
    for (int i = 0; i < caller_buffers.Count(); ++i)
      if (i == auto_inc_field_) view.Add(&placeholder_auto_inc, ftAutoInc, 4);
      else AddSameValue(view, caller_buffers.Item(i));
  TFieldBuffers& buffers = auto_inc_placeholder ? view : caller_buffers;
  BeginWrite();
  ReloadIfChanged();
  CheckBlocksForWrite();
  int count = std::min(buffers.Count(), field_defs_.Count());
  // The values take their final form before any search: texts cut to their size and zeroed after
  // the text, blob values loaded (a key over a blob compares its bytes).
  bool writes_blobs = false;
  for (int i = 0; i < count; ++i) {
    TFieldBufferItem& item = buffers.Item(i);
    if (!item.Active()) continue;
    if (IsStringType(field_defs_.Item(i).FieldType)) NormaliseString(item);
    if (item.IsBlob() && IsBlobType(field_defs_.Item(i).FieldType)) {
      writes_blobs = true;
      if (item.BlobStream()) item.BlobStream()->EnsureLoaded();
    }
  }

  bool has_auto_inc = auto_inc_field_ >= 0;
  uint8_t* auto_inc = nullptr;
  if (has_auto_inc && auto_inc_field_ < buffers.Count()) {
    TFieldBufferItem& item = buffers.Item(auto_inc_field_);
    if (item.Active() && item.Data() && item.DataSize() >= 4) auto_inc = static_cast<uint8_t*>(item.Data());
  }
  const int32_t auto_inc_given = auto_inc ? GetI32(auto_inc) : 0;

  // Plan: the unique check, the auto-increment value and each index's place, all checked against
  // the file before anything is written; a stale fact reloads the table and plans again.
  std::vector<TKeySearch>& searches = key_searches_;
  std::vector<int>& positions = insert_positions_;
  int32_t stored_last_auto_inc = 0;  // LastAutoIncValue as the file holds it
  for (int attempt = 0;; ++attempt) {
    if (attempt > 0) {
      if (attempt > 1) RaiseStale();
      if (auto_inc) PutI32(auto_inc, auto_inc_given);
      LoadLocked();
      CheckBlocksForWrite();
    }
    BeginChecks();
    stored_last_auto_inc = header_.LastAutoIncValue();
    // The unique check searches each unique index for the new key; the places below reuse those
    // searches instead of reading the same keys again.
    searches.assign(static_cast<size_t>(index_defs_.Count()), TKeySearch{});
    if (!CheckUnique(buffers, -1, &searches)) continue;
    if (auto_inc) {
      if (auto_inc_given == 0) {
        if (header_.LastAutoIncValue() == INT32_MAX)
          throw EDatabaseError(FormatMessage("Auto-increment values of table '%s' are exhausted", {table_name_}));
        header_.SetLastAutoIncValue(header_.LastAutoIncValue() + 1);
        PutI32(auto_inc, header_.LastAutoIncValue());
        searches.assign(searches.size(), TKeySearch{});  // the key changed: search again
      } else if (auto_inc_given > header_.LastAutoIncValue()) {
        header_.SetLastAutoIncValue(auto_inc_given);
      }
    }
    positions.assign(static_cast<size_t>(index_defs_.Count()), 0);
    bool fresh = true;
    for (int i = 0; i < index_defs_.Count() && fresh; ++i) {
      const TKeySearch& search = searches[static_cast<size_t>(i)];
      const int p = search.Done ? InsertPositionOf(search.Position, search.Result) : InsertPosition(buffers, i);
      positions[static_cast<size_t>(i)] = p;
      fresh = VerifyNeighbours(i, RowList(i + 1), p);
    }
    if (fresh) break;
  }

  const int32_t r = header_.SlotCount();
  if (r == INT32_MAX) throw EDatabaseError(FormatMessage("Table '%s' is full", {table_name_}));
  // A record ID that is a multiple of 1024 starts a new slot block, with the image right after it.
  const bool new_block = r % kPerBlock == 0;
  const int64_t block_at = io.FileSize();
  const int64_t data_offset = new_block ? block_at + kSlotBlockSize : block_at;
  if (data_offset + record_size_ > INT32_MAX)
    throw EDatabaseError("Database file would exceed the largest size the format can address");
  const auto d = static_cast<int32_t>(data_offset);
  // In a bulk group the slot is written live at once: the record counts from the SlotCount write
  // on, and the load links it into the chains that miss it should the program stop first.
  const bool bulk = io.InBulk();
  const uint8_t deleted_until_linked = bulk ? 0 : 1;

  std::vector<uint8_t>& image = image_;
  image.assign(static_cast<size_t>(record_size_), 0);

  // The order of the writes makes the record live only once it is whole (table_recovery.cpp).
  try {
    // 1. At the end of the file, where nothing refers to it yet: the slot block, the image and
    //    its blob areas, the link blocks.
    if (new_block) {
      std::vector<uint8_t> block(kSlotBlockSize, 0);
      TRecordSlot{d, deleted_until_linked}.Write(&block[4]);
      io.WriteAt(block.data(), block_at, kSlotBlockSize);
    }
    // Blob areas go after the image, so a zeroed image takes its place first; without blobs the
    // finished image is the only write there.
    if (writes_blobs) io.WriteAt(image.data(), d, record_size_);
    TMemoryStream plain, encoded;
    std::vector<uint8_t> slot;
    for (int i = 0; i < count; ++i) {
      TFieldBufferItem& item = buffers.Item(i);
      if (!item.Active()) continue;
      int32_t offset = field_offsets_[static_cast<size_t>(i)];
      if (IsBlobType(field_defs_.Item(i).FieldType)) {
        if (!item.IsBlob()) continue;
        EncodeBlob(item, i, plain, encoded);
        int64_t length = encoded.Size();
        int64_t area = io.FileSize();
        if (area + BlobAreaSize(static_cast<int32_t>(std::min<int64_t>(length, INT32_MAX - 64))) > INT32_MAX)
          throw EDatabaseError("Database file would exceed the largest size the format can address");
        TBlobDescriptor desc;
        desc.AreaOffset = static_cast<int32_t>(area);
        desc.DataLength = static_cast<int32_t>(length);
        desc.AreaSize = BlobAreaSize(desc.DataLength);
        desc.Write(&image[static_cast<size_t>(offset)]);
        WriteBlob(encoded, desc.AreaOffset, &plain, i);
        continue;
      }
      if (!item.Data()) continue;
      int32_t width = slot_widths_[static_cast<size_t>(i)];
      slot.assign(static_cast<size_t>(width), 0);
      std::memcpy(slot.data(), item.Data(), static_cast<size_t>(std::min(width, item.DataSize())));
      io.EncodeBufferData(slot.data(), &image[static_cast<size_t>(offset)], FieldIsEncrypted(i), width);
    }
    io.WriteAt(image.data(), d, record_size_);
    std::vector<int32_t> new_link_blocks;
    if (new_block)
      for (int i = 0; i < index_defs_.Count(); ++i) {
        const int64_t b = io.FileSize();
        if (b + kLinkBlockSize > INT32_MAX)
          throw EDatabaseError("Database file would exceed the largest size the format can address");
        std::vector<uint8_t> link_block(kLinkBlockSize, 0);
        io.WriteAt(link_block.data(), b, kLinkBlockSize);
        new_link_blocks.push_back(static_cast<int32_t>(b));
      }

    // 2. Places that count for nothing while SlotCount is r: the links to the new blocks, the
    //    record's own links and its slot, deleted.
    uint8_t raw[4];
    if (new_block) {
      PutI32(raw, static_cast<int32_t>(block_at));
      if (r == 0) {
        io.WriteAt(raw, HeaderPosition() + kHdrFirstSlotBlock, 4);
        header_.SetFirstSlotBlock(static_cast<int32_t>(block_at));
        slot_blocks_.assign(1, static_cast<int32_t>(block_at));
      } else {
        io.WriteAt(raw, slot_blocks_.back(), 4);
        slot_blocks_.push_back(static_cast<int32_t>(block_at));
      }
      for (int i = 0; i < index_defs_.Count(); ++i) {
        TIntegerAry& blocks = link_blocks_[static_cast<size_t>(i)];
        PutI32(raw, new_link_blocks[static_cast<size_t>(i)]);
        if (r == 0) {
          blocks.clear();
          io.WriteAt(raw, HeaderPosition() + TTableDefBlock::IndexEntryOffset(i) + kIdxFirstLinkBlock, 4);
          header_.SetFirstLinkBlock(i, new_link_blocks[static_cast<size_t>(i)]);
        } else {
          io.WriteAt(raw, blocks.back(), 4);
        }
        blocks.push_back(new_link_blocks[static_cast<size_t>(i)]);
      }
    }
    for (int i = 0; i < index_defs_.Count(); ++i) {
      const int p = positions[static_cast<size_t>(i)];
      int32_t next = -1;
      if (r > 0) next = p > 0 ? ReadLink(i, RowList(i + 1)[static_cast<size_t>(p) - 1].RecordId).NextRecordId : header_.HeadSlot(i);
      if (bulk) HoldLink(i, r, next, true);
      else WriteLink(i, {r, next});
    }
    if (!new_block) {
      uint8_t raw_slot[kSlotSize];
      TRecordSlot{d, deleted_until_linked}.Write(raw_slot);
      io.WriteAt(raw_slot, SlotPosition(r), kSlotSize);
    }

    // 3. The counters: from here the record exists, deleted.
    if (has_auto_inc && stored_last_auto_inc != header_.LastAutoIncValue())
      WriteCounter(HeaderPosition() + kHdrLastAutoInc, stored_last_auto_inc, header_.LastAutoIncValue());
    WriteCounter(HeaderPosition() + kHdrSlotCount, r, r + 1);
    header_.SetSlotCount(r + 1);
    slots_.push_back({d, deleted_until_linked});

    // 4. Each index leads to the record; 5. the one byte that makes it live.
    for (int i = 0; i < index_defs_.Count(); ++i) {
      const int p = positions[static_cast<size_t>(i)];
      const int32_t head = r == 0 ? 0 : r;
      if (r > 0 && p > 0) {
        const int32_t before = RowList(i + 1)[static_cast<size_t>(p) - 1].RecordId;
        if (bulk) HoldLink(i, before, r, false);
        else WriteNext(i, before, r);
      } else if (r > 0 || header_.HeadSlot(i) != 0) {
        if (bulk) {
          header_.SetHeadSlot(i, head);
          HoldHeadSlot(i);
        } else {
          WriteHeadSlot(i, head);
        }
      }
    }
    if (!bulk) WriteDeleted(r, 0);
    slots_.back().Deleted = 0;
  } catch (...) {
    reload_before_write_ = true;
    throw;
  }
  known_file_size_ = io.FileSize();
  EndWriteInBulk();

  const TRowRef ref{d, r};
  RowList(0).push_back(ref);
  if (index_callback) index_callback(-1, -1, ref);
  for (int i = 0; i < index_defs_.Count(); ++i) {
    const int p = positions[static_cast<size_t>(i)];
    if (index_callback) index_callback(i, p, ref);
    TRowList& list = RowList(i + 1);
    list.insert(list.begin() + p, ref);
  }
  if (flush) io.Flush();
}

void TDbTableIO::ModifyRecord(TFieldBuffers& buffers, int physical_position, const TMoveCallback& move_callback,
                              bool flush) {
  TDbFileIO& io = FileIO();
  LockGuard lock(io);
  BeginWrite();
  const TRowList& given = RowList(0);
  if (physical_position < 0 || static_cast<size_t>(physical_position) >= given.size())
    throw EDatabaseError(FormatMessage("Record position %s out of range", {std::to_string(physical_position)}));
  const int32_t r = given[static_cast<size_t>(physical_position)].RecordId;
  int count = std::min(buffers.Count(), field_defs_.Count());
  // The values take their final form before any search (as on append). A blob value that was never
  // loaded is the one at its source position: where that is the record's own descriptor, the
  // value is unchanged and keeps its area.
  std::vector<int64_t> untouched_source(static_cast<size_t>(std::max(count, 0)), -1);
  for (int i = 0; i < count; ++i) {
    TFieldBufferItem& item = buffers.Item(i);
    if (!item.Active()) continue;
    if (IsStringType(field_defs_.Item(i).FieldType)) NormaliseString(item);
    if (item.IsBlob() && IsBlobType(field_defs_.Item(i).FieldType) && item.BlobStream()) {
      if (!item.BlobStream()->Loaded()) untouched_source[static_cast<size_t>(i)] = item.BlobStream()->SourcePosition();
      item.BlobStream()->EnsureLoaded();
    }
  }

  // Plan: the record as the file holds it now, the unique check and the reorder, all checked against
  // the file before anything is written; a stale fact reloads the table and plans again.
  std::vector<uint8_t> image(static_cast<size_t>(record_size_));
  TFieldBuffers effective;
  std::vector<std::vector<uint8_t>> stored_values(static_cast<size_t>(count));
  std::vector<std::unique_ptr<TOptimBlobStream>> stored_blobs;
  std::vector<TMove>& plan = moves_;
  TStoredKey stored_key;
  int32_t d = 0;
  for (int attempt = 0;; ++attempt) {
    if (attempt > 1) RaiseStale();
    physical_position = LivePosition(r, attempt > 0);
    CheckBlocksForWrite();
    d = slots_[static_cast<size_t>(r)].DataOffset;
    io.ReadAt(image.data(), d, record_size_);

    // The key values the record will have: an inactive placeholder, and an auto-increment item
    // holding 0, keep the stored value, so the unique check and the reorder use the key that the
    // file will hold.
    effective.Clear();
    stored_blobs.clear();
    for (int i = 0; i < buffers.Count(); ++i) {
      TFieldBufferItem& item = buffers.Item(i);
      const bool keeps_stored =
          i < count && (!item.Active() || (i == auto_inc_field_ && item.Data() && item.DataSize() >= 4 &&
                                           GetI32(static_cast<uint8_t*>(item.Data())) == 0));
      if (!keeps_stored) {
        AddSameValue(effective, item);
        continue;
      }
      const uint8_t type = field_defs_.Item(i).FieldType;
      if (IsBlobType(type)) {
        // A blob is read only when a key holds it.
        if (!IsKeyField(index_defs_, i)) {
          effective.AddPlaceholder();
          continue;
        }
        stored_blobs.push_back(std::make_unique<TOptimBlobStream>());
        ReadStoredField(*stored_blobs.back(), r, i);
        effective.AddBlob(stored_blobs.back().get(), type);
        continue;
      }
      std::vector<uint8_t>& value = stored_values[static_cast<size_t>(i)];
      value.resize(static_cast<size_t>(slot_widths_[static_cast<size_t>(i)]));
      io.DecodeBufferData(&image[static_cast<size_t>(field_offsets_[static_cast<size_t>(i)])], value.data(),
                          FieldIsEncrypted(i), static_cast<int32_t>(value.size()));
      effective.Add(value.data(), type, static_cast<int32_t>(value.size()));
    }

    if (!CheckUnique(effective, physical_position)) continue;
    ReadStoredKey(r, image, stored_key);
    if (PlanReorder(effective, stored_key.Buffers, r, physical_position, plan)) break;
  }

  // The new image and its new blob areas go to the end of the file, then a switch note; the old
  // image and areas stay as they are until the slot points elsewhere (table_recovery.cpp).
  int32_t last_auto_inc = header_.LastAutoIncValue();
  int32_t new_offset = 0;
  try {
    TMemoryStream plain, encoded;
    std::vector<uint8_t> slot;
    for (int i = 0; i < count; ++i) {
      TFieldBufferItem& item = buffers.Item(i);
      if (!item.Active()) continue;
      const TDbFieldDef& def = field_defs_.Item(i);
      int32_t offset = field_offsets_[static_cast<size_t>(i)];
      if (IsBlobType(def.FieldType)) {
        if (!item.IsBlob()) continue;
        if (untouched_source[static_cast<size_t>(i)] == int64_t{d} + offset) continue;  // unchanged
        EncodeBlob(item, i, plain, encoded);
        int64_t length = encoded.Size();
        TBlobDescriptor desc = TBlobDescriptor::Read(&image[static_cast<size_t>(offset)]);
        int64_t area = io.FileSize();
        if (area + length + kBlobAreaUnit > INT32_MAX)
          throw EDatabaseError("Database file would exceed the largest size the format can address");
        desc.AreaOffset = static_cast<int32_t>(area);
        desc.DataLength = static_cast<int32_t>(length);
        desc.AreaSize = BlobAreaSize(desc.DataLength);
        WriteBlob(encoded, desc.AreaOffset, &plain, i);
        desc.Write(&image[static_cast<size_t>(offset)]);
        continue;
      }
      if (!item.Data()) continue;
      int32_t width = slot_widths_[static_cast<size_t>(i)];
      if (def.FieldType == ftAutoInc) {
        int32_t v = item.DataSize() >= 4 ? GetI32(static_cast<uint8_t*>(item.Data())) : 0;
        if (v == 0) continue;
        slot.assign(static_cast<size_t>(width), 0);
        PutI32(slot.data(), v);
        io.EncodeBufferData(slot.data(), &image[static_cast<size_t>(offset)], FieldIsEncrypted(i), width);
        last_auto_inc = std::max(last_auto_inc, v);
        continue;
      }
      slot.assign(static_cast<size_t>(width), 0);
      std::memcpy(slot.data(), item.Data(), static_cast<size_t>(std::min(width, item.DataSize())));
      io.EncodeBufferData(slot.data(), &image[static_cast<size_t>(offset)], FieldIsEncrypted(i), width);
    }
    const int64_t at = io.FileSize();
    if (at + record_size_ + 24 > INT32_MAX)
      throw EDatabaseError("Database file would exceed the largest size the format can address");
    new_offset = static_cast<int32_t>(at);
    io.WriteAt(image.data(), at, record_size_);
    const int64_t slot_position = SlotPosition(r);
    WriteSwitchNote(at + record_size_, slot_position, d, new_offset);
    if (last_auto_inc != header_.LastAutoIncValue()) {
      WriteCounter(HeaderPosition() + kHdrLastAutoInc, header_.LastAutoIncValue(), last_auto_inc);
      header_.SetLastAutoIncValue(last_auto_inc);
    }

    // The chains must be whole before a record moves in them (held-back links of a bulk group).
    for (const TMove& m : plan)
      if (m.Old >= 0 && m.New != m.Old) {
        WriteHeldBack();
        break;
      }
    // Out of every index in which it changes place, then pointed at the new image, then in again.
    for (int i = 0; i < static_cast<int>(plan.size()); ++i) {
      const TMove& m = plan[static_cast<size_t>(i)];
      if (m.Old < 0 || m.New == m.Old) continue;
      const int32_t next = ReadLink(i, r).NextRecordId;
      if (m.Old > 0)
        WriteNext(i, RowList(i + 1)[static_cast<size_t>(m.Old) - 1].RecordId, next);
      else
        WriteHeadSlot(i, next);
    }
    uint8_t raw[4];
    PutI32(raw, new_offset);
    io.WriteAt(raw, slot_position, 4);
    for (int i = 0; i < static_cast<int>(plan.size()); ++i) {
      const TMove& m = plan[static_cast<size_t>(i)];
      if (m.Old < 0 || m.New == m.Old) continue;
      // The predecessor at the new place, counted in the list without the record.
      const TRowList& list = RowList(i + 1);
      if (m.New > 0) {
        const int32_t q = list[static_cast<size_t>(m.New - 1 + (m.New > m.Old ? 1 : 0))].RecordId;
        WriteLink(i, {r, ReadLink(i, q).NextRecordId});
        WriteNext(i, q, r);
      } else {
        WriteLink(i, {r, header_.HeadSlot(i)});
        WriteHeadSlot(i, r);
      }
    }
    // The old image is no longer referred to: its values do not stay behind in the file.
    std::fill(image.begin(), image.end(), 0);
    io.WriteAt(image.data(), d, record_size_);
  } catch (...) {
    reload_before_write_ = true;
    throw;
  }
  known_file_size_ = io.FileSize();
  EndWriteInBulk();

  slots_[static_cast<size_t>(r)].DataOffset = new_offset;
  RowList(0)[static_cast<size_t>(physical_position)].DataOffset = new_offset;
  for (int i = 0; i < static_cast<int>(plan.size()); ++i)
    if (plan[static_cast<size_t>(i)].Old >= 0)
      RowList(i + 1)[static_cast<size_t>(plan[static_cast<size_t>(i)].Old)].DataOffset = new_offset;
  ApplyReorder(plan, move_callback);
  if (flush) io.Flush();
}

// For every index, the record's old place o and its new place n in the list without it. Checked in
// the file: the record follows its predecessor in the chain; when it stays, its successor follows
// it; when it moves, its new neighbours follow each other.
bool TDbTableIO::PlanReorder(const TFieldBuffers& buffers, const TFieldBuffers& stored_key, int32_t r,
                             int physical_position, std::vector<TMove>& plan) {
  (void)physical_position;
  int index_count = index_defs_.Count();
  plan.assign(static_cast<size_t>(index_count), TMove{});
  for (int i = 0; i < index_count; ++i) plan[static_cast<size_t>(i)].Old = PositionByKey(stored_key, r, i);
  for (int i = 0; i < index_count; ++i) {
    TMove& move = plan[static_cast<size_t>(i)];
    const int o = move.Old;
    if (o < 0) continue;
    // The record leaves the list while its new place is searched and checked; it is put back at
    // its old place afterwards (also on an error), so the list still matches the file's order.
    TRowList& list = RowList(i + 1);
    const TRowRef entry = list[static_cast<size_t>(o)];
    list.erase(list.begin() + o);
    bool fresh = false;
    try {
      move.New = InsertPosition(buffers, i);
      const int32_t before = o > 0 ? list[static_cast<size_t>(o) - 1].RecordId : -1;
      fresh = before >= 0 ? LiveInFile(before) && NextLiveIs(i, CheckedLink(i, before).NextRecordId, r)
                          : NextLiveIs(i, header_.HeadSlot(i), r);
      if (fresh) {
        if (move.New == o) {
          const int32_t after = static_cast<size_t>(o) < list.size() ? list[static_cast<size_t>(o)].RecordId : -1;
          fresh = NextLiveIs(i, CheckedLink(i, r).NextRecordId, after);
        } else {
          fresh = VerifyNeighbours(i, list, move.New);
        }
      }
    } catch (...) {
      list.insert(list.begin() + o, entry);
      throw;
    }
    list.insert(list.begin() + o, entry);
    if (!fresh) return false;
  }
  return true;
}

void TDbTableIO::ReadStoredKey(int32_t r, const std::vector<uint8_t>& image, TStoredKey& key) {
  key.Buffers.Clear();
  key.Blobs.clear();
  key.Values.assign(static_cast<size_t>(field_defs_.Count()), {});
  for (int f = 0; f < field_defs_.Count(); ++f) {
    const uint8_t type = field_defs_.Item(f).FieldType;
    if (!IsKeyField(index_defs_, f)) {
      key.Buffers.AddPlaceholder();
    } else if (IsBlobType(type)) {
      key.Blobs.push_back(std::make_unique<TOptimBlobStream>());
      ReadStoredField(*key.Blobs.back(), r, f);
      key.Buffers.AddBlob(key.Blobs.back().get(), type);
    } else {
      std::vector<uint8_t>& value = key.Values[static_cast<size_t>(f)];
      value.resize(static_cast<size_t>(slot_widths_[static_cast<size_t>(f)]));
      FileIO().DecodeBufferData(&image[static_cast<size_t>(field_offsets_[static_cast<size_t>(f)])], value.data(),
                                FieldIsEncrypted(f), static_cast<int32_t>(value.size()));
      key.Buffers.Add(value.data(), type, static_cast<int32_t>(value.size()));
    }
  }
}

int TDbTableIO::PositionByKey(const TFieldBuffers& stored_key, int32_t r, int index) {
  const TRowList& list = RowList(index + 1);
  int result = 0;
  const int first = FindKeyBound(stored_key, list, false, 0, result, true, index);
  // The record stands among the entries with its key, from the first of them on; a list that does
  // not match the keys (it should not happen) is searched whole.
  const size_t from = result == 0 ? static_cast<size_t>(first) : 0;
  for (size_t p = from; p < list.size(); ++p)
    if (list[p].RecordId == r) return static_cast<int>(p);
  for (size_t p = 0; p < from; ++p)
    if (list[p].RecordId == r) return static_cast<int>(p);
  return -1;
}

// The row lists follow a modify's moves (the file's chains were rewired by ModifyRecord).
void TDbTableIO::ApplyReorder(const std::vector<TMove>& plan, const TMoveCallback& move_callback) {
  for (int i = 0; i < static_cast<int>(plan.size()); ++i) {
    const int o = plan[static_cast<size_t>(i)].Old;
    const int n = plan[static_cast<size_t>(i)].New;
    if (o < 0 || n == o) continue;
    if (move_callback) move_callback(i, o, o < n ? n + 1 : n);
    TRowList& list = RowList(i + 1);
    const TRowRef entry = list[static_cast<size_t>(o)];
    list.erase(list.begin() + o);
    list.insert(list.begin() + n, entry);
  }
}

void TDbTableIO::DeleteRecord(int physical_position, bool flush) {
  TDbFileIO& io = FileIO();
  LockGuard lock(io);
  BeginWrite();
  {
    const TRowList& given = RowList(0);
    if (physical_position < 0 || static_cast<size_t>(physical_position) >= given.size())
      throw EDatabaseError(FormatMessage("Record position %s out of range", {std::to_string(physical_position)}));
    physical_position = LivePosition(given[static_cast<size_t>(physical_position)].RecordId, false);
  }
  TRowList& physical = RowList(0);
  const int32_t r = physical[static_cast<size_t>(physical_position)].RecordId;
  // The record's places in the indexes, found by its key before it is deleted.
  std::vector<int>& places = insert_positions_;
  places.assign(static_cast<size_t>(index_defs_.Count()), -1);
  if (index_defs_.Count() > 0) {
    try {
      image_.resize(static_cast<size_t>(record_size_));
      io.ReadAt(image_.data(), slots_[static_cast<size_t>(r)].DataOffset, record_size_);
      TStoredKey key;
      ReadStoredKey(r, image_, key);
      for (int i = 0; i < index_defs_.Count(); ++i) places[static_cast<size_t>(i)] = PositionByKey(key.Buffers, r, i);
    } catch (const EDatabaseError&) {
      // A key that cannot be read (a damaged blob) does not keep the record from being deleted.
      for (int i = 0; i < index_defs_.Count(); ++i) {
        const TRowList& list = RowList(i + 1);
        for (size_t p = 0; p < list.size(); ++p)
          if (list[p].RecordId == r) places[static_cast<size_t>(i)] = static_cast<int>(p);
      }
    }
  }
  WriteDeleted(r, 1);
  slots_[static_cast<size_t>(r)].Deleted = 1;
  known_file_size_ = io.FileSize();
  EndWriteInBulk();
  for (int i = 0; i < index_defs_.Count(); ++i)
    if (places[static_cast<size_t>(i)] >= 0) RowList(i + 1).erase(static_cast<size_t>(places[static_cast<size_t>(i)]));
  physical.erase(static_cast<size_t>(physical_position));
  if (flush) io.Flush();
}

}  // namespace zq
