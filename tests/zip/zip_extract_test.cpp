// Extraction: selection, events and their defaults, decryption, decoding checks, file output,
// and the refusal of names that would leave the base folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "platform/file_system.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_archiver.h"

namespace zq {
namespace {

using test::RawEntry;
using test::RawZip;

// Scripted answers for the interaction hook.
class FakeInteraction : public TZipInteraction {
 public:
  std::vector<std::string> passwords;  // answers in order; exhausted -> Cancel
  std::vector<std::string> captions, failures, overwrites;
  TZipAction failure_answer = fxaIgnore;
  TZipOverwriteAnswer overwrite_answer = oaYes;
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override {
    captions.push_back(caption + "|" + prompt + "|" + value);
    if (passwords.empty()) return false;
    value = passwords.front();
    passwords.erase(passwords.begin());
    return true;
  }
  TZipAction AskFileFailure(const std::string& text) override {
    failures.push_back(text);
    return failure_answer;
  }
  TZipOverwriteAnswer AskOverwrite(const std::string& text) override {
    overwrites.push_back(text);
    return overwrite_answer;
  }
};

// One failure an archiver reported, with the answer it offered.
struct Failure {
  std::string name;
  TZipProcessOperation op;
  int native, code;
  std::string message;
  TZipAction action;
  bool operator==(const Failure&) const = default;
};

void PrintTo(const Failure& f, std::ostream* os) {
  *os << "{" << f.name << ", op " << f.op << ", native " << f.native << ", code " << f.code << ", " << f.message
      << ", action " << f.action << "}";
}

// Records every failure of an archiver, leaving its offered answer.
class FailureLog {
 public:
  explicit FailureLog(TZipBaseArchiver& a) {
    a.OnProcessFileFailure = [this](TZipBaseArchiver*, const std::string& name, TZipProcessOperation op, int native,
                                    int code, const std::string& message, TZipAction& action) {
      all.push_back({name, op, native, code, message, action});
    };
  }
  std::vector<int> Natives() const {
    std::vector<int> out;
    for (const Failure& f : all) out.push_back(f.native);
    return out;
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const Failure& f : all) out.push_back(f.message);
    return out;
  }
  std::vector<Failure> all;
};

class ZipExtractTest : public test::TempDirTest {
 protected:
  void TearDown() override { SetZipInteraction(nullptr); }
  std::unique_ptr<TZipArchiver> Open(const RawZip& zip, const std::string& name = "t.zip") {
    test::WriteFile(Path(name), zip.Build());
    auto a = std::make_unique<TZipArchiver>();
    a->SetName("Archiver");
    a->SetFileName(Path(name));
    a->SetBaseDir(Path("out"));
    a->Open();
    return a;
  }
  static RawZip Tree() {
    RawZip zip;
    zip.entries.push_back({.name = "a.txt", .data = "A"});
    zip.entries.push_back({.name = "sub/b.txt", .data = "B"});
    zip.entries.push_back({.name = "sub/deeper/c.txt", .data = "C"});
    zip.entries.push_back({.name = "empty/", .data = "", .method = 0, .external_attributes = 0x10});
    zip.entries.push_back({.name = "hidden.sys", .data = "H", .external_attributes = 0x22});
    return zip;
  }
  std::string Out(const std::string& name) const { return Path("out/" + name); }
};

TEST_F(ZipExtractTest, AllEntriesWithFoldersAndDirectoryEntries) {
  auto a = Open(Tree());
  a->ExtractMatching("*.*", 0x28BF, "");
  EXPECT_EQ(test::ReadFile(Out("a.txt")), "A");
  EXPECT_EQ(test::ReadFile(Out("sub/b.txt")), "B");
  EXPECT_EQ(test::ReadFile(Out("sub/deeper/c.txt")), "C");
  EXPECT_TRUE(DirectoryExists(Out("empty")));
  EXPECT_TRUE(test::Exists(Out("hidden.sys")));
}

TEST_F(ZipExtractTest, WithoutRecursionOnlyTheMaskFolder) {
  auto a = Open(Tree());
  a->Options().Recurse = false;
  a->ExtractMatching("*.*", 0x28BF, "");
  EXPECT_TRUE(test::Exists(Out("a.txt")));
  EXPECT_TRUE(DirectoryExists(Out("empty")));  // a directory entry at the root
  EXPECT_FALSE(test::Exists(Out("sub/b.txt")));
  EXPECT_FALSE(test::Exists(Out("sub")));
}

TEST_F(ZipExtractTest, WithoutRecursionMasksSeveralFoldersDeep) {
  auto a = Open(Tree());
  a->Options().Recurse = false;
  a->ExtractMatching("SUB\\Deeper\\*.txt", 0x28BF, "");
  EXPECT_TRUE(test::Exists(Out("sub/deeper/c.txt")));
  EXPECT_FALSE(test::Exists(Out("sub/b.txt")));
  EXPECT_FALSE(test::Exists(Out("a.txt")));
}

TEST_F(ZipExtractTest, MaskMatchesTheFileNamePart) {
  auto a = Open(Tree());
  a->ExtractMatching("b.txt", 0x28BF, "");
  EXPECT_TRUE(test::Exists(Out("sub/b.txt")));
  EXPECT_FALSE(test::Exists(Out("a.txt")));
  a->ExtractMatching("c?.txt", 0x28BF, "");
  EXPECT_FALSE(test::Exists(Out("sub/deeper/c.txt")));
}

TEST_F(ZipExtractTest, ExclusionMaskIsApplied) {
  auto a = Open(Tree());
  a->ExtractMatching("*.*", 0x28BF, "sub/*");
  EXPECT_TRUE(test::Exists(Out("a.txt")));
  EXPECT_FALSE(test::Exists(Out("sub/b.txt")));
  EXPECT_FALSE(test::Exists(Out("sub/deeper/c.txt")));
  a->ExtractMatching("*.*", 0x28BF, "c.txt");
  EXPECT_TRUE(test::Exists(Out("sub/b.txt")));
  EXPECT_FALSE(test::Exists(Out("sub/deeper/c.txt")));
}

TEST_F(ZipExtractTest, AttributeFilter) {
  auto a = Open(Tree());
  a->ExtractMatching("*.*", 0x20, "");  // no hidden, no directory
  EXPECT_TRUE(test::Exists(Out("a.txt")));
  EXPECT_FALSE(test::Exists(Out("hidden.sys")));
  EXPECT_FALSE(test::Exists(Out("empty")));
  TZipArchiveItem item;
  ASSERT_TRUE(a->FindFirst("*.sys", item, 0x22));
  EXPECT_EQ(item.FileName, "hidden.sys");
  EXPECT_EQ(item.CompressionRate, 0);  // one byte deflates to more than one byte
  EXPECT_FALSE(a->FindNext(item));
  ASSERT_TRUE(a->FindFirst("sub\\deeper\\c.txt", item));
  EXPECT_EQ(item.StoredPath, "sub/deeper/");
  EXPECT_EQ(item.CRC, test::Crc("C"));
}

TEST_F(ZipExtractTest, TimesAndAttributes) {
  RawZip zip;
  // 2021-06-15 13:45:58 (seconds in two-second steps)
  uint16_t date = static_cast<uint16_t>((41 << 9) | (6 << 5) | 15);
  uint16_t time = static_cast<uint16_t>((13 << 11) | (45 << 5) | 29);
  zip.entries.push_back({.name = "ro.txt", .data = "read only", .time = time, .date = date, .external_attributes = 0x21});
  zip.entries.push_back({.name = "rw.txt", .data = "writable", .time = time, .date = date});
  auto a = Open(zip);
  a->ExtractMatching();
  struct stat st {};
  ASSERT_EQ(::stat(Out("ro.txt").c_str(), &st), 0);
  std::tm tm {};
  localtime_r(&st.st_mtime, &tm);
  EXPECT_EQ(tm.tm_year + 1900, 2021);
  EXPECT_EQ(tm.tm_mon + 1, 6);
  EXPECT_EQ(tm.tm_mday, 15);
  EXPECT_EQ(tm.tm_hour, 13);
  EXPECT_EQ(tm.tm_min, 45);
  EXPECT_EQ(tm.tm_sec, 58);
  EXPECT_EQ(st.st_mode & S_IWUSR, 0u);
  EXPECT_EQ(FileGetAttr(Out("ro.txt")) & faReadOnly, static_cast<int>(faReadOnly));
  EXPECT_EQ(FileGetAttr(Out("rw.txt")) & faReadOnly, 0);
  EXPECT_EQ(static_cast<uint32_t>(FileAge(Out("rw.txt"))), static_cast<uint32_t>(date) << 16 | time);
  // Without SetAttributes the read-only bit is not applied.
  a->Options().SetAttributes = false;
  a->SetBaseDir(Path("out2"));
  a->ExtractMatching();
  EXPECT_EQ(FileGetAttr(Path("out2/ro.txt")) & faReadOnly, 0);
}

TEST_F(ZipExtractTest, ReadOnlyDestinationIsReplaced) {
  test::WriteFile(Out("a.txt"), "old");
  ASSERT_TRUE(FileSetAttr(Out("a.txt"), faReadOnly));
  auto a = Open(Tree());
  a->ExtractMatching("a.txt");
  EXPECT_EQ(test::ReadFile(Out("a.txt")), "A");
  // Not replaced when ReplaceReadOnly is off.
  test::WriteFile(Out("sub/b.txt"), "old b");
  ASSERT_TRUE(FileSetAttr(Out("sub/b.txt"), faReadOnly));
  a->Options().ReplaceReadOnly = false;
  a->ExtractMatching("b.txt");
  EXPECT_EQ(test::ReadFile(Out("sub/b.txt")), "old b");
}

TEST_F(ZipExtractTest, OverwriteModes) {
  RawZip zip;
  uint16_t date2020 = static_cast<uint16_t>((40 << 9) | (1 << 5) | 1);
  zip.entries.push_back({.name = "f.txt", .data = "from archive", .date = date2020});
  auto a = Open(zip);
  auto existing = [&](const std::string& text, std::time_t mtime) {
    FileSetAttr(Out("f.txt"), 0);
    test::WriteFile(Out("f.txt"), text);
    SetFileModificationTime(Out("f.txt"), mtime);
  };
  std::time_t y2010 = FileDateToDateTime(static_cast<uint32_t>((30 << 9) | (1 << 5) | 1) << 16);
  std::time_t y2030 = FileDateToDateTime(static_cast<uint32_t>((50 << 9) | (1 << 5) | 1) << 16);

  existing("mine", y2010);
  a->Options().OverwriteMode = omNever;
  a->ExtractMatching();
  EXPECT_EQ(test::ReadFile(Out("f.txt")), "mine");

  a->Options().OverwriteMode = omIfNewer;  // the entry (2020) is newer than 2010: replaced
  a->ExtractMatching();
  EXPECT_EQ(test::ReadFile(Out("f.txt")), "from archive");
  existing("mine", y2030);
  a->ExtractMatching();  // 2030 file is not older: kept
  EXPECT_EQ(test::ReadFile(Out("f.txt")), "mine");

  a->Options().OverwriteMode = omIfOlder;  // entry older than the 2030 file: replaced
  a->ExtractMatching();
  EXPECT_EQ(test::ReadFile(Out("f.txt")), "from archive");
  existing("mine", y2010);
  a->ExtractMatching();
  EXPECT_EQ(test::ReadFile(Out("f.txt")), "mine");

  a->Options().OverwriteMode = omPrompt;
  std::vector<std::string> asked;
  a->OnConfirmOverwrite = [&](TZipBaseArchiver*, const std::string& source, std::string& dest, bool& confirm) {
    asked.push_back(source + ">" + dest);
    confirm = false;
  };
  a->ExtractMatching();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], "f.txt>" + Out("f.txt"));
  EXPECT_EQ(test::ReadFile(Out("f.txt")), "mine");
}

