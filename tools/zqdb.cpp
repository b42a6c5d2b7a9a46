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
  app.set_version_flag("--version", "zqdb " ZQ_VERSION);

  std::string file, schema, password, table, index, expr;
  int row = 0;
  bool case_insensitive = false, no_partial = false;
  std::vector<std::string> assignments;

  CLI::App* create = app.add_subcommand("create", "Create a new database file from a JSON schema");
  create->add_option("FILE", file, "Database file to create (must not exist)")->required();
  create->add_option("SCHEMA", schema, "Schema document (JSON)")->required();

  CLI::App* dump = app.add_subcommand("dump", "Print tables and records as JSON");
  dump->add_option("--password", password, "Database password");
  dump->add_option("--table", table, "Only this table");
  dump->add_option("--index", index, "Records in the order of this index (needs --table)");
  dump->add_option("FILE", file, "Database file")->required();

  CLI::App* append = app.add_subcommand("append", "Append a record");
  append->add_option("--password", password, "Database password");
  append->add_option("--table", table, "Table")->required();
  append->add_option("FILE", file, "Database file")->required();
  append->add_option("ASSIGNMENTS", assignments, "FIELD=VALUE or FIELD@=PATH")->required();

  CLI::App* edit = app.add_subcommand("edit", "Change fields of a record");
  edit->add_option("--password", password, "Database password");
  edit->add_option("--table", table, "Table")->required();
  edit->add_option("--row", row, "1-based row number in physical order")->required();
  edit->add_option("FILE", file, "Database file")->required();
  edit->add_option("ASSIGNMENTS", assignments, "FIELD=VALUE or FIELD@=PATH")->required();

  CLI::App* del = app.add_subcommand("delete", "Delete a record");
  del->add_option("--password", password, "Database password");
  del->add_option("--table", table, "Table")->required();
  del->add_option("--row", row, "1-based row number in physical order")->required();
  del->add_option("FILE", file, "Database file")->required();

  CLI::App* filter = app.add_subcommand("filter", "Print the records a filter expression accepts");
  filter->add_option("--password", password, "Database password");
  filter->add_option("--table", table, "Table")->required();
  filter->add_flag("--case-insensitive", case_insensitive, "Compare texts without regard to case");
  filter->add_flag("--no-partial", no_partial, "No partial comparison of texts ending in *");
  filter->add_option("--expr", expr, "Filter expression")->required();
  filter->add_option("FILE", file, "Database file")->required();

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
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << '\n';
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    std::cerr << "zqdb: " << e.what() << '\n' << app.help("", CLI::AppFormatMode::All);
    return kExitUsage;
  }

  try {
    if (*create) return Create(file, schema);
    TOpenArgs open{file, ToAnsi(password)};
    if (*check) return Check(open, std::cout);
    if (*dump) return Dump(open, ToAnsi(table), ToAnsi(index), std::cout);
    if (*append) return Append(open, ToAnsi(table), ParseAssignments(assignments));
    if (*edit) return Edit(open, ToAnsi(table), row, ParseAssignments(assignments));
    if (*del) return Delete(open, ToAnsi(table), row);
    if (*filter) return Filter(open, ToAnsi(table), ToAnsi(expr), case_insensitive, no_partial, std::cout);
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
