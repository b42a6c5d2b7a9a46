// A complete program on the installed database engine: creates a database with a schema, appends
// records through a table data set, walks them, filters them, and handles the engine's errors.
// Usage: example DATABASE-FILE   (the file must not exist yet)
#include <cstdio>
#include <iostream>
#include <string>

#include "dbengine/storage/db_creator.h"
#include "dbengine/format/db_error.h"
#include "dbengine/dataset/db_table.h"

using namespace zq;

// One table, Clients, with an auto-increment key, a name, a town and a balance.
TDbSchema ClientSchema() {
  TDbSchemaTable clients;
  clients.Name = "Clients";
  clients.Fields = {{"Id", ftAutoInc}, {"Name", ftString, 30}, {"Town", ftString, 20},
                    {"Balance", ftFloat}};
  clients.Indexes = {{"PK", {"Id"}, ixPrimary}};
  TDbSchema schema;
  schema.Tables = {clients};
  return schema;
}

void AddClient(TDbTable& table, const std::string& name, const std::string& town, double balance) {
  table.Append();
  table.FieldByName("Name").SetAsString(name);
  table.FieldByName("Town").SetAsString(town);
  table.FieldByName("Balance").SetAsFloat(balance);
  table.Post();  // written to the file at once
}

void PrintRows(TDbTable& table) {
  for (table.First(); !table.Eof(); table.Next()) {
    std::printf("%d %-8s %-6s %8.2f\n", table.FieldByName("Id").AsInteger(),
                table.FieldByName("Name").AsString().c_str(),
                table.FieldByName("Town").AsString().c_str(), table.FieldByName("Balance").AsFloat());
  }
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: example DATABASE-FILE\n";
    return 2;
  }
  const std::string path = argv[1];
  try {
    TDbCreator::CreateFile(path, ClientSchema());

    TDbTable clients;
    clients.SetDatabaseName(path);
    clients.SetTableName("Clients");
    clients.Open();
    AddClient(clients, "Dupont", "Alger", 1250.5);
    AddClient(clients, "Martin", "Oran", -80);
    AddClient(clients, "Benali", "Alger", 310.25);
    std::printf("%d clients\n", clients.RecordCount());
    PrintRows(clients);

    std::printf("in Alger:\n");
    clients.SetFilter("Town = 'Alger'");
    clients.SetFiltered(true);
    PrintRows(clients);
    clients.SetFiltered(false);

    // Every failure of the engine is an EDatabaseError carrying the engine's message.
    try {
      clients.FieldByName("Phone");
    } catch (const EDatabaseError& e) {
      std::printf("error: %s\n", e.Message().c_str());
    }
    clients.Close();

    // The file exists now: creating it again is refused and changes nothing.
    try {
      TDbCreator::CreateFile(path, ClientSchema());
    } catch (const EDatabaseError& e) {
      std::printf("error: %s\n", e.Message().c_str());
    }
  } catch (const EDatabaseError& e) {
    std::cerr << "example: " << e.Message() << '\n';
    return 1;
  }
  return 0;
}
