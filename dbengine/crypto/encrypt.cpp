#include "dbengine/crypto/encrypt.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "dbengine/crypto/encrypt_exception.h"
#include "dbengine/crypto/hash_sha.h"

namespace zq {

TEncrypt::TEncrypt(const Context& context)
    : context_(context),
      buffer_(new uint8_t[context.BufSize]),
      vector_(new uint8_t[context.BufSize]),
      feedback_(new uint8_t[context.BufSize]),
      user_(new uint32_t[(context.UserSize + 3) / 4]) {
  Protect();
}

TEncrypt::~TEncrypt() { Protect(); }

THash& TEncrypt::Hash() {
  if (!hash_) hash_ = std::make_unique<THash_SHA>();
  return *hash_;
}

void TEncrypt::Protect() {
  initialized_ = false;
  std::memset(vector_.get(), 0xFF, context_.BufSize);
  std::memset(feedback_.get(), 0xFF, context_.BufSize);
  explicit_bzero(buffer_.get(), context_.BufSize);
  explicit_bzero(user_.get(), context_.UserSize);
}

void TEncrypt::Init(const void* key, int size, const void* vector) {
  Protect();
  size = std::clamp(size, 0, context_.KeySize);
  if (key == nullptr) size = 0;
  KeySchedule(static_cast<const uint8_t*>(key), size);
  if (vector != nullptr) {
    std::memcpy(vector_.get(), vector, context_.BufSize);
  } else {
    EncodeBlock(vector_.get());
  }
  std::memcpy(feedback_.get(), vector_.get(), context_.BufSize);
  initialized_ = true;
}

void TEncrypt::InitKey(std::string_view password, const void* vector) {
  THash& hash = Hash();
  hash.Init();
  hash.Calc(password.data(), password.size());
  hash.Done();
  Init(hash.DigestKey(), std::min(hash.DigestKeySize(), context_.KeySize), vector);
  hash.Init();  // leave no digest of the password behind
  Done();
}

void TEncrypt::Done() { std::memcpy(feedback_.get(), vector_.get(), context_.BufSize); }

void TEncrypt::CheckInitialized() const {
  if (!initialized_) {
    throw EEncryptException(
        FormatMessage("%s is not initialized call Init() or InitKey() before.", {ClassName()}),
        EEncryptException::kNotInitialized);
  }
}

void TEncrypt::EncodeBuffer(const void* source, void* dest, int64_t size) {
  CheckInitialized();
  if (size > 0) {
    EncodeModes(static_cast<const uint8_t*>(source), static_cast<uint8_t*>(dest),
                static_cast<size_t>(size));
  }
  std::memset(buffer_.get(), 0, context_.BufSize);
}

void TEncrypt::DecodeBuffer(const void* source, void* dest, int64_t size) {
  CheckInitialized();
  if (size > 0) {
    DecodeModes(static_cast<const uint8_t*>(source), static_cast<uint8_t*>(dest),
                static_cast<size_t>(size));
  }
  std::memset(buffer_.get(), 0, context_.BufSize);
}

}  // namespace zq
