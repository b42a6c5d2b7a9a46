// zqdb: creates, dumps, edits and checks database files through the database engine.
// Terminal text and JSON are UTF-8; inside, every text is code page 1252.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/storage/db_creator.h"
#include "tools/zqdb_commands.h"
#include "tools/zqdb_common.h"
#include "tools/zqdb_schema.h"
#include "tools/zqdb_shell.h"
#include "tools/zqdb_verbs.h"

namespace {

using namespace zq::zqdb;

void PrintError(const std::string& message_1252) { std::cerr << "zqdb: " << ToUtf8(message_1252) << '\n'; }

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EUsageError("Cannot read schema file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int Create(const std::string& file, const std::string& schema_path) {
  nlohmann::json document;
  try {
    document = nlohmann::json::parse(ReadTextFile(schema_path));
  } catch (const nlohmann::json::exception& e) {
    throw EUsageError(std::string("Invalid schema JSON: ") + e.what());
  }
  zq::TDbSchema schema = ParseSchema(document);
  zq::TDbCreator::CreateFile(file, schema);
  return kExitOk;
}

// Runs a verb on the file, opened for reading only when the verb only reads, and prints what the
// verb reports.
int RunOnFile(const TCommand& command) {
  if (command.verb == "create") return Create(command.file, command.schema);
  TOpenArgs open{command.file, ToAnsi(command.password)};
  if (command.verb == "shell") return RunShell(open);
  TOpenDatabase db(open, VerbOnlyReads(command.verb));
  ojson result = RunVerb(command, db);
  if (command.verb == "check") {
    for (const auto& problem : result) std::cout << problem.get<std::string>() << '\n';
    return result.empty() ? kExitOk : kExitFailed;
  }
  if (command.verb == "repair") {
    for (const auto& line : result["lines"]) std::cout << line.get<std::string>() << '\n';
    return result["clean"].get<bool>() ? kExitOk : kExitFailed;
  }
  if (command.verb == "dump" || command.verb == "filter") std::cout << result.dump() << '\n';
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zqdb: creates, inspects and edits database files", "zqdb"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "zqdb " ZQ_VERSION);
  TCommand command;
  AddVerbs(app, command, TVerbSet::CommandLine);

  try {
    CheckVerbName(app, std::vector<std::string>(argv + std::min(argc, 1), argv + argc), "subcommand");
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << '\n';
    return kExitOk;
  } catch (const CLI::ExtrasError&) {
    std::cerr << "zqdb: " << UnexpectedArguments(app) << '\n' << app.help("", CLI::AppFormatMode::All);
    return kExitUsage;
  } catch (const CLI::ParseError& e) {
    std::cerr << "zqdb: " << e.what() << '\n' << app.help("", CLI::AppFormatMode::All);
    return kExitUsage;
  } catch (const EUsageError& e) {
    PrintError(e.Message());
    std::cerr << app.help("", CLI::AppFormatMode::All);
    return kExitUsage;
  }

  try {
    return RunOnFile(command);
  } catch (const EUsageError& e) {
    PrintError(e.Message());
    return kExitUsage;
  } catch (const zq::EAbort&) {
    return kExitFailed;
  } catch (const zq::Exception& e) {
    PrintError(e.Message());
    return kExitFailed;
  } catch (const std::bad_alloc&) {
    PrintError("Out of memory");
    return kExitFailed;
  }
}
