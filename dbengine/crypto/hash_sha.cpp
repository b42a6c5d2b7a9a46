#include "dbengine/crypto/hash_sha.h"

#include <cstring>

namespace zq {

namespace {
inline uint32_t Rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline void StoreBe(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
}  // namespace

void THash_SHA::Done() {
  uint32_t bits = static_cast<uint32_t>(count_) * 8u;
  PadForLength();
  StoreBe(buffer_ + 56, 0);
  StoreBe(buffer_ + 60, bits);
  Transform(buffer_);
  std::memset(buffer_, 0, sizeof buffer_);
  for (int i = 0; i < 5; ++i) StoreBe(digest_ + 4 * i, chain_[i]);
}

void THash_SHA::Transform(const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) {
    const uint8_t* p = block + 4 * i;
    w[i] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
  }
  for (int t = 16; t < 80; ++t) w[t] = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];

  uint32_t a = chain_[0], b = chain_[1], c = chain_[2], d = chain_[3], e = chain_[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    uint32_t tmp = Rol(a, 5) + f + e + w[t] + k;
    e = d; d = c; c = Rol(b, 30); b = a; a = tmp;
  }
  chain_[0] += a;
  chain_[1] += b;
  chain_[2] += c;
  chain_[3] += d;
  chain_[4] += e;
}

}  // namespace zq
