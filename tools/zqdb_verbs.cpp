#include "tools/zqdb_verbs.h"

#include "dbengine/pipeline/algo_registry.h"
#include "dbengine/session/database.h"
#include "platform/codepage.h"
#include "tools/zqdb_common.h"

namespace zq::zqdb {

namespace {

std::string RegistryNames(const TAlgoRegistry& registry) {
  std::string list;
  for (int i = 0; i < registry.Count(); ++i) list += (i == 0 ? "" : ", ") + registry.At(i).Name;
  return list;
}

// The names a schema may use, for `create --help`.
std::string SchemaNames() {
  return "Schema names:\n"
         "  field types:   " + FieldTypeNameList() + "\n"
         "  index options: " + IndexOptionNameList() + "\n"
         "  compression:   " + RegistryNames(CompressRegistry()) + " (null or absent: none)\n"
         "  encryption:    " + RegistryNames(EncryptRegistry()) + " (null or absent: none)\n"
         "  cipher modes:  0 chained XOR, 1 CBC, 2 CFB (8-bit), 3 OFB (8-bit), 4 ECB\n"
         "An ftAutoInc value of 0 takes the table's next number.";
}

void AddPassword(CLI::App* verb, TCommand& c, TVerbSet set, const char* what = "Database password") {
  if (set == TVerbSet::CommandLine) verb->add_option("--password", c.password, what);
}

void AddFile(CLI::App* verb, TCommand& c, TVerbSet set) {
  if (set == TVerbSet::CommandLine) verb->add_option("FILE", c.file, "Database file")->required();
}

// --row N or --id ID, exactly one of them.
void AddRecordChoice(CLI::App* verb, TCommand& c) {
  CLI::Option* row = verb->add_option("--row", c.row, "1-based row number in physical order");
  CLI::Option* id = verb->add_option("--id", c.id, "Record ID (the _id of dump)");
  row->excludes(id);
  verb->callback([row, id] {
    if (row->count() == 0 && id->count() == 0) throw CLI::RequiredError("--row or --id");
  });
}

TRecordChoice RecordChoice(const TCommand& c) {
  TRecordChoice choice;
  if (c.row) choice.row = *c.row;
  choice.id = c.id;
  return choice;
}

}  // namespace

void AddVerbs(CLI::App& app, TCommand& c, TVerbSet set) {
  auto verb = [&](const char* name, const char* description) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->parse_complete_callback([&c, name] { c.verb = name; });
    return sub;
  };

  if (set == TVerbSet::CommandLine) {
    CLI::App* create = verb("create", "Create a new database file from a JSON schema");
    create->add_option("FILE", c.file, "Database file to create (must not exist)")->required();
    create->add_option("SCHEMA", c.schema, "Schema document (JSON)")->required();
    create->footer(SchemaNames());
  }

  CLI::App* dump = verb("dump", "Print tables and records as JSON");
  AddPassword(dump, c, set);
  dump->add_option("--table", c.table, "Only this table");
  dump->add_option("--index", c.index, "Records in the order of this index (needs --table)");
  AddFile(dump, c, set);

  CLI::App* append = verb("append", "Append a record");
  AddPassword(append, c, set);
  append->add_option("--table", c.table, "Table")->required();
  AddFile(append, c, set);
  append->add_option("ASSIGNMENTS", c.assignments, "FIELD=VALUE or FIELD@=PATH")->required();

  CLI::App* edit = verb("edit", "Change fields of a record");
  AddPassword(edit, c, set);
  edit->add_option("--table", c.table, "Table")->required();
  AddRecordChoice(edit, c);
  AddFile(edit, c, set);
  edit->add_option("ASSIGNMENTS", c.assignments, "FIELD=VALUE or FIELD@=PATH")->required();

  CLI::App* del = verb("delete", "Delete a record");
  AddPassword(del, c, set);
  del->add_option("--table", c.table, "Table")->required();
  AddRecordChoice(del, c);
  AddFile(del, c, set);

