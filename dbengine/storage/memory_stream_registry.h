// The memory medium's names. A database kept in a caller's stream is opened by a name made of ":"
// and hexadecimal digits; the digits are a key into this registry, never a memory address. The
// caller registers its stream, opens the database with the returned name, and unregisters the
// stream when done (the registry never owns or frees streams).
#pragma once

#include <string>

#include "platform/stream.h"

namespace zq {

class TMemoryStreamRegistry {
 public:
  // Registers a stream and returns its name (":" + upper-case hex digits). Registering the same
  // stream again returns its existing name.
  static std::string Register(TStream* stream);
  // Forgets a stream; unknown streams are ignored.
  static void Unregister(TStream* stream);

  // True when the name is ":" followed by one or more hexadecimal digits (either case).
  static bool IsValidName(const std::string& name);
  // The stream a valid name stands for, or nullptr when none is registered under it.
  static TStream* Find(const std::string& name);
};

}  // namespace zq
