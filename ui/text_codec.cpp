#include "ui/text_codec.h"

namespace zq {
namespace {

// 0x80..0x9F of code page 1252; the undefined positions keep their C1 value.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int EncodeOne(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == c) return 0x80 + i;
  }
  switch (c) {
    case 0x202F:  // narrow no-break space (French thousands separator)
    case 0x2007:  // figure space
    case 0x2060:  // word joiner
      return 0xA0;
    case 0x2002: case 0x2003: case 0x2009: case 0x200A:
      return ' ';
    case 0x2010: case 0x2011: case 0x2012: case 0x2212:
      return '-';
    case 0x2032:
      return '\'';
    case 0x2033:
      return '"';
    default:
      return -1;
  }
}

}  // namespace

QString FromAnsi(std::string_view text) {
  QString out;
  out.reserve(static_cast<qsizetype>(text.size()));
  for (char ch : text) {
    auto b = static_cast<unsigned char>(ch);
    out.append(QChar(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char16_t{b}));
  }
  return out;
}

std::string ToAnsi(const QString& text, int* unmapped) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  int misses = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    char16_t c = text.at(i).unicode();
    // A surrogate pair is one character: one '?'.
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text.at(i + 1).unicode())) ++i;
    int b = EncodeOne(c);
    if (b < 0) {
      ++misses;
      b = '?';
    }
    out.push_back(static_cast<char>(b));
  }
  if (unmapped) *unmapped = misses;
  return out;
}

}  // namespace zq
