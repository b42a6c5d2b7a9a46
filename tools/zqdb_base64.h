// Base64 (RFC 4648, standard alphabet, "=" padding) for blob values in the tool's JSON.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zq::zqdb {

std::string Base64Encode(std::string_view bytes);
// Strict decoding: only the standard alphabet, length a multiple of 4, padding only at the end
// and unused bits zero. nullopt for anything else.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace zq::zqdb
