// The directory of an open archive: the end records, the entry list read from the central
// directory (or rebuilt from local headers), the archive comment and the prefix size.
//
// Layouts (little-endian, packed):
//   end of central directory (22): sig 50 4B 05 06, disk u16, cd start disk u16, entries on this
//     disk u16, total entries u16, cd size u32, cd offset u32, comment length u16
//   Zip64 locator (20): sig 50 4B 06 07, cd disk u32, Zip64 end record offset u64, total disks u32
//   Zip64 end record (56): sig 50 4B 06 06, record size u64, made by u16, needed u16, disk u32,
//     cd start disk u32, entries on disk u64, total entries u64, cd size u64, cd offset u64
//   central header (46): sig 50 4B 01 02, made by, needed, flags, method, time, date (u16 each),
//     crc, compressed, uncompressed (u32), name len, extra len, comment len, disk start,
//     internal attrs (u16), external attrs u32, local header offset u32
//   local header (30): sig 50 4B 03 04, needed, flags, method, time, date (u16), crc, compressed,
//     uncompressed (u32), name len, extra len (u16)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/stream.h"

namespace zq {

enum TZipProcessOperation {
  poAdd, poMove, poDelete, poUpdate, poExtract, poTest, poRename, poChangeAttr, poChangeComment,
  poMakeSFX
};

inline constexpr uint32_t kLocalHeaderSig = 0x04034b50;
inline constexpr uint32_t kOwnLocalHeaderSig = 0x05045c61;
inline constexpr uint32_t kCentralHeaderSig = 0x02014b50;
inline constexpr uint32_t kEndRecordSig = 0x06054b50;
inline constexpr uint32_t kZip64LocatorSig = 0x07064b50;
inline constexpr uint32_t kZip64EndRecordSig = 0x06064b50;
inline constexpr uint32_t kDataDescriptorSig = 0x08074b50;

struct TZipEndOfCentralDir {
  uint32_t Signature = kEndRecordSig;
  uint16_t NumberOfThisDisk = 0;
  uint16_t NumberOfTheDiskWithTheStart = 0;
  uint16_t TotalNumberOfEntriesOnThisDisk = 0;
  uint16_t TotalNumberOfEntries = 0;
  uint32_t SizeOfTheCentralDirectory = 0;
  uint32_t OffsetOfStartOfCentralDirectory = 0;
  uint16_t ZipfileCommentLength = 0;
  static constexpr int kSize = 22;
  void Parse(const uint8_t* p);
};

struct TZip64EndOfCentralDirLocator {
  uint32_t Signature = kZip64LocatorSig;
  uint32_t NumberOfTheDiskWithTheStart = 0;
  uint64_t RelativeOffsetOfTheZip64EndRecord = 0;
  uint32_t TotalNumberOfDisks = 0;
  static constexpr int kSize = 20;
  void Parse(const uint8_t* p);
};

struct TZip64EndOfCentralDir {
  uint32_t Signature = kZip64EndRecordSig;
  uint64_t SizeOfZip64EndOfCentralDirRecord = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeededToExtract = 0;
  uint32_t NumberOfThisDisk = 0;
  uint32_t NumberOfTheDiskWithTheStart = 0;
  uint64_t TotalNumberOfEntriesOnThisDisk = 0;
  uint64_t TotalNumberOfEntries = 0;
  uint64_t SizeOfTheCentralDirectory = 0;
  uint64_t OffsetOfStartOfCentralDirectory = 0;
  static constexpr int kSize = 56;
  void Parse(const uint8_t* p);
};

struct TZipCentralDirFileHeader {
  uint32_t Signature = kCentralHeaderSig;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeededToExtract = 0;
  uint16_t GeneralPurposeBitFlag = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModFileTime = 0;
  uint16_t LastModFileDate = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalFileAttributes = 0;
  uint32_t ExternalFileAttributes = 0;
  uint32_t RelativeOffsetOfLocalHeader = 0;
  static constexpr int kSize = 46;
  void Parse(const uint8_t* p);
};

struct TZipLocalFileHeader {
  uint32_t Signature = kLocalHeaderSig;
  uint16_t VersionNeededToExtract = 0;
  uint16_t GeneralPurposeBitFlag = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModFileTime = 0;
  uint16_t LastModFileDate = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  static constexpr int kSize = 30;
  void Parse(const uint8_t* p);
};

struct TZipExtraFieldBlock {
  uint16_t HeaderID = 0;
  std::vector<uint8_t> Data;
};

struct TDirItem {
  TZipCentralDirFileHeader CentralDir;
  std::string FileName;  // code page 1252, "/" separators as stored
  std::string Comment;
  std::vector<TZipExtraFieldBlock> ExtraFields;
  // Zip64 values (valid where the 32-bit field holds 0xFFFFFFFF / 0xFFFF)
  uint64_t UncompressedSize = 0;
  uint64_t CompressedSize = 0;
  uint64_t RelativeOffsetOfLocalHeader = 0;
  uint32_t DiskNumberStart = 0;
  bool Zip64Found = false;
  bool Selected = false;
  TZipProcessOperation Operation = poExtract;

  // The effective values: the Zip64 value where the 32-bit field says so.
  uint64_t EffectiveUncompressedSize() const;
  uint64_t EffectiveCompressedSize() const;
  uint64_t EffectiveLocalHeaderOffset() const;
  bool Encrypted() const { return (CentralDir.GeneralPurposeBitFlag & 1) != 0; }
  bool IsDirectory() const;
};

using TZipDirArray = std::vector<TDirItem>;

class TZipDirManager {
 public:
  // The stream is not owned. oem_names: convert names from code page 850 to 1252.
  TZipDirManager(TStream& stream, bool oem_names);

  // The strict end-record search; true when found (end record and comment are then set).
  bool FindEndRecord();
  // Reads the central directory, or rebuilds it from local headers when there is no end record
  // (native 35 when there is no local header either). Raises native 44 for multi-volume
  // archives and 40 for a missing Zip64 end record. repair: rebuild when the directory itself is
  // unreadable too.
  void ReadDirectory(bool repair);

  TZipDirArray& Items() { return items_; }
  const TZipDirArray& Items() const { return items_; }
  const std::string& Comment() const { return comment_; }
  const TZipEndOfCentralDir& EndRecord() const { return end_; }
  const TZip64EndOfCentralDirLocator& Zip64Locator() const { return locator_; }
  const TZip64EndOfCentralDir& Zip64EndRecord() const { return end64_; }
  bool Zip64() const { return zip64_; }
  bool Rebuilt() const { return rebuilt_; }
  int64_t PrefixSize() const { return prefix_size_; }
  int64_t CentralDirPosition() const { return central_dir_position_; }
  // Disk number of the last volume; 0 for a single-volume archive.
  uint32_t LastDisk() const { return last_disk_; }

 private:
  bool ReadCentralDirectory();
  void DetectPrefix();
  void Rebuild();
  bool LocalHeaderAgrees(int64_t position, const TDirItem& first);
  std::string ConvertName(std::string raw, uint16_t flags) const;

  TStream& stream_;
  bool oem_names_;
  TZipDirArray items_;
  std::string comment_;
  TZipEndOfCentralDir end_;
  TZip64EndOfCentralDirLocator locator_;
  TZip64EndOfCentralDir end64_;
  int64_t end_position_ = -1;
  bool zip64_ = false;
  bool rebuilt_ = false;
  int64_t prefix_size_ = 0;
  int64_t central_dir_position_ = 0;
  uint32_t last_disk_ = 0;
};

}  // namespace zq
