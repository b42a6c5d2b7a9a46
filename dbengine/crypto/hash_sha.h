// SHA-0, the hash of the 1993 Secure Hash Standard: SHA-1 without the one-bit rotation in the
// message schedule. Big-endian words; Done appends the bit count as a 64-bit big-endian number
// whose high half is always zero and whose low half is the byte count times 8 modulo 2^32, as
// the engine's stored password check texts were computed that way.
#pragma once

#include "dbengine/crypto/hash_ripemd160.h"

namespace zq {

class THash_SHA : public THash_RipeMD160 {
 public:
  void Done() override;

 protected:
  void Transform(const uint8_t* block) override;
};

}  // namespace zq