TEST_F(ZipExtractTest, DefaultOverwriteQuestion) {
  RawZip zip;
  zip.entries.push_back({.name = "f.txt", .data = "new"});
  zip.entries.push_back({.name = "g.txt", .data = "new"});
  auto hook = std::make_shared<FakeInteraction>();
  SetZipInteraction(hook);
  test::WriteFile(Out("f.txt"), "old");
  test::WriteFile(Out("g.txt"), "old");
  auto a = Open(zip);
  a->Options().OverwriteMode = omPrompt;
  hook->overwrite_answer = oaNoToAll;
  a->ExtractMatching();
  ASSERT_EQ(hook->overwrites.size(), 1u);  // No to all: nothing more is asked, nothing replaced
  EXPECT_EQ(hook->overwrites[0], "Overwrite file \"" + Out("f.txt") + "\" with \"f.txt\"");
  EXPECT_EQ(test::ReadFile(Out("g.txt")), "old");
  EXPECT_EQ(a->Options().OverwriteMode, omNever);
  a->Options().OverwriteMode = omPrompt;
  hook->overwrite_answer = oaYesToAll;
  a->ExtractMatching();
  EXPECT_EQ(hook->overwrites.size(), 2u);
  EXPECT_EQ(test::ReadFile(Out("f.txt")), "new");
  EXPECT_EQ(test::ReadFile(Out("g.txt")), "new");
  EXPECT_EQ(a->Options().OverwriteMode, omAlways);
}

