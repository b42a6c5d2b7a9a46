// The verbs of zqdb as words and options: one definition serves the command line (each verb with
// FILE and --password) and the shell (the same verbs on the shell's open database, plus refresh
// and quit). A new verb is added here: its options in AddVerbs, its work in RunVerb (a verb that
// opens the file exclusively calls TOpenDatabase::Close first, so that the shell's own open does not
// stand in its way), and it is then available on the command line and in the shell alike.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/zqdb_commands.h"

namespace zq::zqdb {

// What one command line or shell line asks for (texts as typed: UTF-8).
struct TCommand {
  std::string verb;
  std::string file, schema, password;  // command line only
  std::string table, index, expr;
  std::optional<int> row;
  std::optional<int32_t> id;
  bool case_insensitive = false;
  bool no_partial = false;
  std::vector<std::string> assignments;
};

enum class TVerbSet { CommandLine, Shell };

// Adds the verbs of the set as subcommands of app, storing what they parse into command.
void AddVerbs(CLI::App& app, TCommand& command, TVerbSet set);

// The verb named by the first word of args (an unknown word raises EUsageError naming it and the
// verbs of app); an empty text when the first word is an option or there is none.
std::string CheckVerbName(const CLI::App& app, const std::vector<std::string>& args, const std::string& what);

// The message for words that no verb takes, naming them in the order given (the parser's own
// message lists them backwards).
std::string UnexpectedArguments(CLI::App& app);

// True for the verbs that only read the file: they open it for reading only.
bool VerbOnlyReads(const std::string& verb);

// Runs a parsed command on the open database and returns what it reports: the dump document
// (dump, filter), the problem lines (check), {"_id": N} (append) or null. Raises the engine's
// errors and EUsageError.
ojson RunVerb(const TCommand& command, TOpenDatabase& db);

}  // namespace zq::zqdb
