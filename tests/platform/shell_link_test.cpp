// Shortcut files: byte layout of the header and link info, and a read-back through a parser
// written here from the published format (not from the writer), which follows the offsets and
// sizes stored in the file rather than assuming them.
#include "platform/shell_link.h"

#include "platform/exception.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

namespace zq {
namespace {

struct ParsedLink {
  uint32_t flags = 0;
  uint32_t attributes = 0;
  uint64_t write_time = 0;
  uint32_t file_size = 0;
  uint32_t show_command = 0;
  uint32_t drive_type = 0;
  std::string local_base_path;
  std::string common_path_suffix;
  std::u16string working_dir;
  size_t end = 0;
};

class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& b) : b_(b) {}
  uint32_t U16(size_t at) const { Need(at, 2); return b_[at] | b_[at + 1] << 8; }
  uint32_t U32(size_t at) const { Need(at, 4); return U16(at) | U16(at + 2) << 16; }
  uint64_t U64(size_t at) const { return U32(at) | static_cast<uint64_t>(U32(at + 4)) << 32; }
  std::string CString(size_t at, size_t limit) const {
    std::string s;
    for (;; ++at) {
      Need(at, 1);
      if (at >= limit) throw std::runtime_error("string runs past its structure");
      if (b_[at] == 0) return s;
      s.push_back(static_cast<char>(b_[at]));
    }
  }
  void Need(size_t at, size_t n) const {
    if (at + n > b_.size()) throw std::runtime_error("truncated");
  }

 private:
  const std::vector<uint8_t>& b_;
};

ParsedLink Parse(const std::vector<uint8_t>& bytes) {
  Reader r(bytes);
  ParsedLink link;
  if (r.U32(0) != 0x4C) throw std::runtime_error("header size");
  const uint8_t clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  if (!std::equal(clsid, clsid + 16, bytes.begin() + 4)) throw std::runtime_error("clsid");
  link.flags = r.U32(20);
  link.attributes = r.U32(24);
  link.write_time = r.U64(44);
  link.file_size = r.U32(52);
  link.show_command = r.U32(60);
  size_t at = 0x4C;
  if (link.flags & 0x01) at += 2 + r.U16(at);  // LinkTargetIDList
  if (link.flags & 0x02) {
    uint32_t size = r.U32(at);
    uint32_t header = r.U32(at + 4);
    uint32_t info_flags = r.U32(at + 8);
    r.Need(at, size);
    if (info_flags & 0x1) {
      size_t volume = at + r.U32(at + 12);
      link.drive_type = r.U32(volume + 4);
      link.local_base_path = r.CString(at + r.U32(at + 16), at + size);
    }
    if (header >= 0x1C) link.common_path_suffix = r.CString(at + r.U32(at + 24), at + size);
    at += size;
  }
  bool unicode = link.flags & 0x80;
  auto skip_string = [&](std::u16string* into) {
    uint32_t count = r.U16(at);
    at += 2;
    for (uint32_t i = 0; i < count; ++i) {
      if (unicode) {
        if (into) into->push_back(static_cast<char16_t>(r.U16(at)));
        at += 2;
      } else {
        r.Need(at, 1);
        if (into) into->push_back(bytes[at]);
        at += 1;
      }
    }
  };
  if (link.flags & 0x04) skip_string(nullptr);  // NAME_STRING
  if (link.flags & 0x08) skip_string(nullptr);  // RELATIVE_PATH
  if (link.flags & 0x10) skip_string(&link.working_dir);
  if (link.flags & 0x20) skip_string(nullptr);  // COMMAND_LINE_ARGUMENTS
  if (link.flags & 0x40) skip_string(nullptr);  // ICON_LOCATION
  // ExtraData blocks up to the terminal block.
  for (;;) {
    uint32_t block = r.U32(at);
    if (block < 4) {
      at += 4;
      break;
    }
    at += block;
  }
  link.end = at;
  return link;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ShellLink, ByteExactLayoutForAMissingTarget) {
  TShellLink link;
  link.SetPath("C:\\Q\\a.EXE");
  link.SetWorkingDirectory("C:\\Q\\");
  std::vector<uint8_t> bytes = link.Serialize();
  std::vector<uint8_t> expected = {
      // header
      0x4C, 0, 0, 0, 0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46,
      0x92, 0, 0, 0,                                    // HasLinkInfo|HasWorkingDir|IsUnicode
      0, 0, 0, 0,                                       // attributes
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // creation, access
      0, 0, 0, 0, 0, 0, 0, 0,                           // write
      0, 0, 0, 0,                                       // size
      0, 0, 0, 0, 1, 0, 0, 0,                           // icon index, show normal
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,               // hot key, reserved
      // link info: size 0x1C + 17 + 11 + 1 = 57
      57, 0, 0, 0, 0x1C, 0, 0, 0, 1, 0, 0, 0, 0x1C, 0, 0, 0, 0x2D, 0, 0, 0, 0, 0, 0, 0, 0x38, 0, 0, 0,
      17, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 0,
      'C', ':', '\\', 'Q', '\\', 'a', '.', 'E', 'X', 'E', 0,
      0,
      // working dir, 5 UTF-16 units
      5, 0, 'C', 0, ':', 0, '\\', 0, 'Q', 0, '\\', 0,
      0, 0, 0, 0};
  EXPECT_EQ(bytes, expected);
}

