// The database file format: constants, little-endian helpers and the fixed structures, each read
// from and written to a byte buffer at explicit offsets (never through the compiler's struct
// layout).
//
// File map (offsets from the start of the database):
//   0     12    signature: magic bytes 54 69 6E 79 44 42 00, then a 5-byte version text
//   12    2305  not interpreted
//   2317  472   options block
//   2789  1032  table directory: int32 TableCount, 4 unused, 256 int32 table header offsets
//   3821  ...   table headers, slot blocks, record images, blob areas, link blocks (append order)
// All integers are little-endian; every file offset is an int32. Name fields are 33 bytes: at most
// 32 characters and a NUL (all 33 bytes are the name when no NUL is present).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace zq {

namespace dbfmt {

constexpr int kNameSize = 33;
constexpr int kSignatureSize = 12;
constexpr int kMagicSize = 7;           // six magic bytes and a NUL
constexpr int kVersionOffset = 7;
constexpr int kVersionSize = 5;
constexpr int kOptionsOffset = 2317;
constexpr int kOptionsSize = 472;
constexpr int kDirectoryOffset = 2789;
constexpr int kDirectorySize = 1032;
constexpr int kFileHeaderSize = 3821;
constexpr int kMaxTables = 256;
constexpr int kTableHeaderSize = 4821;
constexpr int kMaxFields = 96;
constexpr int kFieldDefSize = 43;
constexpr int kMaxIndexes = 8;
constexpr int kIndexDefSize = 78;
constexpr int kMaxKeyFields = 8;
constexpr int kSlotSize = 5;
constexpr int kLinkSize = 8;
constexpr int kPerBlock = 1024;                              // slots or links per block
constexpr int kSlotBlockSize = 4 + kPerBlock * kSlotSize;    // 5124
constexpr int kLinkBlockSize = 4 + kPerBlock * kLinkSize;    // 8196
constexpr int kBlobDescriptorSize = 20;
constexpr int kBlobAreaUnit = 64;

// Options block, offsets inside the block.
constexpr int kOptCompressed = 0;
constexpr int kOptCompressAlgoName = 2;
constexpr int kOptEncrypted = 35;
constexpr int kOptEncryptMode = 36;
constexpr int kOptEncryptAlgoName = 37;
constexpr int kOptCheckBlobWrites = 70;
constexpr int kOptPasswordCheck = 327;
constexpr int kPasswordCheckSize = 129;  // at most 128 characters and a NUL

// Table directory, offsets inside the block.
constexpr int kDirTableCount = 0;
constexpr int kDirTableOffsets = 8;

// Table header, offsets inside the block.
constexpr int kHdrName = 0;
constexpr int kHdrFirstSlotBlock = 33;
constexpr int kHdrSlotCount = 37;
constexpr int kHdrLastAutoInc = 41;
constexpr int kHdrFieldCount = 45;
constexpr int kHdrFieldDefs = 49;
constexpr int kHdrIndexCount = 4177;  // 49 + 96 * 43
constexpr int kHdrIndexDefs = 4181;

// Field definition entry.
constexpr int kFldType = 33;
constexpr int kFldSize = 34;
constexpr int kFldStoreRaw = 38;

// Index definition entry.
constexpr int kIdxOptions = 33;
constexpr int kIdxFieldNumbers = 34;
constexpr int kIdxFirstLinkBlock = 66;
constexpr int kIdxHeadSlot = 70;

// The six magic bytes of a database file (followed by a NUL in the file).
constexpr uint8_t kMagic[6] = {0x54, 0x69, 0x6E, 0x79, 0x44, 0x42};

inline int32_t GetI32(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  return static_cast<int32_t>(v);
}
inline void PutI32(uint8_t* p, int32_t value) {
  auto v = static_cast<uint32_t>(value);
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline int16_t GetI16(const uint8_t* p) { return static_cast<int16_t>(uint16_t(p[0] | p[1] << 8)); }
inline void PutI16(uint8_t* p, int16_t value) {
  auto v = static_cast<uint16_t>(value);
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline int64_t GetI64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return static_cast<int64_t>(v);
}
inline void PutI64(uint8_t* p, int64_t value) {
  auto v = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline double GetF64(const uint8_t* p) {
  int64_t bits = GetI64(p);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}
inline void PutF64(uint8_t* p, double value) {
  int64_t bits;
  std::memcpy(&bits, &value, 8);
  PutI64(p, bits);
}

// A name field: the characters before the first NUL, or all of the field when there is none.
std::string GetName(const uint8_t* p, int size = kNameSize);
// Writes a name, a NUL and zeros to the end of the field; longer names are cut to size - 1.
void PutName(uint8_t* p, std::string_view name, int size = kNameSize);

// Slot width in the record image of a field type (strings: size + 1; blobs: the 20-byte
// descriptor); -1 for a type code that cannot be stored.
int64_t SlotWidth(uint8_t field_type, int32_t field_size);

// Area size reserved for a blob of the given stored length: the next multiple of 64 above it.
inline int32_t BlobAreaSize(int32_t data_length) { return data_length - data_length % kBlobAreaUnit + kBlobAreaUnit; }

}  // namespace dbfmt

// Field definition entry (43 bytes): name, type code, size, StoreRaw, 4 bytes not interpreted.
struct TFieldDefEntry {
  std::string Name;
  uint8_t FieldType = 0;
  int32_t FieldSize = 0;
  uint8_t StoreRaw = 0;

  static TFieldDefEntry Read(const uint8_t* p);
  // Writes the interpreted bytes; the 4 bytes at 39 are left as they are.
  void Write(uint8_t* p) const;
};

// Index definition entry (78 bytes).
enum TDbIndexOption : uint8_t { tiPrimary = 1, tiUnique = 2, tiDescending = 4, tiCaseInsensitive = 8 };
using TDbIndexOptions = uint8_t;

struct TIndexDefEntry {
  std::string Name;
  TDbIndexOptions Options = 0;
  std::array<int32_t, dbfmt::kMaxKeyFields> FieldNumbers{-1, -1, -1, -1, -1, -1, -1, -1};
  int32_t FirstLinkBlock = 0;
  int32_t HeadSlot = 0;

  static TIndexDefEntry Read(const uint8_t* p);
  void Write(uint8_t* p) const;  // the 4 bytes at 74 are left as they are
};

// Signature block (12 bytes).
struct TDbSignature {
  std::array<uint8_t, dbfmt::kSignatureSize> Bytes{};
  // The bytes before the first NUL of bytes 0-6 are exactly the six magic bytes.
  bool HasMagic() const;
  // The version text: the characters before the first NUL of bytes 7-11.
  std::string Version() const;
  static TDbSignature Make(std::string_view version);
};

// Options block (472 bytes), kept as raw bytes so that uninterpreted areas survive.
struct TDbOptionsBlock {
  std::array<uint8_t, dbfmt::kOptionsSize> Bytes{};

  bool Compressed() const { return Bytes[dbfmt::kOptCompressed] != 0; }
  std::string CompressAlgoName() const { return dbfmt::GetName(&Bytes[dbfmt::kOptCompressAlgoName]); }
  bool Encrypted() const { return Bytes[dbfmt::kOptEncrypted] != 0; }
  uint8_t EncryptMode() const { return Bytes[dbfmt::kOptEncryptMode]; }
  std::string EncryptAlgoName() const { return dbfmt::GetName(&Bytes[dbfmt::kOptEncryptAlgoName]); }
  bool CheckBlobWrites() const { return Bytes[dbfmt::kOptCheckBlobWrites] != 0; }
  std::string PasswordCheck() const {
    return dbfmt::GetName(&Bytes[dbfmt::kOptPasswordCheck], dbfmt::kPasswordCheckSize);
  }

  void SetCompressed(bool on) { Bytes[dbfmt::kOptCompressed] = on ? 1 : 0; }
  void SetCompressAlgoName(std::string_view n) { dbfmt::PutName(&Bytes[dbfmt::kOptCompressAlgoName], n); }
  void SetEncrypted(bool on) { Bytes[dbfmt::kOptEncrypted] = on ? 1 : 0; }
  void SetEncryptMode(uint8_t mode) { Bytes[dbfmt::kOptEncryptMode] = mode; }
  void SetEncryptAlgoName(std::string_view n) { dbfmt::PutName(&Bytes[dbfmt::kOptEncryptAlgoName], n); }
  void SetCheckBlobWrites(bool on) { Bytes[dbfmt::kOptCheckBlobWrites] = on ? 1 : 0; }
  void SetPasswordCheck(std::string_view text) {
    dbfmt::PutName(&Bytes[dbfmt::kOptPasswordCheck], text, dbfmt::kPasswordCheckSize);
  }
};

// Table directory (1032 bytes).
struct TTableDirectory {
  std::array<uint8_t, dbfmt::kDirectorySize> Bytes{};

  int32_t TableCount() const { return dbfmt::GetI32(&Bytes[dbfmt::kDirTableCount]); }
  void SetTableCount(int32_t n) { dbfmt::PutI32(&Bytes[dbfmt::kDirTableCount], n); }
  int32_t TableOffset(int table) const { return dbfmt::GetI32(&Bytes[dbfmt::kDirTableOffsets + 4 * table]); }
  void SetTableOffset(int table, int32_t offset) { dbfmt::PutI32(&Bytes[dbfmt::kDirTableOffsets + 4 * table], offset); }
};

// Table header (4821 bytes), kept as raw bytes; the counters the table layer keeps current are
// reached through accessors.
struct TTableDefBlock {
  std::array<uint8_t, dbfmt::kTableHeaderSize> Bytes{};

  std::string Name() const { return dbfmt::GetName(&Bytes[dbfmt::kHdrName]); }
  void SetName(std::string_view n) { dbfmt::PutName(&Bytes[dbfmt::kHdrName], n); }
  int32_t FirstSlotBlock() const { return dbfmt::GetI32(&Bytes[dbfmt::kHdrFirstSlotBlock]); }
  void SetFirstSlotBlock(int32_t v) { dbfmt::PutI32(&Bytes[dbfmt::kHdrFirstSlotBlock], v); }
  int32_t SlotCount() const { return dbfmt::GetI32(&Bytes[dbfmt::kHdrSlotCount]); }
  void SetSlotCount(int32_t v) { dbfmt::PutI32(&Bytes[dbfmt::kHdrSlotCount], v); }
  int32_t LastAutoIncValue() const { return dbfmt::GetI32(&Bytes[dbfmt::kHdrLastAutoInc]); }
  void SetLastAutoIncValue(int32_t v) { dbfmt::PutI32(&Bytes[dbfmt::kHdrLastAutoInc], v); }
  int32_t FieldCount() const { return dbfmt::GetI32(&Bytes[dbfmt::kHdrFieldCount]); }
  void SetFieldCount(int32_t v) { dbfmt::PutI32(&Bytes[dbfmt::kHdrFieldCount], v); }
  int32_t IndexCount() const { return dbfmt::GetI32(&Bytes[dbfmt::kHdrIndexCount]); }
  void SetIndexCount(int32_t v) { dbfmt::PutI32(&Bytes[dbfmt::kHdrIndexCount], v); }

  static constexpr int FieldEntryOffset(int i) { return dbfmt::kHdrFieldDefs + i * dbfmt::kFieldDefSize; }
  static constexpr int IndexEntryOffset(int i) { return dbfmt::kHdrIndexDefs + i * dbfmt::kIndexDefSize; }
  TFieldDefEntry Field(int i) const { return TFieldDefEntry::Read(&Bytes[FieldEntryOffset(i)]); }
  void SetField(int i, const TFieldDefEntry& e) { e.Write(&Bytes[FieldEntryOffset(i)]); }
  TIndexDefEntry Index(int i) const { return TIndexDefEntry::Read(&Bytes[IndexEntryOffset(i)]); }
  void SetIndex(int i, const TIndexDefEntry& e) { e.Write(&Bytes[IndexEntryOffset(i)]); }

  int32_t FirstLinkBlock(int i) const { return dbfmt::GetI32(&Bytes[IndexEntryOffset(i) + dbfmt::kIdxFirstLinkBlock]); }
  void SetFirstLinkBlock(int i, int32_t v) { dbfmt::PutI32(&Bytes[IndexEntryOffset(i) + dbfmt::kIdxFirstLinkBlock], v); }
  int32_t HeadSlot(int i) const { return dbfmt::GetI32(&Bytes[IndexEntryOffset(i) + dbfmt::kIdxHeadSlot]); }
  void SetHeadSlot(int i, int32_t v) { dbfmt::PutI32(&Bytes[IndexEntryOffset(i) + dbfmt::kIdxHeadSlot], v); }
};

// Blob descriptor (20 bytes): area offset, stored length, area size, 8 bytes carried over.
struct TBlobDescriptor {
  int32_t AreaOffset = 0;
  int32_t DataLength = 0;
  int32_t AreaSize = 0;
  std::array<uint8_t, 8> Reserved{};

  static TBlobDescriptor Read(const uint8_t* p);
  void Write(uint8_t* p) const;
};

// Record slot (5 bytes): record image offset and the deleted flag.
struct TRecordSlot {
  int32_t DataOffset = 0;
  uint8_t Deleted = 0;

  static TRecordSlot Read(const uint8_t* p) { return {dbfmt::GetI32(p), p[4]}; }
  void Write(uint8_t* p) const {
    dbfmt::PutI32(p, DataOffset);
    p[4] = Deleted;
  }
};

// Index link (8 bytes): own record ID and the next record ID in index order (-1 ends the chain).
struct TIndexLink {
  int32_t RecordId = 0;
  int32_t NextRecordId = -1;

  static TIndexLink Read(const uint8_t* p) { return {dbfmt::GetI32(p), dbfmt::GetI32(p + 4)}; }
  void Write(uint8_t* p) const {
    dbfmt::PutI32(p, RecordId);
    dbfmt::PutI32(p + 4, NextRecordId);
  }
};

}  // namespace zq
