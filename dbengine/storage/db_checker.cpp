#include "dbengine/storage/db_checker.h"

#include <algorithm>
#include <unordered_set>

#include "dbengine/format/db_defs.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/format/db_format.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/table_io.h"

namespace zq {

using namespace dbfmt;

namespace {

std::string Num(int64_t v) { return std::to_string(v); }

// A byte range of the file that one structure occupies.
struct Extent {
  int64_t start;
  int64_t end;
  std::string what;
};

struct FieldLayout {
  TFieldDefEntry def;
  int64_t offset = 0;
  int64_t width = 0;
};

}  // namespace

struct TDbChecker::Impl {
  Impl(TStream& s, TDbCheckDecoder* d) : stream(s), decoder(d) {}

  TStream& stream;
  TDbCheckDecoder* decoder;
  int64_t size = 0;
  TDbOptionsBlock options;
  std::vector<std::string> problems;
  std::vector<Extent> extents;

  void Problem(std::string text) { problems.push_back(std::move(text)); }

  // A structure at [pos, pos + count) lies after the file header and inside the file.
  bool Inside(int64_t pos, int64_t count) const {
    return pos >= kFileHeaderSize && count >= 0 && pos + count <= size;
  }

  void Read(int64_t pos, void* buffer, int64_t count) {
    stream.SetPosition(pos);
    stream.ReadBuffer(buffer, count);
  }

  void AddExtent(int64_t pos, int64_t count, std::string what) {
    if (count > 0) extents.push_back({pos, pos + count, std::move(what)});
  }

  void Run() {
    size = stream.Size();
    if (size < kFileHeaderSize) {
      Problem("file: " + Num(size) + " bytes, smaller than the " + Num(kFileHeaderSize) + "-byte file header");
      return;
    }
    TDbSignature signature;
    Read(0, signature.Bytes.data(), kSignatureSize);
    if (!signature.HasMagic()) {
      Problem("signature: not a database file");
      return;
    }
    std::string version = signature.Version();
    if (version == "1.00" || version.compare("2.0") > 0)
      Problem("signature: version '" + version + "' is not supported");
    Read(kOptionsOffset, options.Bytes.data(), kOptionsSize);
    if (options.Encrypted() && options.PasswordCheck().empty())
      Problem("options: the file is encrypted but holds no password check text");
    TTableDirectory directory;
    Read(kDirectoryOffset, directory.Bytes.data(), kDirectorySize);
    AddExtent(0, kFileHeaderSize, "the file header");

    int32_t count = directory.TableCount();
    if (count < 0 || count > kMaxTables) {
      Problem("directory: TableCount " + Num(count) + " is outside 0.." + Num(kMaxTables));
      count = std::clamp<int32_t>(count, 0, kMaxTables);
    }
    std::vector<std::string> names;
    for (int t = 0; t < count; ++t) {
      int32_t offset = directory.TableOffset(t);
      if (!Inside(offset, kTableHeaderSize)) {
        Problem("directory: the header of table " + Num(t) + " at " + Num(offset) + " is outside the file");
        continue;
      }
      TTableDefBlock header;
      Read(offset, header.Bytes.data(), kTableHeaderSize);
      std::string name = header.Name();
      AddExtent(offset, kTableHeaderSize, "the header of table '" + name + "'");
      for (const auto& other : names)
        if (SameName(other, name)) {
          Problem("directory: table " + Num(t) + " has the name '" + name + "' of an earlier table");
          break;
        }
      names.push_back(name);
      CheckTable(header, "table '" + name + "'");
    }
    CheckOverlaps();
  }

  void CheckOverlaps() {
    std::sort(extents.begin(), extents.end(),
              [](const Extent& a, const Extent& b) { return a.start != b.start ? a.start < b.start : a.end < b.end; });
    size_t widest = 0;  // the extent seen so far that reaches furthest
    for (size_t i = 1; i < extents.size(); ++i) {
      const Extent& a = extents[widest];
      const Extent& b = extents[i];
      if (b.start < a.end)
        Problem("overlap: " + b.what + " (" + Num(b.start) + ".." + Num(b.end) + ") overlaps " + a.what + " (" +
                Num(a.start) + ".." + Num(a.end) + ")");
      if (b.end > a.end) widest = i;
    }
  }

