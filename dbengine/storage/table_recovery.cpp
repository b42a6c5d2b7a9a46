// The table layer's defence against a program stopped in the middle of a write (a crash, a kill, a
// power cut, or a write that fails part-way), and against a write torn after any of its bytes.
//
// Order of writes (table_write.cpp, table_modify.cpp); each step is safe to be cut after, or inside, any write:
//
//   Append of record r (r = SlotCount):
//     1. the new slot block (when r is a multiple of 1024) with slot r already holding
//        (image offset, Deleted = 1); the record image and its blob areas; new link blocks;
//        all at the end of the file, where nothing refers to them yet;
//     2. the links that lead to those blocks (NextBlock of the previous block, or FirstSlotBlock /
//        FirstLinkBlock for the first record), r's own link in every index (r, its successor),
//        and slot r as (image offset, Deleted = 1): all in places that count for nothing while
//        SlotCount is r;
//     3. LastAutoIncValue, then SlotCount := r + 1, each byte that changes written on its own,
//        the most significant first: a cut leaves the old value or one at least the new, never
//        a smaller one. From here record r exists, deleted;
//     4. r's predecessor in every index now leads to r (or HeadSlot := r); chains may pass
//        through deleted records, so each chain is whole after each of these writes (a torn
//        one breaks the chain, which the load below notices);
//     5. the Deleted byte of slot r := 0: a one-byte write that makes the record live, whole.
//   Modify of record r: the new blob areas and the new record image go to the end of the file
//     (the old image and areas stay as they are, so a record never points at a half-written
//     area), followed by a 24-byte switch note (below). Then r is unlinked from every index in
//     which it changes place, its slot is pointed at the new image, and it is linked at its new
//     places. Until the slot changes r holds its old values; afterwards its new ones; while it
//     is missing from a chain, that chain is not whole.
//   Delete: the Deleted byte of the slot, one byte.
//
// Recovery, under the file lock, at every load and therefore at every reload before a write (and
// before any write after one of this object failed):
//   - the switch note at the very end of the file names a slot and its old and new image offset;
//     a slot holding neither (its four bytes torn) gets the new one, whose image is complete;
//   - a SlotCount that reaches past the slots that exist, or onto zero slots, is lowered to the
//     last slot that names an image; the last slot and link block end their chains;
//   - an index chain that is not whole (a link naming another record, a loop, a record outside
//     the table, a live record missing) is rebuilt from the records' keys, records with equal keys
//     in the order the chain reached them, then in physical order.
// An interrupted append thus leaves its record deleted (absent) or live and whole; an interrupted
// modify leaves the old values or the new ones, in every index in order. An opener that may not
// write (a read-only file or open) applies the same recovery to what it loads, in memory only.
//
// The switch note is 24 bytes after the new image, which no structure of the file refers to (like
// a blob area left behind): the tag "ZQSWITCH", the slot's position, the old and the new image
// offset (int32 each), and the CRC-32 of those 20 bytes. Each write checks the end of the file for
// it under the lock before writing, so a torn slot is mended before anything is appended after it.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/index_order.h"
#include "dbengine/storage/table_io.h"

namespace zq {

using namespace dbfmt;

namespace {

constexpr char kSwitchTag[8] = {'Z', 'Q', 'S', 'W', 'I', 'T', 'C', 'H'};
constexpr int kSwitchNoteSize = 24;

uint32_t NoteCrc(const uint8_t* note) { return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), note, 20)); }

// Whether `stated` is what WriteCounter leaves when cut while it changes a count to `count` from
// count - 1 (the most significant bytes already new, the others still old), or to `count` from a
// larger value (the least significant bytes already new).
bool TornCount(int32_t stated, int32_t count) {
  const auto v = static_cast<uint32_t>(stated), n = static_cast<uint32_t>(count), before = n - 1;
  for (int k = 1; k < 4; ++k) {
    const uint32_t low = (1u << (8 * k)) - 1;
    if ((v & ~low) == (n & ~low) && (v & low) == (before & low)) return true;
    if (v > n && (v & low) == (n & low)) return true;
  }
  return false;
}

}  // namespace

bool TDbTableIO::MayWrite() const {
  TDbFileIO& io = FileIO();
  return !io.ReadOnly() && !io.FileIsReadOnly();
}

