// The chaining modes of TEncrypt for all three ciphers: equality with the textbook modes built on
// the raw block function, the trailing partial block rules, round trips of many lengths, keying.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "dbengine/crypto/enc_blowfish.h"
#include "dbengine/crypto/enc_gost.h"
#include "dbengine/crypto/enc_twofish.h"
#include "dbengine/crypto/encrypt_exception.h"
#include "dbengine/crypto/hash_sha.h"
#include "test_util.h"

namespace zq {
namespace {

using Bytes = std::vector<uint8_t>;

struct CipherCase {
  const char* name;
  std::function<std::unique_ptr<TEncrypt>()> make;
};

const CipherCase kCiphers[] = {
    {"TEnc_Blowfish", [] { return std::make_unique<TEnc_Blowfish>(); }},
    {"TEnc_Twofish", [] { return std::make_unique<TEnc_Twofish>(); }},
    {"TEnc_Gost", [] { return std::make_unique<TEnc_Gost>(); }},
};

std::unique_ptr<TEncrypt> Keyed(const CipherCase& c, uint8_t mode, const std::string& password = "secret") {
  auto e = c.make();
  e->InitKey(password);
  e->SetMode(mode);
  return e;
}

Bytes Encode(TEncrypt& e, const Bytes& in) {
  Bytes out(in.size());
  e.EncodeBuffer(in.data(), out.data(), static_cast<int64_t>(in.size()));
  e.Done();
  return out;
}

Bytes Decode(TEncrypt& e, const Bytes& in) {
  Bytes out(in.size());
  e.DecodeBuffer(in.data(), out.data(), static_cast<int64_t>(in.size()));
  e.Done();
  return out;
}

// E(FF..FF) under the cipher's current key, through the raw block function.
Bytes DefaultVector(TEncrypt& e) {
  Bytes v(e.BufSize(), 0xFF);
  e.EncodeBlock(v.data());
  return v;
}

TEST(CipherModes, VectorIsEncryptionOfAllOnesAndFeedbackStartsThere) {
  for (const auto& c : kCiphers) {
    auto e = Keyed(c, modeCBC);
    Bytes iv = DefaultVector(*e);
    EXPECT_EQ(Bytes(e->Vector(), e->Vector() + e->BufSize()), iv) << c.name;
    EXPECT_EQ(Bytes(e->Feedback(), e->Feedback() + e->BufSize()), iv) << c.name;
  }
}

TEST(CipherModes, Mode1IsStandardCbcOnWholeBlocks) {
  for (const auto& c : kCiphers) {
    auto e = Keyed(c, modeCBC);
    const size_t B = e->BufSize();
    Bytes plain = test::Pattern(B * 9, 21);
    Bytes expected(plain.size());
    Bytes chain = DefaultVector(*e);
    for (size_t i = 0; i < plain.size(); i += B) {
      for (size_t j = 0; j < B; ++j) expected[i + j] = plain[i + j] ^ chain[j];
      e->EncodeBlock(expected.data() + i);
      std::memcpy(chain.data(), expected.data() + i, B);
    }
    EXPECT_EQ(Encode(*e, plain), expected) << c.name;
  }
}

TEST(CipherModes, Mode0AccumulatesCiphertextsInTheRegister) {
  for (const auto& c : kCiphers) {
    auto e = Keyed(c, modeXorChain);
    const size_t B = e->BufSize();
    Bytes plain = test::Pattern(B * 4 + 3, 22);
    Bytes expected(plain.size());
    Bytes f = DefaultVector(*e);
    size_t whole = plain.size() / B * B;
    for (size_t i = 0; i < whole; i += B) {
      for (size_t j = 0; j < B; ++j) expected[i + j] = plain[i + j] ^ f[j];
      e->EncodeBlock(expected.data() + i);
      for (size_t j = 0; j < B; ++j) f[j] ^= expected[i + j];
    }
    Bytes k = f;
    e->EncodeBlock(k.data());
    for (size_t j = whole; j < plain.size(); ++j) expected[j] = plain[j] ^ k[j - whole];
    EXPECT_EQ(Encode(*e, plain), expected) << c.name;
  }
}

TEST(CipherModes, Mode2IsStandardCfb8AndMode3StandardOfb8) {
  for (const auto& c : kCiphers) {
    for (uint8_t mode : {modeCFB8, modeOFB8}) {
      auto e = Keyed(c, mode);
      const size_t B = e->BufSize();
      Bytes plain = test::Pattern(3 * B + 5, 23);
      Bytes reg = DefaultVector(*e);
      Bytes expected;
      for (uint8_t p : plain) {
        Bytes k = reg;
        e->EncodeBlock(k.data());
        uint8_t out = p ^ k[0];
        expected.push_back(out);
        reg.erase(reg.begin());
        reg.push_back(mode == modeCFB8 ? out : k[0]);
      }
      EXPECT_EQ(Encode(*e, plain), expected) << c.name << " mode " << int(mode);
    }
  }
}

// 13 bytes with an 8-byte block: one CBC block, then the last 5 bytes XOR E(C1) (mode 1), or the
// last 5 bytes in clear (mode 4).
TEST(CipherModes, ThirteenBytesWithEightByteBlocks) {
  for (const auto* c : {&kCiphers[0], &kCiphers[2]}) {
    Bytes plain = test::Pattern(13, 24);
    {
      auto e = Keyed(*c, modeCBC);
      Bytes c1(plain.begin(), plain.begin() + 8);
      Bytes iv = DefaultVector(*e);
      for (int j = 0; j < 8; ++j) c1[j] ^= iv[j];
      e->EncodeBlock(c1.data());
      Bytes k = c1;
      e->EncodeBlock(k.data());
      Bytes expected = c1;
      for (int j = 0; j < 5; ++j) expected.push_back(plain[8 + j] ^ k[j]);
      Bytes enc = Encode(*e, plain);
      EXPECT_EQ(enc, expected) << c->name;
      EXPECT_EQ(Decode(*e, enc), plain) << c->name;
    }
    {
      auto e = Keyed(*c, modeECB);
      Bytes enc = Encode(*e, plain);
      Bytes first(plain.begin(), plain.begin() + 8);
      e->EncodeBlock(first.data());
      EXPECT_EQ(Bytes(enc.begin(), enc.begin() + 8), first) << c->name;
      EXPECT_EQ(Bytes(enc.begin() + 8, enc.end()), Bytes(plain.begin() + 8, plain.end())) << c->name;
      EXPECT_EQ(Decode(*e, enc), plain);
    }
  }
}

TEST(CipherModes, SamePlaintextTwiceGivesSameCiphertext) {
  for (const auto& c : kCiphers) {
    for (uint8_t mode = 0; mode <= 4; ++mode) {
      auto e = Keyed(c, mode);
      Bytes plain = test::Pattern(100, 25);
      EXPECT_EQ(Encode(*e, plain), Encode(*e, plain)) << c.name << " " << int(mode);
    }
  }
}

TEST(CipherModes, EveryModeRoundTripsEveryLength) {
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 40; ++n) lengths.push_back(n);
  lengths.insert(lengths.end(), {4095, 4096, 4097});
  for (const auto& c : kCiphers) {
    for (uint8_t mode = 0; mode <= 4; ++mode) {
      auto e = Keyed(c, mode);
      for (size_t n : lengths) {
        Bytes plain = test::Pattern(n, static_cast<uint32_t>(n) + 100);
        Bytes enc = Encode(*e, plain);
        ASSERT_EQ(enc.size(), n);
        if (n >= 16 && mode != modeECB) {
          EXPECT_NE(enc, plain) << c.name << " mode " << int(mode) << " length " << n;
        }
        EXPECT_EQ(Decode(*e, enc), plain) << c.name << " mode " << int(mode) << " length " << n;
        // In place gives the same as copying.
        Bytes inplace = plain;
        e->EncodeBuffer(inplace.data(), inplace.data(), static_cast<int64_t>(n));
        e->Done();
        EXPECT_EQ(inplace, enc);
        e->DecodeBuffer(inplace.data(), inplace.data(), static_cast<int64_t>(n));
        e->Done();
        EXPECT_EQ(inplace, plain);
      }
    }
  }
}

// Chunks of whole blocks carry the register over: two calls equal one call over the whole.
TEST(CipherModes, ChunkedCallsEqualOneCall) {
  for (const auto& c : kCiphers) {
    for (uint8_t mode = 0; mode <= 4; ++mode) {
      auto e = Keyed(c, mode);
      Bytes plain = test::Pattern(4096 * 2 + 77, 26);
      Bytes whole = Encode(*e, plain);
      Bytes parts(plain.size());
      e->EncodeBuffer(plain.data(), parts.data(), 4096);
      e->EncodeBuffer(plain.data() + 4096, parts.data() + 4096, 4096);
      e->EncodeBuffer(plain.data() + 8192, parts.data() + 8192, 77);
      e->Done();
      EXPECT_EQ(parts, whole) << c.name << " mode " << int(mode);
    }
  }
}

// A mode above 4 copies the bytes unchanged in buffer operations, so nothing written with it is
// lost.
TEST(CipherModes, ModeAboveFourCopiesUnchanged) {
  for (const auto& c : kCiphers) {
    auto e = Keyed(c, 7);
    Bytes plain = test::Pattern(29, 27);
    EXPECT_EQ(Encode(*e, plain), plain);
    EXPECT_EQ(Decode(*e, plain), plain);
  }
}

TEST(CipherModes, BufferIsZeroAfterEveryCall) {
  for (const auto& c : kCiphers) {
    auto e = Keyed(c, modeCFB8);
    Encode(*e, test::Pattern(13, 28));
    for (int i = 0; i < e->BufSize(); ++i) EXPECT_EQ(e->Buffer()[i], 0) << c.name;
  }
}

TEST(CipherEngine, UnkeyedCipherRaisesCode3WithItsClassName) {
  for (const auto& c : kCiphers) {
    auto e = c.make();
    Bytes data(16);
    try {
      e->EncodeBuffer(data.data(), data.data(), 16);
      FAIL() << "no exception";
    } catch (const EEncryptException& ex) {
      EXPECT_EQ(ex.ErrorCode(), 3);
      EXPECT_EQ(ex.Message(), std::string(c.name) + " is not initialized call Init() or InitKey() before.");
    }
    EXPECT_THROW(e->DecodeBuffer(data.data(), data.data(), 16), EEncryptException);
    // After a reset the key is gone again.
    e->InitKey("x");
    EXPECT_NO_THROW(e->EncodeBuffer(data.data(), data.data(), 16));
    e->Protect();
    EXPECT_THROW(e->EncodeBuffer(data.data(), data.data(), 16), EEncryptException);
  }
}

TEST(CipherEngine, InitKeyUsesSha0DigestCutToKeySize) {
  for (const auto& c : kCiphers) {
    THash_SHA sha;
    sha.Calc(std::string("Passw0rd"));
    sha.Done();
    auto a = c.make();
    a->InitKey("Passw0rd");
    auto b = c.make();
    b->Init(sha.DigestKey(), std::min(20, b->KeySize()));
    EXPECT_EQ(0, std::memcmp(a->User(), b->User(), a->UserSize())) << c.name;
    EXPECT_EQ(0, std::memcmp(a->Vector(), b->Vector(), a->BufSize())) << c.name;
    // Letter case matters.
    auto d = c.make();
    d->InitKey("passw0rd");
    EXPECT_NE(0, std::memcmp(a->User(), d->User(), a->UserSize())) << c.name;
  }
}

TEST(CipherEngine, GivenVectorIsUsedAndDoneRestoresFeedback) {
  TEnc_Blowfish e;
  Bytes key = test::Pattern(16, 30), iv = test::Pattern(8, 31);
  e.Init(key.data(), 16, iv.data());
  EXPECT_EQ(Bytes(e.Vector(), e.Vector() + 8), iv);
  e.SetMode(modeCBC);
  Bytes data = test::Pattern(16, 32);
  e.EncodeBuffer(data.data(), data.data(), 16);
  EXPECT_NE(Bytes(e.Feedback(), e.Feedback() + 8), iv);
  e.Done();
  EXPECT_EQ(Bytes(e.Feedback(), e.Feedback() + 8), iv);
  // A negative key length counts as an empty key.
  e.Init(key.data(), -5);
  EXPECT_TRUE(e.Initialized());
}

}  // namespace
}  // namespace zq
