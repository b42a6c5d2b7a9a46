#include "dbengine/storage/db_file_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_lock.h"

namespace zq {

TDbFileStream::TDbFileStream(const std::string& path, FileAccess access, FileShare share, int32_t start_offset)
    : TFileStream(path, access, share), start_offset_(start_offset < 0 ? 0 : start_offset) {
  // Every open holds a whole-file lock for its sharing mode; the base destructor's close drops it.
  if (!TryShareLock(Handle(), share == FileShare::Exclusive))
    throw EStreamError(FormatMessage(
        "Cannot open file \"%s\". The process cannot access the file because it is being used by another process",
        {path}));
  AvoidAccessTimeUpdates(Handle());
  Seek(0, SeekOrigin::Begin);
}

int64_t TDbFileStream::Write(const void* buffer, int64_t count) {
  flushed_ = false;
  return TFileStream::Write(buffer, count);
}

int64_t TDbFileStream::Seek(int64_t offset, SeekOrigin origin) {
  // The start offset applies to absolute positions only; relative moves stay relative.
  int64_t result = TFileStream::Seek(origin == SeekOrigin::Begin ? offset + start_offset_ : offset, origin);
  return result < 0 ? result : result - start_offset_;
}

int64_t TDbFileStream::Size() {
  int64_t size = TFileStream::Size();
  return size < 0 ? size : size - start_offset_;
}

void TDbFileStream::SetSize(int64_t size) {
  flushed_ = false;
  TFileStream::SetSize(size + start_offset_);
}

void TDbFileStream::SetStartOffset(int32_t offset) {
  if (offset < 0) offset = 0;
  if (offset == start_offset_) return;
  start_offset_ = offset;
  Seek(0, SeekOrigin::Begin);
}

void TDbFileStream::Flush() {
  if (::fsync(Handle()) != 0 && errno != EINVAL)
    throw EStreamError(FormatMessage("Cannot flush file \"%s\". %s", {FileName(), std::strerror(errno)}));
  flushed_ = true;
}

}  // namespace zq