// Each byte that changes, on its own: the most significant first when the value grows, the least
// significant first when it shrinks. Cut anywhere, the field holds a value at least the smaller
// of the two.
void TDbTableIO::WriteCounter(int64_t position, int32_t old_value, int32_t new_value) {
  uint8_t before[4], after[4];
  PutI32(before, old_value);
  PutI32(after, new_value);
  const bool grows = new_value > old_value;
  for (int k = 0; k < 4; ++k) {
    const int byte = grows ? 3 - k : k;
    if (before[byte] != after[byte]) FileIO().WriteAt(&after[byte], position + byte, 1);
  }
}

void TDbTableIO::WriteSwitchNote(int64_t at, int64_t slot_position, int32_t old_offset, int32_t new_offset) {
  uint8_t note[kSwitchNoteSize];
  std::memcpy(note, kSwitchTag, 8);
  PutI32(note + 8, static_cast<int32_t>(slot_position));
  PutI32(note + 12, old_offset);
  PutI32(note + 16, new_offset);
  PutI32(note + 20, static_cast<int32_t>(NoteCrc(note)));
  FileIO().WriteAt(note, at, kSwitchNoteSize);
}

void TDbTableIO::WriteNext(int index, int32_t record_id, int32_t next) {
  uint8_t raw[4];
  PutI32(raw, next);
  FileIO().WriteAt(raw, LinkPosition(index, record_id) + 4, 4);
}

void TDbTableIO::WriteHeadSlot(int index, int32_t head) {
  uint8_t raw[4];
  PutI32(raw, head);
  FileIO().WriteAt(raw, HeaderPosition() + TTableDefBlock::IndexEntryOffset(index) + kIdxHeadSlot, 4);
  header_.SetHeadSlot(index, head);
}

void TDbTableIO::WriteDeleted(int32_t record_id, uint8_t deleted) {
  FileIO().WriteAt(&deleted, SlotPosition(record_id) + 4, 1);
}

// Under the lock, before any write: recovers first when a write of this object failed part-way,
// and mends a slot that a modify stopped in the middle of changing.
void TDbTableIO::BeginWrite() {
  if (reload_before_write_) {
    reload_before_write_ = false;
    LoadLocked();
  } else if (!Trusted()) {
    ResolveSwitchNote();
  }
}

// ---- Bulk groups (see table_io.h).

bool TDbTableIO::Trusted() const {
  const TDbFileIO& io = FileIO();
  return io.InBulk() && trusted_bulk_ == io.BulkSerial() && !reload_before_write_;
}

// A write that completed inside a group: the lists match the file, and stay so until the group ends.
void TDbTableIO::EndWriteInBulk() {
  TDbFileIO& io = FileIO();
  if (!io.InBulk()) return;
  trusted_bulk_ = io.BulkSerial();
  if (!held_links_.empty() || !held_heads_.empty()) io.JoinBulk(this);
}

void TDbTableIO::HoldLink(int index, int32_t record_id, int32_t next, bool whole) {
  THeldLink& held = held_links_[uint64_t{static_cast<uint32_t>(index)} << 32 | static_cast<uint32_t>(record_id)];
  held.Next = next;
  held.Whole = held.Whole || whole;
}

void TDbTableIO::HoldHeadSlot(int index) {
  if (std::find(held_heads_.begin(), held_heads_.end(), index) == held_heads_.end()) held_heads_.push_back(index);
}

// Writes what a group held back. First the own links of the records appended since the last
// time, which nothing leads to yet, in runs of adjacent links (an append in key order fills its
// link block from left to right); then the links and heads that lead to them. A program stopped
// in between leaves chains that miss live records, which the load rebuilds.
void TDbTableIO::WriteHeldBack() {
  if (held_links_.empty() && held_heads_.empty()) return;
  TDbFileIO& io = FileIO();
  struct TPlaced {
    int64_t Position;
    int32_t RecordId, Next;
  };
  std::vector<TPlaced> whole, next_only;
  try {
    for (const auto& [key, held] : held_links_) {
      const auto index = static_cast<int>(key >> 32);
      const auto record_id = static_cast<int32_t>(key & 0xFFFFFFFFu);
      (held.Whole ? whole : next_only).push_back({LinkPosition(index, record_id), record_id, held.Next});
    }
    auto by_position = [](const TPlaced& a, const TPlaced& b) { return a.Position < b.Position; };
    std::sort(whole.begin(), whole.end(), by_position);
    std::sort(next_only.begin(), next_only.end(), by_position);
    std::vector<uint8_t> run;
    int64_t run_at = 0;
    for (const TPlaced& link : whole) {
      if (!run.empty() && link.Position != run_at + static_cast<int64_t>(run.size())) {
        io.WriteAt(run.data(), run_at, static_cast<int64_t>(run.size()));
        run.clear();
      }
      if (run.empty()) run_at = link.Position;
      run.resize(run.size() + kLinkSize);
      TIndexLink{link.RecordId, link.Next}.Write(&run[run.size() - kLinkSize]);
    }
    if (!run.empty()) io.WriteAt(run.data(), run_at, static_cast<int64_t>(run.size()));
    uint8_t raw[4];
    for (const TPlaced& link : next_only) {
      PutI32(raw, link.Next);
      io.WriteAt(raw, link.Position + 4, 4);
    }
    for (const int index : held_heads_) WriteHeadSlot(index, header_.HeadSlot(index));
  } catch (...) {
    held_links_.clear();
    held_heads_.clear();
    reload_before_write_ = true;
    throw;
  }
  held_links_.clear();
  held_heads_.clear();
}