TEST_F(ZipExtractTest, StoredEmptyEntry) {
  RawZip zip;
  zip.entries.push_back({.name = "empty.dat", .data = "", .method = 0});
  auto a = Open(zip);
  a->ExtractMatching();
  EXPECT_TRUE(test::Exists(Out("empty.dat")));
  EXPECT_EQ(test::ReadFile(Out("empty.dat")), "");
}

TEST_F(ZipExtractTest, LargeStoredAndDeflatedEntries) {
  std::string big;
  for (int i = 0; i < 400000; ++i) big += std::to_string(static_cast<int64_t>(i) * 7919 % 100003) + ",";
  RawZip zip;
  zip.entries.push_back({.name = "big.txt", .data = big});
  zip.entries.push_back({.name = "big.raw", .data = big, .method = 0});
  auto a = Open(zip);
  a->ExtractMatching();
  EXPECT_EQ(test::ReadFile(Out("big.txt")), big);
  EXPECT_EQ(test::ReadFile(Out("big.raw")), big);
}

TEST_F(ZipExtractTest, CorruptedByteFailsWithCode8AndLeavesNoFile) {
  RawZip zip;
  std::string text(20000, 'q');
  for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 26);
  zip.entries.push_back({.name = "bad.txt", .data = text});
  zip.entries.push_back({.name = "good.txt", .data = "good"});
  std::string bytes = zip.Build();
  bytes[30 + 7 + 40] ^= 0x10;  // one byte inside bad.txt's deflated data
  test::WriteFile(Path("c.zip"), bytes);
  TZipArchiver a;
  a.SetName("Archiver");
  a.SetFileName(Path("c.zip"));
  a.SetBaseDir(Path("out"));
  a.Open();
  FailureLog failures(a);
  a.ExtractMatching();
  EXPECT_EQ(failures.all, (std::vector<Failure>{{"bad.txt", poExtract, 8, 4,
                                                  "Archiver: Invalid size or check sum of file or unsupported "
                                                  "compression format - Native error: 00008",
                                                  fxaIgnore}}));
  EXPECT_FALSE(test::Exists(Out("bad.txt")));
  EXPECT_EQ(test::ReadFile(Out("good.txt")), "good");
  // With ExtractCorruptedFiles the damaged output is kept.
  a.SetExtractCorruptedFiles(true);
  failures.all.clear();
  a.ExtractMatching("bad.txt");
  EXPECT_TRUE(failures.all.empty());
  EXPECT_TRUE(test::Exists(Out("bad.txt")));
}

TEST_F(ZipExtractTest, WrongCrcOrSizeInTheDirectoryFails) {
  RawZip zip;
  zip.entries.push_back({.name = "crc.txt", .data = "content", .crc_override = 12345});
  zip.entries.push_back({.name = "size.txt", .data = "content", .uncompressed_override = 6});
  zip.entries.push_back({.name = "stored.txt", .data = "content", .method = 0, .crc_override = 1});
  auto a = Open(zip);
  FailureLog failures(*a);
  a->ExtractMatching();
  EXPECT_EQ(failures.Natives(), (std::vector<int>{8, 8, 8}));
  EXPECT_FALSE(test::Exists(Out("crc.txt")));
  EXPECT_FALSE(test::Exists(Out("size.txt")));
  EXPECT_FALSE(test::Exists(Out("stored.txt")));
}

TEST_F(ZipExtractTest, LyingSizesCannotExhaustMemoryOrDisk) {
  // 64 MiB of zeros deflate to about 64 KiB; the directory claims 10 bytes.
  std::string zeros(64u << 20, '\0');
  RawZip zip;
  zip.entries.push_back({.name = "bomb.bin", .data = "", .packed_override = test::RawDeflate(zeros, 9),
                         .crc_override = 0, .uncompressed_override = 10});
  zeros.clear();
  zeros.shrink_to_fit();
  auto a = Open(zip);
  FailureLog failures(*a);
  a->ExtractMatching();
  EXPECT_EQ(failures.Natives(), std::vector<int>{8});
  EXPECT_FALSE(test::Exists(Out("bomb.bin")));
}