  CLI::App* filter = verb("filter", "Print the records a filter expression accepts");
  AddPassword(filter, c, set);
  filter->add_option("--table", c.table, "Table")->required();
  filter->add_flag("--case-insensitive", c.case_insensitive, "Compare texts without regard to case");
  filter->add_flag("--no-partial", c.no_partial, "No partial comparison of texts ending in *");
  filter->add_option("--expr", c.expr, "Filter expression")->required();
  AddFile(filter, c, set);

  CLI::App* check = verb("check", "Check the structure of a database file");
  AddPassword(check, c, set, "Database password (also decodes encrypted values)");
  AddFile(check, c, set);

  CLI::App* repair = verb("repair", "Mend the structures of a damaged file (keeps FILE.bak)");
  AddPassword(repair, c, set);
  AddFile(repair, c, set);

  if (set == TVerbSet::CommandLine) {
    CLI::App* shell = verb("shell", "Read commands from standard input, one per line, on one open database");
    AddPassword(shell, c, set);
    AddFile(shell, c, set);
  } else {
    CLI::App* refresh = verb("refresh", "Read the rows of the open data sets again");
    refresh->add_option("--table", c.table, "Only this table");
    verb("begin", "Start a bulk group: the following writes hold the file lock until end");
    verb("end", "End the bulk group: other programs see its writes from now on");
    verb("quit", "End the shell");
  }
}

std::string CheckVerbName(const CLI::App& app, const std::vector<std::string>& args, const std::string& what) {
  if (args.empty() || args[0].empty() || args[0][0] == '-') return {};
  std::string names;
  for (const CLI::App* sub : app.get_subcommands({})) {
    if (sub->get_name() == args[0]) return args[0];
    names += (names.empty() ? "" : ", ") + sub->get_name();
  }
  throw EUsageError(Utf8ToCp1252BestFit("Unknown " + what + " '" + args[0] + "'; the " + what + "s are " + names));
}

std::string UnexpectedArguments(CLI::App& app) {
  std::vector<std::string> words = app.remaining(true);
  std::string message = words.size() == 1 ? "The following argument was not expected:"
                                          : "The following arguments were not expected:";
  for (const std::string& word : words) message += " " + word;
  return message;
}

bool VerbOnlyReads(const std::string& verb) { return verb == "dump" || verb == "filter" || verb == "check"; }

ojson RunVerb(const TCommand& c, TOpenDatabase& db) {
  const std::string table = ToAnsi(c.table);
  if (c.verb == "dump") return Dump(db, table, ToAnsi(c.index));
  if (c.verb == "filter") return Filter(db, table, ToAnsi(c.expr), c.case_insensitive, c.no_partial);
  if (c.verb == "append") {
    ojson result = ojson::object();
    result["_id"] = Append(db, table, ParseAssignments(c.assignments));
    return result;
  }
  if (c.verb == "edit") {
    Edit(db, table, RecordChoice(c), ParseAssignments(c.assignments));
    return nullptr;
  }
  if (c.verb == "delete") {
    Delete(db, table, RecordChoice(c));
    return nullptr;
  }
  if (c.verb == "begin") {
    if (db.Database().InBulk()) throw EUsageError("A bulk group is already open; end it first");
    db.Database().StartBulk();
    return nullptr;
  }
  if (c.verb == "end") {
    if (!db.Database().InBulk()) throw EUsageError("No bulk group is open");
    db.Database().EndBulk();
    return nullptr;
  }
  if (c.verb == "refresh") {
    Refresh(db, table);
    return nullptr;
  }
  if (c.verb == "check") {
    ojson problems = ojson::array();
    for (const std::string& p : Check(db.Args())) problems.push_back(ToUtf8(p));
    return problems;
  }
  if (c.verb == "repair") {
    // The repair needs the file to itself: the shell's own open closes first.
    db.Close();
    bool clean = true;
    ojson result = ojson::object();
    result["lines"] = Repair(db.Args(), clean);
    result["clean"] = clean;
    return result;
  }
  throw EUsageError(Utf8ToCp1252BestFit("Unknown command '" + c.verb + "'"));
}

}  // namespace zq::zqdb
