// TDbTableIO's modifies: the new image and changed blob areas written at the end of the file, the
// record's slot switched, and its places in every index planned, checked in the file and moved.
#include "dbengine/storage/table_io.h"

#include <algorithm>
#include <cstring>

#include "dbengine/format/db_error.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/storage/optim_blob_stream.h"

namespace zq {

using namespace dbfmt;

void TDbTableIO::ModifyRecord(TFieldBuffers& buffers, int physical_position, const TMoveCallback& move_callback,
                              bool flush) {
  TDbFileIO& io = FileIO();
  LockGuard lock(io);
  BeginWrite();
  const int32_t r = RecordIdAt(physical_position);
  int count = std::min(buffers.Count(), field_defs_.Count());
  // The values take their final form before any search (as on append). A blob value that was never
  // loaded is the one at its source position: where that is the record's own descriptor, the
  // value is unchanged and keeps its area. The position is taken once the value is loaded: a
  // stream read with its record follows the record's slot to the image it holds now.
  std::vector<int64_t> untouched_source(static_cast<size_t>(std::max(count, 0)), -1);
  for (int i = 0; i < count; ++i) {
    TFieldBufferItem& item = buffers.Item(i);
    if (!item.Active()) continue;
    if (IsStringType(field_defs_.Item(i).FieldType)) item.NormaliseString();
    if (item.IsBlob() && IsBlobType(field_defs_.Item(i).FieldType) && item.BlobStream()) {
      const bool untouched = !item.BlobStream()->Loaded();
      item.BlobStream()->EnsureLoaded();
      if (untouched) untouched_source[static_cast<size_t>(i)] = item.BlobStream()->SourcePosition();
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
        effective.AddSameValue(item);
        continue;
      }
      const uint8_t type = field_defs_.Item(i).FieldType;
      if (IsBlobType(type)) {
        // A blob is read only when a key holds it.
        if (!IsKeyField(i)) {
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
    if (!IsKeyField(f)) {
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

}  // namespace zq
