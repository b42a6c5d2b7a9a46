// Shared pieces of the zqdb tool: the usage error (exit status 2), text conversion at the
// terminal edge and the names of the storable field types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dbengine/format/db_format.h"
#include "platform/exception.h"

namespace zq::zqdb {

// Exit statuses of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Wrong arguments or input the tool cannot take (bad schema, character outside code page 1252).
class EUsageError : public Exception {
 public:
  using Exception::Exception;
};

// UTF-8 from the terminal or a JSON document to code page 1252; EUsageError when the text is
// not valid UTF-8 or holds a character that code page 1252 lacks.
std::string ToAnsi(std::string_view utf8);
// Code page 1252 to UTF-8 (never fails: every byte has a character).
std::string ToUtf8(std::string_view ansi);

// Name of a storable field type ("ftString"), or nullopt for a code without a slot.
std::optional<std::string_view> FieldTypeName(uint8_t type);
// Code of a storable field type name (exact spelling), or nullopt.
std::optional<uint8_t> FieldTypeByName(std::string_view name);

// Every storable field type name, in the order of the type table, joined by ", ".
std::string FieldTypeNameList();

// Index option names in bit order: "primary", "unique", "descending", "caseinsensitive".
std::optional<TDbIndexOptions> IndexOptionByName(std::string_view name);
std::string_view IndexOptionName(TDbIndexOption option);
// Every index option name, joined by ", ".
std::string IndexOptionNameList();

}  // namespace zq::zqdb
