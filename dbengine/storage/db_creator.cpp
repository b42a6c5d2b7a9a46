#include "dbengine/storage/db_creator.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "dbengine/pipeline/data_process_mgr.h"
#include "dbengine/format/date_time.h"
#include "dbengine/format/db_defs.h"
#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_file_io.h"
#include "dbengine/format/field_type.h"
#include "dbengine/storage/memory_stream_registry.h"
#include "dbengine/storage/optim_blob_stream.h"
#include "dbengine/storage/table_io.h"

namespace zq {

using namespace dbfmt;

namespace {

[[noreturn]] void SchemaError(std::string_view pattern, std::initializer_list<std::string_view> args) {
  throw EDatabaseError(FormatMessage(pattern, args));
}

void CheckName(const std::string& name, const char* what) {
  if (name.empty() || name.size() > kNameSize - 1 || name.find('\0') != std::string::npos)
    SchemaError("Invalid %s name '%s'", {what, name});
}

// A memory database the creator appends records to through the table layer.
class CreatorOwner : public TDbFileOwner {
 public:
  TDbMediumType MediumType() const override { return mtMemory; }
  bool Exclusive() const override { return false; }
  int32_t LockRetryCount() const override { return 0; }
  int32_t LockWaitTime() const override { return 0; }
  TDbFileIO* FileIO() override { return io; }
  TDbFileIO* io = nullptr;
};

// The stored encoding of one value; false when the variant does not fit the field.
int64_t AsInteger(const Variant& v, const std::string& field) {
  switch (v.kind()) {
    case Variant::Kind::Integer: return v.get<int32_t>();
    case Variant::Kind::Int64: return v.get<int64_t>();
    case Variant::Kind::Boolean: return v.get<bool>() ? 1 : 0;
    default: SchemaError("Invalid value for field '%s'", {field});
  }
}

double AsFloat(const Variant& v, const std::string& field) {
  switch (v.kind()) {
    case Variant::Kind::Integer: return v.get<int32_t>();
    case Variant::Kind::Int64: return static_cast<double>(v.get<int64_t>());
    case Variant::Kind::Float: return v.get<double>();
    case Variant::Kind::Currency: return v.get<TCurrency>().value;
    default: SchemaError("Invalid value for field '%s'", {field});
  }
}

TDateTime AsDateTime(const Variant& v, uint8_t type, const std::string& field) {
  if (v.kind() == Variant::Kind::DateTime) return v.get<TDateTimeValue>().value;
  if (v.kind() == Variant::Kind::Float) return v.get<double>();
  if (v.kind() == Variant::Kind::String) {
    const std::string& text = v.get<std::string>();
    std::optional<TDateTime> parsed = type == ftDate   ? TryIsoTextToDate(text)
                                      : type == ftTime ? TryIsoTextToTime(text)
                                                       : TryIsoTextToDateTime(text);
    if (parsed) return *parsed;
  }
  SchemaError("Invalid value for field '%s'", {field});
}

void CheckRange(int64_t value, int64_t lo, int64_t hi, const std::string& field) {
  if (value < lo || value > hi) SchemaError("Value of field '%s' is out of range", {field});
}

std::vector<uint8_t> Encode(const TDbSchemaField& f, const Variant& v) {
  std::vector<uint8_t> out(static_cast<size_t>(SlotWidth(f.FieldType, f.Size)), 0);
  uint8_t* p = out.data();
  switch (f.FieldType) {
    case ftString:
    case ftFixedChar: {
      if (v.kind() != Variant::Kind::String) SchemaError("Invalid value for field '%s'", {f.Name});
      const std::string& s = v.get<std::string>();
      if (s.size() > static_cast<size_t>(f.Size) || s.find('\0') != std::string::npos)
        SchemaError("Value of field '%s' is too long", {f.Name});
      std::memcpy(p, s.data(), s.size());
      break;
    }
    case ftSmallint: {
      int64_t x = AsInteger(v, f.Name);
      CheckRange(x, INT16_MIN, INT16_MAX, f.Name);
      PutI16(p, static_cast<int16_t>(x));
      break;
    }
    case ftWord: {
      int64_t x = AsInteger(v, f.Name);
      CheckRange(x, 0, UINT16_MAX, f.Name);
      PutI16(p, static_cast<int16_t>(static_cast<uint16_t>(x)));
      break;
    }
    case ftInteger:
    case ftAutoInc: {
      int64_t x = AsInteger(v, f.Name);
      CheckRange(x, INT32_MIN, INT32_MAX, f.Name);
      PutI32(p, static_cast<int32_t>(x));
      break;
    }
    case ftLargeint: PutI64(p, AsInteger(v, f.Name)); break;
    case ftBoolean:
      if (v.kind() != Variant::Kind::Boolean) SchemaError("Invalid value for field '%s'", {f.Name});
      PutI16(p, v.get<bool>() ? 1 : 0);
      break;
    case ftFloat:
    case ftCurrency: PutF64(p, AsFloat(v, f.Name)); break;
    case ftDate: PutI32(p, DateTimeToDateField(AsDateTime(v, ftDate, f.Name))); break;
    case ftTime: PutI32(p, DateTimeToTimeField(AsDateTime(v, ftTime, f.Name))); break;
    case ftDateTime: PutF64(p, DateTimeToDateTimeField(AsDateTime(v, ftDateTime, f.Name))); break;
    default: SchemaError("Invalid value for field '%s'", {f.Name});
  }
  return out;
}

std::vector<uint8_t> BuildHeader(const TDbSchema& schema) {
  if (schema.Version.size() > 4 || schema.Version.find('\0') != std::string::npos || schema.Version == "1.00" ||
      schema.Version.compare("2.0") > 0)
    SchemaError("Invalid database version '%s'", {schema.Version});
  if (schema.Tables.size() > kMaxTables) SchemaError("Too many tables: %s", {std::to_string(schema.Tables.size())});

  std::vector<uint8_t> file(kFileHeaderSize + schema.Tables.size() * kTableHeaderSize, 0);
  TDbSignature signature = TDbSignature::Make(schema.Version);
  std::copy(signature.Bytes.begin(), signature.Bytes.end(), file.begin());

  TDbOptionsBlock options;
  if (!schema.Compression.empty()) {
    CheckName(schema.Compression, "compression algorithm");
    // Refused here as on opening: a file naming an unknown algorithm could never be opened.
    TCompressMgr(nullptr).SetAlgoName(schema.Compression);
    options.SetCompressed(true);
    options.SetCompressAlgoName(schema.Compression);
  }
  if (!schema.EncryptAlgorithm.empty()) {
    CheckName(schema.EncryptAlgorithm, "encryption algorithm");
    TEncryptMgr(nullptr).SetAlgoName(schema.EncryptAlgorithm);
    options.SetEncrypted(true);
    options.SetEncryptMode(schema.EncryptMode);
    options.SetEncryptAlgoName(schema.EncryptAlgorithm);
    std::string check = TDbFileIO::PasswordCheckText(schema.Password);
    if (check.size() > kPasswordCheckSize - 1) SchemaError("Invalid password check text", {});
    options.SetPasswordCheck(check);
  }
  options.SetCheckBlobWrites(schema.CheckBlobWrites);
  std::copy(options.Bytes.begin(), options.Bytes.end(), file.begin() + kOptionsOffset);

  TTableDirectory directory;
  directory.SetTableCount(static_cast<int32_t>(schema.Tables.size()));
  for (size_t t = 0; t < schema.Tables.size(); ++t) {
    const TDbSchemaTable& table = schema.Tables[t];
    CheckName(table.Name, "table");
    for (size_t u = 0; u < t; ++u)
      if (SameName(schema.Tables[u].Name, table.Name)) SchemaError("Duplicate table name '%s'", {table.Name});
    if (table.Fields.size() > kMaxFields) SchemaError("Too many fields in table '%s'", {table.Name});
    if (table.Indexes.size() > kMaxIndexes) SchemaError("Too many indexes in table '%s'", {table.Name});
    int32_t offset = kFileHeaderSize + static_cast<int32_t>(t) * kTableHeaderSize;
    directory.SetTableOffset(static_cast<int>(t), offset);

    TTableDefBlock header;
    header.SetName(table.Name);
    header.SetFieldCount(static_cast<int32_t>(table.Fields.size()));
    int64_t record_size = 0;
    for (size_t i = 0; i < table.Fields.size(); ++i) {
      const TDbSchemaField& f = table.Fields[i];
      CheckName(f.Name, "field");
      for (size_t j = 0; j < i; ++j)
        if (SameName(table.Fields[j].Name, f.Name)) SchemaError("Duplicate field name '%s'", {f.Name});
      int64_t width = SlotWidth(f.FieldType, f.Size);
      if (width < 0 || (IsStringType(f.FieldType) && f.Size < 1))
        SchemaError("Invalid type or size of field '%s'", {f.Name});
      record_size += width;
      if (record_size > 16 * 1024 * 1024) SchemaError("Records of table '%s' are too large", {table.Name});
      header.SetField(static_cast<int>(i), {f.Name, f.FieldType, IsStringType(f.FieldType) ? f.Size : f.Size,
                                           static_cast<uint8_t>(f.StoreRaw ? 1 : 0)});
    }
    header.SetIndexCount(static_cast<int32_t>(table.Indexes.size()));
    for (size_t i = 0; i < table.Indexes.size(); ++i) {
      const TDbSchemaIndex& x = table.Indexes[i];
      CheckName(x.Name, "index");
      for (size_t j = 0; j < i; ++j)
        if (SameName(table.Indexes[j].Name, x.Name)) SchemaError("Duplicate index name '%s'", {x.Name});
      if (x.Fields.empty() || x.Fields.size() > kMaxKeyFields) SchemaError("Invalid key of index '%s'", {x.Name});
      TIndexDefEntry e;
      e.Name = x.Name;
      e.Options = x.Options & (tiPrimary | tiUnique | tiDescending | tiCaseInsensitive);
      for (size_t k = 0; k < x.Fields.size(); ++k) {
        int number = -1;
        for (size_t j = 0; j < table.Fields.size(); ++j)
          if (SameName(table.Fields[j].Name, x.Fields[k])) {
            number = static_cast<int>(j);
            break;
          }
        if (number < 0) SchemaError("Field '%s' of index '%s' not found", {x.Fields[k], x.Name});
        e.FieldNumbers[k] = number;
      }
      header.SetIndex(static_cast<int>(i), e);
    }
    std::copy(header.Bytes.begin(), header.Bytes.end(), file.begin() + offset);
  }
  std::copy(directory.Bytes.begin(), directory.Bytes.end(), file.begin() + kDirectoryOffset);
  return file;
}

void AppendRecords(TDbFileIO& io, CreatorOwner& owner, const TDbSchemaTable& table) {
  if (table.Records.empty()) return;
  TDbTableIO table_io(&owner);
  table_io.SetTableName(table.Name);
  table_io.Open();
  for (size_t n = 0; n < table.Records.size(); ++n) {
    const TDbSchemaRecord& record = table.Records[n];
    for (const auto& [name, value] : record.Values) {
      bool known = false;
      for (const auto& f : table.Fields) known = known || SameName(f.Name, name);
      if (!known) SchemaError("Field '%s' not found in table '%s'", {name, table.Name});
    }
    std::vector<std::vector<uint8_t>> values(table.Fields.size());
    std::vector<std::unique_ptr<TOptimBlobStream>> blobs(table.Fields.size());
    TFieldBuffers buffers;
    for (size_t i = 0; i < table.Fields.size(); ++i) {
      const TDbSchemaField& f = table.Fields[i];
      const Variant* value = nullptr;
      for (const auto& [name, v] : record.Values)
        if (SameName(name, f.Name)) value = &v;
      if (IsBlobType(f.FieldType)) {
        if (value == nullptr || value->IsNull()) {
          buffers.AddPlaceholder();
          continue;
        }
        if (value->kind() != Variant::Kind::String) SchemaError("Invalid value for field '%s'", {f.Name});
        blobs[i] = std::make_unique<TOptimBlobStream>();
        const std::string& bytes = value->get<std::string>();
        blobs[i]->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        buffers.AddBlob(blobs[i].get(), f.FieldType);
        continue;
      }
      if (value == nullptr || value->IsNull())
        SchemaError("Field '%s' has no value in record %s of table '%s'", {f.Name, std::to_string(n + 1), table.Name});
      values[i] = Encode(f, *value);
      buffers.Add(values[i].data(), f.FieldType, static_cast<int32_t>(values[i].size()));
    }
    table_io.AppendRecord(buffers, false, nullptr);
  }
  table_io.Close();
  (void)io;
}

}  // namespace

std::vector<uint8_t> TDbCreator::Build(const TDbSchema& schema) {
  std::vector<uint8_t> header = BuildHeader(schema);
  TMemoryStream stream;
  stream.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
  bool any_records = false;
  for (const auto& t : schema.Tables) any_records = any_records || !t.Records.empty();
  if (any_records) {
    std::string name = TMemoryStreamRegistry::Register(&stream);
    struct Unregister {
      TStream* s;
      ~Unregister() { TMemoryStreamRegistry::Unregister(s); }
    } unregister{&stream};
    CreatorOwner owner;
    TDbFileIO io(&owner);
    owner.io = &io;
    io.Open(name, mtMemory, 0, false, false);
    if (!io.CheckPassword(schema.Password)) SchemaError("Invalid password check text", {});
    // The records of every table in one bulk group: their link writes go out once at the end.
    io.BeginBulk();
    for (const auto& table : schema.Tables) AppendRecords(io, owner, table);
    io.EndBulk();
    io.Close();
  }
  return stream.Bytes();
}

void TDbCreator::CreateInStream(TStream& stream, const TDbSchema& schema) {
  std::vector<uint8_t> bytes = Build(schema);
  stream.SetSize(0);
  stream.SetPosition(0);
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TDbCreator::CreateFile(const std::string& path, const TDbSchema& schema) {
  std::vector<uint8_t> bytes = Build(schema);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) SchemaError("File '%s' already exists", {path});
    throw EStreamError(FormatMessage("Cannot create file \"%s\". %s", {path, std::strerror(errno)}));
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = errno;
      ::close(fd);
      ::unlink(path.c_str());
      throw EStreamError(FormatMessage("Cannot write file \"%s\". %s", {path, std::strerror(error)}));
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

}  // namespace zq
