#include "dbengine/crypto/digest_text.h"

namespace zq {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string EngineBase64(const uint8_t* data, size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4 + 2);
  for (size_t i = 0; i < size; i += 3) {
    uint32_t v = static_cast<uint32_t>(data[i]) << 24;
    if (i + 1 < size) v |= static_cast<uint32_t>(data[i + 1]) << 16;
    if (i + 2 < size) v |= static_cast<uint32_t>(data[i + 2]) << 8;
    while (v != 0) {
      v = (v << 6) | (v >> 26);
      out.push_back(kAlphabet[v & 0x3F]);
      v &= ~uint32_t{0x3F};
    }
  }
  if (size % 3 == 1) out += "==";
  if (size % 3 == 2) out += "=";
  return out;
}

}  // namespace zq
