// Errors of the cipher layer: a message plus the cipher engine's integer error code.
#pragma once

#include <string>

#include "platform/exception.h"

namespace zq {

class EEncryptException : public Exception {
 public:
  // Code 3: a buffer operation on a cipher that has no key yet.
  static constexpr int kNotInitialized = 3;

  EEncryptException(std::string message, int code) : Exception(std::move(message)), code_(code) {}
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

}  // namespace zq
