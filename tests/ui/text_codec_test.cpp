#include "ui/text_codec.h"

#include <gtest/gtest.h>

#include "tests/ui/qstring_printer.h"

namespace zq {
namespace {

TEST(TextCodec, RoundTripsEveryByteOfCodePage1252) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  QString text = FromAnsi(all);
  ASSERT_EQ(text.size(), 255);
  int unmapped = -1;
  EXPECT_EQ(ToAnsi(text, &unmapped), all);
  EXPECT_EQ(unmapped, 0);
}

TEST(TextCodec, KnownCharacters) {
  EXPECT_EQ(FromAnsi("\x80\x9C\xE9\xA0"), QString::fromUtf8("€œé\u00A0"));
  EXPECT_EQ(ToAnsi(QString::fromUtf8("Société à €")), "Soci\xE9t\xE9 \xE0 \x80");
  EXPECT_EQ(ToAnsi(QString::fromUtf8("êtes")), "\xEAtes");
}

TEST(TextCodec, BestFitAndReplacement) {
  // The French thousands separator (narrow no-break space) becomes the no-break space.
  int unmapped = -1;
  EXPECT_EQ(ToAnsi(QString::fromUtf8("1\u202F500\u202F000"), &unmapped), "1\xA0" "500\xA0" "000");
  EXPECT_EQ(unmapped, 0);
  EXPECT_EQ(ToAnsi(QString::fromUtf8("a\u2212b\u2011c")), "a-b-c");
  // Characters without a counterpart are counted, one '?' each (a surrogate pair is one).
  EXPECT_EQ(ToAnsi(QString::fromUtf8("日本\U0001F600"), &unmapped), "???");
  EXPECT_EQ(unmapped, 3);
}

TEST(TextCodec, CharactersOutsideCodePage1252) {
  struct Case {
    const char* text;
    const char* outside;
  };
  const Case cases[] = {
      {"/home/Société Générale/€", ""},
      {"", ""},
      {"/home/Łódź", "Łź"},             // best fit would turn them into L and z: still outside
      {"/srv/Отчёты", "Отчёы"},          // each once, in order of first appearance
      {"/a\u202Fb", "\u202F"},          // a best fit to the no-break space is not the same text
      {"/x/\U0001F600/\U0001F600", "\U0001F600"},
  };
  for (const Case& c : cases) {
    QString text = QString::fromUtf8(c.text);
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CharactersOutsideAnsi(text), QString::fromUtf8(c.outside));
    EXPECT_EQ(CharactersOutsideAnsi(text).isEmpty(), FromAnsi(ToAnsi(text)) == text);
  }
}

}  // namespace
}  // namespace zq
