#include "dbengine/crypto/hash_md4.h"

#include <cstring>
#include <strings.h>

namespace zq {

namespace {
inline uint32_t Rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t LoadLe(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void StoreLe(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
}  // namespace

THash_MD4::~THash_MD4() {
  explicit_bzero(buffer_, sizeof buffer_);
  explicit_bzero(chain_, sizeof chain_);
  explicit_bzero(digest_, sizeof digest_);
}

void THash_MD4::Init() {
  static constexpr uint32_t kStart[10] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                          0xC3D2E1F0, 0x76543210, 0xFEDCBA98, 0x89ABCDEF,
                                          0x01234567, 0x3C2D1E0F};
  std::memcpy(chain_, kStart, sizeof chain_);
  std::memset(buffer_, 0, sizeof buffer_);
  std::memset(digest_, 0, sizeof digest_);
  count_ = 0;
}

void THash_MD4::Calc(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t used = count_ % 64;
  count_ += size;
  if (used != 0) {
    size_t take = 64 - used < size ? 64 - used : size;
    std::memcpy(buffer_ + used, p, take);
    p += take;
    size -= take;
    if (used + take < 64) return;
    Transform(buffer_);
  }
  while (size >= 64) {
    Transform(p);
    p += 64;
    size -= 64;
  }
  if (size != 0) std::memcpy(buffer_, p, size);
}

void THash_MD4::PadForLength() {
  size_t used = count_ % 64;
  buffer_[used++] = 0x80;
  if (used > 56) {
    std::memset(buffer_ + used, 0, 64 - used);
    Transform(buffer_);
    used = 0;
  }
  std::memset(buffer_ + used, 0, 56 - used);
}

void THash_MD4::Done() {
  uint64_t bits = count_ * 8;
  PadForLength();
  StoreLe(buffer_ + 56, static_cast<uint32_t>(bits));
  StoreLe(buffer_ + 60, static_cast<uint32_t>(bits >> 32));
  Transform(buffer_);
  std::memset(buffer_, 0, sizeof buffer_);
  for (int i = 0; i < DigestKeySize() / 4; ++i) StoreLe(digest_ + 4 * i, chain_[i]);
}

void THash_MD4::Transform(const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLe(block + 4 * i);
  uint32_t a = chain_[0], b = chain_[1], c = chain_[2], d = chain_[3];

  auto f = [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); };
  auto g = [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); };
  auto h = [](uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; };

  static constexpr int kS1[4] = {3, 7, 11, 19};
  for (int i = 0; i < 16; ++i) {
    uint32_t t = Rol(a + f(b, c, d) + x[i], kS1[i % 4]);
    a = d; d = c; c = b; b = t;
  }
  static constexpr int kS2[4] = {3, 5, 9, 13};
  for (int i = 0; i < 16; ++i) {
    int k = (i % 4) * 4 + i / 4;
    uint32_t t = Rol(a + g(b, c, d) + x[k] + 0x5A827999, kS2[i % 4]);
    a = d; d = c; c = b; b = t;
  }
  static constexpr int kS3[4] = {3, 9, 11, 15};
  static constexpr int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  for (int i = 0; i < 16; ++i) {
    uint32_t t = Rol(a + h(b, c, d) + x[kOrder3[i]] + 0x6ED9EBA1, kS3[i % 4]);
    a = d; d = c; c = b; b = t;
  }
  chain_[0] += a;
  chain_[1] += b;
  chain_[2] += c;
  chain_[3] += d;
}

}  // namespace zq
