// RIPEMD-160 on the shared block hash state (first five chaining words), little-endian like MD4.
#pragma once

#include "dbengine/crypto/hash_md4.h"

namespace zq {

class THash_RipeMD160 : public THash_MD4 {
 public:
  int DigestKeySize() const override { return 20; }

 protected:
  void Transform(const uint8_t* block) override;
};

}  // namespace zq
