#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace zq {
namespace {

TEST(CodePageTest, Oem850ToAnsi1252) {
  EXPECT_EQ(Cp850ToCp1252("caf\x82"), "caf\xE9");                  // é
  EXPECT_EQ(Cp850ToCp1252("\x80\x87\x9C\xE1"), "\xC7\xE7\xA3\xDF");  // Ç ç £ ß
  EXPECT_EQ(Cp850ToCp1252("\x9F"), "\x83");                          // ƒ lives at 83 in 1252
  EXPECT_EQ(Cp850ToCp1252("\xFF"), "\xA0");                          // no-break space
  EXPECT_EQ(Cp850ToCp1252("\xD5"), "i");                             // dotless i: best fit
  EXPECT_EQ(Cp850ToCp1252("\xB3\xC4\xC5"), "|-+");                   // box drawing
  EXPECT_EQ(Cp850ToCp1252("plain ascii/\\"), "plain ascii/\\");
  for (int b = 0x80; b < 0x100; ++b) EXPECT_EQ(Cp850ToCp1252(std::string(1, static_cast<char>(b))).size(), 1u) << b;
}

TEST(CodePageTest, Ansi1252ToOem850) {
  std::string out;
  EXPECT_TRUE(TryCp1252ToCp850("caf\xE9 \xA3", out));
  EXPECT_EQ(out, "caf\x82 \x9C");
  out = "unchanged";
  EXPECT_FALSE(TryCp1252ToCp850("\x80", out));  // € has no place in 850
  EXPECT_EQ(out, "unchanged");
  // Every 850 byte that maps into 1252 directly comes back.
  for (int b = 0x80; b < 0x100; ++b) {
    int ansi = UnicodeToCp1252(Cp850ToUnicode(static_cast<uint8_t>(b)));
    if (ansi < 0) continue;
    ASSERT_TRUE(TryCp1252ToCp850(std::string(1, static_cast<char>(ansi)), out));
    EXPECT_EQ(static_cast<uint8_t>(out[0]), b);
  }
}

TEST(CodePageTest, Ansi1252AndUtf8) {
  EXPECT_EQ(Cp1252ToUtf8("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");          // €
  EXPECT_EQ(Cp1252ToUtf8("\x9F"), "\xC5\xB8");              // Ÿ
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xC2\x81");              // undefined byte -> U+0081
  for (int b = 1; b < 0x100; ++b) {
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(one)), one) << b;
  }
  EXPECT_EQ(Utf8ToCp1252("\xC5\x92uvre"), "\x8Cuvre");      // Œuvre
}

TEST(CodePageTest, StrictConversionRejects) {
  try {
    Utf8ToCp1252("\xE4\xB8\x96");  // 世
    FAIL();
  } catch (const ECodePageError& e) {
    EXPECT_EQ(e.Message(), "Character U+4E16 cannot be represented in code page 1252");
  }
  try {
    Utf8ToCp1252("\xF0\x9F\x98\x80");  // emoji
    FAIL();
  } catch (const ECodePageError& e) {
    EXPECT_EQ(e.Message(), "Character U+1F600 cannot be represented in code page 1252");
  }
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "a\x80"}) {
    try {
      Utf8ToCp1252(bad);
      FAIL() << bad;
    } catch (const ECodePageError& e) {
      EXPECT_EQ(e.Message(), "Invalid UTF-8 text");
    }
  }
}

TEST(CodePageTest, BestFit) {
  EXPECT_EQ(Utf8ToCp1252BestFit("1\xE2\x80\xAF" "000"), "1\xA0" "000");  // U+202F
  EXPECT_EQ(Utf8ToCp1252BestFit("a\xE2\x80\x91z"), "a-z");              // non-breaking hyphen
  EXPECT_EQ(Utf8ToCp1252BestFit("\xEF\xAC\x81"), "fi");                  // ligature
  EXPECT_EQ(Utf8ToCp1252BestFit("\xC4\x8D"), "c");                       // č
  EXPECT_EQ(Utf8ToCp1252BestFit("\xEF\xBC\xA1"), "A");                   // full-width A
  EXPECT_EQ(Utf8ToCp1252BestFit("\xE2\x80\x8B"), "");                    // zero-width space
  EXPECT_EQ(Utf8ToCp1252BestFit("\xE4\xB8\x96"), "?");
  EXPECT_EQ(Utf8ToCp1252BestFit("ok\xFFok"), "ok?ok");
  EXPECT_EQ(Utf8ToCp1252BestFit("caf\xC3\xA9"), "caf\xE9");
  EXPECT_EQ(BestFitCp1252(0x202F), "\xA0");
}

}  // namespace
}  // namespace zq
