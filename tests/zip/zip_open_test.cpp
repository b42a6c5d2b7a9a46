// Opening archives: the end-record search, Zip64 records, data in front of the archive, the
// rebuild from local headers, names, and the errors of opening.
#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_archiver.h"

namespace zq {
namespace {

using test::RawEntry;
using test::RawZip;

class ZipOpenTest : public test::TempDirTest {
 protected:
  // Opens the archive file name with a fresh component.
  std::unique_ptr<TZipArchiver> OpenArchive(const std::string& name) {
    auto archiver = std::make_unique<TZipArchiver>();
    archiver->SetFileName(Path(name));
    archiver->Open();
    return archiver;
  }
  static RawZip ThreeEntries() {
    RawZip zip;
    zip.entries.push_back({.name = "a.txt", .data = "alpha\n"});
    zip.entries.push_back({.name = "sub/b.txt", .data = std::string(5000, 'b')});
    zip.entries.push_back({.name = "empty/", .data = "", .method = 0, .external_attributes = 0x10});
    return zip;
  }
};

TEST_F(ZipOpenTest, ReadsEntriesInDirectoryOrder) {
  test::WriteFile(Path("t.zip"), ThreeEntries().Build());
  auto a = OpenArchive("t.zip");
  EXPECT_TRUE(a->Active());
  ASSERT_EQ(a->FileCount(), 3);
  EXPECT_EQ(a->Item(0).FileName, "a.txt");
  EXPECT_EQ(a->Item(1).FileName, "sub/b.txt");
  EXPECT_EQ(a->Item(1).EffectiveUncompressedSize(), 5000u);
  EXPECT_EQ(a->Item(1).CentralDir.CompressionMethod, 8);
  EXPECT_EQ(a->Item(2).FileName, "empty/");
  EXPECT_TRUE(a->Item(2).IsDirectory());
  EXPECT_EQ(a->PrefixSize(), 0);
  EXPECT_FALSE(a->Rebuilt());
  EXPECT_FALSE(a->IsZip64());
  try {
    a->Item(3);
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_EQ(e.NativeError(), 16);
    EXPECT_EQ(e.Message(), "Index out of bounds - Native error: 00016");
  }
  a->Close();
  EXPECT_FALSE(a->Active());
  EXPECT_THROW(a->FileCount(), EZipException);
}

TEST_F(ZipOpenTest, CommentMustEndTheFileExactly) {
  RawZip zip = ThreeEntries();
  zip.comment = "package comment";
  test::WriteFile(Path("c.zip"), zip.Build());
  {
    auto a = OpenArchive("c.zip");
    EXPECT_EQ(a->Comment(), "package comment");
    EXPECT_FALSE(a->Rebuilt());
    EXPECT_EQ(a->FileCount(), 3);
  }
  // Garbage after the comment: the strict search fails and the directory is rebuilt.
  test::WriteFile(Path("g.zip"), zip.Build() + "trailing garbage");
  auto a = OpenArchive("g.zip");
  EXPECT_TRUE(a->Rebuilt());
  EXPECT_EQ(a->Comment(), "");
  ASSERT_EQ(a->FileCount(), 3);
  EXPECT_EQ(a->Item(0).FileName, "a.txt");
  EXPECT_EQ(a->Item(0).CentralDir.ExternalFileAttributes, 0x20u);
  EXPECT_EQ(a->Item(2).FileName, "empty/");
  EXPECT_EQ(a->Item(2).CentralDir.ExternalFileAttributes, 0x10u);
  // Without the damaged-archive switch the same file does not open.
  TZipArchiver strict;
  strict.SetName("Archiver");
  strict.SetRepairDamagedArchives(false);
  strict.SetFileName(Path("g.zip"));
  try {
    strict.Open();
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_EQ(e.Message(), "Archiver: Archive is damaged. Open failed - Native error: 00048");
  }
  EXPECT_FALSE(strict.Active());
}

TEST_F(ZipOpenTest, CommentShorterThanDeclaredIsNotAnEndRecord) {
  RawZip zip = ThreeEntries();
  zip.comment = "0123456789";
  std::string bytes = zip.Build();
  bytes.resize(bytes.size() - 3);  // the comment length now overstates what follows
  test::WriteFile(Path("s.zip"), bytes);
  auto a = OpenArchive("s.zip");
  EXPECT_TRUE(a->Rebuilt());
  EXPECT_EQ(a->FileCount(), 3);
}

TEST_F(ZipOpenTest, PrefixOfForeignDataIsDetectedAndShifted) {
  RawZip zip = ThreeEntries();
  zip.prefix = std::string(1000, 'X');
  test::WriteFile(Path("p.zip"), zip.Build());
  auto a = OpenArchive("p.zip");
  EXPECT_EQ(a->PrefixSize(), 1000);
  EXPECT_EQ(a->Item(0).EffectiveLocalHeaderOffset(), 1000u);
  EXPECT_GT(a->Item(1).EffectiveLocalHeaderOffset(), 1000u);
  EXPECT_EQ(a->Item(2).EffectiveLocalHeaderOffset(), a->Item(2).CentralDir.RelativeOffsetOfLocalHeader)
      << "directory entries are not shifted";
  a->SetBaseDir(Path("out"));
  a->ExtractMatching();
  EXPECT_EQ(test::ReadFile(Path("out/a.txt")), "alpha\n");
  EXPECT_EQ(test::ReadFile(Path("out/sub/b.txt")), std::string(5000, 'b'));
}

TEST_F(ZipOpenTest, SelfExtractorOffsetsAreNotShiftedAgain) {
  RawZip zip = ThreeEntries();
  zip.prefix = std::string(1000, 'S');
  zip.offsets_include_prefix = true;
  test::WriteFile(Path("sfx.zip"), zip.Build());
  auto a = OpenArchive("sfx.zip");
  EXPECT_EQ(a->PrefixSize(), 1000);
  EXPECT_EQ(a->Item(0).EffectiveLocalHeaderOffset(), 1000u);
  a->SetBaseDir(Path("out"));
  a->ExtractMatching();
  EXPECT_EQ(test::ReadFile(Path("out/sub/b.txt")), std::string(5000, 'b'));
}

// The prefix comes from where the first listed entry's local header really is against the offset
// the directory stores for it, whatever order the directory lists the entries in.
TEST_F(ZipOpenTest, PrefixDoesNotDependOnTheOrderOfTheDirectory) {
  struct Case {
    const char* what;
    std::string prefix;
    bool offsets_include_prefix;
    std::vector<size_t> order;
    int64_t prefix_size;
  };
  const std::vector<Case> cases = {
      {"directory in reverse order", std::string(1000, 'X'), false, {3, 2, 1, 0}, 1000},
      {"a folder entry listed first", std::string(1000, 'X'), false, {2, 0, 3, 1}, 1000},
      {"first file entry lies beyond the prefix's length", std::string(1000, 'X'), false, {1, 3, 0, 2}, 1000},
      {"offsets already count the prefix", std::string(1000, 'S'), true, {3, 2, 1, 0}, 1000},
      {"no prefix", "", false, {3, 1, 2, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawZip zip;
    zip.entries.push_back({.name = "big.bin", .data = std::string(3000, 'g'), .method = 0});
    zip.entries.push_back({.name = "a.txt", .data = "alpha\n"});
    zip.entries.push_back({.name = "empty/", .data = "", .method = 0, .external_attributes = 0x10});
    zip.entries.push_back({.name = "sub/b.txt", .data = std::string(5000, 'b')});
    zip.prefix = c.prefix;
    zip.offsets_include_prefix = c.offsets_include_prefix;
    zip.central_order = c.order;
    std::string bytes = zip.Build();
    test::WriteFile(Path("order.zip"), bytes);
    auto a = OpenArchive("order.zip");
    EXPECT_EQ(a->PrefixSize(), c.prefix_size);
    // Every file entry's offset points at its own local header.
    for (int i = 0; i < a->FileCount(); ++i) {
      const TDirItem& item = a->Item(i);
      if (item.IsDirectory()) continue;
      uint64_t at = item.EffectiveLocalHeaderOffset();
      ASSERT_LT(at + 30 + item.FileName.size(), bytes.size());
      EXPECT_EQ(bytes.substr(at, 4), std::string("PK\3\4", 4)) << item.FileName;
      EXPECT_EQ(bytes.substr(at + 30, item.FileName.size()), item.FileName);
    }
    std::vector<int> natives;
    a->OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string&, TZipProcessOperation, int native, int,
                                  const std::string&, TZipAction&) { natives.push_back(native); };
    std::string out = Path(std::string("out-") + std::to_string(&c - cases.data()));
    a->SetBaseDir(out);
    a->ExtractMatching();
    EXPECT_TRUE(natives.empty());
    EXPECT_EQ(test::ReadFile(out + "/big.bin"), std::string(3000, 'g'));
    EXPECT_EQ(test::ReadFile(out + "/a.txt"), "alpha\n");
    EXPECT_EQ(test::ReadFile(out + "/sub/b.txt"), std::string(5000, 'b'));
    EXPECT_TRUE(DirectoryExists(out + "/empty"));
  }
}

TEST_F(ZipOpenTest, PrefixWithDataDescriptorOnTheFirstEntry) {
  RawZip zip;
  zip.entries.push_back({.name = "dd.txt", .data = "described later", .data_descriptor = true});
  zip.entries.push_back({.name = "plain.txt", .data = "plain"});
  zip.prefix = std::string(777, 'P');
  test::WriteFile(Path("dd.zip"), zip.Build());
  auto a = OpenArchive("dd.zip");
  EXPECT_EQ(a->PrefixSize(), 777);
  a->SetBaseDir(Path("out"));
  a->ExtractMatching();
  EXPECT_EQ(test::ReadFile(Path("out/dd.txt")), "described later");
  EXPECT_EQ(test::ReadFile(Path("out/plain.txt")), "plain");
}

TEST_F(ZipOpenTest, OemNamesBecomeCodePage1252) {
  RawZip zip;
  zip.entries.push_back({.name = "caf\x82.txt", .data = "x"});    // 0x82 is "é" in code page 850
  zip.entries.push_back({.name = "\x9C\xD5.txt", .data = "y"});   // "£" and dotless i (best fit "i")
  zip.entries.push_back({.name = "caf\xC3\xA9.txt", .data = "z", .flags = 0x0800});  // UTF-8 flagged
  test::WriteFile(Path("oem.zip"), zip.Build());
  auto a = OpenArchive("oem.zip");
  EXPECT_EQ(a->Item(0).FileName, "caf\xE9.txt");
  EXPECT_EQ(a->Item(1).FileName, "\xA3i.txt");
  EXPECT_EQ(a->Item(2).FileName, "caf\xE9.txt");
  a->Close();
  TZipArchiver raw;
  raw.Options().OEMFileNames = false;
  raw.SetFileName(Path("oem.zip"));
  raw.Open();
  EXPECT_EQ(raw.Item(0).FileName, "caf\x82.txt");
}

TEST_F(ZipOpenTest, NamesAreCutAtZeroAndAtThousandCharacters) {
  RawZip zip;
  zip.entries.push_back({.name = std::string("abc\0def", 7), .data = "x"});
  zip.entries.push_back({.name = std::string(1200, 'n'), .data = "y"});
  test::WriteFile(Path("n.zip"), zip.Build());
  auto a = OpenArchive("n.zip");
  EXPECT_EQ(a->Item(0).FileName, "abc");
  EXPECT_EQ(a->Item(1).FileName, std::string(1000, 'n'));
}

TEST_F(ZipOpenTest, MissingFileCreatesAnEmptyArchive) {
  std::string path = Path("new.zip");
  {
    TZipArchiver a;
    a.SetFileName(path);
    a.Open();
    EXPECT_TRUE(a.Active());
    EXPECT_EQ(a.FileCount(), 0);
    EXPECT_TRUE(test::Exists(path));
    a.Close();
  }
  std::string bytes = test::ReadFile(path);
  ASSERT_EQ(bytes.size(), 22u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x05\x06"));
  EXPECT_EQ(bytes.substr(4), std::string(18, '\0'));
  // and it opens as an empty archive
  auto a = OpenArchive("new.zip");
  EXPECT_EQ(a->FileCount(), 0);
  EXPECT_FALSE(a->Rebuilt());
}

TEST_F(ZipOpenTest, InMemoryArchiveIsCreatedEmpty) {
  TZipArchiver a;
  a.SetInMemory(true);  // no file name needed
  a.Open();
  EXPECT_TRUE(a.Active());
  EXPECT_EQ(a.FileCount(), 0);
  a.Close();
  EXPECT_FALSE(a.Active());
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(ZipOpenTest, ZeroLengthFileIsInvalid) {
  test::WriteFile(Path("zero.zip"), std::string());
  TZipArchiver a;
  a.SetName("Archiver");
  a.SetFileName(Path("zero.zip"));
  try {
    a.Open();
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_EQ(e.Message(), "Invalid archive file. - Native error: 00035");  // no component prefix
    EXPECT_EQ(e.NativeError(), 35);
    EXPECT_EQ(e.ErrorCode(), 18);
  }
  EXPECT_FALSE(a.Active());
  test::WriteFile(Path("junk.zip"), std::string(70000, '\0'));
  a.SetFileName(Path("junk.zip"));
  EXPECT_THROW(a.Open(), EZipException);
}

TEST_F(ZipOpenTest, FailedOpenClosesThePreviousArchive) {
  test::WriteFile(Path("t.zip"), ThreeEntries().Build());
  test::WriteFile(Path("zero.zip"), std::string());
  TZipArchiver a;
  a.SetFileName(Path("t.zip"));
  a.Open();
  a.SetFileName(Path("zero.zip"));
  EXPECT_THROW(a.Open(), EZipException);
  EXPECT_FALSE(a.Active());
}

TEST_F(ZipOpenTest, DamagedLocalHeaderIsRebuiltAsOneEntry) {
  // Only a local header and its name: corrupt past the name, no directory.
  RawZip zip;
  zip.entries.push_back({.name = "lonely.txt", .data = "some data"});
  std::string bytes = zip.Build();
  bytes.resize(30 + 10 + 3);
  test::WriteFile(Path("d.zip"), bytes);
  auto a = OpenArchive("d.zip");
  EXPECT_TRUE(a->Rebuilt());
  ASSERT_EQ(a->FileCount(), 1);
  EXPECT_EQ(a->Item(0).FileName, "lonely.txt");
  EXPECT_EQ(a->Item(0).CentralDir.ExternalFileAttributes, 0x20u);
  EXPECT_EQ(a->Item(0).EffectiveLocalHeaderOffset(), 0u);
}

TEST_F(ZipOpenTest, RebuildKeepsEmptyFilesAsFilesAndReadsDescriptors) {
  RawZip zip;
  zip.entries.push_back({.name = "empty.txt", .data = "", .method = 0});
  zip.entries.push_back({.name = "folder/", .data = "", .method = 0, .external_attributes = 0x10});
  zip.entries.push_back({.name = "streamed.txt", .data = "streamed content", .data_descriptor = true});
  std::string bytes = zip.Build();
  bytes.resize(bytes.size() - 22);  // no end record
  test::WriteFile(Path("r.zip"), bytes);
  auto a = OpenArchive("r.zip");
  ASSERT_TRUE(a->Rebuilt());
  ASSERT_EQ(a->FileCount(), 3);
  EXPECT_EQ(a->Item(0).CentralDir.ExternalFileAttributes, 0x20u);
  EXPECT_EQ(a->Item(1).CentralDir.ExternalFileAttributes, 0x10u);
  EXPECT_EQ(a->Item(2).CentralDir.Crc32, test::Crc("streamed content"));
  EXPECT_EQ(a->Item(2).EffectiveUncompressedSize(), 16u);
  a->SetBaseDir(Path("out"));
  a->ExtractMatching();
  EXPECT_TRUE(test::Exists(Path("out/empty.txt")));
  EXPECT_EQ(test::ReadFile(Path("out/streamed.txt")), "streamed content");
  EXPECT_TRUE(DirectoryExists(Path("out/folder")));
}

TEST_F(ZipOpenTest, DirectoryThatIsNotThereIsRebuilt) {
  RawZip zip = ThreeEntries();
  std::string bytes = zip.Build();
  // Central directory size in the end record made too large: its start is computed wrong.
  size_t end = bytes.size() - 22;
  bytes[end + 12] = static_cast<char>(bytes[end + 12] + 7);
  test::WriteFile(Path("bad.zip"), bytes);
  auto a = OpenArchive("bad.zip");
  EXPECT_TRUE(a->Rebuilt());
  EXPECT_EQ(a->FileCount(), 3);
}

TEST_F(ZipOpenTest, HugeEntryCountDoesNotAllocate) {
  RawZip zip = ThreeEntries();
  zip.count_override = 0xFFFE;
  test::WriteFile(Path("count.zip"), zip.Build());
  auto a = OpenArchive("count.zip");  // the directory runs out: rebuilt from local headers
  EXPECT_TRUE(a->Rebuilt());
  EXPECT_EQ(a->FileCount(), 3);
}

TEST_F(ZipOpenTest, Zip64LocatorWithoutRecordFails) {
  RawZip zip = ThreeEntries();
  std::string bytes = zip.Build();
  std::string locator;
  RawZip::Put32(locator, 0x07064b50);
  RawZip::Put32(locator, 0);
  RawZip::Put32(locator, 5);  // offset 5: nothing there
  RawZip::Put32(locator, 0);
  RawZip::Put32(locator, 1);
  bytes.insert(bytes.size() - 22, locator);
  test::WriteFile(Path("z.zip"), bytes);
  TZipArchiver a;
  a.SetName("Archiver");
  a.SetFileName(Path("z.zip"));
  try {
    a.Open();
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_EQ(e.Message(), "Cannot find Zip64 directory end record - Native error: 00040");
  }
}

TEST_F(ZipOpenTest, MultiVolumeArchivesAreRefused) {
  std::string bytes = ThreeEntries().Build();
  bytes[bytes.size() - 22 + 4] = 2;  // this is disk 2
  test::WriteFile(Path("mv.zip"), bytes);
  TZipArchiver a;
  a.SetFileName(Path("mv.zip"));
  try {
    a.Open();
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_EQ(e.NativeError(), 44);
    EXPECT_EQ(e.Message(), "Cannot open archive file. Opening aborted or invalid file - Native error: 00044");
  }
}

TEST_F(ZipOpenTest, SpanningModeCannotChangeWhileOpen) {
  test::WriteFile(Path("t.zip"), ThreeEntries().Build());
  auto a = OpenArchive("t.zip");
  try {
    a->SetSpanningMode(smSplitting);
    FAIL();
  } catch (const EZipException&) {
    FAIL() << "a plain exception is expected";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot set spanning mode on open archive");
  }
  a->Close();
  a->SetSpanningMode(smSplitting);
  EXPECT_EQ(a->SpanningMode(), smSplitting);
}

TEST_F(ZipOpenTest, AfterOpenFires) {
  test::WriteFile(Path("t.zip"), ThreeEntries().Build());
  TZipArchiver a;
  int fired = 0;
  a.AfterOpen = [&](TZipBaseArchiver* sender) {
    EXPECT_EQ(sender, &a);
    EXPECT_TRUE(a.Active());
    ++fired;
  };
  a.SetFileName(Path("t.zip"));
  a.Open();
  EXPECT_EQ(fired, 1);
}

TEST_F(ZipOpenTest, Zip64ValuesInTheCentralDirectory) {
  RawZip zip;
  zip.entries.push_back({.name = "first.txt", .data = "first"});
  zip.entries.push_back({.name = "z.txt", .data = std::string(3000, 'z'), .zip64_central = true});
  zip.prefix = std::string(100, 'p');
  test::WriteFile(Path("x64.zip"), zip.Build());
  auto a = OpenArchive("x64.zip");
  const TDirItem& item = a->Item(1);
  EXPECT_TRUE(item.Zip64Found);
  EXPECT_EQ(item.CentralDir.UncompressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(item.EffectiveUncompressedSize(), 3000u);
  EXPECT_EQ(item.EffectiveCompressedSize(), test::RawDeflate(std::string(3000, 'z')).size());
  EXPECT_EQ(item.EffectiveLocalHeaderOffset(), 100u + 30 + 9 + test::RawDeflate("first").size());
  a->SetBaseDir(Path("out"));
  a->ExtractMatching();
  EXPECT_EQ(test::ReadFile(Path("out/z.txt")), std::string(3000, 'z'));
}

// Archives written by Python's zipfile with Zip64 records, with and without data in front.
TEST_F(ZipOpenTest, PythonZip64Archives) {
  if (!test::OnPath("python3")) GTEST_SKIP() << "python3 is not on PATH";
  ASSERT_EQ(test::RunPython(dir_, R"(
import zipfile
with zipfile.ZipFile('z64.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    with z.open('big.txt', 'w', force_zip64=True) as f:
        f.write(b'zip64 content ' * 1000)
    z.writestr('small.txt', 'small')
with zipfile.ZipFile('many.zip', 'w', zipfile.ZIP_STORED) as z:
    for i in range(65540):
        z.writestr('d/f%05d' % i, str(i))
data = open('z64.zip', 'rb').read()
open('pz64.zip', 'wb').write(b'#' * 1000 + data)
)"), 0);
  {
    auto a = OpenArchive("z64.zip");
    EXPECT_EQ(a->Item(0).EffectiveUncompressedSize(), 14000u);
    a->SetBaseDir(Path("out"));
    a->ExtractMatching();
    std::string expected;
    for (int i = 0; i < 1000; ++i) expected += "zip64 content ";
    EXPECT_EQ(test::ReadFile(Path("out/big.txt")), expected);
    EXPECT_EQ(test::ReadFile(Path("out/small.txt")), "small");
  }
  {
    auto a = OpenArchive("many.zip");
    EXPECT_TRUE(a->IsZip64());
    ASSERT_EQ(a->FileCount(), 65540);
    EXPECT_EQ(a->Item(65539).FileName, "d/f65539");
    a->SetBaseDir(Path("many"));
    a->ExtractMatching("f6553?");
    EXPECT_EQ(test::ReadFile(Path("many/d/f65539")), "65539");
    EXPECT_FALSE(test::Exists(Path("many/d/f65529")));
  }
  {
    // The Zip64 locator's offset does not count the 1000 bytes: the record is found in front of
    // the locator instead.
    auto a = OpenArchive("pz64.zip");
    EXPECT_EQ(a->PrefixSize(), 1000);
    a->SetBaseDir(Path("p"));
    a->ExtractMatching();
    EXPECT_EQ(test::ReadFile(Path("p/small.txt")), "small");
  }
}

TEST_F(ZipOpenTest, InfoZipArchiveWithComment) {
  if (!test::OnPath("zip")) GTEST_SKIP() << "Info-ZIP zip is not on PATH";
  test::WriteFile(Path("src/one.txt"), "one\n");
  test::WriteFile(Path("src/deep/two.txt"), std::string(20000, '2'));
  ASSERT_EQ(test::Run(Path("src"), "zip", {"-q", "-r", "../iz.zip", "."}), 0);
  ASSERT_EQ(test::Run(Path("src"), "sh", {"-c", "echo 'the comment' | zip -q -z ../iz.zip"}), 0);
  auto a = OpenArchive("iz.zip");
  EXPECT_EQ(a->Comment(), "the comment");
  a->SetBaseDir(Path("out"));
  a->ExtractMatching();
  EXPECT_EQ(test::ReadFile(Path("out/one.txt")), "one\n");
  EXPECT_EQ(test::ReadFile(Path("out/deep/two.txt")), std::string(20000, '2'));
}

}  // namespace
}  // namespace zq
