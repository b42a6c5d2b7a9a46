// Locale-aware comparison of code page 1252 texts for the user's default locale, with the
// semantics of the host's CompareStringA: linguistic order (not byte order), optionally ignoring
// case. Index key order and name matching use it. The texts are converted to UTF-16 and compared
// with ICU's collator for the default locale.
#pragma once

#include <string_view>

namespace zq {

// Compares a with b; returns -1, 0 or 1. The texts end at their first NUL, if any.
int CompareStringA(std::string_view a, std::string_view b, bool ignore_case);

// Compares only the first max_chars characters of each text (a prefix of b compares equal when
// max_chars is the length of the prefix).
int CompareStringPrefixA(std::string_view a, std::string_view b, size_t max_chars, bool ignore_case);

// Converts code page 1252 bytes to UTF-16 (every byte has a character; the five undefined
// positions map to the C1 controls of the same value).
std::u16string Cp1252ToUtf16(std::string_view text);

}  // namespace zq
