// The commands that go through the engine as a program would: a database object in the default
// session, TDbTable data sets on it, values set from text through the fields' own conversions.
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "dbengine/data_set.h"
#include "dbengine/database.h"
#include "dbengine/date_time.h"
#include "dbengine/db_error.h"
#include "dbengine/db_file_io.h"
#include "dbengine/db_table.h"
#include "dbengine/field.h"
#include "dbengine/fields.h"
#include "dbengine/table_io.h"
#include "platform/codepage.h"
#include "tools/zqdb_base64.h"
#include "tools/zqdb_commands.h"
#include "tools/zqdb_common.h"

namespace zq::zqdb {

namespace {

using ojson = nlohmann::ordered_json;

// The name under which the tool's database object is known in the default session.
constexpr const char* kDatabaseName = "zqdb";

// An open database: the file, its password checked before any table is touched. No login hook
// is involved: the password given (possibly empty) is the only one tried.
class OpenDatabase {
 public:
  explicit OpenDatabase(const TOpenArgs& args) {
    db_.SetDatabaseName(kDatabaseName);
    db_.SetFileName(args.file);
    // Tables are opened and closed one after the other; the file stays open in between.
    db_.SetKeepConnection(true);
    db_.SetPassword(args.password);
    db_.Open();
    db_.CheckCanAccess();
  }
  ~OpenDatabase() {
    try {
      db_.Close();
    } catch (...) {
      // Closing only releases; nothing is lost when it fails.
    }
  }
  TDbDatabase& Database() { return db_; }

  // A table data set opened on the named table, in its own order (primary index or physical).
  std::unique_ptr<TDbTable> OpenTable(const std::string& name) {
    auto table = std::make_unique<TDbTable>();
    table->SetDatabaseName(kDatabaseName);
    table->SetTableName(name);
    table->Open();
    return table;
  }

 private:
  TDbDatabase db_;
};

std::string VersionOf(TDbFileIO& io) {
  TDbSignature signature;
  io.ReadAt(signature.Bytes.data(), 0, dbfmt::kSignatureSize);
  return signature.Version();
}

int32_t RecordIdOf(TDbTable& table) {
  TBookmark bookmark = table.GetBookmark();
  if (bookmark.size() < 4) throw Exception("Record has no bookmark");
  return dbfmt::GetI32(bookmark.data());
}

ojson FieldValue(TField& field) {
  switch (field.DataType()) {
    case ftString:
    case ftFixedChar: return ToUtf8(field.AsString());
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc: return field.AsInteger();
    case ftLargeint: return field.AsLargeInt();
    case ftBoolean: return field.AsBoolean();
    case ftFloat:
    case ftCurrency: return field.AsFloat();
    case ftDate: return DateToIsoText(field.AsDateTime());
    case ftTime: return TimeToIsoText(field.AsDateTime());
    case ftDateTime: return DateTimeToIsoText(field.AsDateTime());
    default: break;
  }
  std::vector<uint8_t> bytes = field.AsBytes();
  std::string text(bytes.begin(), bytes.end());
  if (IsMemoType(field.DataType())) return ToUtf8(text);
  ojson blob = ojson::object();
  blob["base64"] = Base64Encode(text);
  return blob;
}

// The records the data set shows, in its order.
ojson Records(TDbTable& table, TDbTableIO& io) {
  ojson records = ojson::array();
  for (table.First(); !table.Eof(); table.Next()) {
    ojson record = ojson::object();
    record["_id"] = RecordIdOf(table);
    for (int i = 0; i < io.FieldDefs().Count(); ++i) {
      TField* field = table.Fields().FieldByNumber(i + 1);
      if (field == nullptr) continue;
      record[ToUtf8(field->FieldName())] = FieldValue(*field);
    }
    records.push_back(std::move(record));
  }
  return records;
}

ojson TableDocument(TDbTable& table, ojson records) {
  TDbTableIO& io = *table.TableIO();
  const TTableDefBlock& header = io.Header();
  ojson doc = ojson::object();
  doc["name"] = ToUtf8(io.TableName());
  doc["slot_count"] = header.SlotCount();
  doc["last_autoinc"] = header.LastAutoIncValue();
  ojson fields = ojson::array();
  for (int i = 0; i < io.FieldDefs().Count(); ++i) {
    const TDbFieldDef& def = io.FieldDefs().Item(i);
    ojson f = ojson::object();
    f["name"] = ToUtf8(def.Name());
    f["type"] = std::string(FieldTypeName(def.FieldType).value_or("ftUnknown"));
    f["size"] = def.FieldSize;
    f["store_raw"] = def.StoreRaw;
    fields.push_back(std::move(f));
  }
  doc["fields"] = std::move(fields);
  ojson indexes = ojson::array();
  for (int x = 0; x < io.IndexDefs().Count(); ++x) {
    const TDbIndexDef& def = io.IndexDefs().Item(x);
    ojson index = ojson::object();
    index["name"] = ToUtf8(def.Name());
    ojson key = ojson::array();
    for (int32_t n : def.FieldNumbers) key.push_back(ToUtf8(io.FieldDefs().Item(n).Name()));
    index["fields"] = std::move(key);
    ojson options = ojson::array();
    for (TDbIndexOption o : {tiPrimary, tiUnique, tiDescending, tiCaseInsensitive})
      if (def.Options & o) options.push_back(std::string(IndexOptionName(o)));
    index["options"] = std::move(options);
    indexes.push_back(std::move(index));
  }
  doc["indexes"] = std::move(indexes);
  doc["records"] = std::move(records);
  return doc;
}

ojson DatabaseDocument(TDbDatabase& db) {
  TDbFileIO& io = *db.FileIO();
  const TDbOptionsBlock& options = io.Options();
  ojson doc = ojson::object();
  doc["version"] = ToUtf8(VersionOf(io));
  doc["compression"] = db.Compressed() ? ojson(ToUtf8(options.CompressAlgoName())) : ojson(nullptr);
  if (db.Encrypted()) {
    ojson encryption = ojson::object();
    encryption["algorithm"] = ToUtf8(options.EncryptAlgoName());
    encryption["mode"] = options.EncryptMode();
    doc["encryption"] = std::move(encryption);
  } else {
    doc["encryption"] = nullptr;
  }
  doc["check_blob_writes"] = db.CheckBlobWrites();
  doc["tables"] = ojson::array();
  return doc;
}

// Moves the data set to the row-th live record in physical order (ascending record ID).
void GotoPhysicalRow(TDbTable& table, int row) {
  const TRowList& physical = table.TableIO()->RowList(0);
  if (row < 1 || static_cast<size_t>(row) > physical.size())
    throw Exception(FormatMessage("Row %s not found (the table has %s rows)",
                                  {std::to_string(row), std::to_string(physical.size())}));
  TBookmark bookmark(4);
  dbfmt::PutI32(bookmark.data(), physical[static_cast<size_t>(row) - 1].RecordId);
  table.GotoBookmark(bookmark);
}

void Assign(TDbTable& table, const std::vector<TAssignment>& assignments) {
  for (const TAssignment& a : assignments) {
    TField& field = table.FieldByName(a.field);
    if (a.from_file) {
      if (!field.IsBlob())
        throw EUsageError(FormatMessage("Field '%s' is not a blob or memo field; use FIELD=VALUE", {a.field}));
      field.SetAsBytes(a.value.data(), a.value.size());
    } else {
      field.SetAsString(a.value);
    }
  }
}

std::string ReadBinaryFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EUsageError("Cannot read file " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw EUsageError("Cannot read file " + path);
  return bytes.str();
}

}  // namespace

std::vector<TAssignment> ParseAssignments(const std::vector<std::string>& arguments) {
  std::vector<TAssignment> result;
  for (const std::string& arg : arguments) {
    size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0)
      throw EUsageError("Expected FIELD=VALUE or FIELD@=PATH, got '" + Utf8ToCp1252BestFit(arg) + "'");
    TAssignment a;
    bool from_file = arg[eq - 1] == '@';
    std::string name = arg.substr(0, from_file ? eq - 1 : eq);
    if (name.empty()) throw EUsageError("Expected FIELD=VALUE or FIELD@=PATH, got '" + Utf8ToCp1252BestFit(arg) + "'");
    a.field = ToAnsi(name);
    a.from_file = from_file;
    a.value = from_file ? ReadBinaryFile(arg.substr(eq + 1)) : ToAnsi(arg.substr(eq + 1));
    result.push_back(std::move(a));
  }
  return result;
}

