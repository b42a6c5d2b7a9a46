// Failures reported by zlib while compressing or decompressing a unit; the message is "error".
#pragma once

#include "platform/exception.h"

namespace zq {

class EZlibError : public Exception {
 public:
  using Exception::Exception;
};

class ECompressionError : public EZlibError {
 public:
  ECompressionError() : EZlibError("error") {}
};

class EDecompressionError : public EZlibError {
 public:
  EDecompressionError() : EZlibError("error") {}
};

}  // namespace zq
