// Locks on open files.
//
// Byte-range locks are open-file-description locks (F_OFD_SETLK): they belong to one open of the
// file, so two opens conflict even inside one process, and closing some other descriptor of the
// same file never drops them (as it would with per-process record locks).
//
// Sharing modes are whole-file flock() locks, which also belong to the open file description and
// work on descriptors opened read-only: every shared open holds LOCK_SH, an exclusive open holds
// LOCK_EX. Either kind of open fails while the other kind exists, in this or another process.
// flock() and byte-range locks are independent on Linux, so the two never interfere.
#pragma once

#include <cstdint>

namespace zq {

// Tries to take an exclusive (or shared) lock of length bytes at offset without waiting.
// Returns false when another open holds a conflicting lock; EStreamError on any other failure.
bool TryLockFileRange(int fd, int64_t offset, int64_t length, bool exclusive = true);
// Releases a lock taken by TryLockFileRange on the same descriptor.
void UnlockFileRange(int fd, int64_t offset, int64_t length);

// Takes the sharing lock of an open: exclusive or shared. Returns false when a conflicting open of
// the file exists; EStreamError on any other failure.
bool TryShareLock(int fd, bool exclusive);

// Stops reads through fd from updating the file's access time, where the caller may (the file's
// owner). A file read and written in small pieces otherwise pays an inode update on most reads.
void AvoidAccessTimeUpdates(int fd);

}  // namespace zq
