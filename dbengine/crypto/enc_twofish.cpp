#include "dbengine/crypto/enc_twofish.h"

#include <array>
#include <cstring>

#include "dbengine/crypto/cipher_modes.h"

namespace zq {

namespace {

using Perm = std::array<uint8_t, 256>;

// The 8-bit permutations q0 and q1, built from their four 4-bit tables.
constexpr Perm MakeQ(const uint8_t (&t)[4][16]) {
  Perm q{};
  for (int x = 0; x < 256; ++x) {
    auto ror4 = [](int v) { return ((v >> 1) | (v << 3)) & 15; };
    int a0 = x >> 4, b0 = x & 15;
    int a1 = a0 ^ b0, b1 = (a0 ^ ror4(b0) ^ (8 * a0)) & 15;
    int a2 = t[0][a1], b2 = t[1][b1];
    int a3 = a2 ^ b2, b3 = (a2 ^ ror4(b2) ^ (8 * a2)) & 15;
    int a4 = t[2][a3], b4 = t[3][b3];
    q[x] = static_cast<uint8_t>(16 * b4 + a4);
  }
  return q;
}

constexpr uint8_t kT0[4][16] = {{8, 1, 7, 13, 6, 15, 3, 2, 0, 11, 5, 9, 14, 12, 10, 4},
                                {14, 12, 11, 8, 1, 2, 3, 5, 15, 4, 10, 6, 7, 0, 9, 13},
                                {11, 10, 5, 14, 6, 13, 9, 0, 12, 8, 15, 3, 2, 4, 7, 1},
                                {13, 7, 15, 4, 1, 2, 6, 14, 9, 11, 3, 0, 8, 5, 12, 10}};
constexpr uint8_t kT1[4][16] = {{2, 8, 11, 13, 15, 7, 6, 14, 3, 1, 9, 4, 0, 10, 12, 5},
                                {1, 14, 2, 11, 4, 12, 3, 7, 6, 13, 10, 5, 15, 9, 0, 8},
                                {4, 12, 7, 5, 1, 6, 9, 10, 0, 14, 13, 8, 2, 11, 3, 15},
                                {11, 9, 5, 1, 12, 3, 13, 14, 6, 4, 7, 15, 2, 0, 8, 10}};
constexpr Perm kQ0 = MakeQ(kT0);
constexpr Perm kQ1 = MakeQ(kT1);
static_assert(kQ0[0] == 0xA9 && kQ0[1] == 0x67 && kQ0[2] == 0xB3 && kQ0[3] == 0xE8);
static_assert(kQ1[0] == 0x75 && kQ1[1] == 0xF3 && kQ1[2] == 0xC6 && kQ1[3] == 0xF4);

// Multiplication in GF(2^8) modulo the given field polynomial.
constexpr uint8_t GfMul(uint8_t a, uint8_t b, unsigned poly) {
  unsigned r = 0, x = a;
  for (; b != 0; b >>= 1) {
    if (b & 1) r ^= x;
    x <<= 1;
    if (x & 0x100) x ^= poly;
  }
  return static_cast<uint8_t>(r);
}

constexpr unsigned kMdsPoly = 0x169;  // x^8 + x^6 + x^5 + x^3 + 1
constexpr unsigned kRsPoly = 0x14D;   // x^8 + x^6 + x^3 + x^2 + 1
constexpr uint8_t kMds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B}, {0x5B, 0xEF, 0xEF, 0x01}, {0xEF, 0x5B, 0x01, 0xEF}, {0xEF, 0x01, 0xEF, 0x5B}};
constexpr uint8_t kRs[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                               {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                               {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                               {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};

// Column j of the MDS matrix times y, as a word.
constexpr uint32_t MdsColumn(int j, uint8_t y) {
  uint32_t z = 0;
  for (int i = 0; i < 4; ++i) z |= uint32_t{GfMul(kMds[i][j], y, kMdsPoly)} << (8 * i);
  return z;
}

// MDS column tables for every byte value, so h and the g tables need no field arithmetic.
struct MdsTables {
  uint32_t col[4][256];
};
constexpr MdsTables MakeMds() {
  MdsTables t{};
  for (int j = 0; j < 4; ++j)
    for (int y = 0; y < 256; ++y) t.col[j][y] = MdsColumn(j, static_cast<uint8_t>(y));
  return t;
}
constexpr MdsTables kMdsTables = MakeMds();

inline uint8_t Byte(uint32_t w, int i) { return static_cast<uint8_t>(w >> (8 * i)); }
inline uint32_t Rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t Ror(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// The q/key-XOR chain of h for input byte position j, with the list L of k words.
inline uint8_t HChain(int j, uint8_t y, const uint32_t* L, int k) {
  if (k == 4) {
    static constexpr const Perm* q4[4] = {&kQ1, &kQ0, &kQ0, &kQ1};
    y = (*q4[j])[y] ^ Byte(L[3], j);
  }
  if (k >= 3) {
    static constexpr const Perm* q3[4] = {&kQ1, &kQ1, &kQ0, &kQ0};
    y = (*q3[j])[y] ^ Byte(L[2], j);
  }
  static constexpr const Perm* q2[4] = {&kQ0, &kQ1, &kQ0, &kQ1};
  static constexpr const Perm* q1[4] = {&kQ0, &kQ0, &kQ1, &kQ1};
  static constexpr const Perm* q0[4] = {&kQ1, &kQ0, &kQ1, &kQ0};
  y = (*q2[j])[y] ^ Byte(L[1], j);
  y = (*q1[j])[y] ^ Byte(L[0], j);
  return (*q0[j])[y];
}

inline uint32_t H(uint32_t x, const uint32_t* L, int k) {
  uint32_t z = 0;
  for (int j = 0; j < 4; ++j) z ^= kMdsTables.col[j][HChain(j, Byte(x, j), L, k)];
  return z;
}

// K: 40 subkeys; G: four 256-word tables with g(X) = G0[x0] ^ G1[x1] ^ G2[x2] ^ G3[x3].
struct TwofishCore {
  static constexpr int kBlock = 16;
  const uint32_t* K;
  const uint32_t* G;

  inline uint32_t g(uint32_t x) const {
    return G[x & 0xFF] ^ G[256 + ((x >> 8) & 0xFF)] ^ G[512 + ((x >> 16) & 0xFF)] ^ G[768 + (x >> 24)];
  }
  static inline uint32_t Load(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  }
  static inline void Store(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
  }
  inline void Enc(uint8_t* b) const {
    uint32_t r0 = Load(b) ^ K[0], r1 = Load(b + 4) ^ K[1];
    uint32_t r2 = Load(b + 8) ^ K[2], r3 = Load(b + 12) ^ K[3];
    for (int i = 0; i < 15; ++i) {
      uint32_t t0 = g(r0), t1 = g(Rol(r1, 8));
      r2 = Ror(r2 ^ (t0 + t1 + K[8 + 2 * i]), 1);
      r3 = Rol(r3, 1) ^ (t0 + 2 * t1 + K[9 + 2 * i]);
      t0 = g(r2);
      t1 = g(Rol(r3, 8));
      r0 = Ror(r0 ^ (t0 + t1 + K[10 + 2 * i]), 1);
      r1 = Rol(r1, 1) ^ (t0 + 2 * t1 + K[11 + 2 * i]);
    }
    Store(b, r2 ^ K[4]);
    Store(b + 4, r3 ^ K[5]);
    Store(b + 8, r0 ^ K[6]);
    Store(b + 12, r1 ^ K[7]);
  }
  inline void Dec(uint8_t* b) const {
    uint32_t r2 = Load(b) ^ K[4], r3 = Load(b + 4) ^ K[5];
    uint32_t r0 = Load(b + 8) ^ K[6], r1 = Load(b + 12) ^ K[7];
    for (int i = 0; i < 15; ++i) {
      uint32_t t0 = g(r2), t1 = g(Rol(r3, 8));
      r0 = Rol(r0, 1) ^ (t0 + t1 + K[38 - 2 * i]);
      r1 = Ror(r1 ^ (t0 + 2 * t1 + K[39 - 2 * i]), 1);
      t0 = g(r0);
      t1 = g(Rol(r1, 8));
      r2 = Rol(r2, 1) ^ (t0 + t1 + K[36 - 2 * i]);
      r3 = Ror(r3 ^ (t0 + 2 * t1 + K[37 - 2 * i]), 1);
    }
    Store(b, r0 ^ K[0]);
    Store(b + 4, r1 ^ K[1]);
    Store(b + 8, r2 ^ K[2]);
    Store(b + 12, r3 ^ K[3]);
  }
};

}  // namespace

#define ZQ_TWOFISH_CORE TwofishCore{UserWords(), UserWords() + 40}

void TEnc_Twofish::EncodeBlock(uint8_t* block) { ZQ_TWOFISH_CORE.Enc(block); }
void TEnc_Twofish::DecodeBlock(uint8_t* block) { ZQ_TWOFISH_CORE.Dec(block); }

void TEnc_Twofish::KeySchedule(const uint8_t* key, int size) {
  int len = size <= 16 ? 16 : size <= 24 ? 24 : 32;
  int k = len / 8;
  uint8_t m[32] = {};
  if (size > 0) std::memcpy(m, key, static_cast<size_t>(size));
  uint32_t me[4] = {}, mo[4] = {}, s[4] = {};
  for (int i = 0; i < k; ++i) {
    me[i] = TwofishCore::Load(m + 8 * i);
    mo[i] = TwofishCore::Load(m + 8 * i + 4);
    // RS product of the i-th 8-byte group; the S list is used in reverse order.
    uint32_t w = 0;
    for (int r = 0; r < 4; ++r) {
      uint8_t acc = 0;
      for (int j = 0; j < 8; ++j) acc ^= GfMul(kRs[r][j], m[8 * i + j], kRsPoly);
      w |= uint32_t{acc} << (8 * r);
    }
    s[k - 1 - i] = w;
  }
  uint32_t* K = UserWords();
  constexpr uint32_t rho = 0x01010101;
  for (uint32_t i = 0; i < 20; ++i) {
    uint32_t a = H(2 * i * rho, me, k);
    uint32_t b = Rol(H((2 * i + 1) * rho, mo, k), 8);
    K[2 * i] = a + b;
    K[2 * i + 1] = Rol(a + (b >> 1), 9);
  }
  uint32_t* G = K + 40;
  for (int j = 0; j < 4; ++j)
    for (int x = 0; x < 256; ++x)
      G[256 * j + x] = kMdsTables.col[j][HChain(j, static_cast<uint8_t>(x), s, k)];
  explicit_bzero(m, sizeof m);
  explicit_bzero(me, sizeof me);
  explicit_bzero(mo, sizeof mo);
  explicit_bzero(s, sizeof s);
}

void TEnc_Twofish::EncodeModes(const uint8_t* src, uint8_t* dst, size_t size) {
  cipher_modes::Encode(ZQ_TWOFISH_CORE, Mode(), FeedbackArea(), BufferArea(), src, dst, size);
}

void TEnc_Twofish::DecodeModes(const uint8_t* src, uint8_t* dst, size_t size) {
  cipher_modes::Decode(ZQ_TWOFISH_CORE, Mode(), FeedbackArea(), BufferArea(), src, dst, size);
}

#undef ZQ_TWOFISH_CORE

}  // namespace zq
