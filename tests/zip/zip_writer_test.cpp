// The writer: archives it makes read back through the component and test clean with Info-ZIP
// unzip and Python's zipfile, encrypted ones included.
#include "zip/zip_writer.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_archiver.h"
#include "zip/zip_crypto.h"

namespace zq {
namespace {

class ZipWriterTest : public test::TempDirTest {
 protected:
  // Writes the standard set of entries with the given password and mode.
  void WriteArchive(const std::string& name, const std::string& password, int mode) {
    TFileStream out = TFileStream::Create(Path(name));
    TZipWriter writer(out);
    writer.SetPassword(password);
    writer.SetCompressionMode(mode);
    uint32_t dos = (static_cast<uint32_t>((45 << 9) | (3 << 5) | 9) << 16) | (10 << 11) | (20 << 5) | 5;
    writer.AddDirectory("docs", dos, faArchive);
    TMemoryStream text;
    text.WriteBuffer(text_.data(), static_cast<int64_t>(text_.size()));
    writer.AddStream("docs/readme.txt", text, dos, faArchive | faReadOnly);
    TMemoryStream empty;
    writer.AddStream("empty.txt", empty, dos, faArchive);
    TMemoryStream accented;
    accented.WriteBuffer("e", 1);
    writer.AddStream("caf\xE9.txt", accented, dos, faArchive);   // "é": held by code page 850
    writer.AddStream("\x80uro.txt", accented, dos, faArchive);   // "€": not in 850, stored as UTF-8
    writer.Finish("made by the tests");
  }
  // The four archives the outside readers test: plain, stored, and both encrypted.
  void WriteArchives() {
    WriteArchive("plain.zip", "", 6);
    WriteArchive("stored.zip", "", 0);
    WriteArchive("enc.zip", "s3cret", 6);
    WriteArchive("encs.zip", "s3cret", 0);
  }
  std::string text_ = [] {
    std::string t;
    for (int i = 0; i < 20000; ++i) t += "line " + std::to_string(i) + "\n";
    return t;
  }();
};

TEST_F(ZipWriterTest, CrcThroughZlibMatchesKnownValues) {
  // Check value of the ZIP CRC-32 ("123456789" -> CBF43926) and of an empty buffer.
  EXPECT_EQ(ZipCrc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(ZipCrc32(0, "", 0), 0u);
  // Continuing a CRC gives the same value as one pass.
  uint32_t part = ZipCrc32(0, "12345", 5);
  EXPECT_EQ(ZipCrc32(part, "6789", 4), 0xCBF43926u);
}

TEST_F(ZipWriterTest, ByteLayoutOfAStoredEntry) {
  TMemoryStream out;
  TZipWriter writer(out);
  writer.SetCompressionMode(0);
  TMemoryStream data;
  data.WriteBuffer("abc", 3);
  writer.AddStream("x", data, 0x12345678, 0x20);
  writer.Finish();
  const std::vector<uint8_t>& b = out.Bytes();
  ASSERT_EQ(b.size(), 30u + 1 + 3 + 46 + 1 + 22);
  const uint8_t local[] = {0x50, 0x4B, 0x03, 0x04, 20, 0, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12,
                           0xC2, 0x41, 0x24, 0x35, 3, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 'x', 'a', 'b', 'c'};
  EXPECT_TRUE(std::equal(std::begin(local), std::end(local), b.begin()));
  size_t end = b.size() - 22;
  const uint8_t end_record[] = {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 1, 0, 1, 0, 47, 0, 0, 0, 34, 0, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(std::begin(end_record), std::end(end_record), b.begin() + static_cast<long>(end)));
}

TEST_F(ZipWriterTest, RoundTripThroughTheComponent) {
  for (const std::string password : {"", "s3cret"}) {
    for (int mode : {0, 6}) {
      SCOPED_TRACE(password + " " + std::to_string(mode));
      WriteArchive("w.zip", password, mode);
      TZipArchiver a;
      a.SetFileName(Path("w.zip"));
      a.SetPassword(password);
      a.SetBaseDir(Path("out"));
      a.Open();
      EXPECT_EQ(a.Comment(), "made by the tests");
      ASSERT_EQ(a.FileCount(), 5);
      EXPECT_EQ(a.Item(0).FileName, "docs/");
      EXPECT_EQ(a.Item(3).FileName, "caf\xE9.txt");
      EXPECT_EQ(a.Item(4).FileName, "\x80uro.txt");
      EXPECT_EQ(a.Item(4).CentralDir.GeneralPurposeBitFlag & 0x0800, 0x0800);
      EXPECT_EQ(a.Item(1).Encrypted(), !password.empty());
      int failures = 0;
      a.OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string&, TZipProcessOperation, int, int,
                                   const std::string&, TZipAction&) { ++failures; };
      a.ExtractMatching();
      EXPECT_EQ(failures, 0);
      EXPECT_EQ(test::ReadFile(Path("out/docs/readme.txt")), text_);
      EXPECT_EQ(FileGetAttr(Path("out/docs/readme.txt")) & faReadOnly, static_cast<int>(faReadOnly));
      EXPECT_EQ(static_cast<uint32_t>(FileAge(Path("out/docs/readme.txt"))) >> 16,
                static_cast<uint32_t>((45 << 9) | (3 << 5) | 9));
      EXPECT_EQ(test::ReadFile(Path("out/empty.txt")), "");
      a.Close();
      std::filesystem::permissions(Path("out/docs/readme.txt"), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
      std::filesystem::remove_all(Path("out"));
    }
  }
}

TEST_F(ZipWriterTest, InfoZipTestsTheArchivesClean) {
  if (!test::OnPath("unzip")) GTEST_SKIP() << "Info-ZIP unzip is not on PATH";
  WriteArchives();
  EXPECT_EQ(test::Run(dir_, "unzip", {"-tq", "plain.zip"}), 0);
  EXPECT_EQ(test::Run(dir_, "unzip", {"-tq", "stored.zip"}), 0);
  EXPECT_EQ(test::Run(dir_, "unzip", {"-tq", "-P", "s3cret", "enc.zip"}), 0);
  EXPECT_EQ(test::Run(dir_, "unzip", {"-tq", "-P", "s3cret", "encs.zip"}), 0);
  EXPECT_NE(testing_support::RunProgram("unzip", {"-tq", "-P", "wrong", Path("enc.zip")}).status, 0);
}

TEST_F(ZipWriterTest, PythonTestsTheArchivesClean) {
  if (!test::OnPath("python3")) GTEST_SKIP() << "python3 is not on PATH";
  WriteArchives();
  EXPECT_EQ(test::RunPython(dir_, R"(
import zipfile, sys
for name, pw in (('plain.zip', None), ('stored.zip', None), ('enc.zip', b's3cret'), ('encs.zip', b's3cret')):
    with zipfile.ZipFile(name) as z:
        if pw: z.setpassword(pw)
        bad = z.testzip()
        if bad is not None: sys.exit('bad entry %s in %s' % (bad, name))
        names = z.namelist()
        if names != ['docs/', 'docs/readme.txt', 'empty.txt', 'caf\u00e9.txt', '\u20acuro.txt']:
            sys.exit('names %r' % names)
        if z.read('docs/readme.txt').count(b'\n') != 20000: sys.exit('content')
        if z.comment != b'made by the tests': sys.exit('comment')
)"), 0);
}

TEST_F(ZipWriterTest, ManyEntriesGetZip64EndRecords) {
  {
    TFileStream out = TFileStream::Create(Path("many.zip"));
    TZipWriter writer(out);
    writer.SetCompressionMode(0);
    for (int i = 0; i < 70000; ++i) {
      TMemoryStream data;
      std::string text = std::to_string(i);
      data.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
      writer.AddStream("n/" + std::to_string(i), data, 0x5A216000, faArchive);
    }
    writer.Finish();
  }
  TZipArchiver a;
  a.SetFileName(Path("many.zip"));
  a.Open();
  EXPECT_TRUE(a.IsZip64());
  ASSERT_EQ(a.FileCount(), 70000);
  EXPECT_EQ(a.Item(69999).FileName, "n/69999");
  a.SetBaseDir(Path("out"));
  a.ExtractMatching("69999");
  EXPECT_EQ(test::ReadFile(Path("out/n/69999")), "69999");
  if (!test::OnPath("python3")) GTEST_SKIP() << "python3 is not on PATH: Python's zipfile did not read the archive";
  EXPECT_EQ(test::RunPython(dir_, "import zipfile\nz = zipfile.ZipFile('many.zip')\n"
                                  "assert len(z.namelist()) == 70000\nassert z.read('n/123') == b'123'\n"),
            0);
}

}  // namespace
}  // namespace zq
