// TDbTableIO's checks before a write: the facts a write takes from the row lists, verified in the
// file under the lock, so that a change by another opener reloads the table instead of being
// overwritten.
#include "dbengine/storage/table_io.h"

#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"

namespace zq {

using namespace dbfmt;

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

}  // namespace zq