TEST_F(ZipExtractTest, UnsupportedMethods) {
  RawZip zip;
  zip.entries.push_back({.name = "d64.bin", .data = "x", .method = 9});
  zip.entries.push_back({.name = "bz2.bin", .data = "x", .method = 12, .version_needed = 46});
  zip.entries.push_back({.name = "old.bin", .data = "x", .method = 6, .version_needed = 10});
  zip.entries.push_back({.name = "ok.txt", .data = "ok"});
  auto a = Open(zip);
  FailureLog failures(*a);
  a->ExtractMatching();
  const std::vector<std::string> messages = failures.Messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "Deflate64 compression method is not supported - Native error: 00055");
  EXPECT_EQ(messages[1],
            "Archiver: Invalid size or check sum of file or unsupported compression format - Native error: 00008");
  EXPECT_EQ(messages[2], messages[1]);
  EXPECT_FALSE(test::Exists(Out("d64.bin")));
  EXPECT_FALSE(test::Exists(Out("bz2.bin")));
  EXPECT_EQ(test::ReadFile(Out("ok.txt")), "ok");
}

TEST_F(ZipExtractTest, InfoZipBzip2AndPythonMethods) {
  if (!test::OnPath("python3")) GTEST_SKIP() << "python3 is not on PATH";
  ASSERT_EQ(test::RunPython(dir_, R"(
import zipfile
with zipfile.ZipFile('m.zip', 'w') as z:
    z.writestr(zipfile.ZipInfo('bz.txt'), b'bzip2 data ' * 50, compress_type=zipfile.ZIP_BZIP2)
    z.writestr(zipfile.ZipInfo('lz.txt'), b'lzma data ' * 50, compress_type=zipfile.ZIP_LZMA)
    z.writestr(zipfile.ZipInfo('df.txt'), b'deflate data ' * 50, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr(zipfile.ZipInfo('st.txt'), b'stored data', compress_type=zipfile.ZIP_STORED)
)"), 0);
  TZipArchiver a;
  a.SetFileName(Path("m.zip"));
  a.SetBaseDir(Path("out"));
  a.Open();
  FailureLog failures(a);
  a.ExtractMatching();
  EXPECT_EQ(failures.Natives(), (std::vector<int>{8, 8}));
  std::string deflate_data;
  for (int i = 0; i < 50; ++i) deflate_data += "deflate data ";
  EXPECT_EQ(test::ReadFile(Out("df.txt")), deflate_data);
  EXPECT_EQ(test::ReadFile(Out("st.txt")), "stored data");
}

TEST_F(ZipExtractTest, EncryptedWithTheRightPasswordAsksNothing) {
  RawZip zip;
  zip.entries.push_back({.name = "secret.txt", .data = "top secret", .password = "pa55"});
  zip.entries.push_back({.name = "stored.txt", .data = "also secret", .method = 0, .password = "pa55"});
  zip.entries.push_back({.name = "dd.txt", .data = "descriptor", .password = "pa55", .data_descriptor = true});
  auto hook = std::make_shared<FakeInteraction>();
  SetZipInteraction(hook);
  auto a = Open(zip);
  a->SetPassword("pa55");
  a->ExtractMatching();
  EXPECT_TRUE(hook->captions.empty());
  EXPECT_EQ(test::ReadFile(Out("secret.txt")), "top secret");
  EXPECT_EQ(test::ReadFile(Out("stored.txt")), "also secret");
  EXPECT_EQ(test::ReadFile(Out("dd.txt")), "descriptor");
}

// Info-ZIP's own encryption, stored and deflated, over enough bytes that the cipher's keys take
// every kind of value (once the product of the 16-bit stream value overflowed a signed int).
TEST_F(ZipExtractTest, ArchivesEncryptedByInfoZipDecryptExactly) {
  if (!test::OnPath("zip")) GTEST_SKIP() << "Info-ZIP zip is not on PATH";
  std::string data;
  uint32_t x = 12345;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1103515245u + 12345u;
    data += static_cast<char>(i % 3 == 0 ? 'a' + (x >> 16) % 26 : (x >> 24));
  }
  test::WriteFile(Path("src/data.bin"), data);
  ASSERT_EQ(test::Run(Path("src"), "zip", {"-q", "-P", "k3y!", "-0", "../stored.zip", "data.bin"}), 0);
  ASSERT_EQ(test::Run(Path("src"), "zip", {"-q", "-P", "k3y!", "-6", "../deflated.zip", "data.bin"}), 0);
  for (const char* name : {"stored.zip", "deflated.zip"}) {
    TZipArchiver a;
    a.SetFileName(Path(name));
    a.SetBaseDir(Path(std::string("out-") + name));
    a.SetPassword("k3y!");
    a.Open();
    a.ExtractMatching();
    EXPECT_EQ(test::ReadFile(Path(std::string("out-") + name + "/data.bin")), data) << name;
  }
}

TEST_F(ZipExtractTest, WrongPasswordPromptsAndCancelLeavesNoFile) {
  RawZip zip;
  zip.entries.push_back({.name = "dir/secret.txt", .data = "top secret", .password = "right"});
  zip.entries.push_back({.name = "plain.txt", .data = "plain"});
  auto hook = std::make_shared<FakeInteraction>();
  SetZipInteraction(hook);
  auto a = Open(zip);
  a->SetPassword("wrong");
  a->ExtractMatching();
  ASSERT_EQ(hook->captions.size(), 1u);
  EXPECT_EQ(hook->captions[0], "Password for \"dir/secret.txt\"|Enter password: |wrong");
  EXPECT_TRUE(hook->failures.empty());  // Cancel is silent
  EXPECT_FALSE(test::Exists(Out("dir/secret.txt")));
  EXPECT_EQ(test::ReadFile(Out("plain.txt")), "plain");
  // A wrong answer is asked again; the right one is kept for later entries.
  hook->captions.clear();
  hook->passwords = {"still wrong", "right"};
  a->ExtractMatching();
  EXPECT_EQ(hook->captions.size(), 2u);
  EXPECT_EQ(test::ReadFile(Out("dir/secret.txt")), "top secret");
  EXPECT_EQ(a->Password(), "right");
}

TEST_F(ZipExtractTest, PasswordEvent) {
  RawZip zip;
  zip.entries.push_back({.name = "a.txt", .data = "first", .password = "pw"});
  zip.entries.push_back({.name = "b.txt", .data = "second", .password = "pw"});
  auto a = Open(zip);
  int asked = 0;
  a->OnPassword = [&](TZipBaseArchiver*, const std::string& name, std::string& password, bool& skip) {
    ++asked;
    EXPECT_EQ(name, "a.txt");
    EXPECT_FALSE(skip);
    password = "pw";
  };
  a->ExtractMatching();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(test::ReadFile(Out("b.txt")), "second");
  // A handler that neither skips nor offers another password ends the entry instead of looping.
  a->SetPassword("x");
  a->SetBaseDir(Path("out2"));
  asked = 0;
  a->OnPassword = [&](TZipBaseArchiver*, const std::string&, std::string&, bool&) { ++asked; };
  a->ExtractMatching();
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(test::Exists(Path("out2/a.txt")));
}

TEST_F(ZipExtractTest, SuppressedPromptDecodesAnywayAndFails) {
  RawZip zip;
  zip.entries.push_back({.name = "s.txt", .data = "secret", .password = "pw"});
  auto hook = std::make_shared<FakeInteraction>();
  SetZipInteraction(hook);
  auto a = Open(zip);
  a->SetPassword("bad");
  a->SetSuppressPasswordPrompt(true);
  FailureLog failures(*a);
  a->ExtractMatching();
  EXPECT_TRUE(hook->captions.empty());
  EXPECT_EQ(failures.Natives(), std::vector<int>{8});
  EXPECT_FALSE(test::Exists(Out("s.txt")));
}

TEST_F(ZipExtractTest, HostileNamesAreRefusedAndTheRestExtracted) {
  RawZip zip;
  zip.entries.push_back({.name = "../escape.txt", .data = "x"});
  zip.entries.push_back({.name = "a/../../escape2.txt", .data = "x"});
  zip.entries.push_back({.name = "..\\escape3.txt", .data = "x"});
  zip.entries.push_back({.name = "/abs.txt", .data = "x"});
  zip.entries.push_back({.name = "\\abs2.txt", .data = "x"});
  zip.entries.push_back({.name = "C:\\drive.txt", .data = "x"});
  zip.entries.push_back({.name = "\\\\server\\share\\unc.txt", .data = "x"});
  zip.entries.push_back({.name = "inside/..dots../ok.txt", .data = "fine"});
  zip.entries.push_back({.name = "safe.txt", .data = "safe"});
  auto a = Open(zip);
  FailureLog failures(*a);
  a->ExtractMatching();
  const std::vector<std::string> messages = failures.Messages();
  ASSERT_EQ(messages.size(), 7u);
  for (const Failure& f : failures.all) {
    EXPECT_EQ(f.native, 19) << f.message;
    EXPECT_EQ(f.code, 9) << f.message;
    EXPECT_EQ(f.action, fxaIgnore) << f.message;
  }
  EXPECT_EQ(messages[0], "Archiver: Cannot create file \"" + Out("../escape.txt") + "\" - Native error: 00019");
  EXPECT_FALSE(test::Exists(Path("escape.txt")));
  EXPECT_FALSE(test::Exists(Path("escape2.txt")));
  EXPECT_FALSE(test::Exists(Path("escape3.txt")));
  EXPECT_FALSE(test::Exists("/abs.txt"));
  EXPECT_EQ(test::ReadFile(Out("inside/..dots../ok.txt")), "fine");
  EXPECT_EQ(test::ReadFile(Out("safe.txt")), "safe");
  // Nothing was written anywhere in the scratch folder but under out/.
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "out" || name == "t.zip") << name;
  }
}

