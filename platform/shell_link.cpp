#include "platform/shell_link.h"

#include <sys/stat.h>

#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace zq {
namespace {

constexpr uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint32_t kHasWorkingDir = 0x10;
constexpr uint32_t kIsUnicode = 0x80;
constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kDriveFixed = 3;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ULL;
// Text lengths the format can carry (a Windows path is far shorter anyway).
constexpr size_t kMaxText = 32767;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}

uint64_t FileTime(const timespec& t) {
  if (t.tv_sec < 0) return 0;
  return (static_cast<uint64_t>(t.tv_sec) + kEpochDifference) * 10000000ULL +
         static_cast<uint64_t>(t.tv_nsec) / 100;
}

}  // namespace

std::vector<uint8_t> TShellLink::Serialize() const {
  if (path_.size() > kMaxText || working_dir_.size() > kMaxText) {
    throw EStreamError("Shortcut path too long");
  }
  uint32_t attributes = 0;
  uint64_t created = 0;
  uint64_t accessed = 0;
  uint64_t written = 0;
  uint32_t size = 0;
  struct stat st {};
  if (!path_.empty() && ::stat(Cp1252ToUtf8(path_).c_str(), &st) == 0) {
    attributes = S_ISDIR(st.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
    if (!(st.st_mode & S_IWUSR)) attributes |= kFileAttributeReadOnly;
    // The host keeps no creation time; the last status change is the closest.
    created = FileTime(st.st_ctim);
    accessed = FileTime(st.st_atim);
    written = FileTime(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) size = static_cast<uint32_t>(st.st_size);
  }

  std::vector<uint8_t> out;
  // ShellLinkHeader
  Put32(out, 0x4C);
  out.insert(out.end(), kLinkClsid, kLinkClsid + 16);
  Put32(out, kHasLinkInfo | kHasWorkingDir | kIsUnicode);
  Put32(out, attributes);
  Put64(out, created);
  Put64(out, accessed);
  Put64(out, written);
  Put32(out, size);
  Put32(out, 0);  // IconIndex
  Put32(out, 1);  // ShowCommand: SW_SHOWNORMAL
  Put16(out, 0);  // HotKey
  Put16(out, 0);  // Reserved1
  Put32(out, 0);  // Reserved2
  Put32(out, 0);  // Reserved3

  // LinkInfo
  const uint32_t header_size = 0x1C;
  const uint32_t volume_id_size = 16 + 1;
  const uint32_t base_offset = header_size + volume_id_size;
  const uint32_t suffix_offset = base_offset + static_cast<uint32_t>(path_.size()) + 1;
  const uint32_t link_info_size = suffix_offset + 1;
  Put32(out, link_info_size);
  Put32(out, header_size);
  Put32(out, 0x1);  // VolumeIDAndLocalBasePath
  Put32(out, header_size);
  Put32(out, base_offset);
  Put32(out, 0);  // CommonNetworkRelativeLinkOffset
  Put32(out, suffix_offset);
  Put32(out, volume_id_size);
  Put32(out, kDriveFixed);
  Put32(out, 0);     // DriveSerialNumber
  Put32(out, 0x10);  // VolumeLabelOffset
  out.push_back(0);  // empty volume label
  out.insert(out.end(), path_.begin(), path_.end());
  out.push_back(0);
  out.push_back(0);  // empty CommonPathSuffix

  // StringData: WORKING_DIR in UTF-16LE (every 1252 character is one UTF-16 unit).
  Put16(out, static_cast<uint32_t>(working_dir_.size()));
  for (char c : working_dir_) Put16(out, static_cast<uint32_t>(Cp1252ToUnicode(static_cast<uint8_t>(c))));

  Put32(out, 0);  // TerminalBlock
  return out;
}

bool TShellLink::Save(const std::string& file_name) {
  try {
    std::vector<uint8_t> bytes = Serialize();
    TFileStream file = TFileStream::Create(file_name);
    file.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return true;
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace zq
