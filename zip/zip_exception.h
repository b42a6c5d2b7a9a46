// The archive component's exception, its 34-entry message table and the native-code map.
//
// A raise names a native code N; the message index is looked up in the native map (index 0 for a
// code that is not there), the table text is formatted with the raise's arguments, optionally
// prefixed with the component's name ("%s: %s"), and " - Native error: " plus N as five
// zero-padded digits is appended.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace zq {

class EZipException : public Exception {
 public:
  EZipException(std::string message, int native_error, int error_code)
      : Exception(std::move(message)), native_error_(native_error), error_code_(error_code) {}
  int NativeError() const { return native_error_; }
  int ErrorCode() const { return error_code_; }

 private:
  int native_error_;
  int error_code_;
};

inline constexpr int kZipMessageCount = 34;

// Text of message index (0..33); index 0's text for anything else.
std::string_view ZipMessageText(int index);
// Message index of a native code; 0 for a code outside the map.
int ZipErrorCodeOfNative(int native);
// The full message as described above; component_name empty means no prefix. "%s" and "%d"
// placeholders are filled from args in order.
std::string ComposeZipMessage(int native, std::initializer_list<std::string_view> args,
                              const std::string& component_name);
EZipException MakeZipException(int native, std::initializer_list<std::string_view> args = {},
                               const std::string& component_name = "");

}  // namespace zq
