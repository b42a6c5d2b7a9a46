#include "platform/stream.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace zq {
namespace {

TEST(MemoryStream, WriteReadSeekAndSize) {
  TMemoryStream s;
  s.WriteBuffer("abcdef", 6);
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.Position(), 6);
  s.SetPosition(2);
  char out[4] = {};
  EXPECT_EQ(s.Read(out, 10), 4);
  EXPECT_EQ(std::string(out, 4), "cdef");
  EXPECT_EQ(s.Read(out, 1), 0);
  s.Seek(-1, SeekOrigin::End);
  s.WriteBuffer("XY", 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), 7), "abcdeXY");
  s.SetSize(3);
  EXPECT_EQ(s.Position(), 3);
}

TEST(MemoryStream, ReadBufferShortRaisesTheRuntimeMessage) {
  TMemoryStream s;
  s.WriteBuffer("ab", 2);
  s.SetPosition(0);
  char out[3];
  try {
    s.ReadBuffer(out, 3);
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
}

TEST(MemoryStream, CopyFromZeroCopiesWholeSourceFromStart) {
  TMemoryStream a, b;
  a.WriteBuffer("hello", 5);
  EXPECT_EQ(b.CopyFrom(a, 0), 5);
  EXPECT_EQ(b.Bytes(), std::vector<uint8_t>({'h', 'e', 'l', 'l', 'o'}));
}

TEST(FileStream, CreateWriteReopenRead) {
  testing_support::TempDir dir;
  auto path = std::filesystem::path(dir.File("stream.bin"));
  {
    auto f = TFileStream::Create(path.string());
    f.WriteBuffer("0123456789", 10);
    EXPECT_EQ(f.Size(), 10);
  }
  TFileStream f(path.string(), FileAccess::Read);
  f.Seek(4, SeekOrigin::Begin);
  char out[3];
  f.ReadBuffer(out, 3);
  EXPECT_EQ(std::string(out, 3), "456");
}

TEST(FileStream, MissingFileRaisesWithTheName) {
  try {
    TFileStream f("/nonexistent/zq/file", FileAccess::Read);
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_NE(e.Message().find("/nonexistent/zq/file"), std::string::npos);
  }
}

TEST(FormatMessage, ReplacesPlaceholdersInOrder) {
  EXPECT_EQ(FormatMessage("Table '%s' not found", {"Config"}), "Table 'Config' not found");
  EXPECT_EQ(FormatMessage("%s-%s 100%%", {"a", "b"}), "a-b 100%");
  EXPECT_EQ(FormatMessage("no args %s", {}), "no args ");
}

}  // namespace
}  // namespace zq
