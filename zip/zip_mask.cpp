#include "zip/zip_mask.h"

namespace zq {

char Cp1252ToLower(char c) {
  auto b = static_cast<uint8_t>(c);
  if (b >= 'A' && b <= 'Z') return static_cast<char>(b + 32);
  if (b >= 0xC0 && b <= 0xDE && b != 0xD7) return static_cast<char>(b + 32);
  switch (b) {
    case 0x8A: return static_cast<char>(0x9A);  // S caron
    case 0x8C: return static_cast<char>(0x9C);  // OE
    case 0x8E: return static_cast<char>(0x9E);  // Z caron
    case 0x9F: return static_cast<char>(0xFF);  // Y diaeresis
    default: return c;
  }
}

std::string Cp1252LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Cp1252ToLower(c);
  return out;
}

namespace {

// Glob match with single-star backtracking: linear in practice, O(n*m) at worst.
bool Wildcard(std::string_view mask, std::string_view name) {
  size_t m = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      star = m++;
      resume = n;
    } else if (m < mask.size() &&
               (mask[m] == '?' || Cp1252ToLower(mask[m]) == Cp1252ToLower(name[n]))) {
      ++m;
      ++n;
    } else if (star != std::string_view::npos) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

bool ZipMaskMatches(std::string_view mask_in, std::string_view name) {
  std::string mask(mask_in);
  bool ended_with_dot = !mask.empty() && mask.back() == '.';
  size_t all = mask.find("*.*");
  if (all != std::string::npos) mask = mask.substr(0, all) + "*" + mask.substr(all + 3);
  if (!mask.empty() && mask.back() == '.') mask.pop_back();
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  bool matched = mask == "*" || Wildcard(mask, name);
  if (matched && ended_with_dot) {
    size_t sep = name.find_last_of("/\\");
    std::string_view file = sep == std::string_view::npos ? name : name.substr(sep + 1);
    matched = file.find('.') == std::string_view::npos;
  }
  return matched;
}

}  // namespace zq
