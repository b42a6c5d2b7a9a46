// Paths inside the archive component, shared by its units: names are code page 1252 text, and
// the host's file system takes UTF-8.
#pragma once

#include <algorithm>
#include <string>

#include "platform/codepage.h"

namespace zq {

// The host's form of a component path.
inline std::string HostPath(const std::string& path) { return Cp1252ToUtf8(path); }

// text with every from character replaced by to (path separators, mostly).
inline std::string ReplaceChar(std::string text, char from, char to) {
  std::replace(text.begin(), text.end(), from, to);
  return text;
}

}  // namespace zq