  // Reads a chain of blocks of `per` items of item_size bytes; returns the raw items read.
  std::vector<uint8_t> ReadChain(int32_t first, int32_t item_count, int item_size, const std::string& what,
                                 const std::string& where) {
    int64_t block_size = 4 + int64_t{kPerBlock} * item_size;
    int64_t needed = (int64_t{item_count} + kPerBlock - 1) / kPerBlock;
    std::vector<uint8_t> items;
    std::unordered_set<int64_t> seen;
    std::vector<uint8_t> block(static_cast<size_t>(block_size));
    int64_t offset = first;
    for (int64_t k = 0; k < needed; ++k) {
      if (offset == 0) {
        Problem(where + ": the " + what + " chain ends after " + Num(k) + " block(s); " + Num(item_count) +
                " entries need " + Num(needed));
        break;
      }
      if (!Inside(offset, block_size)) {
        Problem(where + ": " + what + " block " + Num(k) + " at " + Num(offset) + " is outside the file");
        break;
      }
      if (!seen.insert(offset).second) {
        Problem(where + ": the " + what + " chain returns to the block at " + Num(offset));
        break;
      }
      AddExtent(offset, block_size, where + " " + what + " block " + Num(k));
      Read(offset, block.data(), block_size);
      int64_t n = std::min<int64_t>(kPerBlock, item_count - k * kPerBlock);
      items.insert(items.end(), block.begin() + 4, block.begin() + 4 + n * item_size);
      int32_t next = GetI32(block.data());
      if (k == needed - 1 && next != 0)
        Problem(where + ": the last " + what + " block (" + Num(k) + ") links on to " + Num(next) + " instead of 0");
      offset = next;
    }
    return items;
  }

  void CheckTable(const TTableDefBlock& header, const std::string& where) {
    int32_t field_count = header.FieldCount();
    int32_t index_count = header.IndexCount();
    bool usable = true;
    if (field_count < 0 || field_count > kMaxFields) {
      Problem(where + ": FieldCount " + Num(field_count) + " is outside 0.." + Num(kMaxFields));
      usable = false;
    }
    if (index_count < 0 || index_count > kMaxIndexes) {
      Problem(where + ": IndexCount " + Num(index_count) + " is outside 0.." + Num(kMaxIndexes));
      usable = false;
    }
    if (!usable) return;

    std::vector<FieldLayout> fields;
    int64_t record_size = 0;
    for (int i = 0; i < field_count; ++i) {
      FieldLayout f;
      f.def = header.Field(i);
      f.width = SlotWidth(f.def.FieldType, f.def.FieldSize);
      if (f.width < 0 || (IsStringType(f.def.FieldType) && f.def.FieldSize < 0)) {
        Problem(where + ": field '" + f.def.Name + "' has type code " + Num(f.def.FieldType) + " and size " +
                Num(f.def.FieldSize) + ", which cannot be stored");
        usable = false;
      }
      for (const auto& g : fields)
        if (SameName(g.def.Name, f.def.Name)) Problem(where + ": field name '" + f.def.Name + "' appears twice");
      f.offset = record_size;
      record_size += std::max<int64_t>(f.width, 0);
      fields.push_back(f);
    }
    if (record_size > size) {
      Problem(where + ": records of " + Num(record_size) + " bytes cannot fit in the file");
      usable = false;
    }

    std::vector<TIndexDefEntry> indexes;
    std::vector<std::vector<int>> keys;
    for (int x = 0; x < index_count; ++x) {
      TIndexDefEntry e = header.Index(x);
      std::vector<int> key;
      for (int32_t n : e.FieldNumbers) {
        if (n == -1) break;
        if (n < 0 || n >= field_count) {
          Problem(where + ": index '" + e.Name + "' names field number " + Num(n) + ", outside 0.." +
                  Num(field_count - 1));
          usable = false;
          continue;
        }
        key.push_back(n);
      }
      if (key.empty() && usable) Problem(where + ": index '" + e.Name + "' has no key fields");
      indexes.push_back(e);
      keys.push_back(key);
    }

    int32_t slot_count = header.SlotCount();
    if (slot_count < 0) {
      Problem(where + ": SlotCount " + Num(slot_count) + " is negative");
      return;
    }
    if (slot_count == 0) {
      for (const auto& e : indexes)
        if (e.HeadSlot != 0)
          Problem(where + ": index '" + e.Name + "' has HeadSlot " + Num(e.HeadSlot) + " in a table without records");
      return;
    }
    if (!usable) return;

    std::vector<uint8_t> raw_slots = ReadChain(header.FirstSlotBlock(), slot_count, kSlotSize, "slot", where);
    auto read_slots = static_cast<int32_t>(raw_slots.size() / kSlotSize);

    // Record images, decoded where possible; live[r] marks a live record whose image was read.
    std::vector<std::vector<uint8_t>> plain(static_cast<size_t>(read_slots));
    std::vector<std::vector<bool>> known(static_cast<size_t>(read_slots));
    // Sized by the slots actually read, never by the header's count alone (it may be damaged).
    std::vector<char> live(static_cast<size_t>(read_slots), 0);
    int auto_inc = -1;
    for (int i = 0; i < field_count && auto_inc < 0; ++i)
      if (fields[static_cast<size_t>(i)].def.FieldType == ftAutoInc) auto_inc = i;
    int64_t highest_auto_inc = INT64_MIN;
    int32_t highest_auto_inc_record = -1;

    for (int32_t r = 0; r < read_slots; ++r) {
      TRecordSlot slot = TRecordSlot::Read(&raw_slots[static_cast<size_t>(r) * kSlotSize]);
      std::string rw = where + ": record " + Num(r);
      if (slot.Deleted > 1) Problem(rw + ": deleted flag is " + Num(slot.Deleted) + " instead of 0 or 1");
      if (!Inside(slot.DataOffset, record_size)) {
        Problem(rw + ": the record image at " + Num(slot.DataOffset) + " (" + Num(record_size) +
                " bytes) is outside the file");
        continue;
      }
      AddExtent(slot.DataOffset, record_size, where + " record " + Num(r));
      std::vector<uint8_t> image(static_cast<size_t>(record_size));
      Read(slot.DataOffset, image.data(), record_size);
      std::vector<bool> field_known(fields.size(), true);
      for (size_t i = 0; i < fields.size(); ++i) {
        const FieldLayout& f = fields[i];
        uint8_t* p = image.data() + f.offset;
        std::string fw = rw + ": field '" + f.def.Name + "'";
        bool raw = f.def.StoreRaw != 0;
        bool encrypted = options.Encrypted() && !raw;
        if (IsBlobType(f.def.FieldType)) {
          CheckBlob(TBlobDescriptor::Read(p), fw, where, r, f.def.Name, options.Compressed() && !raw, encrypted,
                    slot.Deleted == 0);
          continue;
        }
        if (encrypted) {
          if (decoder == nullptr) {
            field_known[i] = false;
            continue;
          }
          std::vector<uint8_t> stored(p, p + f.width);
          decoder->DecodeSlot(stored.data(), p, static_cast<int32_t>(f.width));
        }
        if (IsStringType(f.def.FieldType) && std::find(p, p + f.width, 0) == p + f.width)
          Problem(fw + ": the text has no terminating NUL within its " + Num(f.width) + " bytes");
        if (static_cast<int>(i) == auto_inc && GetI32(p) > highest_auto_inc) {
          highest_auto_inc = GetI32(p);
          highest_auto_inc_record = r;
        }
      }
      plain[static_cast<size_t>(r)] = std::move(image);
      known[static_cast<size_t>(r)] = std::move(field_known);
      live[static_cast<size_t>(r)] = slot.Deleted == 0;
    }
    if (highest_auto_inc_record >= 0 && highest_auto_inc > header.LastAutoIncValue())
      Problem(where + ": record " + Num(highest_auto_inc_record) + " holds the auto-increment value " +
              Num(highest_auto_inc) + ", above LastAutoIncValue " + Num(header.LastAutoIncValue()));

    for (size_t x = 0; x < indexes.size(); ++x)
      CheckIndex(indexes[x], keys[x], fields, slot_count, read_slots, plain, known, live, where);
  }

