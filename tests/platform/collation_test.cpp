#include "platform/collation.h"

#include <gtest/gtest.h>

namespace zq {
namespace {

TEST(Collation, LinguisticOrderNotByteOrder) {
  EXPECT_EQ(CompareStringA("a", "B", false), -1);  // bytes would put "B" first
  EXPECT_EQ(CompareStringA("B", "a", false), 1);
  EXPECT_EQ(CompareStringA("abc", "abc", false), 0);
  EXPECT_EQ(CompareStringA("", "a", false), -1);
  // Accented letters sort next to their base letter: e < \xE9 (e acute) < f in code page 1252.
  EXPECT_EQ(CompareStringA("e", "\xE9", false), -1);
  EXPECT_EQ(CompareStringA("\xE9", "f", false), -1);
}

TEST(Collation, CaseSensitiveAndInsensitive) {
  EXPECT_NE(CompareStringA("abc", "ABC", false), 0);
  EXPECT_EQ(CompareStringA("abc", "ABC", true), 0);
  EXPECT_EQ(CompareStringA("Soci\xE9t\xE9", "SOCI\xC9T\xC9", true), 0);
  // Ignoring case does not ignore accents.
  EXPECT_NE(CompareStringA("societe", "soci\xE9t\xE9", true), 0);
  EXPECT_EQ(CompareStringA("a", "A", false), -1);  // small letters first on a case tie
}

TEST(Collation, TextsEndAtNul) {
  EXPECT_EQ(CompareStringA(std::string_view("ab\0zz", 5), "ab", false), 0);
}

TEST(Collation, PrefixComparison) {
  EXPECT_EQ(CompareStringPrefixA("Dup", "Dupont", 3, false), 0);
  EXPECT_EQ(CompareStringPrefixA("dup", "Dupont", 3, true), 0);
  EXPECT_EQ(CompareStringPrefixA("dup", "Dupont", 3, false), -1);
  EXPECT_EQ(CompareStringPrefixA("Dux", "Dupont", 3, false), 1);
  EXPECT_EQ(CompareStringPrefixA("", "anything", 0, false), 0);
}

TEST(Collation, Cp1252ToUtf16MapsTheHighControls) {
  std::u16string u = Cp1252ToUtf16("\x80\x9F\xE9\x81");
  ASSERT_EQ(u.size(), 4u);
  EXPECT_EQ(u[0], 0x20AC);  // euro sign
  EXPECT_EQ(u[1], 0x0178);  // Y diaeresis
  EXPECT_EQ(u[2], 0x00E9);
  EXPECT_EQ(u[3], 0x0081);
}

}  // namespace
}  // namespace zq
