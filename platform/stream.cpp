#include "platform/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstring>

namespace zq {

int64_t TStream::Size() {
  int64_t position = Seek(0, SeekOrigin::Current);
  int64_t size = Seek(0, SeekOrigin::End);
  Seek(position, SeekOrigin::Begin);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr int64_t kChunk = 64 * 1024;
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min(count, kChunk)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min(left, kChunk);
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return count;
}

// ---- TMemoryStream ----

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t size = Size();
  if (count <= 0 || position_ >= size) return 0;
  int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  int64_t end = position_ + count;
  if (end > Size()) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Begin: position_ = offset; break;
    case SeekOrigin::Current: position_ += offset; break;
    case SeekOrigin::End: position_ = Size() + offset; break;
  }
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  data_.resize(static_cast<size_t>(size));
  if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  int64_t size = source.Size();
  SetSize(size);
  source.ReadBuffer(data_.data(), size);
  position_ = 0;
}

// ---- TFileStream ----

namespace {

[[noreturn]] void ThrowOpenError(const std::string& path, int error) {
  throw EStreamError(FormatMessage("Cannot open file \"%s\". %s", {path, std::strerror(error)}));
}

}  // namespace

TFileStream::TFileStream(const std::string& path, FileAccess access, FileShare /*share*/)
    : path_(path) {
  int flags = O_CLOEXEC;
  switch (access) {
    case FileAccess::Read: flags |= O_RDONLY; break;
    case FileAccess::Write: flags |= O_WRONLY; break;
    case FileAccess::ReadWrite: flags |= O_RDWR; break;
  }
  fd_ = ::open(path.c_str(), flags);
  if (fd_ < 0) ThrowOpenError(path, errno);
  InitPosition();
}

void TFileStream::InitPosition() {
  struct stat st {};
  positioned_ = fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  if (positioned_) {
    off_t at = ::lseek(fd_, 0, SEEK_CUR);
    position_ = at < 0 ? 0 : static_cast<int64_t>(at);
  }
}

TFileStream TFileStream::Create(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw EStreamError(FormatMessage("Cannot create file \"%s\". %s", {path, std::strerror(errno)}));
  return TFileStream(fd, path);
}

TFileStream::TFileStream(TFileStream&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), positioned_(other.positioned_), position_(other.position_) {
  other.fd_ = -1;
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = positioned_ ? ::pread(fd_, out + done, static_cast<size_t>(count - done), static_cast<off_t>(position_))
                            : ::read(fd_, out + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
    if (positioned_) position_ += n;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = positioned_
                    ? ::pwrite(fd_, in + done, static_cast<size_t>(count - done), static_cast<off_t>(position_))
                    : ::write(fd_, in + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
    if (positioned_) position_ += n;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  if (positioned_) {
    int64_t base = 0;
    if (origin == SeekOrigin::Current) {
      base = position_;
    } else if (origin == SeekOrigin::End) {
      base = TFileStream::Size();
      if (base < 0) return -1;
    }
    if (offset > 0 && base > INT64_MAX - offset) return -1;
    int64_t target = base + offset;
    if (target < 0) return -1;  // as lseek: EINVAL, the position stays
    position_ = target;
    return target;
  }
  int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
  off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return result < 0 ? -1 : static_cast<int64_t>(result);
}

int64_t TFileStream::Size() {
  if (!positioned_) return TStream::Size();
  // Reads and writes are positioned, so the descriptor's own offset is free to move. Asking for the
  // end this way, unlike fstat, does not make the next write stamp a fine-grained change time.
  off_t end = ::lseek(fd_, 0, SEEK_END);
  return end < 0 ? -1 : static_cast<int64_t>(end);
}

void TFileStream::SetSize(int64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw EStreamError("Stream write error");
  if (Position() > size) Seek(size, SeekOrigin::Begin);
}

// ---- file attributes ----

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FileIsReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & S_IWUSR) == 0;
}

void SetFileReadOnly(const std::string& path, bool read_only) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    throw EStreamError(FormatMessage("Cannot open file \"%s\". %s", {path, std::strerror(errno)}));
  mode_t mode = st.st_mode & 07777;
  mode = read_only ? (mode & ~static_cast<mode_t>(S_IWUSR)) : (mode | S_IWUSR);
  if (::chmod(path.c_str(), mode) != 0)
    throw EStreamError(FormatMessage("Cannot change attributes of \"%s\". %s", {path, std::strerror(errno)}));
}

}  // namespace zq
