// The chaining modes of TEncrypt written once over a cipher's inline block functions, so that a
// buffer operation runs without a virtual call per block. Cipher must provide
//   static constexpr int kBlock;           block size in bytes
//   void Enc(uint8_t* block) const;        encrypt one block in place
//   void Dec(uint8_t* block) const;        decrypt one block in place
// F is the feedback register (kBlock bytes), K a scratch block (the engine's Buffer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zq::cipher_modes {

template <int B>
inline void XorBlock(uint8_t* dst, const uint8_t* a, const uint8_t* b) {
  for (int i = 0; i < B; ++i) dst[i] = a[i] ^ b[i];
}

template <class Cipher>
void Encode(const Cipher& c, uint8_t mode, uint8_t* F, uint8_t* K, const uint8_t* src, uint8_t* dst,
            size_t size) {
  constexpr int B = Cipher::kBlock;
  size_t whole = size - size % B;
  size_t rest = size - whole;
  switch (mode) {
    case 0:
    case 1: {
      for (size_t i = 0; i < whole; i += B) {
        uint8_t blk[B];
        XorBlock<B>(blk, src + i, F);
        c.Enc(blk);
        std::memcpy(dst + i, blk, B);
        if (mode == 0) {
          XorBlock<B>(F, blk, F);
        } else {
          std::memcpy(F, blk, B);
        }
      }
      if (rest != 0) {
        std::memcpy(K, F, B);
        c.Enc(K);
        for (size_t j = 0; j < rest; ++j) dst[whole + j] = src[whole + j] ^ K[j];
        if (mode == 0) XorBlock<B>(F, K, F);
      }
      break;
    }
    case 2:
    case 3:
      for (size_t i = 0; i < size; ++i) {
        std::memcpy(K, F, B);
        c.Enc(K);
        uint8_t out = src[i] ^ K[0];
        std::memmove(F, F + 1, B - 1);
        F[B - 1] = mode == 2 ? out : K[0];
        dst[i] = out;
      }
      break;
    case 4:
      for (size_t i = 0; i < whole; i += B) {
        uint8_t blk[B];
        std::memcpy(blk, src + i, B);
        c.Enc(blk);
        std::memcpy(dst + i, blk, B);
      }
      if (rest != 0 && dst != src) std::memcpy(dst + whole, src + whole, rest);
      break;
    default:
      if (dst != src && size != 0) std::memmove(dst, src, size);
      break;
  }
}

template <class Cipher>
void Decode(const Cipher& c, uint8_t mode, uint8_t* F, uint8_t* K, const uint8_t* src, uint8_t* dst,
            size_t size) {
  constexpr int B = Cipher::kBlock;
  size_t whole = size - size % B;
  size_t rest = size - whole;
  switch (mode) {
    case 0:
    case 1: {
      for (size_t i = 0; i < whole; i += B) {
        uint8_t in[B];
        uint8_t blk[B];
        std::memcpy(in, src + i, B);
        std::memcpy(blk, in, B);
        c.Dec(blk);
        XorBlock<B>(dst + i, blk, F);
        if (mode == 0) {
          XorBlock<B>(F, in, F);
        } else {
          std::memcpy(F, in, B);
        }
      }
      if (rest != 0) {
        std::memcpy(K, F, B);
        c.Enc(K);
        for (size_t j = 0; j < rest; ++j) dst[whole + j] = src[whole + j] ^ K[j];
        if (mode == 0) XorBlock<B>(F, K, F);
      }
      break;
    }
    case 2:
    case 3:
      for (size_t i = 0; i < size; ++i) {
        std::memcpy(K, F, B);
        c.Enc(K);
        uint8_t in = src[i];
        std::memmove(F, F + 1, B - 1);
        F[B - 1] = mode == 2 ? in : K[0];
        dst[i] = in ^ K[0];
      }
      break;
    case 4:
      for (size_t i = 0; i < whole; i += B) {
        uint8_t blk[B];
        std::memcpy(blk, src + i, B);
        c.Dec(blk);
        std::memcpy(dst + i, blk, B);
      }
      if (rest != 0 && dst != src) std::memcpy(dst + whole, src + whole, rest);
      break;
    default:
      if (dst != src && size != 0) std::memmove(dst, src, size);
      break;
  }
}

}  // namespace zq::cipher_modes
