// TDbTableIO's key searches: comparing a key with the stored values of a record, and the binary
// searches in a row list that find a key, the first or last of equal keys, and the place where a
// written record belongs.
#include "dbengine/storage/table_io.h"

#include <algorithm>
#include <cstring>

#include "dbengine/format/db_error.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/db_file_io.h"
#include "platform/collation.h"

namespace zq {

using namespace dbfmt;

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

}  // namespace zq
