// The block hash family: MD4 and its descendants RIPEMD-160 and SHA-0 share one state (count of
// bytes fed, a 64-byte pending block, ten chaining words), Init and Calc; each supplies its own
// Transform and digest size, and SHA-0 its own big-endian Done.
#pragma once

#include <cstdint>

#include "dbengine/crypto/hash.h"

namespace zq {

class THash_MD4 : public THash {
 public:
  THash_MD4() { Init(); }
  ~THash_MD4() override;

  void Init() override;
  using THash::Calc;
  void Calc(const void* data, size_t size) override;
  void Done() override;
  const uint8_t* DigestKey() const override { return digest_; }
  int DigestKeySize() const override { return 16; }

 protected:
  virtual void Transform(const uint8_t* block);
  // Pads the pending block with 0x80 and zeros, leaving room for the 8-byte length, transforming
  // as needed; the caller stores the length in buffer_[56..63] and transforms once more.
  void PadForLength();

  uint64_t count_ = 0;    // bytes fed since Init
  uint8_t buffer_[64]{};  // pending partial block
  uint32_t chain_[10]{};  // chaining words
  uint8_t digest_[20]{};  // result of Done
};

}  // namespace zq
