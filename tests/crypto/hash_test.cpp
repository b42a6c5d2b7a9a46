// Known-answer tests of the hashes and checksums, and the engine's Base64 digest text.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "dbengine/crypto/digest_text.h"
#include "dbengine/crypto/hash_checksum.h"
#include "dbengine/crypto/hash_md4.h"
#include "dbengine/crypto/hash_ripemd160.h"
#include "dbengine/crypto/hash_sha.h"
#include "test_util.h"

namespace zq {
namespace {

using test::Hex;
using test::ToHex;

template <class H>
std::string HexDigest(const std::string& input) {
  H h;
  h.Init();
  h.Calc(input);
  h.Done();
  return ToHex(h.Digest());
}

struct Vector {
  std::string input;
  const char* digest;
};

// The values published with the 1993 Secure Hash Standard (FIPS 180, SHA-0).
TEST(HashSha0, PublishedValues) {
  const Vector vectors[] = {
      {"abc", "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "d2516ee1acfa5baf33dfc1c471e438449ef134c8"},
      {std::string(1000000, 'a'), "3232affa48628a26653b5aaa44541fd90d690603"},
  };
  for (const auto& v : vectors) EXPECT_EQ(HexDigest<THash_SHA>(v.input), v.digest);
}

TEST(HashSha0, DiffersFromSha1AndHasTwentyBytes) {
  THash_SHA h;
  EXPECT_EQ(h.DigestKeySize(), 20);
  // SHA-1("abc") is a9993e36...; SHA-0 must not reproduce it.
  EXPECT_NE(HexDigest<THash_SHA>("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(HashSha0, SplitFeedingEqualsOneCall) {
  auto data = test::Pattern(1000, 7);
  THash_SHA whole;
  whole.Calc(data.data(), data.size());
  whole.Done();
  for (size_t step : {1u, 3u, 63u, 64u, 65u, 200u}) {
    THash_SHA split;
    split.Init();
    for (size_t i = 0; i < data.size(); i += step)
      split.Calc(data.data() + i, std::min(step, data.size() - i));
    split.Done();
    EXPECT_EQ(split.Digest(), whole.Digest()) << "step " << step;
  }
}

TEST(HashSha0, ReusableAfterInit) {
  THash_SHA h;
  h.Calc(std::string("some other input"));
  h.Done();
  h.Init();
  h.Calc(std::string("abc"));
  h.Done();
  EXPECT_EQ(ToHex(h.Digest()), "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880");
}

// The padding boundary: 55 bytes fit one block with the length, 56 need a second one.
TEST(HashSha0, PaddingBoundariesMatchSplitFeeding) {
  for (size_t n : {55u, 56u, 57u, 63u, 64u, 119u, 120u}) {
    auto data = test::Pattern(n, 3);
    THash_SHA a, b;
    a.Calc(data.data(), n);
    a.Done();
    b.Calc(data.data(), n / 2);
    b.Calc(data.data() + n / 2, n - n / 2);
    b.Done();
    EXPECT_EQ(a.Digest(), b.Digest()) << n;
  }
}

// RFC 1320, appendix A.5.
TEST(HashMd4, Rfc1320Suite) {
  const Vector vectors[] = {
      {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {"message digest", "d9130a8164549fe818874806e1c7014b"},
      {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "043f8582f241db351ce627e153e7f0e4"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "e33b4ddc9c38f2199c3e7b164fcc0536"},
  };
  for (const auto& v : vectors) EXPECT_EQ(HexDigest<THash_MD4>(v.input), v.digest) << v.input;
}

// The values published with RIPEMD-160 by its authors.
TEST(HashRipeMD160, PublishedValues) {
  const Vector vectors[] = {
      {"", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
      {"a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
      {"abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
      {"message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
      {"abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
      {std::string(1000000, 'a'), "52783243c1697bdbe16d37f97f68f08325dc1528"},
  };
  for (const auto& v : vectors)
    EXPECT_EQ(HexDigest<THash_RipeMD160>(v.input), v.digest) << v.input.substr(0, 20);
}

TEST(HashCrc32, EqualsZlibForManyLengths) {
  auto data = test::Pattern(3 * 65536 + 17, 11);
  for (size_t n : {0u, 1u, 2u, 3u, 4u, 7u, 8u, 15u, 16u, 31u, 255u, 256u, 1000u, 4095u, 4096u,
                   65535u, 65536u, 65537u, 131072u, 196608u, 196625u}) {
    uLong expected = crc32(crc32(0L, Z_NULL, 0), data.data(), static_cast<uInt>(n));
    EXPECT_EQ(CRC32OfBuffer(data.data(), n), expected) << "length " << n;
  }
}

TEST(HashCrc32, KnownValuesAndDigestBytes) {
  EXPECT_EQ(CRC32OfBuffer("", 0), 0u);
  // The check value of CRC-32/ISO-HDLC.
  EXPECT_EQ(CRC32OfBuffer("123456789", 9), 0xCBF43926u);
  THash_CRC32 h;
  h.Calc(std::string("123456789"));
  h.Done();
  EXPECT_EQ(ToHex(h.Digest()), "2639f4cb");  // little-endian value
  EXPECT_EQ(h.DigestKeySize(), 4);
}

TEST(HashXor32, RotatesAndXorsEachByte) {
  THash_XOR32 h;
  h.Calc(std::string("\x01\x02\x03\x04\x05", 5));
  h.Done();
  // ((((1 <<8 ^2) <<8 ^3) <<8 ^4) rol 8) ^ 5: the 0x01 byte wraps round to the low byte.
  EXPECT_EQ(h.Value(), 0x02030405u ^ 0x01u);
  EXPECT_EQ(ToHex(h.Digest()), "04040302");
}

std::string Text(std::initializer_list<uint8_t> bytes) {
  std::vector<uint8_t> v(bytes);
  return EngineBase64(v.data(), v.size());
}

TEST(DigestText, EngineBase64EdgeCases) {
  EXPECT_EQ(Text({0x61, 0x62, 0x63}), "YWJj");
  EXPECT_EQ(Text({0x41, 0x00, 0x00}), "QQ");  // standard Base64 would give QQAA
  EXPECT_EQ(Text({0x00, 0x00, 0x00}), "");
  EXPECT_EQ(Text({}), "");
  EXPECT_EQ(Text({0x61}), "YQ==");
  EXPECT_EQ(Text({0x61, 0x62}), "YWI=");
  EXPECT_EQ(Text({0x00}), "==");  // a zero group yields nothing, the suffix still follows
  EXPECT_EQ(Text({0x00, 0x00, 0x00, 0x61, 0x62, 0x63}), "YWJj");
  EXPECT_EQ(Text({0xFF, 0xFF, 0xFF}), "////");
}

// The check text of the empty password: the engine's Base64 form of SHA-0 of nothing.
TEST(DigestText, CheckTextOfEmptyPassword) {
  THash_SHA h;
  h.Calc("", 0);
  h.Done();
  EXPECT_EQ(ToHex(h.Digest()), "f96cea198ad1dd5617ac084a3d92c6107708c0ef");
  EXPECT_EQ(h.DigestText(), "+WzqGYrR3VYXrAhKPZLGEHcIwO8=");
}

}  // namespace
}  // namespace zq
