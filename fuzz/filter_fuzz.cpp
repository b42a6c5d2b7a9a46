// Fuzz target: filter expressions over a fixed table.
//
// Input: byte 0 chooses the filter options (bit 0 case-insensitive, bit 1 no partial compare),
// the decimal separator (bit 2: comma) and the table (bit 3: a table data set on a database file,
// else an in-memory field source); the rest is the filter text. The text is parsed and, when it
// parses, evaluated against every row of a small fixed table holding one field of every type a
// filter reads. Only the project's exceptions may leave the parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include <filesystem>
#include <memory>

#include "dbengine/format/date_time.h"
#include "dbengine/storage/db_creator.h"
#include "dbengine/format/db_error.h"
#include "dbengine/dataset/db_table.h"
#include "dbengine/filter/filter_parser.h"

namespace {

using namespace zq;

struct Column {
  const char* name;
  TFieldType type;
  int size;
};

constexpr Column kColumns[] = {
    {"Name", ftString, 20},  {"Code", ftFixedChar, 5}, {"Wide", ftWideString, 8},
    {"Guid", ftGuid, 38},    {"Small", ftSmallint, 0}, {"Qty", ftInteger, 0},
    {"WordF", ftWord, 0},    {"Flag", ftBoolean, 0},   {"Price", ftFloat, 0},
    {"Cost", ftCurrency, 0}, {"Birth", ftDate, 0},     {"AtTime", ftTime, 0},
    {"Stamp", ftDateTime, 0}, {"Id", ftAutoInc, 0},    {"Big", ftLargeint, 0},
    {"Memo", ftMemo, 0},     {"Data", ftBlob, 0},      {"Calc", ftInteger, 0},
};
constexpr int kCalcIndex = 17;

size_t Width(const Column& c) {
  switch (c.type) {
    case ftString: case ftFixedChar: case ftWideString: case ftGuid: return c.size + 1;
    case ftSmallint: case ftWord: case ftBoolean: return 2;
    case ftInteger: case ftAutoInc: case ftDate: case ftTime: return 4;
    default: return 8;
  }
}

class FixedTable : public TFilterFieldSource {
 public:
  FixedTable() {
    const char* names[] = {"Smith", "", "\xE9t\xE9 caf\xE9", "Sm*"};
    for (int row = 0; row < 4; ++row) {
      std::vector<std::vector<uint8_t>> record;
      for (const Column& c : kColumns) record.emplace_back(Width(c), 0);
      auto put = [&](int column, const void* value, size_t size) {
        std::memcpy(record[column].data(), value, std::min(size, record[column].size()));
      };
      put(0, names[row], std::strlen(names[row]));
      put(1, "AB", 2);
      put(2, "w", 1);
      put(3, "{0}", 3);
      const int16_t small = static_cast<int16_t>(row * -30000);
      put(4, &small, 2);
      const int32_t qty = row == 2 ? INT32_MAX : row * 7;
      put(5, &qty, 4);
      const uint16_t word = static_cast<uint16_t>(row * 30000);
      put(6, &word, 2);
      const uint16_t flag = static_cast<uint16_t>(row & 1);
      put(7, &flag, 2);
      const double price = row == 3 ? -0.0 : row * 1.5e300;
      put(8, &price, 8);
      put(9, &price, 8);
      const int32_t day = row == 1 ? 0 : *TryEncodeDayNumber(1999 + row, 12, 31);
      put(10, &day, 4);
      const int32_t ms = row == 3 ? -1 : row * 40000000;
      put(11, &ms, 4);
      const double stamp = static_cast<double>(day) * kMSecsPerDay + ms;
      put(12, &stamp, 8);
      put(13, &qty, 4);
      const int64_t big = row == 2 ? INT64_MIN : row * 5000000000LL;
      put(14, &big, 8);
      rows_.push_back(std::move(record));
    }
  }

  void SetRow(int row) { row_ = row; }

  TFilterFieldInfo FilterFieldByName(const std::string& name) override {
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
      if (strcasecmp(kColumns[i].name, name.c_str()) == 0) {
        TFilterFieldInfo info;
        info.DataType = kColumns[i].type;
        info.Size = kColumns[i].size;
        info.Index = i;
        info.Calculated = i == kCalcIndex;
        info.FieldNo = info.Calculated ? 0 : i + 1;
        return info;
      }
    }
    throw EDatabaseError(FormatMessage("Field '%s' not found", {name}));
  }

  std::span<const uint8_t> FilterFieldData(int index) override {
    if (index < 0 || index >= static_cast<int>(std::size(kColumns))) std::abort();
    const std::vector<uint8_t>& bytes = rows_[row_][index];
    return {bytes.data(), bytes.size()};
  }