TEST_F(ZipExtractTest, ExtractFileEventCanRename) {
  auto a = Open(Tree());
  a->OnExtractFile = [&](TZipBaseArchiver*, std::string& name, uint32_t attributes, const std::string&) {
    if (name == "a.txt") {
      EXPECT_EQ(attributes, 0x20u);
      name = "renamed\\a1.txt";
    }
  };
  a->ExtractMatching("a.txt");
  EXPECT_EQ(test::ReadFile(Out("renamed/a1.txt")), "A");
}

TEST_F(ZipExtractTest, EventsInOrderAndConfirmation) {
  auto a = Open(Tree());
  std::vector<std::string> log;
  a->OnOverallProgress = [&](TZipBaseArchiver*, double progress, TZipProcessOperation op, TZipProgressPhase phase,
                             bool&) {
    EXPECT_EQ(op, poExtract);
    if (phase != ppProcess) log.push_back("overall " + std::to_string(phase) + " " + std::to_string(int(progress)));
  };
  a->OnFileProgress = [&](TZipBaseArchiver*, const std::string& name, double progress, TZipProcessOperation,
                          TZipProgressPhase phase, bool&) {
    if (phase != ppProcess) log.push_back("file " + name + " " + std::to_string(phase) + " " + std::to_string(int(progress)));
  };
  a->OnConfirmProcessFile = [&](TZipBaseArchiver*, const std::string& name, TZipProcessOperation, bool& confirm) {
    log.push_back("confirm " + name);
    confirm = name != "a.txt";
  };
  a->ExtractMatching("*.txt");
  std::vector<std::string> expected = {
      "overall 0 0",
      "confirm a.txt",
      "confirm sub\\b.txt", "file sub\\b.txt 0 0", "file sub\\b.txt 2 100",
      "confirm sub\\deeper\\c.txt", "file sub\\deeper\\c.txt 0 0", "file sub\\deeper\\c.txt 2 100",
      "overall 2 100"};
  EXPECT_EQ(log, expected);
  EXPECT_FALSE(test::Exists(Out("a.txt")));
  EXPECT_TRUE(test::Exists(Out("sub/b.txt")));
}

