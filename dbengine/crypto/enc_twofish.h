// The engine's Twofish variant: the building blocks of published Twofish (q0, q1, MDS, RS, h, g)
// with a different key schedule and round sequence, which stored files depend on:
//   - odd subkeys K[2i+1] = ROL(A + (B >> 1), 9) instead of ROL(A + 2B, 9) (even ones as published);
//   - 15 iterations of two rounds whose subkey index advances by 2, so the pairs K10/K11 .. K36/K37
//     each serve two consecutive rounds: 30 rounds over K8..K39.
// 16-byte blocks, keys up to 32 bytes used as 16, 24 or 32 bytes zero-padded.
// Key schedule area (4256 bytes): 40 subkey words, then four 256-word g tables (4096 bytes).
#pragma once

#include "dbengine/crypto/encrypt.h"

namespace zq {

class TEnc_Twofish : public TEncrypt {
 public:
  static constexpr Context kContext{16, 32, 4256};

  TEnc_Twofish() : TEncrypt(kContext) {}
  ~TEnc_Twofish() override = default;

  const char* ClassName() const override { return "TEnc_Twofish"; }
  void EncodeBlock(uint8_t* block) override;
  void DecodeBlock(uint8_t* block) override;

  // Subkey word i (0..39) of the current key.
  uint32_t SubKey(int i) const { return reinterpret_cast<const uint32_t*>(User())[i]; }

 protected:
  void KeySchedule(const uint8_t* key, int size) override;
  void EncodeModes(const uint8_t* src, uint8_t* dst, size_t size) override;
  void DecodeModes(const uint8_t* src, uint8_t* dst, size_t size) override;
};

}  // namespace zq
