// Blowfish against the published test vectors (Eric Young's set and the author's own examples).
#include <gtest/gtest.h>

#include <cstring>

#include "dbengine/crypto/enc_blowfish.h"
#include "test_util.h"

namespace zq {
namespace {

using test::Hex;
using test::ToHex;

struct BlowfishVector {
  std::vector<uint8_t> key;
  const char* plain;
  const char* cipher;
};

std::vector<uint8_t> Bytes(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); }

TEST(Blowfish, PublishedVectors) {
  const BlowfishVector vectors[] = {
      {Hex("0000000000000000"), "0000000000000000", "4ef997456198dd78"},
      {Hex("ffffffffffffffff"), "ffffffffffffffff", "51866fd5b85ecb8a"},
      {Hex("3000000000000000"), "1000000000000001", "7d856f9a613063f2"},
      {Hex("1111111111111111"), "1111111111111111", "2466dd878b963c9d"},
      {Hex("0123456789abcdef"), "1111111111111111", "61f9c3802281b096"},
      {Hex("1111111111111111"), "0123456789abcdef", "7d0cc630afda1ec7"},
      {Hex("fedcba9876543210"), "0123456789abcdef", "0aceab0fc6a0a28d"},
      {Hex("7ca110454a1a6e57"), "01a1d6d039776742", "59c68245eb05282b"},
      {Bytes("abcdefghijklmnopqrstuvwxyz"), "424c4f5746495348" /* "BLOWFISH" */,
       "324ed0fef413a203"},
      {Bytes("Who is John Galt?"), "fedcba9876543210", "cc91732b8022f684"},
  };
  TEnc_Blowfish bf;
  for (const auto& v : vectors) {
    bf.Init(v.key.data(), static_cast<int>(v.key.size()));
    auto block = Hex(v.plain);
    bf.EncodeBlock(block.data());
    EXPECT_EQ(ToHex(block), v.cipher) << v.plain;
    bf.DecodeBlock(block.data());
    EXPECT_EQ(ToHex(block), v.plain);
  }
}

TEST(Blowfish, ContextAndKeyScheduleArea) {
  TEnc_Blowfish bf;
  EXPECT_EQ(bf.BufSize(), 8);
  EXPECT_EQ(bf.KeySize(), 56);
  EXPECT_EQ(bf.UserSize(), 4168);
  // Before any key the area is zero; after Init it holds the S-boxes then the P-array.
  for (int i = 0; i < bf.UserSize(); ++i) ASSERT_EQ(bf.User()[i], 0) << i;
  auto key = Hex("0000000000000000");
  bf.Init(key.data(), 8);
  int nonzero = 0;
  for (int i = 0; i < bf.UserSize(); ++i) nonzero += bf.User()[i] != 0;
  EXPECT_GT(nonzero, 4000);
  bf.Protect();
  for (int i = 0; i < bf.UserSize(); ++i) ASSERT_EQ(bf.User()[i], 0) << i;
  EXPECT_FALSE(bf.Initialized());
}

// Keys beyond 56 bytes are cut silently: a 60-byte key acts as its first 56 bytes.
TEST(Blowfish, LongKeyIsCut) {
  auto key = test::Pattern(60, 5);
  TEnc_Blowfish a, b;
  a.Init(key.data(), 60);
  b.Init(key.data(), 56);
  uint8_t x[8] = {1, 2, 3, 4, 5, 6, 7, 8}, y[8];
  std::memcpy(y, x, 8);
  a.EncodeBlock(x);
  b.EncodeBlock(y);
  EXPECT_EQ(0, std::memcmp(x, y, 8));
}

}  // namespace
}  // namespace zq
