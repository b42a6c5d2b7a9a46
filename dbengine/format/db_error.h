// The engine's error: every failure of the database engine reaches callers as an EDatabaseError
// carrying one of the engine's fixed English messages.
#pragma once

#include "platform/exception.h"

namespace zq {

class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace zq
