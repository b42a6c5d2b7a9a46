// Hash base class: Init starts a digest, Calc feeds bytes, Done finishes; the digest bytes stay
// readable until the next Init.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zq {

class THash {
 public:
  virtual ~THash() = default;

  virtual void Init() = 0;
  virtual void Calc(const void* data, size_t size) = 0;
  virtual void Done() = 0;
  // Address of the digest bytes and their count.
  virtual const uint8_t* DigestKey() const = 0;
  virtual int DigestKeySize() const = 0;

  void Calc(std::string_view bytes) { Calc(bytes.data(), bytes.size()); }
  std::vector<uint8_t> Digest() const;
  // The digest in the engine's Base64 form (see digest_text.h).
  std::string DigestText() const;
};

}  // namespace zq
