#include "dbengine/storage/db_repair.h"

#include <algorithm>
#include <unordered_set>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/index_order.h"

namespace zq {

using namespace dbfmt;

namespace {

std::string Num(int64_t v) { return std::to_string(v); }

// Blocks of a slot or link chain as far as they can be read: inside the file, no block twice.
struct TChain {
  std::vector<int32_t> Blocks;
  std::vector<uint8_t> Items;  // item_size bytes per entry, for at most `count` entries
};

TChain ReadChain(TDbFileIO& io, int32_t first, int32_t count, int item_size) {
  TChain chain;
  const int64_t block_size = 4 + int64_t{kPerBlock} * item_size;
  std::unordered_set<int64_t> seen;
  int64_t offset = first;
  int64_t done = 0;
  while (done < count && offset >= kFileHeaderSize && offset + block_size <= io.FileSize() &&
         seen.insert(offset).second) {
    chain.Blocks.push_back(static_cast<int32_t>(offset));
    std::vector<uint8_t> block(static_cast<size_t>(block_size));
    io.ReadAt(block.data(), offset, block_size);
    const int64_t n = std::min<int64_t>(kPerBlock, count - done);
    chain.Items.insert(chain.Items.end(), block.begin() + 4, block.begin() + 4 + n * item_size);
    done += n;
    offset = GetI32(block.data());
  }
  return chain;
}

void WriteI32(TDbFileIO& io, int64_t position, int32_t value) {
  uint8_t raw[4];
  PutI32(raw, value);
  io.WriteAt(raw, position, 4);
}

}  // namespace

// What the repair knows of one table while it works on it.
struct TDbRepair::Table {
  std::string where;
  int64_t header_position = 0;
  TTableDefBlock header;
  std::vector<TFieldDefEntry> fields;
  std::vector<int64_t> offsets, widths;
  int64_t record_size = 0;
  std::vector<std::vector<int>> keys;  // key field numbers of each index
};

std::vector<std::string> TDbRepair::Run() {
  changes_.clear();
  io_.Lock();
  try {
    for (int t = 0; t < io_.Directory().TableCount() && t < kMaxTables; ++t) RepairTable(t);
  } catch (...) {
    io_.Unlock();
    throw;
  }
  io_.Unlock();
  return changes_;
}

void TDbRepair::RepairTable(int table_number) {
  Table t;
  t.header_position = io_.TableHeaderPosition(table_number);
  io_.ReadTableHeader(table_number, t.header);
  t.where = "table '" + t.header.Name() + "'";
  auto note = [&](const std::string& what) { changes_.push_back(t.where + ": " + what); };

  // Definitions are never changed: a table whose definitions cannot be used is left as it is.
  const int32_t field_count = t.header.FieldCount(), index_count = t.header.IndexCount();
  if (field_count < 0 || field_count > kMaxFields || index_count < 0 || index_count > kMaxIndexes) {
    note("left as it is: its field or index count is out of range");
    return;
  }
  for (int i = 0; i < field_count; ++i) {
    TFieldDefEntry f = t.header.Field(i);
    int64_t width = SlotWidth(f.FieldType, f.FieldSize);
    if (width < 0) {
      note("left as it is: field '" + f.Name + "' cannot be stored");
      return;
    }
    t.fields.push_back(f);
    t.offsets.push_back(t.record_size);
    t.widths.push_back(width);
    t.record_size += width;
  }
  for (int x = 0; x < index_count; ++x) {
    std::vector<int> key;
    for (int32_t n : t.header.Index(x).FieldNumbers) {
      if (n == -1) break;
      if (n < 0 || n >= field_count) {
        note("left as it is: index '" + t.header.Index(x).Name + "' names a field that does not exist");
        return;
      }
      key.push_back(n);
    }
    t.keys.push_back(key);
  }
  if (t.record_size > io_.FileSize()) {
    note("left as it is: its records cannot fit in the file");
    return;
  }

  // Slots: the count covers the slots that exist, up to the last one that names an image.
  const int32_t stated = std::max<int32_t>(t.header.SlotCount(), 0);
  TChain slot_chain = ReadChain(io_, t.header.FirstSlotBlock(), stated, kSlotSize);
  auto count = static_cast<int32_t>(slot_chain.Items.size() / kSlotSize);
  std::vector<TRecordSlot> slots(static_cast<size_t>(count));
  for (int32_t r = 0; r < count; ++r) slots[static_cast<size_t>(r)] = TRecordSlot::Read(&slot_chain.Items[static_cast<size_t>(r) * kSlotSize]);
  while (count > 0 && slots[static_cast<size_t>(count) - 1].DataOffset == 0) --count;
  slots.resize(static_cast<size_t>(count));
  if (count != t.header.SlotCount()) {
    note("SlotCount " + Num(t.header.SlotCount()) + " set to " + Num(count) + ", the slots that name a record image");
    WriteI32(io_, t.header_position + kHdrSlotCount, count);
    t.header.SetSlotCount(count);
  }
  const size_t needed_blocks = (static_cast<size_t>(count) + kPerBlock - 1) / kPerBlock;
  auto end_chain = [&](const std::vector<int32_t>& blocks, const std::string& what) {
    if (needed_blocks == 0 || blocks.size() < needed_blocks) return;
    uint8_t raw[4];
    const int32_t last = blocks[needed_blocks - 1];
    io_.ReadAt(raw, last, 4);
    if (GetI32(raw) == 0) return;
    WriteI32(io_, last, 0);
    note("the last " + what + " block now ends its chain");
  };
  end_chain(slot_chain.Blocks, "slot");

  // Record images.
  const bool encrypted = io_.Options().Encrypted(), compressed = io_.Options().Compressed();
  int auto_inc = -1;
  for (int i = 0; i < field_count && auto_inc < 0; ++i)
    if (t.fields[static_cast<size_t>(i)].FieldType == ftAutoInc) auto_inc = i;
  int64_t highest_auto_inc = INT64_MIN;
  std::vector<std::vector<uint8_t>> plain(static_cast<size_t>(count));  // decoded images of live records
  std::vector<uint8_t> image(static_cast<size_t>(t.record_size));
  for (int32_t r = 0; r < count; ++r) {
    TRecordSlot& slot = slots[static_cast<size_t>(r)];
    const int64_t slot_position = int64_t{slot_chain.Blocks[static_cast<size_t>(r) / kPerBlock]} + 4 + (r % kPerBlock) * kSlotSize;
    const std::string rw = "record " + Num(r);
    if (slot.Deleted > 1) {
      uint8_t one = 1;
      io_.WriteAt(&one, slot_position + 4, 1);
      note(rw + ": deleted flag " + Num(slot.Deleted) + " set to 1");
      slot.Deleted = 1;
    }
    bool readable = slot.DataOffset >= kFileHeaderSize && int64_t{slot.DataOffset} + t.record_size <= io_.FileSize();
    std::vector<uint8_t> decoded(static_cast<size_t>(t.record_size));
    if (readable) {
      io_.ReadAt(image.data(), slot.DataOffset, t.record_size);
      decoded = image;
      for (int i = 0; i < field_count && readable; ++i) {
        const TFieldDefEntry& f = t.fields[static_cast<size_t>(i)];
        if (IsBlobType(f.FieldType)) continue;
        uint8_t* p = decoded.data() + t.offsets[static_cast<size_t>(i)];
        const auto width = static_cast<int32_t>(t.widths[static_cast<size_t>(i)]);
        if (encrypted && f.StoreRaw == 0) io_.DecodeBufferData(image.data() + t.offsets[static_cast<size_t>(i)], p, true, width);
        if (IsStringType(f.FieldType) && std::find(p, p + width, 0) == p + width) readable = false;
      }
    }
    if (!readable) {
      // An empty image at the end of the file: zero values (encoded like any value) and no blobs.
      std::fill(image.begin(), image.end(), 0);
      std::vector<uint8_t> zero;
      for (int i = 0; i < field_count; ++i) {
        const TFieldDefEntry& f = t.fields[static_cast<size_t>(i)];
        if (IsBlobType(f.FieldType) || !encrypted || f.StoreRaw != 0) continue;
        zero.assign(static_cast<size_t>(t.widths[static_cast<size_t>(i)]), 0);
        io_.EncodeBufferData(zero.data(), image.data() + t.offsets[static_cast<size_t>(i)], true,
                             static_cast<int32_t>(zero.size()));
      }
      const int64_t at = io_.FileSize();
      io_.WriteAt(image.data(), at, t.record_size);
      uint8_t raw[kSlotSize];
      TRecordSlot{static_cast<int32_t>(at), 1}.Write(raw);
      io_.WriteAt(raw, slot_position, kSlotSize);
      note(rw + (slot.Deleted ? " (deleted)" : "") + ": its image at " + Num(slot.DataOffset) +
           " cannot be read; marked deleted, with an empty image at " + Num(at));
      slot = {static_cast<int32_t>(at), 1};
      continue;
    }
    for (int i = 0; i < field_count; ++i) {
      const TFieldDefEntry& f = t.fields[static_cast<size_t>(i)];
      const int64_t offset = t.offsets[static_cast<size_t>(i)];
      if (static_cast<int>(i) == auto_inc) highest_auto_inc = std::max<int64_t>(highest_auto_inc, GetI32(&decoded[static_cast<size_t>(offset)]));
      if (!IsBlobType(f.FieldType)) continue;
      TBlobDescriptor d = TBlobDescriptor::Read(&image[static_cast<size_t>(offset)]);
      if (d.AreaOffset == 0 && d.DataLength == 0 && d.AreaSize == 0) continue;
      bool sound = d.DataLength >= 0 && d.AreaSize > d.DataLength && d.AreaSize % kBlobAreaUnit == 0 &&
                   d.AreaOffset >= kFileHeaderSize && int64_t{d.AreaOffset} + d.AreaSize <= io_.FileSize();
      const bool processed = f.StoreRaw == 0 && (encrypted || compressed);
      if (sound && processed && slot.Deleted == 0) {
        TMemoryStream stored, value;
        stored.SetSize(d.DataLength);
        if (d.DataLength > 0) io_.ReadAt(stored.Memory(), d.AreaOffset, d.DataLength);
        try {
          io_.DecodeStreamData(stored, value, compressed && f.StoreRaw == 0, encrypted && f.StoreRaw == 0);
        } catch (const Exception&) {
          sound = false;
        }
      }
      if (sound) continue;
      uint8_t empty[kBlobDescriptorSize] = {};
      io_.WriteAt(empty, int64_t{slot.DataOffset} + offset, kBlobDescriptorSize);
      std::copy(empty, empty + kBlobDescriptorSize, image.begin() + offset);
      std::copy(empty, empty + kBlobDescriptorSize, decoded.begin() + offset);
      note(rw + ": field '" + f.Name + "': the blob descriptor (area " + Num(d.AreaOffset) + ", length " +
           Num(d.DataLength) + ", size " + Num(d.AreaSize) + ") is broken; the field is now empty");
    }
    if (slot.Deleted == 0) plain[static_cast<size_t>(r)] = std::move(decoded);
  }
  if (auto_inc >= 0 && highest_auto_inc != INT64_MIN && highest_auto_inc > t.header.LastAutoIncValue()) {
    WriteI32(io_, t.header_position + kHdrLastAutoInc, static_cast<int32_t>(highest_auto_inc));
    note("LastAutoIncValue " + Num(t.header.LastAutoIncValue()) + " raised to " + Num(highest_auto_inc));
  }

  // Index chains, rebuilt from the keys.
  for (int x = 0; x < index_count; ++x) {
    const TIndexDefEntry def = t.header.Index(x);
    const std::string iw = "index '" + def.Name + "'";
    const int64_t entry = t.header_position + TTableDefBlock::IndexEntryOffset(x);
    std::vector<TKeyedRecord> order;
    std::vector<uint8_t> types;
    for (int f : t.keys[static_cast<size_t>(x)]) types.push_back(t.fields[static_cast<size_t>(f)].FieldType);
    for (int32_t r = 0; r < count; ++r) {
      if (slots[static_cast<size_t>(r)].Deleted != 0) continue;
      TKeyedRecord k{r, {}};
      for (int f : t.keys[static_cast<size_t>(x)]) {
        const auto& p = plain[static_cast<size_t>(r)];
        const TFieldDefEntry& fd = t.fields[static_cast<size_t>(f)];
        const int64_t offset = t.offsets[static_cast<size_t>(f)];
        if (!IsBlobType(fd.FieldType)) {
          k.Values.emplace_back(p.begin() + offset, p.begin() + offset + t.widths[static_cast<size_t>(f)]);
          continue;
        }
        // A blob key: its decoded value (the descriptor was checked above).
        TBlobDescriptor d = TBlobDescriptor::Read(&p[static_cast<size_t>(offset)]);
        TMemoryStream stored, value;
        stored.SetSize(d.DataLength);
        if (d.DataLength > 0) io_.ReadAt(stored.Memory(), d.AreaOffset, d.DataLength);
        try {
          io_.DecodeStreamData(stored, value, compressed && fd.StoreRaw == 0, encrypted && fd.StoreRaw == 0);
        } catch (const Exception&) {
          value.Clear();  // an unprocessed stored blob that does not decode sorts as empty
        }
        k.Values.emplace_back(value.Memory(), value.Memory() + value.Size());
      }
      order.push_back(std::move(k));
    }
    if (count == 0) {
      if (def.HeadSlot != 0) {
        WriteI32(io_, entry + kIdxHeadSlot, 0);
        note(iw + ": HeadSlot " + Num(def.HeadSlot) + " set to 0 in a table without records");
      }
      continue;
    }

    TChain link_chain = def.FirstLinkBlock == 0 ? TChain{} : ReadChain(io_, def.FirstLinkBlock, count, kLinkSize);
    while (link_chain.Blocks.size() < needed_blocks) {
      const auto at = static_cast<int32_t>(io_.FileSize());
      std::vector<uint8_t> block(kLinkBlockSize, 0);
      io_.WriteAt(block.data(), at, kLinkBlockSize);
      if (link_chain.Blocks.empty())
        WriteI32(io_, entry + kIdxFirstLinkBlock, at);
      else
        WriteI32(io_, link_chain.Blocks.back(), at);
      link_chain.Items.resize(std::min<size_t>(static_cast<size_t>(count), (link_chain.Blocks.size() + 1) * kPerBlock) * kLinkSize, 0);
      note(iw + ": link block " + Num(static_cast<int64_t>(link_chain.Blocks.size())) + " was missing; added at " + Num(at));
      link_chain.Blocks.push_back(at);
    }
    end_chain(link_chain.Blocks, iw + " link");

    // A whole chain in key order stays as it is (its order of equal keys included).
    std::vector<TIndexLink> links(static_cast<size_t>(count));
    for (int32_t r = 0; r < count; ++r) links[static_cast<size_t>(r)] = TIndexLink::Read(&link_chain.Items[static_cast<size_t>(r) * kLinkSize]);
    std::vector<bool> live(static_cast<size_t>(count), false);
    std::vector<size_t> keyed_at(static_cast<size_t>(count), 0);
    for (size_t k = 0; k < order.size(); ++k) {
      live[static_cast<size_t>(order[k].RecordId)] = true;
      keyed_at[static_cast<size_t>(order[k].RecordId)] = k;
    }
    auto compare = [&](int32_t a, int32_t b) {
      return CompareIndexKeys(order[keyed_at[static_cast<size_t>(a)]], order[keyed_at[static_cast<size_t>(b)]], types, def.Options);
    };
    if (ChainIsWhole(def.HeadSlot, links, live, compare)) continue;

    SortByIndexKey(order, types, def.Options);
    const int32_t new_head = order.empty() ? -1 : order.front().RecordId;
    std::vector<uint8_t> wanted(static_cast<size_t>(count) * kLinkSize);
    for (int32_t r = 0; r < count; ++r) TIndexLink{r, -1}.Write(&wanted[static_cast<size_t>(r) * kLinkSize]);
    for (size_t k = 0; k + 1 < order.size(); ++k)
      TIndexLink{order[k].RecordId, order[k + 1].RecordId}.Write(&wanted[static_cast<size_t>(order[k].RecordId) * kLinkSize]);
    for (size_t b = 0; b < needed_blocks; ++b) {
      const size_t from = b * kPerBlock * kLinkSize;
      const size_t to = std::min(wanted.size(), from + kPerBlock * kLinkSize);
      if (!std::equal(wanted.begin() + static_cast<std::ptrdiff_t>(from), wanted.begin() + static_cast<std::ptrdiff_t>(to),
                      link_chain.Items.begin() + static_cast<std::ptrdiff_t>(from)))
        io_.WriteAt(wanted.data() + from, int64_t{link_chain.Blocks[b]} + 4, static_cast<int64_t>(to - from));
    }
    if (new_head != def.HeadSlot) WriteI32(io_, entry + kIdxHeadSlot, new_head);
    note(iw + ": chain rebuilt from the records' keys");
  }
}

}  // namespace zq
