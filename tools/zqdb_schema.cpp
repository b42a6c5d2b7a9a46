#include "tools/zqdb_schema.h"

#include <initializer_list>
#include <string>

#include "dbengine/format/date_time.h"
#include "dbengine/format/db_defs.h"
#include "dbengine/format/field_type.h"
#include "platform/codepage.h"
#include "tools/zqdb_base64.h"
#include "tools/zqdb_common.h"

namespace zq::zqdb {

namespace {

using json = nlohmann::json;

// Messages are put together from UTF-8 pieces and kept, like every message, in code page 1252.
[[noreturn]] void Fail(std::string_view pattern, std::initializer_list<std::string_view> args) {
  throw EUsageError(Utf8ToCp1252BestFit(FormatMessage(pattern, args)));
}

// Rejects keys outside the allowed set, so that a misspelt key is not silently ignored.
void CheckKeys(const json& object, std::string_view where, std::initializer_list<std::string_view> allowed) {
  for (const auto& item : object.items()) {
    bool known = false;
    for (std::string_view key : allowed) known = known || item.key() == key;
    if (!known) Fail("Unknown key '%s' in %s", {item.key(), where});
  }
}

const json* Member(const json& object, const char* key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::string Text(const json& value, std::string_view what) {
  if (!value.is_string()) Fail("%s must be a string", {what});
  return ToAnsi(value.get<std::string>());
}

bool Flag(const json& object, const char* key, std::string_view where) {
  const json* v = Member(object, key);
  if (v == nullptr || v->is_null()) return false;
  if (!v->is_boolean()) Fail("'%s' of %s must be true or false", {key, where});
  return v->get<bool>();
}

int64_t Integer(const json& value, std::string_view what) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<int64_t>();
  if (value.is_number_unsigned()) {
    uint64_t u = value.get<uint64_t>();
    if (u <= static_cast<uint64_t>(INT64_MAX)) return static_cast<int64_t>(u);
  }
  Fail("%s must be an integer", {what});
}

// One record value of a field, as the creation facility takes it.
Variant RecordValue(const TDbSchemaField& field, const json& value, const std::string& where) {
  std::string what = "Value of field '" + ToUtf8(field.Name) + "' in " + where;
  switch (field.FieldType) {
    case ftString:
    case ftFixedChar:
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
      return Text(value, what);
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      return Integer(value, what);
    case ftBoolean:
      if (!value.is_boolean()) Fail("%s must be true or false", {what});
      return value.get<bool>();
    case ftFloat:
    case ftCurrency: {
      if (!value.is_number()) Fail("%s must be a number", {what});
      double d = value.get<double>();
      return field.FieldType == ftCurrency ? Variant(TCurrency{d}) : Variant(d);
    }
    case ftDate:
    case ftTime:
    case ftDateTime: {
      if (!value.is_string()) Fail("%s must be a string", {what});
      std::string text = value.get<std::string>();
      std::optional<TDateTime> parsed = field.FieldType == ftDate   ? TryIsoTextToDate(text)
                                        : field.FieldType == ftTime ? TryIsoTextToTime(text)
                                                                    : TryIsoTextToDateTime(text);
      if (!parsed) Fail("%s is not a valid date or time: '%s'", {what, text});
      return TDateTimeValue{*parsed};
    }
    default: {  // the binary blob types
      if (!value.is_object() || value.size() != 1 || !value.contains("base64") || !value["base64"].is_string())
        Fail("%s must be {\"base64\": \"...\"}", {what});
      std::optional<std::string> bytes = Base64Decode(value["base64"].get<std::string>());
      if (!bytes) Fail("%s is not valid base64", {what});
      return *bytes;
    }
  }
}

TDbSchemaField ParseField(const json& f, const std::string& where) {
  if (!f.is_object()) Fail("A field of %s must be an object", {where});
  CheckKeys(f, "a field of " + where, {"name", "type", "size", "store_raw"});
  const json* name = Member(f, "name");
  const json* type = Member(f, "type");
  if (name == nullptr) Fail("A field of %s has no name", {where});
  TDbSchemaField field;
  field.Name = Text(*name, "A field name");
  std::string field_where = "field '" + name->get<std::string>() + "' of " + where;
  if (type == nullptr || !type->is_string()) Fail("The type of %s is missing", {field_where});
  std::optional<uint8_t> code = FieldTypeByName(type->get<std::string>());
  if (!code)
    Fail("Unknown field type '%s' of %s; the field types are %s",
         {type->get<std::string>(), field_where, FieldTypeNameList()});
  field.FieldType = *code;
  if (const json* size = Member(f, "size"); size != nullptr && !size->is_null()) {
    int64_t n = Integer(*size, "The size of " + field_where);
    if (n < 0 || n > INT32_MAX) Fail("The size of %s is out of range", {field_where});
    field.Size = static_cast<int32_t>(n);
  }
  field.StoreRaw = Flag(f, "store_raw", field_where);
  return field;
}

TDbSchemaIndex ParseIndex(const json& x, const std::string& where) {
  if (!x.is_object()) Fail("An index of %s must be an object", {where});
  CheckKeys(x, "an index of " + where, {"name", "fields", "options"});
  const json* name = Member(x, "name");
  if (name == nullptr) Fail("An index of %s has no name", {where});
  TDbSchemaIndex index;
  index.Name = Text(*name, "An index name");
  std::string index_where = "index '" + name->get<std::string>() + "' of " + where;
  const json* fields = Member(x, "fields");
  if (fields == nullptr || !fields->is_array()) Fail("The fields of %s must be a list", {index_where});
  for (const json& f : *fields) index.Fields.push_back(Text(f, "A key field name of " + index_where));
  if (const json* options = Member(x, "options"); options != nullptr && !options->is_null()) {
    if (!options->is_array()) Fail("The options of %s must be a list", {index_where});
    for (const json& o : *options) {
      if (!o.is_string()) Fail("The options of %s must be texts", {index_where});
      std::optional<TDbIndexOptions> bit = IndexOptionByName(o.get<std::string>());
      if (!bit)
        Fail("Unknown index option '%s' of %s; the index options are %s",
             {o.get<std::string>(), index_where, IndexOptionNameList()});
      index.Options |= *bit;
    }
  }
  return index;
}

TDbSchemaRecord ParseRecord(const json& r, const TDbSchemaTable& table, size_t number, const std::string& where) {
  std::string record_where = "record " + std::to_string(number) + " of " + where;
  if (!r.is_object()) Fail("%s must be an object", {record_where});
  TDbSchemaRecord record;
  for (const auto& item : r.items()) {
    if (item.key() == "_id") continue;  // a dumped record carries its ID; creation assigns IDs anew
    std::string key = ToAnsi(item.key());
    const TDbSchemaField* field = nullptr;
    for (const auto& f : table.Fields)
      if (SameName(f.Name, key)) field = &f;
    if (field == nullptr) Fail("Field '%s' not found in %s", {item.key(), where});
    if (item.value().is_null()) {
      if (IsBlobType(field->FieldType)) continue;  // a blob left out gets no area
      Fail("Field '%s' has no value in %s", {item.key(), record_where});
    }
    record.Values.emplace_back(field->Name, RecordValue(*field, item.value(), record_where));
  }
  for (const auto& f : table.Fields) {
    if (IsBlobType(f.FieldType)) continue;
    bool given = false;
    for (const auto& [name, value] : record.Values) given = given || SameName(name, f.Name);
    if (!given) Fail("Field '%s' has no value in %s", {ToUtf8(f.Name), record_where});
  }
  return record;
}

TDbSchemaTable ParseTable(const json& t) {
  if (!t.is_object()) Fail("A table must be an object", {});
  // slot_count and last_autoinc appear in dumps; they follow from the records and are ignored.
  CheckKeys(t, "a table", {"name", "fields", "indexes", "records", "slot_count", "last_autoinc"});
  const json* name = Member(t, "name");
  if (name == nullptr) Fail("A table has no name", {});
  TDbSchemaTable table;
  table.Name = Text(*name, "A table name");
  std::string where = "table '" + name->get<std::string>() + "'";
  const json* fields = Member(t, "fields");
  if (fields == nullptr || !fields->is_array()) Fail("The fields of %s must be a list", {where});
  for (const json& f : *fields) table.Fields.push_back(ParseField(f, where));
  if (const json* indexes = Member(t, "indexes"); indexes != nullptr && !indexes->is_null()) {
    if (!indexes->is_array()) Fail("The indexes of %s must be a list", {where});
    for (const json& x : *indexes) table.Indexes.push_back(ParseIndex(x, where));
  }
  if (const json* records = Member(t, "records"); records != nullptr && !records->is_null()) {
    if (!records->is_array()) Fail("The records of %s must be a list", {where});
    size_t number = 0;
    for (const json& r : *records) table.Records.push_back(ParseRecord(r, table, ++number, where));
  }
  return table;
}

}  // namespace

TDbSchema ParseSchema(const json& document) {
  if (!document.is_object()) Fail("The schema must be a JSON object", {});
  CheckKeys(document, "the schema", {"version", "compression", "encryption", "check_blob_writes", "tables"});
  TDbSchema schema;
  if (const json* v = Member(document, "version"); v != nullptr && !v->is_null())
    schema.Version = Text(*v, "'version'");
  if (const json* c = Member(document, "compression"); c != nullptr && !c->is_null())
    schema.Compression = Text(*c, "'compression'");
  if (const json* e = Member(document, "encryption"); e != nullptr && !e->is_null()) {
    if (!e->is_object()) Fail("'encryption' must be an object or null", {});
    CheckKeys(*e, "'encryption'", {"algorithm", "mode", "password"});
    const json* algorithm = Member(*e, "algorithm");
    if (algorithm == nullptr) Fail("'encryption' has no algorithm", {});
    schema.EncryptAlgorithm = Text(*algorithm, "The encryption algorithm");
    if (schema.EncryptAlgorithm.empty()) Fail("'encryption' has no algorithm", {});
    if (const json* mode = Member(*e, "mode"); mode != nullptr && !mode->is_null()) {
      int64_t m = Integer(*mode, "The encryption mode");
      if (m < 0 || m > 255) Fail("The encryption mode is out of range", {});
      schema.EncryptMode = static_cast<uint8_t>(m);
    }
    if (const json* password = Member(*e, "password"); password != nullptr && !password->is_null())
      schema.Password = Text(*password, "The password");
  }
  schema.CheckBlobWrites = Flag(document, "check_blob_writes", "the schema");
  const json* tables = Member(document, "tables");
  if (tables == nullptr || !tables->is_array()) Fail("'tables' must be a list", {});
  for (const json& t : *tables) schema.Tables.push_back(ParseTable(t));
  return schema;
}

}  // namespace zq::zqdb