  void CheckBlob(const TBlobDescriptor& d, const std::string& fw, const std::string& where, int32_t r,
                 const std::string& field, bool compressed, bool encrypted, bool is_live) {
    if (d.AreaOffset == 0 && d.DataLength == 0 && d.AreaSize == 0) return;  // no area
    bool ok = true;
    if (d.DataLength < 0) {
      Problem(fw + ": the blob's stored length " + Num(d.DataLength) + " is negative");
      ok = false;
    }
    if (d.AreaSize <= 0 || d.AreaSize % kBlobAreaUnit != 0 || d.AreaSize <= d.DataLength) {
      Problem(fw + ": the blob area size " + Num(d.AreaSize) + " breaks the 64-byte rule for a stored length of " +
              Num(d.DataLength) + " (a multiple of 64 above it)");
      ok = false;
    }
    int64_t extent = std::max<int64_t>({d.AreaSize, d.DataLength, 0});
    if (!Inside(d.AreaOffset, extent)) {
      Problem(fw + ": the blob area at " + Num(d.AreaOffset) + " (" + Num(extent) + " bytes) is outside the file");
      return;
    }
    AddExtent(d.AreaOffset, extent, where + " record " + Num(r) + " blob area of field '" + field + "'");
    if (!ok || !is_live || decoder == nullptr || !(compressed || encrypted)) return;
    std::vector<uint8_t> stored(static_cast<size_t>(d.DataLength));
    Read(d.AreaOffset, stored.data(), d.DataLength);
    try {
      decoder->DecodeBlob(stored, compressed, encrypted);
    } catch (const Exception& e) {
      Problem(fw + ": the blob data does not decode: " + e.Message());
    }
  }

