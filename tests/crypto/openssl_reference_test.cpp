// Blowfish mode 1 against OpenSSL's Blowfish CBC, an independent implementation, over the same
// key bytes and starting vector; and the keyed password path against OpenSSL's ECB.
#include <gtest/gtest.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/blowfish.h>

#include <cstring>

#include "dbengine/crypto/enc_blowfish.h"
#include "dbengine/crypto/hash_sha.h"
#include "test_util.h"

namespace zq {
namespace {

TEST(OpenSslReference, BlowfishMode1IsCbcWithTheEncryptedAllOnesVector) {
  for (size_t key_len : {1u, 8u, 20u, 56u}) {
    auto key = test::Pattern(key_len, static_cast<uint32_t>(key_len));
    TEnc_Blowfish ours;
    ours.Init(key.data(), static_cast<int>(key_len));
    ours.SetMode(modeCBC);
    BF_KEY bf;
    BF_set_key(&bf, static_cast<int>(key_len), key.data());
    // The vector: E(FF..FF) under the key.
    unsigned char ones[8], iv[8];
    std::memset(ones, 0xFF, 8);
    BF_ecb_encrypt(ones, iv, &bf, BF_ENCRYPT);
    ASSERT_EQ(0, std::memcmp(iv, ours.Vector(), 8)) << key_len;
    for (size_t n : {8u, 64u, 4096u, 65536u}) {
      auto plain = test::Pattern(n, static_cast<uint32_t>(n + key_len));
      std::vector<uint8_t> a(n), b(n);
      ours.EncodeBuffer(plain.data(), a.data(), static_cast<int64_t>(n));
      ours.Done();
      unsigned char ivec[8];
      std::memcpy(ivec, iv, 8);
      BF_cbc_encrypt(plain.data(), b.data(), static_cast<long>(n), &bf, ivec, BF_ENCRYPT);
      EXPECT_EQ(a, b) << key_len << " " << n;
      // And OpenSSL decrypts what we wrote.
      std::memcpy(ivec, iv, 8);
      std::vector<uint8_t> back(n);
      BF_cbc_encrypt(a.data(), back.data(), static_cast<long>(n), &bf, ivec, BF_DECRYPT);
      EXPECT_EQ(back, plain);
    }
  }
}

TEST(OpenSslReference, InitKeyUsesTheTwentyByteDigest) {
  TEnc_Blowfish ours;
  ours.InitKey("Mot2Passe");
  THash_SHA sha;
  sha.Calc(std::string("Mot2Passe"));
  sha.Done();
  BF_KEY bf;
  BF_set_key(&bf, 20, sha.DigestKey());
  unsigned char block[8] = {1, 2, 3, 4, 5, 6, 7, 8}, theirs[8];
  BF_ecb_encrypt(block, theirs, &bf, BF_ENCRYPT);
  ours.EncodeBlock(block);
  EXPECT_EQ(0, std::memcmp(block, theirs, 8));
}

}  // namespace
}  // namespace zq

#pragma GCC diagnostic pop