TEST(ShellLink, SavedFileReadsBackWithTargetAndWorkingDirectory) {
  testing_support::TempDir temp("zq-lnk");
  const std::string& dir = temp.Path();
  std::string target = dir + "/Briskal.EXE";
  {
    std::ofstream exe(target, std::ios::binary);
    exe << std::string(1234, 'x');
  }
  TShellLink link;
  link.SetPath(target);
  link.SetWorkingDirectory(dir + "/");
  std::string lnk = dir + "/Briskal SE 5.2 Logiciel de Gestion.lnk";
  ASSERT_TRUE(link.Save(lnk));
  std::vector<uint8_t> bytes = ReadFile(lnk);
  ParsedLink parsed = Parse(bytes);
  EXPECT_EQ(parsed.local_base_path, target);
  std::string working = dir + "/";
  EXPECT_EQ(parsed.working_dir, std::u16string(working.begin(), working.end()));
  EXPECT_EQ(parsed.common_path_suffix, "");
  EXPECT_EQ(parsed.drive_type, 3u);
  EXPECT_EQ(parsed.show_command, 1u);
  EXPECT_EQ(parsed.attributes, 0x20u);
  EXPECT_EQ(parsed.file_size, 1234u);
  EXPECT_EQ(parsed.end, bytes.size());
  // The write time is the file's, in 100 ns steps since 1601.
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(parsed.write_time / 10000000ULL, static_cast<uint64_t>(st.st_mtim.tv_sec) + 11644473600ULL);

  // A read-only target is marked so; saving again replaces the file.
  chmod(target.c_str(), 0444);
  ASSERT_TRUE(link.Save(lnk));
  EXPECT_EQ(Parse(ReadFile(lnk)).attributes, 0x21u);
}

TEST(ShellLink, AnsiTextsBecomeUnicodeInTheWorkingDirectory) {
  TShellLink link;
  link.SetPath("D:\\Soci\xE9t\xE9\\x.EXE");
  link.SetWorkingDirectory("D:\\Soci\xE9t\xE9\x80\\");
  ParsedLink parsed = Parse(link.Serialize());
  EXPECT_EQ(parsed.local_base_path, "D:\\Soci\xE9t\xE9\\x.EXE");  // the ANSI field keeps 1252
  EXPECT_EQ(parsed.working_dir, u"D:\\Soci\u00E9t\u00E9\u20AC\\");
}

TEST(ShellLink, FailuresAreReportedNotThrown) {
  TShellLink link;
  link.SetPath("x");
  link.SetWorkingDirectory("y");
  EXPECT_FALSE(link.Save("/nonexistent-folder-zq/sub/a.lnk"));
  link.SetWorkingDirectory(std::string(40000, 'w'));
  try {
    link.Serialize();
    ADD_FAILURE() << "no exception";
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "Shortcut path too long");
  }
  testing_support::TempDir dir("zq-lnk");
  EXPECT_FALSE(link.Save(dir.File("never_written.lnk")));
  EXPECT_NE(access(dir.File("never_written.lnk").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace zq
