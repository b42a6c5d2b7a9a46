// zqdb: creates, dumps, edits and checks database files through the database engine.
// Terminal text and JSON are UTF-8; inside, every text is code page 1252.
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/db_creator.h"
#include "tools/zqdb_commands.h"
#include "tools/zqdb_common.h"
#include "tools/zqdb_schema.h"

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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zqdb: creates, inspects and edits database files", "zqdb"};
  app.require_subcommand(1);

  std::string file, schema, password;

  CLI::App* create = app.add_subcommand("create", "Create a new database file from a JSON schema");
  create->add_option("FILE", file, "Database file to create (must not exist)")->required();
  create->add_option("SCHEMA", schema, "Schema document (JSON)")->required();

  CLI::App* check = app.add_subcommand("check", "Check the structure of a database file");
  check->add_option("--password", password, "Database password (also decodes encrypted values)");
  check->add_option("FILE", file, "Database file")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    std::cerr << "zqdb: " << e.what() << '\n' << app.help("", CLI::AppFormatMode::All);
    return kExitUsage;
  }

  try {
    if (*create) return Create(file, schema);
    TOpenArgs open{file, ToAnsi(password)};
    if (*check) return Check(open, std::cout);
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
  return kExitUsage;
}