TEST_F(ZipExtractTest, ProgressDuringDecoding) {
  RawZip zip;
  std::string data(3u << 20, 'x');
  for (size_t i = 0; i < data.size(); i += 3) data[i] = static_cast<char>(i * 131);
  zip.entries.push_back({.name = "one.bin", .data = data, .method = 0});
  zip.entries.push_back({.name = "two.bin", .data = data, .method = 0});
  auto a = Open(zip);
  std::vector<double> file, overall;
  a->OnFileProgress = [&](TZipBaseArchiver*, const std::string& name, double progress, TZipProcessOperation,
                          TZipProgressPhase phase, bool&) {
    if (phase == ppProcess && name == "two.bin") file.push_back(progress);
  };
  a->OnOverallProgress = [&](TZipBaseArchiver*, double progress, TZipProcessOperation, TZipProgressPhase phase,
                             bool&) {
    if (phase == ppProcess) overall.push_back(progress);
  };
  a->ExtractMatching();
  // Three 1 MiB chunks per entry: 0, 1/3, 2/3 of the entry; overall counts the finished entry.
  ASSERT_EQ(file.size(), 3u);
  EXPECT_DOUBLE_EQ(file[0], 0);
  EXPECT_NEAR(file[1], 100.0 / 3, 1e-9);
  EXPECT_NEAR(file[2], 200.0 / 3, 1e-9);
  ASSERT_EQ(overall.size(), 6u);
  EXPECT_DOUBLE_EQ(overall[0], 0);
  EXPECT_DOUBLE_EQ(overall[3], 50);
  EXPECT_NEAR(overall[5], (2.0 / 3 + 1) / 2 * 100, 1e-9);
  EXPECT_EQ(test::ReadFile(Out("two.bin")), data);
}

TEST_F(ZipExtractTest, CancelFromProgressStopsAndDeletesThePartialFile) {
  RawZip zip;
  zip.entries.push_back({.name = "one.txt", .data = std::string(3000, '1')});
  zip.entries.push_back({.name = "two.txt", .data = std::string(3000, '2')});
  auto a = Open(zip);
  a->OnFileProgress = [&](TZipBaseArchiver*, const std::string&, double, TZipProcessOperation,
                          TZipProgressPhase phase, bool& cancel) {
    if (phase == ppProcess) cancel = true;
  };
  a->ExtractMatching();  // no exception
  EXPECT_FALSE(test::Exists(Out("one.txt")));
  EXPECT_FALSE(test::Exists(Out("two.txt")));
}

TEST_F(ZipExtractTest, FailureAnswersRetryIgnoreAbort) {
  RawZip zip;
  zip.entries.push_back({.name = "x/f.txt", .data = "f"});
  zip.entries.push_back({.name = "y.txt", .data = "y"});
  auto a = Open(zip);
  // "x" exists as a file, so the folder cannot be created: native 20.
  test::WriteFile(Out("x"), "blocking file");
  int attempts = 0;
  a->OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string&, TZipProcessOperation, int native, int,
                                const std::string& message, TZipAction& action) {
    EXPECT_EQ(native, 20);
    EXPECT_EQ(message, "Archiver: Cannot create directory \"" + Out("x/") + "\" - Native error: 00020");
    ++attempts;
    if (attempts == 1) {
      action = fxaRetry;
      std::filesystem::remove(Out("x"));  // the retry will succeed
    }
  };
  a->ExtractMatching();
  EXPECT_EQ(attempts, 1);
  EXPECT_EQ(test::ReadFile(Out("x/f.txt")), "f");
  // Abort through the default question: later entries are not reached.
  auto hook = std::make_shared<FakeInteraction>();
  hook->failure_answer = fxaAbort;
  SetZipInteraction(hook);
  a->OnProcessFileFailure = nullptr;
  a->SetBaseDir(Path("out2"));
  test::WriteFile(Path("out2/x"), "blocking file");
  a->ExtractMatching();
  ASSERT_EQ(hook->failures.size(), 1u);
  EXPECT_EQ(hook->failures[0], "Archiver: Cannot create directory \"" + Path("out2/x/") +
                                   "\" - Native error: 00020. File processing error, possibly disk is full");
  EXPECT_FALSE(test::Exists(Path("out2/y.txt")));
}

TEST_F(ZipExtractTest, DestinationThatCannotBeCreated) {
  RawZip zip;
  zip.entries.push_back({.name = "d", .data = "data"});
  auto a = Open(zip);
  ASSERT_TRUE(ForceDirectories(Out("d/inner")));  // a folder is in the way
  FailureLog failures(*a);
  a->ExtractMatching();
  EXPECT_EQ(failures.Natives(), std::vector<int>{19});
  EXPECT_TRUE(DirectoryExists(Out("d/inner")));
}

TEST_F(ZipExtractTest, DataBeyondTheDirectoryIsNotRead) {
  // The directory claims a compressed size that runs into the central directory: the data is
  // cut at the directory's position and the entry fails its checks instead of reading on.
  RawZip zip;
  zip.entries.push_back({.name = "s.txt", .data = "stored", .method = 0});
  std::string bytes = zip.Build();
  size_t central = bytes.size() - 22 - (46 + 5);
  bytes[central + 20] = 100;  // compressed size
  bytes[central + 24] = 100;  // uncompressed size
  test::WriteFile(Path("cut.zip"), bytes);
  TZipArchiver a;
  a.SetFileName(Path("cut.zip"));
  a.SetBaseDir(Path("out"));
  a.Open();
  FailureLog failures(a);
  a.ExtractMatching();
  EXPECT_EQ(failures.Natives(), std::vector<int>{8});
}