void TDbTableIO::FinishBulk() { WriteHeldBack(); }

void TDbTableIO::ResolveSwitchNote() {
  TDbFileIO& io = FileIO();
  pending_switch_ = {};
  const int64_t size = io.FileSize();
  if (size < kFileHeaderSize + kSwitchNoteSize) return;
  uint8_t note[kSwitchNoteSize];
  io.ReadAt(note, size - kSwitchNoteSize, kSwitchNoteSize);
  if (std::memcmp(note, kSwitchTag, 8) != 0 || static_cast<uint32_t>(GetI32(note + 20)) != NoteCrc(note)) return;
  const int64_t slot_position = GetI32(note + 8);
  const int32_t old_offset = GetI32(note + 12), new_offset = GetI32(note + 16);
  uint8_t raw[4];
  if (slot_position < kFileHeaderSize || !io.TryReadAt(raw, slot_position, 4)) return;
  const int32_t now = GetI32(raw);
  if (now == old_offset || now == new_offset) return;
  if (!MayWrite()) {
    pending_switch_ = {slot_position, new_offset};
    return;
  }
  PutI32(raw, new_offset);
  io.WriteAt(raw, slot_position, 4);
}

// Reads the slots. A SlotCount that an interrupted append left beyond the slots that exist, or
// onto slots never written (zero), is lowered to the last slot that names an image.
void TDbTableIO::ReadSlotsRecovering() {
  TDbFileIO& io = FileIO();
  const int32_t stated = header_.SlotCount();
  try {
    io.ReadSlotTable(header_, slot_blocks_, slots_);
  } catch (const EDatabaseError&) {
    // Read the blocks that exist; the count is explained only when the slots they end with are zero.
    slot_blocks_.clear();
    slots_.clear();
    std::unordered_set<int64_t> seen;
    std::vector<uint8_t> block(kSlotBlockSize);
    int64_t offset = header_.FirstSlotBlock();
    while (static_cast<int64_t>(slots_.size()) < stated && offset >= kFileHeaderSize &&
           offset + kSlotBlockSize <= io.FileSize() && seen.insert(offset).second) {
      io.ReadAt(block.data(), offset, kSlotBlockSize);
      slot_blocks_.push_back(static_cast<int32_t>(offset));
      for (int k = 0; k < kPerBlock && static_cast<int64_t>(slots_.size()) < stated; ++k)
        slots_.push_back(TRecordSlot::Read(&block[4 + static_cast<size_t>(k) * kSlotSize]));
      offset = GetI32(block.data());
    }
    if (slots_.empty() || slots_.back().DataOffset != 0) throw;
  }
  while (!slots_.empty() && slots_.back().DataOffset == 0) slots_.pop_back();
  const auto count = static_cast<int32_t>(slots_.size());
  if (count != stated && !TornCount(stated, count))
    io.RaiseDamaged(FormatMessage("record slot count %s", {std::to_string(stated)}));
  slot_blocks_.resize((slots_.size() + kPerBlock - 1) / kPerBlock);
  if (count != stated) {
    if (MayWrite()) WriteCounter(HeaderPosition() + kHdrSlotCount, stated, count);
    header_.SetSlotCount(count);
  }

  // A modify's slot pointer torn, corrected only in memory here.
  if (pending_switch_.SlotPosition >= 0)
    for (size_t b = 0; b < slot_blocks_.size(); ++b) {
      const int64_t at = pending_switch_.SlotPosition - slot_blocks_[b] - 4;
      if (at < 0 || at >= int64_t{kPerBlock} * kSlotSize || at % kSlotSize != 0) continue;
      const size_t r = b * kPerBlock + static_cast<size_t>(at / kSlotSize);
      if (r < slots_.size()) slots_[r].DataOffset = pending_switch_.DataOffset;
    }

  // A file of an older build may hold an append cut off after its slot and before its image:
  // the last slot points past the end of the file. That record never existed: it is deleted.
  if (!slots_.empty()) {
    TRecordSlot& last = slots_.back();
    if (last.Deleted == 0 && last.DataOffset >= kFileHeaderSize && int64_t{last.DataOffset} + record_size_ > io.FileSize()) {
      last.Deleted = 1;
      if (MayWrite()) WriteDeleted(static_cast<int32_t>(slots_.size() - 1), 1);
    }
  }
}

