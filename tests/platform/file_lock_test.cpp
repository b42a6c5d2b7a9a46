#include "platform/file_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/stream.h"
#include "tests/support/temp_dir.h"

namespace zq {
namespace {

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fd = ::open(path_.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  int OpenRw() { return ::open(path_.c_str(), O_RDWR | O_CLOEXEC); }
  testing_support::TempDir dir_{"zqlock"};
  std::string path_ = dir_.File("locked");
};

TEST_F(FileLockTest, TwoOpensConflictWithinOneProcess) {
  int a = OpenRw(), b = OpenRw();
  EXPECT_TRUE(TryLockFileRange(a, 1, 1));
  EXPECT_FALSE(TryLockFileRange(b, 1, 1));
  EXPECT_TRUE(TryLockFileRange(b, 2, 1));  // another byte is free
  UnlockFileRange(a, 1, 1);
  EXPECT_TRUE(TryLockFileRange(b, 1, 1));
  ::close(a);
  ::close(b);
}

TEST_F(FileLockTest, ClosingAnotherDescriptorKeepsTheLock) {
  int a = OpenRw(), b = OpenRw(), c = OpenRw();
  ASSERT_TRUE(TryLockFileRange(a, 1, 1));
  ::close(b);  // a per-process record lock would be dropped here
  EXPECT_FALSE(TryLockFileRange(c, 1, 1));
  ::close(a);  // closing the owning open releases it
  EXPECT_TRUE(TryLockFileRange(c, 1, 1));
  ::close(c);
}

TEST_F(FileLockTest, SharedAndExclusiveSharingLocks) {
  int a = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC), b = OpenRw(), c = OpenRw();
  EXPECT_TRUE(TryShareLock(a, false));
  EXPECT_TRUE(TryShareLock(b, false));
  EXPECT_FALSE(TryShareLock(c, true));
  ::close(a);
  ::close(b);
  EXPECT_TRUE(TryShareLock(c, true));  // works on a read-only descriptor too
  int d = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_FALSE(TryShareLock(d, false));
  ::close(c);
  ::close(d);
}

TEST_F(FileLockTest, FileAttributes) {
  EXPECT_TRUE(FileExists(path_));
  EXPECT_FALSE(FileExists(path_ + ".none"));
  EXPECT_FALSE(FileExists(dir_.Path()));  // a folder is not a file
  EXPECT_FALSE(FileIsReadOnly(path_));
  SetFileReadOnly(path_, true);
  EXPECT_TRUE(FileIsReadOnly(path_));
  SetFileReadOnly(path_, false);
  EXPECT_FALSE(FileIsReadOnly(path_));
  EXPECT_THROW(SetFileReadOnly(path_ + ".none", true), EStreamError);
}

TEST(Clock, TickCountNeverDecreases) {
  TClock& clock = SystemClock();
  uint64_t a = clock.TickCount();
  clock.Sleep(0);
  EXPECT_GE(clock.TickCount(), a);
}

}  // namespace
}  // namespace zq
