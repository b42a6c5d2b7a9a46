// The checksum hashes: THash_XOR32, a 32-bit rotate-and-XOR checksum, and its descendant
// THash_CRC32, the CRC-32 of ISO-HDLC and zlib (reflected, polynomial 0xEDB88320, start value
// 0xFFFFFFFF, complemented by Done). Both digests are the 32-bit value, little-endian.
#pragma once

#include <cstdint>

#include "dbengine/crypto/hash.h"

namespace zq {

class THash_XOR32 : public THash {
 public:
  THash_XOR32() { Init(); }

  // XOR32: for every byte, value := ROL(value, 8) xor byte; starts at 0.
  void Init() override;
  using THash::Calc;
  void Calc(const void* data, size_t size) override;
  void Done() override;
  const uint8_t* DigestKey() const override { return digest_; }
  int DigestKeySize() const override { return 4; }

  uint32_t Value() const { return value_; }

 protected:
  uint32_t value_ = 0;
  uint8_t digest_[4]{};
};

class THash_CRC32 : public THash_XOR32 {
 public:
  THash_CRC32() { Init(); }

  void Init() override;
  void Calc(const void* data, size_t size) override;
  using THash::Calc;
  void Done() override;
};

// CRC-32 of a buffer through THash_CRC32 (Init, Calc, Done); 0 for an empty buffer.
uint32_t CRC32OfBuffer(const void* data, size_t size);

}  // namespace zq