// An append cut off after it linked a new slot or link block, and before SlotCount counted it,
// leaves the last block linking on: it ends its chain again.
void TDbTableIO::EndBlockChains() {
  if (!MayWrite() || header_.SlotCount() == 0 || header_.SlotCount() % kPerBlock != 0) return;
  auto end_chain = [&](const TIntegerAry& blocks) {
    if (blocks.empty()) return;
    uint8_t raw[4];
    FileIO().ReadAt(raw, blocks.back(), 4);
    if (GetI32(raw) == 0) return;
    PutI32(raw, 0);
    FileIO().WriteAt(raw, blocks.back(), 4);
  };
  end_chain(slot_blocks_);
  for (const TIntegerAry& blocks : link_blocks_) end_chain(blocks);
}

// Rebuilds index `index` from the records' keys into `list`, and into the file when it may be
// written. Records with equal keys keep the order in which the broken chain reached them.
void TDbTableIO::RebuildChain(int index, const std::vector<TIndexLink>& links, TRowList& list) {
  const TDbIndexDef& def = index_defs_.Item(index);
  const auto count = static_cast<int32_t>(slots_.size());
  std::vector<int32_t> reached;
  std::vector<bool> taken(slots_.size(), false);
  for (int32_t r = header_.HeadSlot(index), steps = 0; r >= 0 && r < count && !taken[static_cast<size_t>(r)] &&
                                                         steps < count && static_cast<size_t>(r) < links.size();
       r = links[static_cast<size_t>(r)].NextRecordId, ++steps) {
    taken[static_cast<size_t>(r)] = true;
    if (slots_[static_cast<size_t>(r)].Deleted == 0) reached.push_back(r);
  }
  for (int32_t r = 0; r < count; ++r)
    if (!taken[static_cast<size_t>(r)] && slots_[static_cast<size_t>(r)].Deleted == 0) reached.push_back(r);

  std::vector<uint8_t> types;
  for (int f : def.FieldNumbers) types.push_back(field_defs_.Item(f).FieldType);
  std::vector<TKeyedRecord> keyed;
  keyed.reserve(reached.size());
  for (int32_t r : reached) {
    TKeyedRecord k{r, {}};
    for (int f : def.FieldNumbers) {
      if (IsBlobType(field_defs_.Item(f).FieldType)) {
        ReadStoredField(compare_stored_, r, f);
        k.Values.emplace_back(compare_stored_.Memory(), compare_stored_.Memory() + compare_stored_.Size());
        continue;
      }
      int64_t size = 0;
      const uint8_t* value = ReadKeySlot(r, f, size);
      k.Values.emplace_back(value, value + size);
    }
    keyed.push_back(std::move(k));
  }
  SortByIndexKey(keyed, types, def.Options);

  list.clear();
  for (const TKeyedRecord& k : keyed) list.push_back({slots_[static_cast<size_t>(k.RecordId)].DataOffset, k.RecordId});
  const int32_t head = keyed.empty() ? -1 : keyed.front().RecordId;
  if (!MayWrite()) {
    header_.SetHeadSlot(index, head);
    return;
  }
  std::vector<uint8_t> wanted(slots_.size() * kLinkSize);
  for (int32_t r = 0; r < count; ++r) TIndexLink{r, -1}.Write(&wanted[static_cast<size_t>(r) * kLinkSize]);
  for (size_t k = 0; k + 1 < keyed.size(); ++k)
    TIndexLink{keyed[k].RecordId, keyed[k + 1].RecordId}.Write(&wanted[static_cast<size_t>(keyed[k].RecordId) * kLinkSize]);
  const TIntegerAry& blocks = link_blocks_.at(static_cast<size_t>(index));
  for (size_t b = 0; b < blocks.size(); ++b) {
    const size_t from = b * kPerBlock * kLinkSize, to = std::min(wanted.size(), from + size_t{kPerBlock} * kLinkSize);
    if (from >= to) break;
    FileIO().WriteAt(&wanted[from], int64_t{blocks[b]} + 4, static_cast<int64_t>(to - from));
  }
  WriteHeadSlot(index, head);
}

}  // namespace zq
