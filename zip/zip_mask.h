// File-mask matching of the archive component: "*" matches any run of characters (separators
// included), "?" exactly one, anything else one character without regard to case in code page
// 1252. "*.*" (its first occurrence) means "*"; a mask ending in "." matches only names without
// an extension.
#pragma once

#include <string>
#include <string_view>

namespace zq {

bool ZipMaskMatches(std::string_view mask, std::string_view name);
// Case folding of code page 1252 letters.
char Cp1252ToLower(char c);
std::string Cp1252LowerCase(std::string_view text);

}  // namespace zq
