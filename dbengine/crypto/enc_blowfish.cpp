#include "dbengine/crypto/enc_blowfish.h"

#include <cstring>

#include "dbengine/crypto/blowfish_tables.h"
#include "dbengine/crypto/cipher_modes.h"

namespace zq {

namespace {

inline uint32_t LoadBe(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
inline void StoreBe(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// S points at the 1024 S-box words, P at the 18 P-array words that follow them.
struct BlowfishCore {
  static constexpr int kBlock = 8;
  const uint32_t* S;
  const uint32_t* P;

  inline uint32_t F(uint32_t x) const {
    return ((S[x >> 24] + S[256 + ((x >> 16) & 0xFF)]) ^ S[512 + ((x >> 8) & 0xFF)]) +
           S[768 + (x & 0xFF)];
  }
// Two rounds: L ^= P[a], R ^= F(L), R ^= P[b], L ^= F(R).
#define ZQ_BF_ROUNDS(a, b) \
  L ^= P[a];               \
  R ^= F(L) ^ P[b];        \
  L ^= F(R);
  inline void EncWords(uint32_t& l, uint32_t& r) const {
    uint32_t L = l, R = r;
    ZQ_BF_ROUNDS(0, 1) ZQ_BF_ROUNDS(2, 3) ZQ_BF_ROUNDS(4, 5) ZQ_BF_ROUNDS(6, 7)
    ZQ_BF_ROUNDS(8, 9) ZQ_BF_ROUNDS(10, 11) ZQ_BF_ROUNDS(12, 13) ZQ_BF_ROUNDS(14, 15)
    l = R ^ P[17];
    r = L ^ P[16];
  }
  inline void DecWords(uint32_t& l, uint32_t& r) const {
    uint32_t L = l, R = r;
    ZQ_BF_ROUNDS(17, 16) ZQ_BF_ROUNDS(15, 14) ZQ_BF_ROUNDS(13, 12) ZQ_BF_ROUNDS(11, 10)
    ZQ_BF_ROUNDS(9, 8) ZQ_BF_ROUNDS(7, 6) ZQ_BF_ROUNDS(5, 4) ZQ_BF_ROUNDS(3, 2)
    l = R ^ P[0];
    r = L ^ P[1];
  }
#undef ZQ_BF_ROUNDS
  inline void Enc(uint8_t* b) const {
    uint32_t l = LoadBe(b), r = LoadBe(b + 4);
    EncWords(l, r);
    StoreBe(b, l);
    StoreBe(b + 4, r);
  }
  inline void Dec(uint8_t* b) const {
    uint32_t l = LoadBe(b), r = LoadBe(b + 4);
    DecWords(l, r);
    StoreBe(b, l);
    StoreBe(b + 4, r);
  }
};

}  // namespace

#define ZQ_BLOWFISH_CORE BlowfishCore{UserWords(), UserWords() + 1024}

void TEnc_Blowfish::EncodeBlock(uint8_t* block) { ZQ_BLOWFISH_CORE.Enc(block); }
void TEnc_Blowfish::DecodeBlock(uint8_t* block) { ZQ_BLOWFISH_CORE.Dec(block); }

void TEnc_Blowfish::KeySchedule(const uint8_t* key, int size) {
  uint32_t* S = UserWords();
  uint32_t* P = S + 1024;
  std::memcpy(S, blowfish_tables::kInitialS, 1024 * sizeof(uint32_t));
  std::memcpy(P, blowfish_tables::kInitialP, 18 * sizeof(uint32_t));
  // An empty key leaves the P-array as it is (XOR with nothing) instead of dividing by zero.
  if (size > 0) {
    int k = 0;
    for (int j = 0; j < 18; ++j) {
      uint32_t w = 0;
      for (int b = 0; b < 4; ++b) {
        w = (w << 8) | key[k];
        k = (k + 1) % size;
      }
      P[j] ^= w;
    }
  }
  BlowfishCore core{S, P};
  uint32_t l = 0, r = 0;
  for (int i = 0; i < 18; i += 2) {
    core.EncWords(l, r);
    P[i] = l;
    P[i + 1] = r;
  }
  for (int i = 0; i < 1024; i += 2) {
    core.EncWords(l, r);
    S[i] = l;
    S[i + 1] = r;
  }
}

// Modes 0 and 1 on whole blocks keep the register in two words instead of moving bytes; the
// trailing partial block goes through the shared mode code.
void TEnc_Blowfish::EncodeModes(const uint8_t* src, uint8_t* dst, size_t size) {
  const BlowfishCore core = ZQ_BLOWFISH_CORE;
  size_t whole = 0;
  if (Mode() <= modeCBC) {
    whole = size - size % 8;
    uint8_t* F = FeedbackArea();
    uint32_t fl = LoadBe(F), fr = LoadBe(F + 4);
    const bool xor_chain = Mode() == modeXorChain;
    for (size_t i = 0; i < whole; i += 8) {
      uint32_t l = LoadBe(src + i) ^ fl, r = LoadBe(src + i + 4) ^ fr;
      core.EncWords(l, r);
      StoreBe(dst + i, l);
      StoreBe(dst + i + 4, r);
      if (xor_chain) {
        fl ^= l;
        fr ^= r;
      } else {
        fl = l;
        fr = r;
      }
    }
    StoreBe(F, fl);
    StoreBe(F + 4, fr);
  }
  cipher_modes::Encode(core, Mode(), FeedbackArea(), BufferArea(), src + whole, dst + whole, size - whole);
}

void TEnc_Blowfish::DecodeModes(const uint8_t* src, uint8_t* dst, size_t size) {
  const BlowfishCore core = ZQ_BLOWFISH_CORE;
  size_t whole = 0;
  if (Mode() <= modeCBC) {
    whole = size - size % 8;
    uint8_t* F = FeedbackArea();
    uint32_t fl = LoadBe(F), fr = LoadBe(F + 4);
    const bool xor_chain = Mode() == modeXorChain;
    for (size_t i = 0; i < whole; i += 8) {
      uint32_t cl = LoadBe(src + i), cr = LoadBe(src + i + 4);
      uint32_t l = cl, r = cr;
      core.DecWords(l, r);
      StoreBe(dst + i, l ^ fl);
      StoreBe(dst + i + 4, r ^ fr);
      if (xor_chain) {
        fl ^= cl;
        fr ^= cr;
      } else {
        fl = cl;
        fr = cr;
      }
    }
    StoreBe(F, fl);
    StoreBe(F + 4, fr);
  }
  cipher_modes::Decode(core, Mode(), FeedbackArea(), BufferArea(), src + whole, dst + whole, size - whole);
}

#undef ZQ_BLOWFISH_CORE

}  // namespace zq