TEST_F(ZipExtractTest, LocalHeaderOffsetOutsideTheFile) {
  RawZip zip;
  zip.entries.push_back({.name = "far.txt", .data = "far"});
  std::string bytes = zip.Build();
  size_t central = bytes.size() - 22 - (46 + 7);
  bytes[central + 45] = 0x7F;  // offset 0x7F000000
  test::WriteFile(Path("far.zip"), bytes);
  TZipArchiver a;
  a.SetFileName(Path("far.zip"));
  a.SetBaseDir(Path("out"));
  a.Open();
  FailureLog failures(a);
  a.ExtractMatching();
  EXPECT_EQ(failures.Natives(), std::vector<int>{8});
  EXPECT_FALSE(test::Exists(Out("far.txt")));
}

TEST_F(ZipExtractTest, BaseDirEmptyMeansCurrentDirectory) {
  RawZip zip;
  zip.entries.push_back({.name = "here.txt", .data = "here"});
  test::WriteFile(Path("h.zip"), zip.Build());
  std::string previous = GetCurrentDir();
  ASSERT_TRUE(ForceDirectories(Path("cwd")));
  ASSERT_EQ(::chdir(Path("cwd").c_str()), 0);
  TZipArchiver a;
  a.SetFileName(Path("h.zip"));
  a.Open();
  a.ExtractMatching();
  ASSERT_EQ(::chdir(previous.c_str()), 0);
  EXPECT_EQ(test::ReadFile(Path("cwd/here.txt")), "here");
}

TEST_F(ZipExtractTest, ProcessLockIsHeldDuringExtraction) {
  auto a = Open(Tree());
  bool checked = false;
  a->OnFileProgress = [&](TZipBaseArchiver*, const std::string&, double, TZipProcessOperation, TZipProgressPhase,
                          bool&) {
    if (checked) return;
    checked = true;
    bool locked_elsewhere = false;
    std::thread other([&] {
      locked_elsewhere = !ZipProcessLock().try_lock();
      if (!locked_elsewhere) ZipProcessLock().unlock();
    });
    other.join();
    EXPECT_TRUE(locked_elsewhere);
  };
  a->ExtractMatching();
  EXPECT_TRUE(checked);
  EXPECT_TRUE(ZipProcessLock().try_lock());
  ZipProcessLock().unlock();
}

// Where the directory record and the local header of an entry lie in a built archive.
size_t CentralRecordOf(const std::string& bytes, const std::string& name) {
  for (size_t at = bytes.find("PK\1\2"); at != std::string::npos; at = bytes.find("PK\1\2", at + 1))
    if (bytes.compare(at + 46, name.size(), name) == 0) return at;
  ADD_FAILURE() << "no directory record for " << name;
  return 0;
}
size_t LocalHeaderOf(const std::string& bytes, const std::string& name) {
  for (size_t at = bytes.find("PK\3\4"); at != std::string::npos; at = bytes.find("PK\3\4", at + 1))
    if (bytes.compare(at + 30, name.size(), name) == 0) return at;
  ADD_FAILURE() << "no local header for " << name;
  return 0;
}

// An entry skipped for a wrong password leaves nothing behind for the next ones: each reports
// its own outcome.
TEST_F(ZipExtractTest, EachEntryAfterASkippedOneReportsItsOwnFailure) {
  RawZip zip;
  zip.entries.push_back({.name = "secret.txt", .data = "secret", .password = "right"});
  zip.entries.push_back({.name = "damaged.txt", .data = "damaged"});
  zip.entries.push_back({.name = "secret2.txt", .data = "secret", .password = "right"});
  zip.entries.push_back({.name = "outside.txt", .data = "outside"});
  zip.entries.push_back({.name = "secret3.txt", .data = "secret", .password = "right"});
  zip.entries.push_back({.name = "short.txt", .data = "short"});
  zip.entries.push_back({.name = "fine.txt", .data = "fine"});
  std::string bytes = zip.Build();
  bytes[LocalHeaderOf(bytes, "damaged.txt")] = 'X';               // local signature broken
  bytes[CentralRecordOf(bytes, "outside.txt") + 45] = 0x7F;       // offset 0x7Fxxxxxx
  // Offset so close to the end that no whole local header fits.
  size_t record = CentralRecordOf(bytes, "short.txt");
  uint32_t near_end = static_cast<uint32_t>(bytes.size() - 10);
  for (int i = 0; i < 4; ++i) bytes[record + 42 + i] = static_cast<char>(near_end >> (8 * i));
  test::WriteFile(Path("skip.zip"), bytes);
  TZipArchiver a;
  a.SetName("Archiver");
  a.SetFileName(Path("skip.zip"));
  a.SetBaseDir(Path("out"));
  a.SetPassword("wrong");
  a.Open();
  std::vector<std::string> log;
  a.OnPassword = [&](TZipBaseArchiver*, const std::string& name, std::string&, bool& skip) {
    log.push_back("password " + name);
    skip = true;
  };
  a.OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string& name, TZipProcessOperation, int native, int,
                               const std::string& message, TZipAction&) {
    log.push_back("failure " + name + " " + std::to_string(native));
    EXPECT_EQ(message, "Archiver: Invalid size or check sum of file or unsupported compression format - "
                       "Native error: 00008");
  };
  a.ExtractMatching();
  const std::vector<std::string> expected = {
      "password secret.txt",  "failure damaged.txt 8", "password secret2.txt",
      "failure outside.txt 8", "password secret3.txt", "failure short.txt 8"};
  EXPECT_EQ(log, expected);
  for (const char* name : {"secret.txt", "damaged.txt", "secret2.txt", "outside.txt", "secret3.txt", "short.txt"})
    EXPECT_FALSE(test::Exists(Out(name))) << name;
  EXPECT_EQ(test::ReadFile(Out("fine.txt")), "fine");
}

