#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cctype>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

namespace zq {

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (DirectoryExists(p)) return true;
  size_t slash = p.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (!ForceDirectories(p.substr(0, slash))) return false;
  }
  if (::mkdir(p.c_str(), 0777) == 0) return true;
  return errno == EEXIST && DirectoryExists(p);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool DeleteFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool RemoveDir(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

std::string GetCurrentDir() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE || buf.size() > (1u << 20)) return ".";
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (path.empty() || path.back() == '/') return path;
  return path + "/";
}

std::string ExtractFileName(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFilePath(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

int FileGetAttr(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return -1;
  uint32_t attr = S_ISDIR(st.st_mode) ? faDirectory : faArchive;
  if ((st.st_mode & S_IWUSR) == 0) attr |= faReadOnly;
  return static_cast<int>(attr);
}

bool FileSetAttr(const std::string& path, uint32_t attributes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & faReadOnly) ? (mode & ~static_cast<mode_t>(S_IWUSR)) : (mode | S_IWUSR);
  if (mode == (st.st_mode & 07777)) return true;
  return ::chmod(path.c_str(), mode) == 0;
}

uint32_t DateTimeToFileDate(std::time_t time) {
  std::tm tm {};
  if (::localtime_r(&time, &tm) == nullptr) return (1u << 5 | 1u) << 16;
  int year = tm.tm_year + 1900;
  if (year < 1980) return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00, the earliest date
  if (year > 2107) year = 2107;
  uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  uint32_t tod = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return date << 16 | tod;
}

std::time_t FileDateToDateTime(uint32_t dos) {
  uint32_t date = dos >> 16, tod = dos & 0xFFFF;
  int day = date & 0x1F, month = (date >> 5) & 0x0F, year = static_cast<int>(date >> 9) + 1980;
  int sec = (tod & 0x1F) * 2, min = (tod >> 5) & 0x3F, hour = tod >> 11;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || min > 59 || sec > 59) return -1;
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (day > kDays[month - 1]) return -1;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return -1;
  std::tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  tm.tm_isdst = -1;
  return ::mktime(&tm);
}

int64_t FileAge(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return DateTimeToFileDate(st.st_mtime);
}

bool SetFileModificationTime(const std::string& path, std::time_t time) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = time;
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool SetFileModificationTime(int fd, std::time_t time) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = time;
  times[1].tv_nsec = 0;
  return ::futimens(fd, times) == 0;
}

bool FlushFileBuffers(int fd) { return ::fsync(fd) == 0; }

bool GetFileIdentity(int fd, TFileIdentity& identity) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

namespace {

bool ReadFlag(const std::string& file) {
  std::ifstream in(file);
  int value = 0;
  return in >> value && value != 0;
}

}  // namespace

bool IsRemovableDrive(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') {
    char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    if (drive == 'A' || drive == 'B') return true;
  }
  // The device holding the path (or its nearest existing parent).
  std::string probe = path.empty() ? "." : path;
  struct stat st {};
  while (::stat(probe.c_str(), &st) != 0) {
    std::string parent = ExtractFilePath(probe);
    while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
    if (parent.empty() || parent == probe) {
      probe = ".";
      if (::stat(probe.c_str(), &st) != 0) return false;
      break;
    }
    probe = parent;
  }
  // Devices do not change their kind while the program runs: remember the answer per device.
  static std::mutex mutex;
  static std::map<dev_t, bool> known;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = known.find(st.st_dev);
  if (it != known.end()) return it->second;
  std::ostringstream dev;
  dev << "/sys/dev/block/" << major(st.st_dev) << ":" << minor(st.st_dev);
  // A partition's own folder has no "removable" flag; its disk's folder (the parent) has.
  bool removable = ReadFlag(dev.str() + "/removable") || ReadFlag(dev.str() + "/../removable");
  known.emplace(st.st_dev, removable);
  return removable;
}

uint64_t AvailablePhysicalMemory() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  uint64_t value = 0;
  std::string unit;
  while (in >> key >> value) {
    std::getline(in, unit);
    if (key == "MemAvailable:") return value * 1024;
  }
  long pages = ::sysconf(_SC_AVPHYS_PAGES);
  long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
  return 0;
}

}  // namespace zq