  void CheckIndex(const TIndexDefEntry& index, const std::vector<int>& key, const std::vector<FieldLayout>& fields,
                  int32_t slot_count, int32_t read_slots, const std::vector<std::vector<uint8_t>>& plain,
                  const std::vector<std::vector<bool>>& known, const std::vector<char>& live,
                  const std::string& where) {
    std::string iw = where + ": index '" + index.Name + "'";
    if (index.FirstLinkBlock == 0) {
      Problem(iw + ": no link blocks although the table has " + Num(slot_count) + " record(s)");
      return;
    }
    std::vector<uint8_t> raw = ReadChain(index.FirstLinkBlock, slot_count, kLinkSize, "link", iw);
    auto link_count = std::min(static_cast<int32_t>(raw.size() / kLinkSize), read_slots);
    std::vector<int32_t> next(static_cast<size_t>(link_count));
    for (int32_t r = 0; r < link_count; ++r) {
      TIndexLink link = TIndexLink::Read(&raw[static_cast<size_t>(r) * kLinkSize]);
      if (link.RecordId != r) Problem(iw + ": the link of record " + Num(r) + " names record " + Num(link.RecordId));
      next[static_cast<size_t>(r)] = link.NextRecordId;
    }

    // The chain from HeadSlot: every record at most once, ending with -1.
    std::vector<char> visited(static_cast<size_t>(link_count), 0);
    std::vector<int32_t> order;
    int32_t r = index.HeadSlot;
    int64_t steps = 0;
    bool broken = false;
    while (r != -1 && steps < slot_count) {
      if (r < 0 || r >= slot_count) {
        Problem(iw + ": the chain leads to record " + Num(r) + ", outside 0.." + Num(slot_count - 1));
        broken = true;
        break;
      }
      if (r >= link_count) {
        broken = true;  // its link block could not be read (reported above)
        break;
      }
      if (visited[static_cast<size_t>(r)]) {
        Problem(iw + ": the chain returns to record " + Num(r));
        broken = true;
        break;
      }
      visited[static_cast<size_t>(r)] = 1;
      if (live[static_cast<size_t>(r)]) order.push_back(r);
      r = next[static_cast<size_t>(r)];
      ++steps;
    }
    if (!broken && r != -1) Problem(iw + ": the chain does not end after " + Num(slot_count) + " records");
    for (int32_t q = 0; q < read_slots; ++q)
      if (live[static_cast<size_t>(q)] && (q >= link_count || !visited[static_cast<size_t>(q)]))
        Problem(iw + ": live record " + Num(q) + " is not in the chain");

    // Key order of the live records along the chain.
    for (int f : key)
      if (IsBlobType(fields[static_cast<size_t>(f)].def.FieldType)) return;
    bool ci = (index.Options & tiCaseInsensitive) != 0;
    bool unique = (index.Options & (tiPrimary | tiUnique)) != 0;
    for (size_t k = 1; k < order.size(); ++k) {
      int32_t a = order[k - 1], b = order[k];
      int c = 0;
      bool comparable = true;
      for (int f : key) {
        if (!known[static_cast<size_t>(a)][static_cast<size_t>(f)] || !known[static_cast<size_t>(b)][static_cast<size_t>(f)]) {
          comparable = false;
          break;
        }
        const FieldLayout& l = fields[static_cast<size_t>(f)];
        c = TDbTableIO::CompareValues(plain[static_cast<size_t>(a)].data() + l.offset, l.width,
                                      plain[static_cast<size_t>(b)].data() + l.offset, l.width, false, ci,
                                      l.def.FieldType);
        if (c != 0) break;
      }
      if (!comparable) return;
      if (index.Options & tiDescending) c = -c;
      if (c > 0) Problem(iw + ": record " + Num(a) + " comes before record " + Num(b) + " but its key sorts after");
      else if (c == 0 && unique)
        Problem(iw + ": records " + Num(a) + " and " + Num(b) + " have the same key in a unique index");
    }
  }
};

void TDbFileIOCheckDecoder::DecodeSlot(const uint8_t* stored, uint8_t* plain, int32_t count) {
  io_.DecodeBufferData(stored, plain, true, count);
}

void TDbFileIOCheckDecoder::DecodeBlob(const std::vector<uint8_t>& stored, bool decompress, bool decrypt) {
  TMemoryStream source, destination;
  source.WriteBuffer(stored.data(), static_cast<int64_t>(stored.size()));
  io_.DecodeStreamData(source, destination, decompress, decrypt);
}

TDbChecker::TDbChecker(TStream& stream, TDbCheckDecoder* decoder) : stream_(stream), decoder_(decoder) {}

std::vector<std::string> TDbChecker::Run() {
  Impl impl(stream_, decoder_);
  impl.Run();
  return std::move(impl.problems);
}

}  // namespace zq
