// GOST 28147-89: 32 rounds, 8-byte blocks (two little-endian words), keys of up to 32 bytes as
// the eight little-endian words K0..K7 (missing bytes zero). The S-boxes are the test parameter
// set of GOST R 34.11-94 (id-GostR3411-94-TestParamSet). Key schedule area: 32 bytes.
#pragma once

#include "dbengine/crypto/encrypt.h"

namespace zq {

class TEnc_Gost : public TEncrypt {
 public:
  static constexpr Context kContext{8, 32, 32};

  TEnc_Gost() : TEncrypt(kContext) {}
  ~TEnc_Gost() override = default;

  const char* ClassName() const override { return "TEnc_Gost"; }
  void EncodeBlock(uint8_t* block) override;
  void DecodeBlock(uint8_t* block) override;

 protected:
  void KeySchedule(const uint8_t* key, int size) override;
  void EncodeModes(const uint8_t* src, uint8_t* dst, size_t size) override;
  void DecodeModes(const uint8_t* src, uint8_t* dst, size_t size) override;
};

}  // namespace zq
