#include "platform/codepage.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdio>

namespace zq {

namespace {

// Upper halves (0x80..0xFF); the lower halves are ASCII.
constexpr std::array<char16_t, 128> kCp850 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
    0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
    0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1,
    0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD,
    0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2,
    0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514, 0x2534,
    0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
    0x2550, 0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4,
    0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, 0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD,
    0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8, 0x00B0,
    0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0};

// 0x80..0x9F of 1252; 0xA0..0xFF equal their code points.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct Fit {
  char32_t from;
  const char* to;
};

// Characters whose best fit is not found by decomposition.
constexpr Fit kBestFit[] = {
    {0x2000, " "},    {0x2001, " "},    {0x2002, " "},    {0x2003, " "},    {0x2004, " "},
    {0x2005, " "},    {0x2006, " "},    {0x2007, "\xA0"}, {0x2008, " "},    {0x2009, " "},
    {0x200A, " "},    {0x202F, "\xA0"}, {0x205F, " "},    {0x3000, " "},    {0x200B, ""},
    {0x200C, ""},     {0x200D, ""},     {0x2060, ""},     {0xFEFF, ""},     {0x2010, "-"},
    {0x2011, "-"},    {0x2012, "\x96"}, {0x2015, "\x97"}, {0x2212, "-"},    {0x2032, "'"},
    {0x2033, "\""},   {0x2035, "`"},    {0x2044, "/"},    {0x2215, "/"},    {0x2216, "\\"},
    {0x2217, "*"},    {0x2223, "|"},    {0x2236, ":"},    {0x223C, "~"},    {0x2024, "."},
    {0x2027, "\xB7"}, {0x2219, "\xB7"}, {0x201B, "'"},    {0x201F, "\""},   {0x2017, "_"},
    {0x0131, "i"},    {0x0141, "L"},    {0x0142, "l"},    {0x0110, "\xD0"}, {0x0111, "d"},
    {0x0126, "H"},    {0x0127, "h"},    {0x0167, "t"},    {0x0166, "T"},    {0x2502, "|"},
    {0x2551, "|"},    {0x2500, "-"},    {0x2550, "="},    {0x2524, "+"},    {0x2563, "+"},
    {0x2557, "+"},    {0x255D, "+"},    {0x2510, "+"},    {0x2514, "+"},    {0x2534, "+"},
    {0x252C, "+"},    {0x251C, "+"},    {0x253C, "+"},    {0x255A, "+"},    {0x2554, "+"},
    {0x2569, "+"},    {0x2566, "+"},    {0x2560, "+"},    {0x256C, "+"},    {0x2518, "+"},
    {0x250C, "+"},    {0x2264, "<"},    {0x2265, ">"},    {0x2260, "?"},    {0x00A0, "\xA0"},
};

std::string FitOne(char32_t cp) {
  int direct = UnicodeToCp1252(cp);
  if (direct >= 0) return std::string(1, static_cast<char>(direct));
  for (const Fit& f : kBestFit)
    if (f.from == cp) return f.to;
  // Compatibility decomposition without the combining marks: "é" of another script, ligatures,
  // full-width forms, letters with diacritics that 1252 lacks.
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
  if (U_SUCCESS(status) && cp <= 0x10FFFF) {
    icu::UnicodeString decomposed;
    if (nfkd->getDecomposition(static_cast<UChar32>(cp), decomposed)) {
      std::string out;
      bool ok = true;
      for (int32_t i = 0; i < decomposed.length();) {
        UChar32 c = decomposed.char32At(i);
        i += U16_LENGTH(c);
        if (u_charType(c) == U_NON_SPACING_MARK) continue;
        int b = UnicodeToCp1252(static_cast<char32_t>(c));
        if (b < 0) {
          ok = false;
          break;
        }
        out.push_back(static_cast<char>(b));
      }
      if (ok && !out.empty()) return out;
    }
  }
  return "?";
}

}  // namespace

char32_t Cp850ToUnicode(uint8_t byte) { return byte < 0x80 ? byte : kCp850[byte - 0x80]; }

char32_t Cp1252ToUnicode(uint8_t byte) {
  if (byte < 0x80 || byte >= 0xA0) return byte;
  return kCp1252High[byte - 0x80];
}

int UnicodeToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == cp) return 0x80 + i;
  return -1;
}

int UnicodeToCp850(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  for (int i = 0; i < 128; ++i)
    if (kCp850[i] == cp) return 0x80 + i;
  return -1;
}

std::string Cp850ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto b = static_cast<uint8_t>(c);
    if (b < 0x80)
      out.push_back(c);
    else
      out += FitOne(Cp850ToUnicode(b));
  }
  return out;
}

bool TryCp1252ToCp850(std::string_view text, std::string& out) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    int b = UnicodeToCp850(Cp1252ToUnicode(static_cast<uint8_t>(c)));
    if (b < 0) return false;
    result.push_back(static_cast<char>(b));
  }
  out = std::move(result);
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool DecodeUtf8(std::string_view text, std::u32string& out) {
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    auto b0 = static_cast<uint8_t>(text[i]);
    int extra;
    char32_t cp;
    char32_t min;
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    } else if ((b0 & 0xE0) == 0xC0) {
      extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
      return false;
    }
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= text.size()) return false;
      auto b = static_cast<uint8_t>(text[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out.push_back(cp);
    i += extra + 1;
  }
  return true;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char c : text) AppendUtf8(out, Cp1252ToUnicode(static_cast<uint8_t>(c)));
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::u32string cps;
  if (!DecodeUtf8(text, cps)) throw ECodePageError("Invalid UTF-8 text");
  std::string out;
  out.reserve(cps.size());
  for (char32_t cp : cps) {
    int b = UnicodeToCp1252(cp);
    if (b < 0) {
      char code[16];
      std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(cp));
      throw ECodePageError(
          FormatMessage("Character U+%s cannot be represented in code page 1252", {code}));
    }
    out.push_back(static_cast<char>(b));
  }
  return out;
}

std::string BestFitCp1252(char32_t cp) { return FitOne(cp); }

std::string Utf8ToCp1252BestFit(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    // Decode one sequence at a time so a malformed byte costs only itself.
    size_t len = 1;
    auto b0 = static_cast<uint8_t>(text[i]);
    if ((b0 & 0xE0) == 0xC0) len = 2;
    else if ((b0 & 0xF0) == 0xE0) len = 3;
    else if ((b0 & 0xF8) == 0xF0) len = 4;
    std::u32string one;
    if (i + len <= text.size() && DecodeUtf8(text.substr(i, len), one) && one.size() == 1) {
      out += FitOne(one[0]);
      i += len;
    } else {
      out.push_back('?');
      ++i;
    }
  }
  return out;
}

}  // namespace zq
