// The one exception base of the project: every error the components raise carries its message
// text here, unchanged, so front ends can show it as it is.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace zq {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }

 private:
  std::string message_;
};

// The silent abort: callers recognise it and show nothing.
class EAbort : public Exception {
 public:
  EAbort() : Exception("") {}
};

// Stream failures of the runtime ("Stream read error", "Stream write error", file open errors).
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// Replaces each "%s" of a message template, left to right, with the next argument; "%%" is "%".
std::string FormatMessage(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace zq
