// File-system services of the host: existence, folders, rename and delete, MS-DOS attributes
// (read-only is the owner write bit), MS-DOS dates and times (local time, two-second steps),
// file times, flushing, removable drives and available physical memory. Paths use "/".
#pragma once

#include <compare>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/stream.h"  // FileExists, FileIsReadOnly, SetFileReadOnly

namespace zq {

// MS-DOS file attribute bits.
inline constexpr uint32_t faReadOnly = 0x01;
inline constexpr uint32_t faHidden = 0x02;
inline constexpr uint32_t faSysFile = 0x04;
inline constexpr uint32_t faVolumeID = 0x08;
inline constexpr uint32_t faDirectory = 0x10;
inline constexpr uint32_t faArchive = 0x20;
inline constexpr uint32_t faNormal = 0x80;

bool DirectoryExists(const std::string& path);
// True when something (file, folder, other) exists at path; symbolic links are not followed.
bool PathExists(const std::string& path);
// Creates the folder with every missing parent; true when it exists as a folder afterwards.
bool ForceDirectories(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
// Deletes a file (not a folder); false when it could not be deleted.
bool DeleteFile(const std::string& path);
bool RemoveDir(const std::string& path);
std::string GetCurrentDir();

// "a/b/" stays, "a/b" becomes "a/b/", "" stays "".
std::string IncludeTrailingPathDelimiter(const std::string& path);
// Text after the last "/" or "\"; text up to and including it.
std::string ExtractFileName(const std::string& path);
std::string ExtractFilePath(const std::string& path);

// MS-DOS attributes of a file or folder: faDirectory for folders, faArchive for other files,
// faReadOnly when the owner may not write. -1 when nothing is there.
int FileGetAttr(const std::string& path);
// Applies the read-only bit (the owner write bit); the other bits have no equivalent here and
// are ignored. False when the file cannot be changed.
bool FileSetAttr(const std::string& path, uint32_t attributes);

// MS-DOS date-time: date in the high 16 bits (day 1-5, month 6-9, year-1980 10-15), time in the
// low 16 bits (seconds/2 0-4, minute 5-10, hour 11-15), local time.
uint32_t DateTimeToFileDate(std::time_t time);
// -1 when the value is not a valid date and time.
std::time_t FileDateToDateTime(uint32_t dos_date_time);
// MS-DOS date-time of a file's modification time; -1 when it does not exist.
int64_t FileAge(const std::string& path);
bool SetFileModificationTime(const std::string& path, std::time_t time);
bool SetFileModificationTime(int fd, std::time_t time);

bool FlushFileBuffers(int fd);

// The identity of an open file (device and inode): the same for every descriptor open on one file,
// also under another name. False when it cannot be read.
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  auto operator<=>(const TFileIdentity&) const = default;
};
bool GetFileIdentity(int fd, TFileIdentity& identity);
// True for the drives "A:" and "B:" and for paths on a device the system reports as removable.
bool IsRemovableDrive(const std::string& path);
// Bytes of physical memory available now.
uint64_t AvailablePhysicalMemory();

}  // namespace zq
