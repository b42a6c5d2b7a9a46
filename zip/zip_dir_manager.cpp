#include "zip/zip_dir_manager.h"

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"
#include "zip/zip_exception.h"
#include "zip/zip_format.h"

namespace zq {

using zipfmt::Get16;
using zipfmt::Get32;
using zipfmt::Get64;

namespace {

constexpr int64_t kTailSize = 65600;
constexpr int64_t kRebuildBlock = 65535;
constexpr int64_t kPrefixBlock = 10000;
constexpr size_t kMaxNameChars = 1000;
constexpr uint32_t kNoValue32 = 0xFFFFFFFF;

// Reads exactly count bytes at position; false when the stream holds fewer.
bool ReadAt(TStream& stream, int64_t position, void* buffer, int64_t count) {
  if (position < 0 || count < 0) return false;
  if (stream.Seek(position, SeekOrigin::Begin) != position) return false;
  return stream.Read(buffer, count) == count;
}

// Scans [from, to) for the four signature bytes, block by block (blocks overlap by 3 bytes so
// that a signature across a block boundary is seen), calling on_hit(position) for each hit in
// order. on_hit returns the position to continue from (at least hit + 1), or -1 to stop.
template <typename OnHit>
void ScanSignature(TStream& stream, int64_t from, int64_t to, int64_t block, uint32_t signature,
                   OnHit on_hit) {
  uint8_t sig[4];
  zipfmt::Put32(sig, signature);
  std::vector<uint8_t> buf(static_cast<size_t>(block));
  int64_t cur = from;
  while (cur + 4 <= to) {
    int64_t n = std::min(block, to - cur);
    if (!ReadAt(stream, cur, buf.data(), n)) return;
    int64_t next_read = cur + n - 3;
    int64_t i = 0;
    while (i + 4 <= n) {
      if (buf[static_cast<size_t>(i)] == sig[0] &&
          std::memcmp(&buf[static_cast<size_t>(i)], sig, 4) == 0) {
        int64_t next = on_hit(cur + i);
        if (next < 0) return;
        if (next <= cur + i) next = cur + i + 1;
        if (next - cur + 4 > n) {
          next_read = next;
          break;
        }
        i = next - cur;
        continue;
      }
      ++i;
    }
    if (next_read <= cur) next_read = cur + 1;
    cur = next_read;
  }
}

}  // namespace

void TZipEndOfCentralDir::Parse(const uint8_t* p) {
  Signature = Get32(p);
  NumberOfThisDisk = Get16(p + 4);
  NumberOfTheDiskWithTheStart = Get16(p + 6);
  TotalNumberOfEntriesOnThisDisk = Get16(p + 8);
  TotalNumberOfEntries = Get16(p + 10);
  SizeOfTheCentralDirectory = Get32(p + 12);
  OffsetOfStartOfCentralDirectory = Get32(p + 16);
  ZipfileCommentLength = Get16(p + 20);
}

void TZip64EndOfCentralDirLocator::Parse(const uint8_t* p) {
  Signature = Get32(p);
  NumberOfTheDiskWithTheStart = Get32(p + 4);
  RelativeOffsetOfTheZip64EndRecord = Get64(p + 8);
  TotalNumberOfDisks = Get32(p + 16);
}

void TZip64EndOfCentralDir::Parse(const uint8_t* p) {
  Signature = Get32(p);
  SizeOfZip64EndOfCentralDirRecord = Get64(p + 4);
  VersionMadeBy = Get16(p + 12);
  VersionNeededToExtract = Get16(p + 14);
  NumberOfThisDisk = Get32(p + 16);
  NumberOfTheDiskWithTheStart = Get32(p + 20);
  TotalNumberOfEntriesOnThisDisk = Get64(p + 24);
  TotalNumberOfEntries = Get64(p + 32);
  SizeOfTheCentralDirectory = Get64(p + 40);
  OffsetOfStartOfCentralDirectory = Get64(p + 48);
}

void TZipCentralDirFileHeader::Parse(const uint8_t* p) {
  Signature = Get32(p);
  VersionMadeBy = Get16(p + 4);
  VersionNeededToExtract = Get16(p + 6);
  GeneralPurposeBitFlag = Get16(p + 8);
  CompressionMethod = Get16(p + 10);
  LastModFileTime = Get16(p + 12);
  LastModFileDate = Get16(p + 14);
  Crc32 = Get32(p + 16);
  CompressedSize = Get32(p + 20);
  UncompressedSize = Get32(p + 24);
  FileNameLength = Get16(p + 28);
  ExtraFieldLength = Get16(p + 30);
  FileCommentLength = Get16(p + 32);
  DiskNumberStart = Get16(p + 34);
  InternalFileAttributes = Get16(p + 36);
  ExternalFileAttributes = Get32(p + 38);
  RelativeOffsetOfLocalHeader = Get32(p + 42);
}

void TZipLocalFileHeader::Parse(const uint8_t* p) {
  Signature = Get32(p);
  VersionNeededToExtract = Get16(p + 4);
  GeneralPurposeBitFlag = Get16(p + 6);
  CompressionMethod = Get16(p + 8);
  LastModFileTime = Get16(p + 10);
  LastModFileDate = Get16(p + 12);
  Crc32 = Get32(p + 14);
  CompressedSize = Get32(p + 18);
  UncompressedSize = Get32(p + 22);
  FileNameLength = Get16(p + 26);
  ExtraFieldLength = Get16(p + 28);
}

uint64_t TDirItem::EffectiveUncompressedSize() const {
  return CentralDir.UncompressedSize == kNoValue32 ? UncompressedSize : CentralDir.UncompressedSize;
}
uint64_t TDirItem::EffectiveCompressedSize() const {
  return CentralDir.CompressedSize == kNoValue32 ? CompressedSize : CentralDir.CompressedSize;
}
uint64_t TDirItem::EffectiveLocalHeaderOffset() const { return RelativeOffsetOfLocalHeader; }

bool TDirItem::IsDirectory() const {
  return (CentralDir.ExternalFileAttributes & 0x10) != 0 ||
         (!FileName.empty() && FileName.back() == '/');
}

TZipDirManager::TZipDirManager(TStream& stream, bool oem_names)
    : stream_(stream), oem_names_(oem_names) {}

std::string TZipDirManager::ConvertName(std::string raw, uint16_t flags) const {
  size_t zero = raw.find('\0');
  if (zero != std::string::npos) raw.resize(zero);
  std::string name;
  if (flags & 0x0800)
    name = Utf8ToCp1252BestFit(raw);  // the name is flagged as UTF-8
  else if (oem_names_)
    name = Cp850ToCp1252(raw);
  else
    name = std::move(raw);
  if (name.size() > kMaxNameChars) name.resize(kMaxNameChars);
  return name;
}

bool TZipDirManager::FindEndRecord() {
  comment_.clear();
  end_position_ = -1;
  int64_t size = stream_.Size();
  int64_t tail_len = std::min(size, kTailSize);
  if (tail_len < TZipEndOfCentralDir::kSize) return false;
  std::vector<uint8_t> tail(static_cast<size_t>(tail_len));
  int64_t tail_start = size - tail_len;
  if (!ReadAt(stream_, tail_start, tail.data(), tail_len)) return false;
  for (int64_t i = tail_len - 1; i >= 3; --i) {
    if (tail[i] != 0x06 || tail[i - 1] != 0x05 || tail[i - 2] != 0x4B || tail[i - 3] != 0x50)
      continue;
    int64_t start = i - 3;
    if (tail_len - start < TZipEndOfCentralDir::kSize) continue;
    uint16_t comment_len = Get16(&tail[static_cast<size_t>(start + 20)]);
    if (start + TZipEndOfCentralDir::kSize + comment_len != tail_len) continue;
    end_.Parse(&tail[static_cast<size_t>(start)]);
    end_position_ = tail_start + start;
    comment_.assign(reinterpret_cast<const char*>(&tail[static_cast<size_t>(start + 22)]), comment_len);
    return true;
  }
  return false;
}

void TZipDirManager::ReadDirectory(bool repair) {
  items_.clear();
  prefix_size_ = 0;
  rebuilt_ = false;
  zip64_ = false;
  last_disk_ = 0;
  if (!FindEndRecord()) {
    Rebuild();
    return;
  }
  if (ReadCentralDirectory()) {
    if (last_disk_ == 0) DetectPrefix();
    return;
  }
  // The end record points at something that is not a central directory.
  if (!repair) throw MakeZipException(35);
  Rebuild();
}

bool TZipDirManager::ReadCentralDirectory() {
  int64_t size = stream_.Size();
  int64_t work = end_position_;
  uint8_t buf[TZip64EndOfCentralDir::kSize];
  if (work > 20 && ReadAt(stream_, work - 20, buf, 20) && Get32(buf) == kZip64LocatorSig) {
    zip64_ = true;
    locator_.Parse(buf);
    work -= 20;
  }
  if (zip64_) {
    bool found = false;
    if (work > TZip64EndOfCentralDir::kSize) {
      uint64_t at = locator_.RelativeOffsetOfTheZip64EndRecord;
      if (at <= static_cast<uint64_t>(size) &&
          ReadAt(stream_, static_cast<int64_t>(at), buf, TZip64EndOfCentralDir::kSize) &&
          Get32(buf) == kZip64EndRecordSig)
        found = true;
      // With data in front of the archive the locator's offset is short by the prefix: the
      // record normally sits right in front of the locator.
      if (!found && ReadAt(stream_, work - TZip64EndOfCentralDir::kSize, buf, TZip64EndOfCentralDir::kSize) &&
          Get32(buf) == kZip64EndRecordSig)
        found = true;
    }
    if (!found) throw MakeZipException(40);
    end64_.Parse(buf);
    work -= TZip64EndOfCentralDir::kSize;
  }

  if (zip64_) {
    uint32_t disks = locator_.TotalNumberOfDisks == 0 ? 1 : locator_.TotalNumberOfDisks;
    last_disk_ = disks - 1;
  } else {
    last_disk_ = end_.NumberOfThisDisk == 0xFFFF ? 0 : end_.NumberOfThisDisk;
  }
  if (last_disk_ != 0) throw MakeZipException(44);  // multi-volume archives are not read

  uint64_t cd_size = zip64_ ? end64_.SizeOfTheCentralDirectory : end_.SizeOfTheCentralDirectory;
  if (cd_size > static_cast<uint64_t>(work)) return false;
  int64_t start = work - static_cast<int64_t>(cd_size);
  uint64_t count = zip64_ ? end64_.TotalNumberOfEntries : end_.TotalNumberOfEntries;
  central_dir_position_ = start;

  // Each entry takes at least 46 bytes of the file: never reserve more than the file can hold.
  uint64_t room = static_cast<uint64_t>(size - start) / TZipCentralDirFileHeader::kSize;
  items_.reserve(static_cast<size_t>(std::min(count, room)));
  if (count > room) return false;
  if (stream_.Seek(start, SeekOrigin::Begin) != start) return false;
  std::vector<uint8_t> bytes;
  for (uint64_t i = 0; i < count; ++i) {
    int64_t position = stream_.Position();
    if (i == 0) central_dir_position_ = position;
    uint8_t head[TZipCentralDirFileHeader::kSize];
    if (stream_.Read(head, sizeof head) != static_cast<int64_t>(sizeof head)) return false;
    TDirItem item;
    item.CentralDir.Parse(head);
    if (item.CentralDir.Signature != kCentralHeaderSig) return false;
    const auto& cd = item.CentralDir;
    item.UncompressedSize = cd.UncompressedSize;
    item.CompressedSize = cd.CompressedSize;
    item.RelativeOffsetOfLocalHeader = cd.RelativeOffsetOfLocalHeader;
    item.DiskNumberStart = cd.DiskNumberStart;
    if (cd.FileNameLength != 0) {
      bytes.resize(cd.FileNameLength);
      if (stream_.Read(bytes.data(), cd.FileNameLength) != cd.FileNameLength) return false;
      item.FileName = ConvertName(std::string(bytes.begin(), bytes.end()), cd.GeneralPurposeBitFlag);
    }
    if (cd.ExtraFieldLength != 0) {
      bytes.resize(cd.ExtraFieldLength);
      if (stream_.Read(bytes.data(), cd.ExtraFieldLength) != cd.ExtraFieldLength) return false;
      size_t p = 0, remaining = cd.ExtraFieldLength;
      while (remaining >= 4) {
        TZipExtraFieldBlock block;
        block.HeaderID = Get16(&bytes[p]);
        size_t data_size = std::min<size_t>(Get16(&bytes[p + 2]), remaining - 4);
        p += 4;
        remaining -= 4;
        block.Data.assign(bytes.begin() + static_cast<ptrdiff_t>(p),
                          bytes.begin() + static_cast<ptrdiff_t>(p + data_size));
        if (block.HeaderID == 0x0001) {
          size_t q = 0;
          const uint8_t* d = block.Data.data();
          if (cd.UncompressedSize == kNoValue32 && q + 8 <= data_size) item.UncompressedSize = Get64(d + q), q += 8;
          if (cd.CompressedSize == kNoValue32 && q + 8 <= data_size) item.CompressedSize = Get64(d + q), q += 8;
          if (cd.RelativeOffsetOfLocalHeader == kNoValue32 && q + 8 <= data_size)
            item.RelativeOffsetOfLocalHeader = Get64(d + q), q += 8;
          if (cd.DiskNumberStart == 0xFFFF && q + 2 <= data_size) item.DiskNumberStart = Get16(d + q), q += 2;
          item.Zip64Found = true;
        }
        item.ExtraFields.push_back(std::move(block));
        p += data_size;
        remaining -= data_size;
      }
    }
    if (cd.FileCommentLength != 0) {
      bytes.resize(cd.FileCommentLength);
      if (stream_.Read(bytes.data(), cd.FileCommentLength) != cd.FileCommentLength) return false;
      item.Comment.assign(bytes.begin(), bytes.end());
    }
    items_.push_back(std::move(item));
  }
  return true;
}

bool TZipDirManager::LocalHeaderAgrees(int64_t position, const TDirItem& first) {
  uint8_t head[TZipLocalFileHeader::kSize];
  if (!ReadAt(stream_, position, head, sizeof head)) return false;
  TZipLocalFileHeader local;
  local.Parse(head);
  if (local.Signature != kLocalHeaderSig && local.Signature != kOwnLocalHeaderSig) return false;
  int64_t size = stream_.Size();
  if (position + TZipLocalFileHeader::kSize + local.FileNameLength > size) return false;
  const auto& cd = first.CentralDir;
  if (local.VersionNeededToExtract != cd.VersionNeededToExtract ||
      local.CompressionMethod != cd.CompressionMethod || local.LastModFileTime != cd.LastModFileTime ||
      local.LastModFileDate != cd.LastModFileDate)
    return false;
  // With a data descriptor the CRC and sizes follow the data, not the local header.
  if (cd.GeneralPurposeBitFlag & 0x0008) return true;
  auto same = [](uint32_t a, uint32_t b) { return a == b || a == kNoValue32 || b == kNoValue32; };
  return local.Crc32 == cd.Crc32 && same(local.CompressedSize, cd.CompressedSize) &&
         same(local.UncompressedSize, cd.UncompressedSize);
}

void TZipDirManager::DetectPrefix() {
  if (items_.empty()) return;
  const TDirItem& first = items_.front();
  uint64_t start = first.EffectiveLocalHeaderOffset();
  int64_t limit = central_dir_position_;  // local headers lie in front of the directory
  if (start >= static_cast<uint64_t>(limit)) return;
  int64_t found = -1;
  auto test = [&](int64_t hit) -> int64_t {
    if (LocalHeaderAgrees(hit, first)) {
      found = hit;
      return -1;
    }
    return hit + 1;
  };
  ScanSignature(stream_, static_cast<int64_t>(start), std::min(limit + 3, stream_.Size()), kPrefixBlock, kLocalHeaderSig, test);
  if (found < 0)
    ScanSignature(stream_, static_cast<int64_t>(start), std::min(limit + 3, stream_.Size()), kPrefixBlock, kOwnLocalHeaderSig, test);
  if (found < 0) return;
  // The distance between where the first entry's local header really is and the offset the
  // directory stores for it does not depend on the order of the directory. A distance means the
  // offsets count from the start of the archive proper, behind data in front of it: every offset
  // is moved by it. None means the offsets already count that data (a self-extractor), which then
  // ends where the first local header of the file is.
  const int64_t shift = found - static_cast<int64_t>(start);
  if (shift > 0) {
    prefix_size_ = shift;
    for (TDirItem& item : items_)
      if ((item.CentralDir.ExternalFileAttributes & 0x10) == 0)
        item.RelativeOffsetOfLocalHeader += static_cast<uint64_t>(shift);
    return;
  }
  uint64_t lowest = start;
  for (const TDirItem& item : items_) lowest = std::min(lowest, item.EffectiveLocalHeaderOffset());
  prefix_size_ = static_cast<int64_t>(lowest);
}

void TZipDirManager::Rebuild() {
  items_.clear();
  rebuilt_ = true;
  zip64_ = false;
  int64_t size = stream_.Size();
  central_dir_position_ = size;
  // Where the last data-descriptor search started and what it found, so that many entries with
  // descriptors do not rescan the same bytes.
  int64_t descriptor_from = -1, descriptor_at = -1;
  bool any_hit = false;
  ScanSignature(stream_, 0, size, kRebuildBlock, kLocalHeaderSig, [&](int64_t hit) -> int64_t {
    if (hit + TZipLocalFileHeader::kSize > size) return hit + 1;
    any_hit = true;
    uint8_t head[TZipLocalFileHeader::kSize];
    if (!ReadAt(stream_, hit, head, sizeof head)) return hit + 1;
    TZipLocalFileHeader local;
    local.Parse(head);
    if (static_cast<int64_t>(local.CompressedSize) >= size || local.FileNameLength > 260) return hit + 4;
    TDirItem item;
    auto& cd = item.CentralDir;
    cd.VersionMadeBy = local.VersionNeededToExtract;
    cd.VersionNeededToExtract = local.VersionNeededToExtract;
    cd.GeneralPurposeBitFlag = local.GeneralPurposeBitFlag;
    cd.CompressionMethod = local.CompressionMethod;
    cd.LastModFileTime = local.LastModFileTime;
    cd.LastModFileDate = local.LastModFileDate;
    cd.Crc32 = local.Crc32;
    cd.CompressedSize = local.CompressedSize;
    cd.UncompressedSize = local.UncompressedSize;
    cd.FileNameLength = local.FileNameLength;
    cd.RelativeOffsetOfLocalHeader = static_cast<uint32_t>(std::min<int64_t>(hit, kNoValue32));
    item.RelativeOffsetOfLocalHeader = static_cast<uint64_t>(hit);
    int64_t name_end = hit + TZipLocalFileHeader::kSize + local.FileNameLength;
    if (local.FileNameLength != 0 && name_end <= size) {
      std::string raw(std::min<size_t>(local.FileNameLength, 999), '\0');
      if (ReadAt(stream_, hit + TZipLocalFileHeader::kSize, raw.data(), static_cast<int64_t>(raw.size())))
        item.FileName = ConvertName(raw, local.GeneralPurposeBitFlag);
    }
    // Only a name ending in "/" makes a folder; an empty file stays a file.
    cd.ExternalFileAttributes = (!item.FileName.empty() && item.FileName.back() == '/') ? 0x10 : 0x20;
    if (local.GeneralPurposeBitFlag & 0x0008) {
      if (descriptor_from < 0 || hit < descriptor_from || (descriptor_at >= 0 && descriptor_at < hit)) {
        descriptor_from = hit;
        descriptor_at = -1;
        ScanSignature(stream_, hit, size, kRebuildBlock, kDataDescriptorSig, [&](int64_t d) -> int64_t {
          if (d + 16 > size) return d + 1;
          descriptor_at = d;
          return -1;
        });
      }
      uint8_t dd[16];
      if (descriptor_at >= 0 && ReadAt(stream_, descriptor_at, dd, 16)) {
        cd.Crc32 = Get32(dd + 4);
        cd.CompressedSize = Get32(dd + 8);
        cd.UncompressedSize = Get32(dd + 12);
      }
    }
    item.CompressedSize = cd.CompressedSize;
    item.UncompressedSize = cd.UncompressedSize;
    items_.push_back(std::move(item));
    // Nothing inside this header and its name can start another one.
    return std::max<int64_t>(hit + 4, std::min(name_end, size));
  });
  if (!any_hit) throw MakeZipException(35);
}

}  // namespace zq
