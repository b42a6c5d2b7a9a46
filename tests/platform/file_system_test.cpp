#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace zq {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  testing_support::TempDir temp_{"zqfs"};
  std::string dir_ = temp_.Path();
};

TEST_F(FileSystemTest, FoldersFilesRenameDelete) {
  std::string deep = dir_ + "/a/b/c";
  EXPECT_FALSE(DirectoryExists(deep));
  EXPECT_TRUE(ForceDirectories(deep + "/"));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_TRUE(ForceDirectories(deep));  // already there
  std::ofstream(dir_ + "/a/file") << "x";
  EXPECT_FALSE(ForceDirectories(dir_ + "/a/file/sub"));  // a file is in the way
  EXPECT_FALSE(ForceDirectories(""));
  EXPECT_TRUE(PathExists(dir_ + "/a/file"));
  EXPECT_TRUE(RenameFile(dir_ + "/a/file", dir_ + "/a/renamed"));
  EXPECT_FALSE(PathExists(dir_ + "/a/file"));
  EXPECT_TRUE(DeleteFile(dir_ + "/a/renamed"));
  EXPECT_FALSE(DeleteFile(dir_ + "/a/renamed"));
  EXPECT_FALSE(DeleteFile(dir_ + "/a"));  // folders are not files
  EXPECT_TRUE(RemoveDir(deep));
}

TEST_F(FileSystemTest, PathParts) {
  EXPECT_EQ(IncludeTrailingPathDelimiter("a/b"), "a/b/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("a/b/"), "a/b/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
  EXPECT_EQ(ExtractFileName("a/b\\c.txt"), "c.txt");
  EXPECT_EQ(ExtractFilePath("a/b\\c.txt"), "a/b\\");
  EXPECT_EQ(ExtractFileName("plain"), "plain");
  EXPECT_EQ(ExtractFilePath("plain"), "");
}

TEST_F(FileSystemTest, AttributesAndReadOnly) {
  std::string f = dir_ + "/f";
  std::ofstream(f) << "x";
  EXPECT_EQ(FileGetAttr(f), static_cast<int>(faArchive));
  EXPECT_EQ(FileGetAttr(dir_), static_cast<int>(faDirectory));
  EXPECT_EQ(FileGetAttr(dir_ + "/missing"), -1);
  EXPECT_TRUE(FileSetAttr(f, faReadOnly | faHidden));
  struct stat st {};
  ASSERT_EQ(::stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & S_IWUSR, 0u);
  EXPECT_EQ(FileGetAttr(f), static_cast<int>(faArchive | faReadOnly));
  EXPECT_TRUE(FileSetAttr(f, faArchive));
  EXPECT_EQ(FileGetAttr(f), static_cast<int>(faArchive));
  EXPECT_FALSE(FileSetAttr(dir_ + "/missing", 0));
}

TEST_F(FileSystemTest, DosDateTimes) {
  // 2013-01-15 10:30:42 local time
  std::tm tm {};
  tm.tm_year = 113;
  tm.tm_mon = 0;
  tm.tm_mday = 15;
  tm.tm_hour = 10;
  tm.tm_min = 30;
  tm.tm_sec = 43;  // odd seconds round down to the two-second step
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  uint32_t dos = DateTimeToFileDate(t);
  EXPECT_EQ(dos >> 16, static_cast<uint32_t>((33 << 9) | (1 << 5) | 15));
  EXPECT_EQ(dos & 0xFFFF, static_cast<uint32_t>((10 << 11) | (30 << 5) | 21));
  EXPECT_EQ(FileDateToDateTime(dos), t - 1);
  EXPECT_EQ(FileDateToDateTime(0), -1);                              // month 0
  EXPECT_EQ(FileDateToDateTime(((41u << 9) | (2 << 5) | 29) << 16), -1);  // 2021-02-29
  EXPECT_NE(FileDateToDateTime(((40u << 9) | (2 << 5) | 29) << 16), -1);  // 2020-02-29
  EXPECT_EQ(FileDateToDateTime(((40u << 9) | (1 << 5) | 1) << 16 | (24 << 11)), -1);  // hour 24
  EXPECT_EQ(DateTimeToFileDate(0), static_cast<uint32_t>((1 << 5 | 1) << 16));  // before 1980
  std::string f = dir_ + "/t";
  std::ofstream(f) << "x";
  ASSERT_TRUE(SetFileModificationTime(f, t - 1));
  EXPECT_EQ(FileAge(f), static_cast<int64_t>(dos));
  EXPECT_EQ(FileAge(dir_ + "/missing"), -1);
}

TEST_F(FileSystemTest, DrivesAndMemory) {
  EXPECT_TRUE(IsRemovableDrive("A:\\setup.zip"));
  EXPECT_TRUE(IsRemovableDrive("b:"));
  EXPECT_FALSE(IsRemovableDrive("C:\\x"));
  EXPECT_FALSE(IsRemovableDrive(dir_ + "/not/there/yet"));  // the temp folder's disk is fixed here
  EXPECT_GT(AvailablePhysicalMemory(), 1u << 20);
  EXPECT_FALSE(GetCurrentDir().empty());
}

}  // namespace
}  // namespace zq
