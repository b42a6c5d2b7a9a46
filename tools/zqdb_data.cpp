// The commands that go through the engine as a program would: a database object in the default
// session, TDbTable data sets on it, values set from text through the fields' own conversions.
#include <algorithm>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "dbengine/dataset/data_set.h"
#include "dbengine/session/database.h"
#include "dbengine/format/date_time.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/dataset/db_table.h"
#include "dbengine/dataset/field.h"
#include "dbengine/dataset/fields.h"
#include "dbengine/storage/table_io.h"
#include "platform/codepage.h"
#include "tools/zqdb_base64.h"
#include "tools/zqdb_commands.h"
#include "tools/zqdb_common.h"

namespace zq::zqdb {

namespace {

using ojson = nlohmann::ordered_json;

// The name under which the tool's database object is known in the default session.
constexpr const char* kDatabaseName = "zqdb";

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

// Moves the data set to the record chosen: the row-th of the rows it holds in physical order
// (ascending record ID), or the one with the record ID given.
void GotoRecord(TDbTable& table, const TRecordChoice& record) {
  if (record.id) {
    TBookmark bookmark(4);
    dbfmt::PutI32(bookmark.data(), *record.id);
    if (!table.BookmarkValid(bookmark)) throw EDatabaseError("Record not found");
    table.GotoBookmark(bookmark);
    return;
  }
  std::vector<int32_t> ids;
  for (table.First(); !table.Eof(); table.Next()) ids.push_back(RecordIdOf(table));
  std::sort(ids.begin(), ids.end());
  if (record.row < 1 || static_cast<size_t>(record.row) > ids.size())
    throw Exception(FormatMessage("Row %s not found (the table has %s rows)",
                                  {std::to_string(record.row), std::to_string(ids.size())}));
  TBookmark bookmark(4);
  dbfmt::PutI32(bookmark.data(), ids[static_cast<size_t>(record.row) - 1]);
  table.GotoBookmark(bookmark);
}

// Shows the data set's rows in the order of the index named, or in its own order (primary index,
// else physical) when the name is empty.
void ShowInOrder(TDbTable& table, const std::string& index) {
  if (!index.empty() && table.TableIO()->IndexDefs().IndexOf(index) < 0)
    throw EDatabaseError(FormatMessage("Index '%s' not found", {index}));
  if (!SameName(table.IndexName(), index)) table.SetIndexName(index);
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

// Sets the fields of the record being appended or edited and posts it; any failure cancels the
// change, so the open data set is left browsing.
void AssignAndPost(TDbTable& t, const std::vector<TAssignment>& assignments) {
  try {
    Assign(t, assignments);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

}  // namespace

TOpenDatabase::TOpenDatabase(TOpenArgs args, bool read_only) : args_(std::move(args)), read_only_(read_only) {}

TOpenDatabase::~TOpenDatabase() {
  try {
    Close();
  } catch (...) {
    // Closing only releases; nothing is lost when it fails.
  }
}

void TOpenDatabase::Close() {
  tables_.clear();
  if (db_) db_->Close();
  db_.reset();
}

TDbDatabase& TOpenDatabase::Database() {
  if (db_) return *db_;
  auto db = std::make_unique<TDbDatabase>();
  db->SetDatabaseName(kDatabaseName);
  db->SetFileName(args_.file);
  db->SetReadOnly(read_only_);
  // Data sets come and go; the file stays open in between.
  db->SetKeepConnection(true);
  db->SetPassword(args_.password);
  db->Open();
  db->CheckCanAccess();
  db_ = std::move(db);
  return *db_;
}

TDbTable& TOpenDatabase::Table(const std::string& name) {
  for (const auto& t : tables_)
    if (SameName(t->TableName(), name)) return *t;
  Database();
  auto table = std::make_unique<TDbTable>();
  table->SetDatabaseName(kDatabaseName);
  table->SetTableName(name);
  table->Open();
  tables_.push_back(std::move(table));
  return *tables_.back();
}

std::vector<TDbTable*> TOpenDatabase::OpenTables() const {
  std::vector<TDbTable*> result;
  for (const auto& t : tables_) result.push_back(t.get());
  return result;
}

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

ojson Dump(TOpenDatabase& db, const std::string& table, const std::string& index) {
  if (!index.empty() && table.empty()) throw EUsageError("--index needs --table");
  ojson doc = DatabaseDocument(db.Database());
  std::vector<std::string> names;
  if (table.empty()) db.Database().GetTableNames(names);
  else names.push_back(table);
  for (const std::string& name : names) {
    TDbTable& t = db.Table(name);
    ShowInOrder(t, index);
    ojson records = Records(t, *t.TableIO());
    doc["tables"].push_back(TableDocument(t, std::move(records)));
  }
  return doc;
}

ojson Filter(TOpenDatabase& db, const std::string& table, const std::string& expression, bool case_insensitive,
             bool no_partial) {
  ojson doc = DatabaseDocument(db.Database());
  TDbTable& t = db.Table(table);
  ShowInOrder(t, "");
  TFilterOptions options;
  if (case_insensitive) options.Include(foCaseInsensitive);
  if (no_partial) options.Include(foNoPartialCompare);
  // The data set stays open for later commands: it leaves here unfiltered, also on an error.
  struct Unfilter {
    TDbTable& t;
    ~Unfilter() {
      try {
        t.SetFiltered(false);
        t.SetFilter("");
        t.SetFilterOptions(TFilterOptions());
      } catch (...) {
        // The rows stay as the filter left them; a refresh reads them again.
      }
    }
  } unfilter{t};
  t.SetFilterOptions(options);
  t.SetFilter(expression);
  t.SetFiltered(true);
  ojson records = Records(t, *t.TableIO());
  doc["tables"].push_back(TableDocument(t, std::move(records)));
  return doc;
}

int32_t Append(TOpenDatabase& db, const std::string& table, const std::vector<TAssignment>& assignments) {
  TDbTable& t = db.Table(table);
  t.Append();
  AssignAndPost(t, assignments);
  return RecordIdOf(t);
}

void Edit(TOpenDatabase& db, const std::string& table, const TRecordChoice& record,
          const std::vector<TAssignment>& assignments) {
  TDbTable& t = db.Table(table);
  GotoRecord(t, record);
  t.Edit();
  AssignAndPost(t, assignments);
}

void Delete(TOpenDatabase& db, const std::string& table, const TRecordChoice& record) {
  TDbTable& t = db.Table(table);
  GotoRecord(t, record);
  t.Delete();
}

void Refresh(TOpenDatabase& db, const std::string& table) {
  if (!table.empty()) {
    db.Table(table).Refresh();
    return;
  }
  for (TDbTable* t : db.OpenTables()) t->Refresh();
}

}  // namespace zq::zqdb
