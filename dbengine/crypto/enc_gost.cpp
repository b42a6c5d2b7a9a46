#include "dbengine/crypto/enc_gost.h"

#include <array>
#include <cstring>

#include "dbengine/crypto/cipher_modes.h"

namespace zq {

namespace {

// S-box 1 acts on the lowest nibble of the round input, S-box 8 on the highest.
constexpr uint8_t kSBox[8][16] = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12}};

// Substitution and the 11-bit rotation merged: T(x) = kT[0][x0] ^ kT[1][x1] ^ kT[2][x2] ^ kT[3][x3].
using Tables = std::array<std::array<uint32_t, 256>, 4>;
constexpr Tables MakeTables() {
  Tables t{};
  for (int p = 0; p < 4; ++p) {
    for (int x = 0; x < 256; ++x) {
      uint32_t v = (uint32_t{kSBox[2 * p][x & 15]} | uint32_t{kSBox[2 * p + 1][x >> 4]} << 4) << (8 * p);
      t[p][x] = (v << 11) | (v >> 21);
    }
  }
  return t;
}
constexpr Tables kTables = MakeTables();

struct GostCore {
  static constexpr int kBlock = 8;
  const uint32_t* K;

  static inline uint32_t T(uint32_t x) {
    return kTables[0][x & 0xFF] ^ kTables[1][(x >> 8) & 0xFF] ^ kTables[2][(x >> 16) & 0xFF] ^
           kTables[3][x >> 24];
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
    uint32_t n1 = Load(b), n2 = Load(b + 4);
    for (int r = 0; r < 3; ++r) {
      for (int j = 0; j < 8; j += 2) {
        n2 ^= T(n1 + K[j]);
        n1 ^= T(n2 + K[j + 1]);
      }
    }
    for (int j = 7; j > 0; j -= 2) {
      n2 ^= T(n1 + K[j]);
      n1 ^= T(n2 + K[j - 1]);
    }
    Store(b, n2);
    Store(b + 4, n1);
  }
  inline void Dec(uint8_t* b) const {
    uint32_t n1 = Load(b), n2 = Load(b + 4);
    for (int j = 0; j < 8; j += 2) {
      n2 ^= T(n1 + K[j]);
      n1 ^= T(n2 + K[j + 1]);
    }
    for (int r = 0; r < 3; ++r) {
      for (int j = 7; j > 0; j -= 2) {
        n2 ^= T(n1 + K[j]);
        n1 ^= T(n2 + K[j - 1]);
      }
    }
    Store(b, n2);
    Store(b + 4, n1);
  }
};

}  // namespace

void TEnc_Gost::EncodeBlock(uint8_t* block) { GostCore{UserWords()}.Enc(block); }
void TEnc_Gost::DecodeBlock(uint8_t* block) { GostCore{UserWords()}.Dec(block); }

void TEnc_Gost::KeySchedule(const uint8_t* key, int size) {
  uint8_t k[32] = {};
  if (size > 0) std::memcpy(k, key, static_cast<size_t>(size));
  uint32_t* K = UserWords();
  for (int i = 0; i < 8; ++i) K[i] = GostCore::Load(k + 4 * i);
  explicit_bzero(k, sizeof k);
}

void TEnc_Gost::EncodeModes(const uint8_t* src, uint8_t* dst, size_t size) {
  cipher_modes::Encode(GostCore{UserWords()}, Mode(), FeedbackArea(), BufferArea(), src, dst, size);
}

void TEnc_Gost::DecodeModes(const uint8_t* src, uint8_t* dst, size_t size) {
  cipher_modes::Decode(GostCore{UserWords()}, Mode(), FeedbackArea(), BufferArea(), src, dst, size);
}

}  // namespace zq
