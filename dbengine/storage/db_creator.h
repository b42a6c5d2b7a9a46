// Creation of a new database file from a schema (used by the tools and by tests; the engine itself
// never creates databases). The layout is fixed so that any two correct writers produce the same
// bytes: the 3821-byte file header (signature with the version text, options block, directory),
// the table headers in schema order (4821 bytes each), then each table's records in schema order,
// appended one by one through the table layer. Every byte the format does not interpret is zero;
// unused index field numbers are -1; slot, auto-increment, link and head values start at 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/format/db_format.h"
#include "dbengine/format/variant.h"
#include "platform/stream.h"

namespace zq {

struct TDbSchemaField {
  std::string Name;
  uint8_t FieldType = 0;
  int32_t Size = 0;
  bool StoreRaw = false;
};

struct TDbSchemaIndex {
  std::string Name;
  std::vector<std::string> Fields;  // most significant first, at most 8
  TDbIndexOptions Options = 0;
};

// One record: values by field name. Strings for string, memo and blob fields (blob bytes as they
// are); integers, booleans and floats for numbers; TDateTimeValue or ISO texts for dates and
// times. Every non-blob field needs a value; a blob field without one gets no area.
struct TDbSchemaRecord {
  std::vector<std::pair<std::string, Variant>> Values;
};

struct TDbSchemaTable {
  std::string Name;
  std::vector<TDbSchemaField> Fields;
  std::vector<TDbSchemaIndex> Indexes;
  std::vector<TDbSchemaRecord> Records;
};

struct TDbSchema {
  std::string Version = "2.0";
  std::string Compression;        // empty: none
  std::string EncryptAlgorithm;   // empty: not encrypted
  uint8_t EncryptMode = 0;
  std::string Password;
  bool CheckBlobWrites = false;
  std::vector<TDbSchemaTable> Tables;
};

class TDbCreator {
 public:
  // Builds the database in memory; EDatabaseError for an invalid schema or value.
  static std::vector<uint8_t> Build(const TDbSchema& schema);
  // Writes a new file; fails without touching anything when the file already exists.
  static void CreateFile(const std::string& path, const TDbSchema& schema);
  // Replaces the contents of a stream with a new database.
  static void CreateInStream(TStream& stream, const TDbSchema& schema);
};

}  // namespace zq
