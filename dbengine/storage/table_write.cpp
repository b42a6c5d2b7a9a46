// TDbTableIO's writes: appending and deleting records, with what every write shares (the unique-key
// checks, the blob areas, the values a write leaves in the buffers). Modifies are in
// table_modify.cpp.
#include "dbengine/storage/table_io.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "dbengine/format/db_error.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/storage/optim_blob_stream.h"

namespace zq {

using namespace dbfmt;

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
bool TDbTableIO::IsKeyField(int field_number) const {
  for (int i = 0; i < index_defs_.Count(); ++i)
    for (int32_t f : index_defs_.Item(i).FieldNumbers)
      if (f == field_number) return true;
  return false;
}

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
  if (auto_inc_placeholder) {
    for (int i = 0; i < caller_buffers.Count(); ++i) {
      if (i == auto_inc_field_) view.Add(&placeholder_auto_inc, ftAutoInc, 4);
      else view.AddSameValue(caller_buffers.Item(i));
    }
  }
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
    if (IsStringType(field_defs_.Item(i).FieldType)) item.NormaliseString();
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

void TDbTableIO::DeleteRecord(int physical_position, bool flush) {
  TDbFileIO& io = FileIO();
  LockGuard lock(io);
  BeginWrite();
  physical_position = LivePosition(RecordIdAt(physical_position), false);
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
