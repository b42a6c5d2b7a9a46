// `zqdb shell`: commands from standard input on one open database, one JSON line per command.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/zqdb_commands.h"

namespace zq::zqdb {

// Splits a line into words as a POSIX shell does, without any expansion: blanks separate words,
// single quotes keep everything up to the next one, double quotes keep everything but a backslash
// before $ ` " or \, an unquoted backslash keeps the next character, and an unquoted # that
// begins a word starts a comment. EUsageError for an unbalanced quote or a trailing backslash.
std::vector<std::string> SplitWords(std::string_view line);

// Runs the shell until end of input or `quit`; returns the exit status (0 when every command
// succeeded, 1 when any failed).
int RunShell(const TOpenArgs& open);

}  // namespace zq::zqdb
