#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>

#include "platform/exception.h"

namespace zq {

namespace {

bool SetOfdLock(int fd, short type, int64_t offset, int64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required by OFD locks
  for (;;) {
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return false;
    throw EStreamError(FormatMessage("File lock failed: %s", {std::strerror(errno)}));
  }
}

}  // namespace

bool TryLockFileRange(int fd, int64_t offset, int64_t length, bool exclusive) {
  return SetOfdLock(fd, exclusive ? F_WRLCK : F_RDLCK, offset, length);
}

void UnlockFileRange(int fd, int64_t offset, int64_t length) {
  SetOfdLock(fd, F_UNLCK, offset, length);
}

bool TryShareLock(int fd, bool exclusive) {
  for (;;) {
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return false;
    throw EStreamError(FormatMessage("File lock failed: %s", {std::strerror(errno)}));
  }
}

void AvoidAccessTimeUpdates(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  // Refused (EPERM) for a file of another owner: reads then simply keep updating the access time.
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags | O_NOATIME);
}

}  // namespace zq
