// Fuzz target: a database file of arbitrary bytes, opened as a program would open it.
//
// The input is the whole file. It is kept in a memory stream, registered in the memory medium's
// registry and opened through a database object of the default session with the fixed password
// "secret" (the password of the seed corpus's encrypted files). Every table the file lists is
// opened through a table data set and every record is read, every field as text and every blob
// field through its blob stream as well. Only the project's exceptions may leave the engine, and
// each of them must say why. With ZQ_FUZZ_TRACE set, each table's outcome is printed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/session/database.h"
#include "dbengine/format/db_error.h"
#include "dbengine/dataset/db_table.h"
#include "dbengine/storage/memory_stream_registry.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace {

using namespace zq;

constexpr const char* kPassword = "secret";
// Bounds the work per input: a damaged file may claim a huge record count.
constexpr int kMaxRecordsPerTable = 2000;

void CheckMessage(const zq::Exception& e) {
  if (e.Message().empty() && dynamic_cast<const EAbort*>(&e) == nullptr) std::abort();
}

void ReadTable(const std::string& database_name, const std::string& table_name) {
  TDbTable table;
  table.SetMediumType(mtMemory);
  table.SetDatabaseName(database_name);
  table.SetTableName(table_name);
  table.BeforeOpen = [](TDataSet& ds) { static_cast<TDbTable&>(ds).SetPassword(kPassword); };
  try {
    table.Open();
    int records = 0;
    for (table.First(); !table.Eof() && records < kMaxRecordsPerTable; table.Next(), ++records) {
      TFields& fields = table.Fields();
      for (int i = 0; i < fields.Count(); ++i) {
        TField& field = fields[i];
        (void)field.IsNull();
        const std::string text = field.AsString();
        if (!field.IsBlob()) continue;
        std::unique_ptr<TStream> blob = table.CreateBlobStream(field, TBlobStreamMode::bmRead);
        const int64_t size = blob->Size();
        if (size < 0) std::abort();
        std::string bytes(static_cast<size_t>(size), '\0');
        blob->SetPosition(0);
        if (blob->Read(bytes.data(), size) != size) std::abort();
        if (bytes != text) std::abort();  // a blob field's text is its bytes
      }
    }
    // Walk backwards too: the buffered data set reads its rows again from the other end.
    int back = 0;
    for (table.Last(); !table.Bof() && back < kMaxRecordsPerTable; table.Prior(), ++back) {
      (void)table.RecNo();
    }
    if (std::getenv("ZQ_FUZZ_TRACE") != nullptr)
      std::fprintf(stderr, "table %s: %d records read\n", table_name.c_str(), records);
  } catch (const zq::Exception& e) {
    if (std::getenv("ZQ_FUZZ_TRACE") != nullptr)
      std::fprintf(stderr, "table %s: %s\n", table_name.c_str(), e.Message().c_str());
    CheckMessage(e);
  }
  try {
    table.Close();
  } catch (const zq::Exception& e) {
    CheckMessage(e);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream stream;
  if (size > 0) stream.WriteBuffer(data, static_cast<int64_t>(size));
  stream.SetPosition(0);
  const std::string name = TMemoryStreamRegistry::Register(&stream);
  {
    TDbDatabase database;
    std::vector<std::string> tables;
    try {
      database.SetMediumType(mtMemory);
      database.SetDatabaseName(name);
      database.Open();
      database.SetPassword(kPassword);
      database.GetTableNames(tables);
    } catch (const zq::Exception& e) {
      if (std::getenv("ZQ_FUZZ_TRACE") != nullptr)
        std::fprintf(stderr, "database: %s\n", e.Message().c_str());
      CheckMessage(e);
    }
    if (database.Connected()) {
      for (const std::string& table : tables) ReadTable(name, table);
    }
    try {
      database.Close();
    } catch (const zq::Exception& e) {
      CheckMessage(e);
    }
  }
  TMemoryStreamRegistry::Unregister(&stream);
  return 0;
}
