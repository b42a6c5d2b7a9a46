#include "dbengine/crypto/hash.h"

#include "dbengine/crypto/digest_text.h"

namespace zq {

std::vector<uint8_t> THash::Digest() const {
  const uint8_t* p = DigestKey();
  return std::vector<uint8_t>(p, p + DigestKeySize());
}

std::string THash::DigestText() const { return EngineBase64(DigestKey(), DigestKeySize()); }

}  // namespace zq
