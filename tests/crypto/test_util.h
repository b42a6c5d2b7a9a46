// Small helpers shared by the cipher and hash tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zq::test {

inline std::vector<uint8_t> Hex(std::string_view hex) {
  std::vector<uint8_t> out;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  int hi = -1;
  for (char c : hex) {
    int v = nibble(c);
    if (v < 0) continue;  // spaces between groups
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi * 16 + v));
      hi = -1;
    }
  }
  return out;
}

inline std::string ToHex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(digits[p[i] >> 4]);
    s.push_back(digits[p[i] & 15]);
  }
  return s;
}

inline std::string ToHex(const std::vector<uint8_t>& v) { return ToHex(v.data(), v.size()); }

// Deterministic test bytes.
inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed * 2654435761u + 12345u;
  for (auto& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 7);
  }
  return v;
}

}  // namespace zq::test
