// Code page conversions: OEM code page 850 (archive entry names), ANSI code page 1252 (all text
// inside the components) and UTF-8 (terminals, Qt). Strict conversions raise ECodePageError; the
// best-fit ones never fail and replace what cannot be held with the nearest character or "?".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace zq {

class ECodePageError : public Exception {
 public:
  using Exception::Exception;
};

// Unicode code point of a byte. In 1252 the five undefined bytes (81 8D 8F 90 9D) map to the
// C1 controls of the same value, as the host's conversion does.
char32_t Cp850ToUnicode(uint8_t byte);
char32_t Cp1252ToUnicode(uint8_t byte);
// Byte of a code point, or -1 when the code page has no such character.
int UnicodeToCp1252(char32_t code_point);
int UnicodeToCp850(char32_t code_point);

// 850 -> 1252: characters 1252 lacks (box drawing, shades, dotless i, ...) take their best fit.
std::string Cp850ToCp1252(std::string_view text);
// 1252 -> 850; false (out untouched) when a character has no place in 850.
bool TryCp1252ToCp850(std::string_view text, std::string& out);

std::string Cp1252ToUtf8(std::string_view text);
// Raises ECodePageError "Invalid UTF-8 text" or
// "Character U+XXXX cannot be represented in code page 1252".
std::string Utf8ToCp1252(std::string_view text);
// Best fit (e.g. U+202F narrow no-break space -> A0, U+2011 -> "-", "ﬁ" -> "fi", accented
// letters 1252 lacks -> their base letter); "?" where nothing fits or the UTF-8 is malformed.
std::string Utf8ToCp1252BestFit(std::string_view text);
// Best fit of one code point (possibly several bytes, possibly empty for zero-width
// characters); "?" when nothing fits.
std::string BestFitCp1252(char32_t code_point);

// Decodes UTF-8 strictly (no overlong forms, no surrogates, nothing above U+10FFFF); false on
// malformed input.
bool DecodeUtf8(std::string_view text, std::u32string& out);
void AppendUtf8(std::string& out, char32_t code_point);

}  // namespace zq