int Dump(const TOpenArgs& open, const std::string& table, const std::string& index, std::ostream& out) {
  if (!index.empty() && table.empty()) throw EUsageError("--index needs --table");
  OpenDatabase db(open);
  ojson doc = DatabaseDocument(db.Database());
  std::vector<std::string> names;
  if (table.empty()) db.Database().GetTableNames(names);
  else names.push_back(table);
  for (const std::string& name : names) {
    std::unique_ptr<TDbTable> t = db.OpenTable(name);
    if (!index.empty()) {
      if (t->TableIO()->IndexDefs().IndexOf(index) < 0)
        throw EDatabaseError(FormatMessage("Index '%s' not found", {index}));
      t->SetIndexName(index);
    }
    ojson records = Records(*t, *t->TableIO());
    doc["tables"].push_back(TableDocument(*t, std::move(records)));
    t->Close();
  }
  out << doc.dump() << '\n';
  return kExitOk;
}

int Filter(const TOpenArgs& open, const std::string& table, const std::string& expression, bool case_insensitive,
           bool no_partial, std::ostream& out) {
  OpenDatabase db(open);
  ojson doc = DatabaseDocument(db.Database());
  std::unique_ptr<TDbTable> t = db.OpenTable(table);
  TFilterOptions options;
  if (case_insensitive) options.Include(foCaseInsensitive);
  if (no_partial) options.Include(foNoPartialCompare);
  t->SetFilterOptions(options);
  t->SetFilter(expression);
  t->SetFiltered(true);
  ojson records = Records(*t, *t->TableIO());
  doc["tables"].push_back(TableDocument(*t, std::move(records)));
  t->Close();
  out << doc.dump() << '\n';
  return kExitOk;
}

int Append(const TOpenArgs& open, const std::string& table, const std::vector<TAssignment>& assignments) {
  OpenDatabase db(open);
  std::unique_ptr<TDbTable> t = db.OpenTable(table);
  t->Append();
  Assign(*t, assignments);
  t->Post();
  t->Close();
  return kExitOk;
}

int Edit(const TOpenArgs& open, const std::string& table, int row, const std::vector<TAssignment>& assignments) {
  OpenDatabase db(open);
  std::unique_ptr<TDbTable> t = db.OpenTable(table);
  GotoPhysicalRow(*t, row);
  t->Edit();
  Assign(*t, assignments);
  t->Post();
  t->Close();
  return kExitOk;
}

int Delete(const TOpenArgs& open, const std::string& table, int row) {
  OpenDatabase db(open);
  std::unique_ptr<TDbTable> t = db.OpenTable(table);
  GotoPhysicalRow(*t, row);
  t->Delete();
  t->Close();
  return kExitOk;
}

}  // namespace zq::zqdb
