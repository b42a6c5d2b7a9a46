// The engine's Twofish variant. An independently written standard Twofish (straight from the
// algorithm's description, field arithmetic on the fly, no tables) is first checked against the
// published vectors; the variant must then share its even subkeys and follow the variant's own
// subkey rule and 30-round sequence, built here on the same reference functions.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "dbengine/crypto/enc_twofish.h"
#include "test_util.h"

namespace zq {
namespace {

using test::Hex;
using test::ToHex;

namespace ref {

uint32_t Rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
uint32_t Ror(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint8_t Q(int which, uint8_t x) {
  static const uint8_t t[2][4][16] = {
      {{8, 1, 7, 13, 6, 15, 3, 2, 0, 11, 5, 9, 14, 12, 10, 4},
       {14, 12, 11, 8, 1, 2, 3, 5, 15, 4, 10, 6, 7, 0, 9, 13},
       {11, 10, 5, 14, 6, 13, 9, 0, 12, 8, 15, 3, 2, 4, 7, 1},
       {13, 7, 15, 4, 1, 2, 6, 14, 9, 11, 3, 0, 8, 5, 12, 10}},
      {{2, 8, 11, 13, 15, 7, 6, 14, 3, 1, 9, 4, 0, 10, 12, 5},
       {1, 14, 2, 11, 4, 12, 3, 7, 6, 13, 10, 5, 15, 9, 0, 8},
       {4, 12, 7, 5, 1, 6, 9, 10, 0, 14, 13, 8, 2, 11, 3, 15},
       {11, 9, 5, 1, 12, 3, 13, 14, 6, 4, 7, 15, 2, 0, 8, 10}}};
  auto ror4 = [](unsigned v) { return ((v >> 1) | (v << 3)) & 15u; };
  unsigned a = x >> 4, b = x & 15;
  for (int round = 0; round < 2; ++round) {
    unsigned a1 = a ^ b, b1 = (a ^ ror4(b) ^ (8 * a)) & 15;
    a = t[which][2 * round][a1];
    b = t[which][2 * round + 1][b1];
  }
  return static_cast<uint8_t>(16 * b + a);
}

uint8_t Mul(uint8_t a, uint8_t b, unsigned poly) {
  unsigned r = 0, x = a;
  while (b) {
    if (b & 1) r ^= x;
    b >>= 1;
    x <<= 1;
    if (x & 0x100) x ^= poly;
  }
  return static_cast<uint8_t>(r);
}

uint32_t H(uint32_t X, const std::vector<uint32_t>& L) {
  uint8_t y[4];
  for (int i = 0; i < 4; ++i) y[i] = static_cast<uint8_t>(X >> (8 * i));
  auto l = [&](int w, int i) { return static_cast<uint8_t>(L[w] >> (8 * i)); };
  size_t k = L.size();
  if (k == 4) {
    y[0] = Q(1, y[0]) ^ l(3, 0);
    y[1] = Q(0, y[1]) ^ l(3, 1);
    y[2] = Q(0, y[2]) ^ l(3, 2);
    y[3] = Q(1, y[3]) ^ l(3, 3);
  }
  if (k >= 3) {
    y[0] = Q(1, y[0]) ^ l(2, 0);
    y[1] = Q(1, y[1]) ^ l(2, 1);
    y[2] = Q(0, y[2]) ^ l(2, 2);
    y[3] = Q(0, y[3]) ^ l(2, 3);
  }
  y[0] = Q(1, Q(0, Q(0, y[0]) ^ l(1, 0)) ^ l(0, 0));
  y[1] = Q(0, Q(0, Q(1, y[1]) ^ l(1, 1)) ^ l(0, 1));
  y[2] = Q(1, Q(1, Q(0, y[2]) ^ l(1, 2)) ^ l(0, 2));
  y[3] = Q(0, Q(1, Q(1, y[3]) ^ l(1, 3)) ^ l(0, 3));
  static const uint8_t mds[4][4] = {
      {0x01, 0xEF, 0x5B, 0x5B}, {0x5B, 0xEF, 0xEF, 0x01}, {0xEF, 0x5B, 0x01, 0xEF}, {0xEF, 0x01, 0xEF, 0x5B}};
  uint32_t z = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t zi = 0;
    for (int j = 0; j < 4; ++j) zi ^= Mul(mds[i][j], y[j], 0x169);
    z |= uint32_t{zi} << (8 * i);
  }
  return z;
}

struct Key {
  uint32_t K[40];
  std::vector<uint32_t> S;
};

// variant = false: published schedule; true: odd subkeys ROL(A + (B >> 1), 9).
Key Schedule(std::vector<uint8_t> key, bool variant) {
  size_t len = key.size() <= 16 ? 16 : key.size() <= 24 ? 24 : 32;
  key.resize(len, 0);
  size_t k = len / 8;
  std::vector<uint32_t> me(k), mo(k);
  auto word = [&](size_t i) {
    return uint32_t{key[4 * i]} | uint32_t{key[4 * i + 1]} << 8 | uint32_t{key[4 * i + 2]} << 16 |
           uint32_t{key[4 * i + 3]} << 24;
  };
  Key out{};
  out.S.resize(k);
  static const uint8_t rs[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                                   {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                                   {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                                   {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};
  for (size_t i = 0; i < k; ++i) {
    me[i] = word(2 * i);
    mo[i] = word(2 * i + 1);
    uint32_t s = 0;
    for (int r = 0; r < 4; ++r) {
      uint8_t v = 0;
      for (int j = 0; j < 8; ++j) v ^= Mul(rs[r][j], key[8 * i + j], 0x14D);
      s |= uint32_t{v} << (8 * r);
    }
    out.S[k - 1 - i] = s;
  }
  for (uint32_t i = 0; i < 20; ++i) {
    uint32_t A = H(2 * i * 0x01010101u, me);
    uint32_t B = Rol(H((2 * i + 1) * 0x01010101u, mo), 8);
    out.K[2 * i] = A + B;
    out.K[2 * i + 1] = Rol(variant ? A + (B >> 1) : A + 2 * B, 9);
  }
  return out;
}

uint32_t Load(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
void Store(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Published Twofish: 16 rounds with the swap.
void EncryptStandard(const Key& key, uint8_t* block) {
  uint32_t R[4];
  for (int i = 0; i < 4; ++i) R[i] = Load(block + 4 * i) ^ key.K[i];
  for (int r = 0; r < 16; ++r) {
    uint32_t T0 = H(R[0], key.S), T1 = H(Rol(R[1], 8), key.S);
    uint32_t F0 = T0 + T1 + key.K[2 * r + 8], F1 = T0 + 2 * T1 + key.K[2 * r + 9];
    uint32_t n2 = Ror(R[2] ^ F0, 1), n3 = Rol(R[3], 1) ^ F1;
    R[2] = R[0];
    R[3] = R[1];
    R[0] = n2;
    R[1] = n3;
  }
  Store(block, R[2] ^ key.K[4]);
  Store(block + 4, R[3] ^ key.K[5]);
  Store(block + 8, R[0] ^ key.K[6]);
  Store(block + 12, R[1] ^ key.K[7]);
}

// The variant's 30 rounds: each subkey pair from K10/K11 on serves two consecutive rounds.
void EncryptVariant(const Key& key, uint8_t* block) {
  uint32_t R[4];
  for (int i = 0; i < 4; ++i) R[i] = Load(block + 4 * i) ^ key.K[i];
  int a = 0, b = 1, c = 2, d = 3;  // which words act as the round's inputs and targets
  for (int round = 0; round < 30; ++round) {
    int sub = 8 + 2 * ((round + 1) / 2);  // 8, 10, 10, 12, 12, ..., 36, 36, 38
    uint32_t T0 = H(R[a], key.S), T1 = H(Rol(R[b], 8), key.S);
    R[c] = Ror(R[c] ^ (T0 + T1 + key.K[sub]), 1);
    R[d] = Rol(R[d], 1) ^ (T0 + 2 * T1 + key.K[sub + 1]);
    std::swap(a, c);
    std::swap(b, d);
  }
  Store(block, R[2] ^ key.K[4]);
  Store(block + 4, R[3] ^ key.K[5]);
  Store(block + 8, R[0] ^ key.K[6]);
  Store(block + 12, R[1] ^ key.K[7]);
}

}  // namespace ref

// The published Twofish vectors (the algorithm's paper, 128, 192 and 256-bit keys).
TEST(TwofishReference, PublishedVectors) {
  struct V {
    const char* key;
    const char* plain;
    const char* cipher;
  } vectors[] = {
      {"00000000000000000000000000000000", "00000000000000000000000000000000",
       "9f589f5cf6122c32b6bfec2f2ae8c35a"},
      {"00000000000000000000000000000000", "9f589f5cf6122c32b6bfec2f2ae8c35a",
       "d491db16e7b1c39e86cb086b789f5419"},
      {"0123456789abcdeffedcba98765432100011223344556677", "00000000000000000000000000000000",
       "cfd1d2e5a9be9cdf501f13b892bd2248"},
      {"0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff",
       "00000000000000000000000000000000", "37527be0052334b89f0cfccae87cfa20"},
  };
  for (const auto& v : vectors) {
    auto key = ref::Schedule(Hex(v.key), false);
    auto block = Hex(v.plain);
    ref::EncryptStandard(key, block.data());
    EXPECT_EQ(ToHex(block), v.cipher) << v.key;
  }
}

TEST(TwofishVariant, EvenSubkeysMatchPublishedScheduleOddOnesFollowTheVariantRule) {
  for (size_t len : {0u, 5u, 16u, 20u, 24u, 31u, 32u}) {
    auto key = test::Pattern(len, static_cast<uint32_t>(len) + 1);
    auto published = ref::Schedule(key, false);
    auto variant = ref::Schedule(key, true);
    TEnc_Twofish tf;
    tf.Init(key.data(), static_cast<int>(len));
    int odd_differences = 0;
    for (int i = 0; i < 40; i += 2) EXPECT_EQ(tf.SubKey(i), published.K[i]) << len << " " << i;
    for (int i = 1; i < 40; i += 2) {
      EXPECT_EQ(tf.SubKey(i), variant.K[i]) << len << " " << i;
      odd_differences += tf.SubKey(i) != published.K[i];
    }
    EXPECT_GT(odd_differences, 15);
  }
}

TEST(TwofishVariant, BlocksFollowTheThirtyRoundSequence) {
  for (size_t len : {16u, 20u, 32u}) {
    auto key = test::Pattern(len, 40 + static_cast<uint32_t>(len));
    auto ref_key = ref::Schedule(key, true);
    TEnc_Twofish tf;
    tf.Init(key.data(), static_cast<int>(len));
    for (uint32_t seed = 0; seed < 8; ++seed) {
      auto block = test::Pattern(16, seed);
      auto expected = block;
      ref::EncryptVariant(ref_key, expected.data());
      auto got = block;
      tf.EncodeBlock(got.data());
      EXPECT_EQ(ToHex(got), ToHex(expected));
      tf.DecodeBlock(got.data());
      EXPECT_EQ(got, block);
    }
  }
}

TEST(TwofishVariant, DiffersFromPublishedTwofish) {
  TEnc_Twofish tf;
  uint8_t key[16] = {};
  tf.Init(key, 16);
  uint8_t block[16] = {};
  tf.EncodeBlock(block);
  EXPECT_NE(ToHex(block, 16), "9f589f5cf6122c32b6bfec2f2ae8c35a");
}

// A 20-byte key (a password digest) is a 24-byte key ending in four zero bytes.
TEST(TwofishVariant, TwentyByteKeyIsPaddedToTwentyFour) {
  auto key = test::Pattern(20, 9);
  auto padded = key;
  padded.resize(24, 0);
  TEnc_Twofish a, b;
  a.Init(key.data(), 20);
  b.Init(padded.data(), 24);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(a.SubKey(i), b.SubKey(i));
  EXPECT_EQ(0, std::memcmp(a.User(), b.User(), 4256));
  EXPECT_EQ(a.UserSize(), 4256);
  EXPECT_EQ(a.BufSize(), 16);
  EXPECT_EQ(a.KeySize(), 32);
}

}  // namespace
}  // namespace zq