  std::string FilterBlobText(int index) override {
    if (kColumns[index].type != ftMemo && kColumns[index].type != ftBlob) std::abort();
    return row_ == 0 ? std::string("  memo  ") : std::string(static_cast<size_t>(row_) * 100, '%');
  }

 private:
  std::vector<std::vector<std::vector<uint8_t>>> rows_;
  int row_ = 0;
};

// The same columns as a table of a database file, made once per process and removed at exit.
class FileTable {
 public:
  FileTable() {
    dir_ = std::filesystem::temp_directory_path() /
           ("zq_filter_fuzz_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    TDbSchemaTable t;
    t.Name = "Fixed";
    for (const Column& c : kColumns) {
      if (c.type == ftWideString || c.type == ftGuid) continue;  // not storable in a file
      t.Fields.push_back({c.name, static_cast<uint8_t>(c.type), c.size, false});
    }
    const char* names[] = {"Smith", "", "\xE9t\xE9 caf\xE9", "Sm*"};
    for (int row = 0; row < 4; ++row) {
      TDbSchemaRecord r;
      r.Values = {{"Name", Variant(names[row])},
                  {"Code", Variant(row & 1 ? "AB" : "ab%")},
                  {"Small", Variant(static_cast<int32_t>(row * -10000))},
                  {"Qty", Variant(row == 2 ? INT32_MAX : row * 7)},
                  {"WordF", Variant(static_cast<int32_t>(row * 20000))},
                  {"Flag", Variant((row & 1) != 0)},
                  {"Price", Variant(row * 1.5e300)},
                  {"Cost", Variant(TCurrency{row * -2.5})},
                  {"Birth", Variant(row == 1 ? "0001-01-01" : "9999-12-31")},
                  {"AtTime", Variant(row == 3 ? "23:59:59.999" : "00:00:00")},
                  {"Stamp", Variant("2000-02-29T12:00:00")},
                  {"Id", Variant(static_cast<int32_t>(0))},
                  {"Big", Variant(static_cast<int64_t>(row == 2 ? INT64_MIN : row * 5000000000LL))},
                  {"Memo", Variant(std::string(static_cast<size_t>(row) * 50, '_'))},
                  {"Data", Variant(std::string("\0\1", 2))},
                  {"Calc", Variant(static_cast<int32_t>(row))}};
      t.Records.push_back(std::move(r));
    }
    TDbSchema schema;
    schema.Tables.push_back(std::move(t));
    const std::string path = (dir_ / "fixed.zqc").string();
    TDbCreator::CreateFile(path, schema);
    table_ = std::make_unique<TDbTable>();
    table_->SetDatabaseName(path);
    table_->SetTableName("Fixed");
    table_->Open();
  }
  ~FileTable() {
    table_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Filters the table with `text` and visits every accepted row; then finds with it.
  void Run(const std::string& text, TFilterOptions options) {
    table_->SetFiltered(false);
    try {
      table_->SetFilter(text);
    } catch (const zq::Exception& e) {
      if (e.Message().empty()) std::abort();
      return;
    }
    table_->SetFilterOptions(options);
    table_->SetFiltered(true);
    for (table_->First(); !table_->Eof(); table_->Next()) (void)table_->FieldByName("Name").AsString();
    table_->SetFiltered(false);
    (void)table_->FindFirst();
    (void)table_->FindNext();
    (void)table_->FindLast();
  }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<TDbTable> table_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 8) {
    static FileTable file_table;
    TFilterOptions file_options;
    if (data[0] & 1) file_options.Include(foCaseInsensitive);
    if (data[0] & 2) file_options.Include(foNoPartialCompare);
    file_table.Run(std::string(reinterpret_cast<const char*>(data + 1), size - 1), file_options);
    return 0;
  }
  static FixedTable table;
  TFilterParser parser(table);
  TFilterOptions options;
  if (data[0] & 1) options.Include(foCaseInsensitive);
  if (data[0] & 2) options.Include(foNoPartialCompare);
  TFilterFormatSettings settings;
  if (data[0] & 4) settings.DecimalSeparator = ',';
  parser.SetFormatSettings(settings);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    parser.Parse(text);
  } catch (const zq::Exception& e) {
    if (e.Message().empty()) std::abort();  // every parse error says why
    return 0;
  }
  for (int row = 0; row < 4; ++row) {
    table.SetRow(row);
    const Variant result = parser.Evaluate(options);
    if (result.kind() != Variant::Kind::Boolean) std::abort();
  }
  return 0;
}