// A symbolic link at the destination is replaced as a link: what it points to, outside the base
// folder, is never opened, changed or created, and a link where a folder belongs is refused.
TEST_F(ZipExtractTest, SymbolicLinksAtTheDestinationAreNeverFollowed) {
  RawZip zip;
  zip.entries.push_back({.name = "to-file.txt", .data = "new file"});
  zip.entries.push_back({.name = "to-folder", .data = "new folder"});
  zip.entries.push_back({.name = "dangling.txt", .data = "new dangling"});
  zip.entries.push_back({.name = "linked/inner.txt", .data = "inner"});
  zip.entries.push_back({.name = "real/linked/deep.txt", .data = "deep"});
  zip.entries.push_back({.name = "plain.txt", .data = "plain"});
  test::WriteFile(Path("outside/target.txt"), "keep me");
  ASSERT_EQ(::chmod(Path("outside/target.txt").c_str(), 0444), 0);

  struct Mode {
    const char* what;
    TZipOverwriteMode overwrite;
    bool replace_read_only;
    bool replaced;  // the links at file names are replaced by files
  };
  for (Mode mode : {Mode{"always", omAlways, true, true}, Mode{"never", omNever, true, false},
                    Mode{"always, read-only kept", omAlways, false, true}}) {
    SCOPED_TRACE(mode.what);
    std::filesystem::remove_all(Out(""));
    ASSERT_TRUE(ForceDirectories(Out("real")));
    ASSERT_EQ(::symlink(Path("outside/target.txt").c_str(), Out("to-file.txt").c_str()), 0);
    ASSERT_EQ(::symlink(Path("outside").c_str(), Out("to-folder").c_str()), 0);
    ASSERT_EQ(::symlink(Path("outside/created.txt").c_str(), Out("dangling.txt").c_str()), 0);
    ASSERT_EQ(::symlink(Path("outside").c_str(), Out("linked").c_str()), 0);
    ASSERT_EQ(::symlink(Path("outside").c_str(), Out("real/linked").c_str()), 0);
    auto a = Open(zip);
    a->Options().OverwriteMode = mode.overwrite;
    a->Options().ReplaceReadOnly = mode.replace_read_only;
    std::vector<std::string> failures;
    a->OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string& name, TZipProcessOperation, int native,
                                  int, const std::string& message, TZipAction&) {
      failures.push_back(name + " " + std::to_string(native) + " " + message);
    };
    a->ExtractMatching();
    const std::vector<std::string> expected = {
        "linked\\inner.txt 20 Archiver: Cannot create directory \"" + Out("linked/") +
            "\" - Native error: 00020",
        "real\\linked\\deep.txt 20 Archiver: Cannot create directory \"" + Out("real/linked/") +
            "\" - Native error: 00020"};
    EXPECT_EQ(failures, expected);
    struct stat st {};
    ASSERT_EQ(::lstat(Out("to-file.txt").c_str(), &st), 0);
    EXPECT_EQ(S_ISREG(st.st_mode), mode.replaced);
    ASSERT_EQ(::lstat(Out("to-folder").c_str(), &st), 0);
    EXPECT_EQ(S_ISREG(st.st_mode), mode.replaced);
    ASSERT_EQ(::lstat(Out("dangling.txt").c_str(), &st), 0);
    EXPECT_EQ(S_ISREG(st.st_mode), mode.replaced);
    if (mode.replaced) {
      EXPECT_EQ(test::ReadFile(Out("to-file.txt")), "new file");
      EXPECT_EQ(test::ReadFile(Out("to-folder")), "new folder");
      EXPECT_EQ(test::ReadFile(Out("dangling.txt")), "new dangling");
    }
    EXPECT_EQ(test::ReadFile(Out("plain.txt")), "plain");
    // Outside the base folder nothing changed.
    ASSERT_EQ(::stat(Path("outside/target.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(test::ReadFile(Path("outside/target.txt")), "keep me");
    std::vector<std::string> outside;
    for (const auto& e : std::filesystem::directory_iterator(Path("outside")))
      outside.push_back(e.path().filename().string());
    EXPECT_EQ(outside, std::vector<std::string>{"target.txt"});
  }
}

// A cancel from the file progress event still fires the matching overall progress event.
TEST_F(ZipExtractTest, CancelFromFileProgressFiresTheOverallProgressToo) {
  RawZip zip;
  zip.entries.push_back({.name = "one.txt", .data = std::string(3000, '1')});
  zip.entries.push_back({.name = "two.txt", .data = std::string(3000, '2')});
  for (bool cancel_in_file : {true, false}) {
    SCOPED_TRACE(cancel_in_file ? "file event cancels" : "overall event cancels");
    auto a = Open(zip);
    std::vector<std::string> log;
    a->OnFileProgress = [&](TZipBaseArchiver*, const std::string& name, double progress, TZipProcessOperation,
                            TZipProgressPhase phase, bool& cancel) {
      log.push_back("file " + name + " " + std::to_string(phase) + " " + std::to_string(static_cast<int>(progress)));
      if (phase == ppProcess && cancel_in_file) cancel = true;
    };
    a->OnOverallProgress = [&](TZipBaseArchiver*, double progress, TZipProcessOperation, TZipProgressPhase phase,
                               bool& cancel) {
      log.push_back("overall " + std::to_string(phase) + " " + std::to_string(static_cast<int>(progress)));
      if (phase == ppProcess && !cancel_in_file) cancel = true;
    };
    a->ExtractMatching();
    const std::vector<std::string> expected = {"overall 0 0", "file one.txt 0 0", "file one.txt 1 0",
                                               "overall 1 0", "file one.txt 2 100", "overall 2 100"};
    EXPECT_EQ(log, expected);
    EXPECT_FALSE(test::Exists(Out("one.txt")));
    EXPECT_FALSE(test::Exists(Out("two.txt")));
  }
}

}  // namespace
}  // namespace zq
