// File stream positions kept by the stream itself: reads and writes at the position, seeks from
// each origin, refused negative seeks, sizes seen by a second open of the same file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/stream.h"
#include "tests/support/temp_dir.h"

namespace zq {
namespace {

class FileStreamPosition : public ::testing::Test {
 protected:
  FileStreamPosition() { TFileStream::Create(path_); }
  testing_support::TempDir dir_{"zqfsp"};
  std::string path_ = dir_.File("stream.bin");
};

std::vector<uint8_t> Bytes(int n) {
  std::vector<uint8_t> b(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) b[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + 1);
  return b;
}

TEST_F(FileStreamPosition, ReadsAndWritesAtThePositionFromEveryOrigin) {
  TFileStream s = TFileStream::Create(path_);
  std::vector<uint8_t> data = Bytes(100);
  s.WriteBuffer(data.data(), 100);
  EXPECT_EQ(s.Position(), 100);
  EXPECT_EQ(s.Size(), 100);

  EXPECT_EQ(s.Seek(10, SeekOrigin::Begin), 10);
  uint8_t got[5];
  s.ReadBuffer(got, 5);
  EXPECT_EQ(std::memcmp(got, &data[10], 5), 0);
  EXPECT_EQ(s.Seek(3, SeekOrigin::Current), 18);
  s.ReadBuffer(got, 1);
  EXPECT_EQ(got[0], data[18]);
  EXPECT_EQ(s.Seek(-4, SeekOrigin::End), 96);
  EXPECT_EQ(s.Read(got, 5), 4);  // a short read at the end
  EXPECT_EQ(std::memcmp(got, &data[96], 4), 0);
  EXPECT_EQ(s.Position(), 100);
  EXPECT_EQ(s.Read(got, 1), 0);

  // A negative target is refused and the position stays.
  s.SetPosition(50);
  EXPECT_EQ(s.Seek(-51, SeekOrigin::Current), -1);
  EXPECT_EQ(s.Seek(-1, SeekOrigin::Begin), -1);
  EXPECT_EQ(s.Seek(-101, SeekOrigin::End), -1);
  EXPECT_EQ(s.Position(), 50);

  // Overwrite in the middle, then write past the end: the gap reads as zeros.
  s.SetPosition(20);
  uint8_t mark[3] = {0xAA, 0xBB, 0xCC};
  s.WriteBuffer(mark, 3);
  EXPECT_EQ(s.Position(), 23);
  EXPECT_EQ(s.Seek(10, SeekOrigin::End), 110);
  s.WriteBuffer(mark, 3);
  EXPECT_EQ(s.Size(), 113);
  std::vector<uint8_t> all(113);
  s.SetPosition(0);
  s.ReadBuffer(all.data(), 113);
  EXPECT_EQ(std::memcmp(&all[0], &data[0], 20), 0);
  EXPECT_EQ(all[20], 0xAA);
  EXPECT_EQ(all[22], 0xCC);
  EXPECT_EQ(std::memcmp(&all[23], &data[23], 77), 0);
  for (int i = 100; i < 110; ++i) EXPECT_EQ(all[static_cast<size_t>(i)], 0) << i;
  EXPECT_EQ(all[110], 0xAA);
  uint8_t beyond;
  EXPECT_THROW(s.ReadBuffer(&beyond, 1), EStreamError);
}

TEST_F(FileStreamPosition, ASecondOpenSeesWritesAndSizeAtOnce) {
  TFileStream writer = TFileStream::Create(path_);
  TFileStream reader(path_, FileAccess::Read);
  EXPECT_EQ(reader.Size(), 0);
  std::vector<uint8_t> data = Bytes(40);
  writer.WriteBuffer(data.data(), 40);
  EXPECT_EQ(reader.Size(), 40);
  EXPECT_EQ(reader.Seek(0, SeekOrigin::End), 40);
  reader.SetPosition(30);
  uint8_t got[10];
  reader.ReadBuffer(got, 10);
  EXPECT_EQ(std::memcmp(got, &data[30], 10), 0);
  // The reader's position is its own: the writer's moves do not change it.
  writer.SetPosition(0);
  EXPECT_EQ(reader.Position(), 40);
}

TEST_F(FileStreamPosition, SetSizeAndMoveKeepThePosition) {
  TFileStream s = TFileStream::Create(path_);
  std::vector<uint8_t> data = Bytes(64);
  s.WriteBuffer(data.data(), 64);
  s.SetSize(16);  // the position was beyond the new end
  EXPECT_EQ(s.Size(), 16);
  EXPECT_EQ(s.Position(), 16);
  s.SetPosition(8);
  s.SetSize(32);  // growing keeps it
  EXPECT_EQ(s.Position(), 8);
  TFileStream moved(std::move(s));
  EXPECT_EQ(moved.Position(), 8);
  uint8_t got[8];
  moved.ReadBuffer(got, 8);
  EXPECT_EQ(std::memcmp(got, &data[8], 8), 0);
  EXPECT_EQ(moved.Position(), 16);
}

}  // namespace
}  // namespace zq
