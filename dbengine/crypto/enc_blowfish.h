// Blowfish, 16 rounds, 8-byte blocks read as two big-endian words, keys of 1 to 56 bytes.
// Key schedule area (4168 bytes): the four S-boxes of 256 words, then the 18-word P-array.
#pragma once

#include "dbengine/crypto/encrypt.h"

namespace zq {

class TEnc_Blowfish : public TEncrypt {
 public:
  static constexpr Context kContext{8, 56, 4168};

  TEnc_Blowfish() : TEncrypt(kContext) {}
  ~TEnc_Blowfish() override = default;

  const char* ClassName() const override { return "TEnc_Blowfish"; }
  void EncodeBlock(uint8_t* block) override;
  void DecodeBlock(uint8_t* block) override;

 protected:
  void KeySchedule(const uint8_t* key, int size) override;
  void EncodeModes(const uint8_t* src, uint8_t* dst, size_t size) override;
  void DecodeModes(const uint8_t* src, uint8_t* dst, size_t size) override;
};

}  // namespace zq
