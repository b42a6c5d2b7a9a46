// A field source for filter tests: one field of every type a filter can read (plus a calculated
// field and a field of an unreadable type), and one current record whose values tests set.
#pragma once

#include <gtest/gtest.h>

#include <strings.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dbengine/format/date_time.h"
#include "dbengine/format/db_error.h"
#include "dbengine/filter/filter_parser.h"
#include "tests/dbengine/engine_test_support.h"

namespace zq::testing {

class FakeFieldSource : public TFilterFieldSource {
 public:
  struct Field {
    std::string name;
    TFieldType type;
    int size;
    bool calculated;
  };

  FakeFieldSource() {
    fields_ = {
        {"Name", ftString, 20, false},      {"City", ftString, 20, false},
        {"Code", ftFixedChar, 5, false},    {"Wide", ftWideString, 10, false},
        {"Guid", ftGuid, 38, false},        {"Small", ftSmallint, 0, false},
        {"Qty", ftInteger, 0, false},       {"Amount", ftInteger, 0, false},
        {"WordF", ftWord, 0, false},        {"Flag", ftBoolean, 0, false},
        {"Active", ftBoolean, 0, false},    {"Price", ftFloat, 0, false},
        {"Cost", ftCurrency, 0, false},     {"Birth", ftDate, 0, false},
        {"Birth2", ftDate, 0, false},       {"AtTime", ftTime, 0, false},
        {"Stamp", ftDateTime, 0, false},    {"Id", ftAutoInc, 0, false},
        {"Big", ftLargeint, 0, false},      {"Memo", ftMemo, 0, false},
        {"Data", ftBlob, 0, false},         {"FmtMemo", ftFmtMemo, 0, false},
        {"Calc", ftInteger, 0, true},       {"Raw", ftBytes, 4, false},
        {"Soci\xE9t\xE9", ftString, 10, false},
    };
    for (size_t i = 0; i < fields_.size(); ++i) {
      records_[static_cast<int>(i)].assign(SlotSize(fields_[i]), 0);
    }
  }

  static size_t SlotSize(const Field& f) {
    switch (f.type) {
      case ftString: case ftFixedChar: case ftWideString: case ftGuid: return f.size + 1;
      case ftSmallint: case ftWord: case ftBoolean: return 2;
      case ftInteger: case ftAutoInc: case ftDate: case ftTime: return 4;
      case ftBytes: return static_cast<size_t>(f.size);
      default: return 8;
    }
  }

  TFilterFieldInfo FilterFieldByName(const std::string& name) override {
    ++lookups;
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (strcasecmp(fields_[i].name.c_str(), name.c_str()) == 0) {
        TFilterFieldInfo info;
        info.DataType = fields_[i].type;
        info.Size = fields_[i].size;
        info.FieldNo = fields_[i].calculated ? -1 : static_cast<int>(i) + 1;
        info.Index = static_cast<int>(i);
        info.Calculated = fields_[i].calculated;
        return info;
      }
    }
    throw EDatabaseError(FormatMessage("Field '%s' not found", {name}));
  }

  std::span<const uint8_t> FilterFieldData(int index) override {
    ++reads;
    if (no_record) return {};
    const std::vector<uint8_t>& bytes = records_.at(index);
    return std::span<const uint8_t>(bytes.data(), bytes.size());
  }

  std::string FilterBlobText(int index) override {
    ++reads;
    return blobs_[index];
  }

  int IndexOf(const std::string& name) {
    return FilterFieldByName(name).Index;
  }

  template <class T>
  void SetRaw(const std::string& name, T value) {
    std::vector<uint8_t>& bytes = records_.at(IndexOf(name));
    ASSERT_GE(bytes.size(), sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
  }
  void SetString(const std::string& name, const std::string& value) {
    std::vector<uint8_t>& bytes = records_.at(IndexOf(name));
    std::fill(bytes.begin(), bytes.end(), 0);
    std::memcpy(bytes.data(), value.data(), std::min(value.size(), bytes.size() - 1));
  }
  void SetBlob(const std::string& name, const std::string& value) { blobs_[IndexOf(name)] = value; }
  void SetBool(const std::string& name, bool value) { SetRaw<uint16_t>(name, value ? 1 : 0); }
  void SetDate(const std::string& name, int y, int m, int d) {
    SetRaw<int32_t>(name, *TryEncodeDayNumber(y, m, d));
  }
  void SetTime(const std::string& name, int h, int mi, int s, int ms = 0) {
    SetRaw<int32_t>(name, ((h * 60 + mi) * 60 + s) * 1000 + ms);
  }
  void SetDateTime(const std::string& name, int y, int m, int d, int h, int mi, int s) {
    TTimeStamp stamp{((h * 60 + mi) * 60 + s) * 1000, *TryEncodeDayNumber(y, m, d)};
    SetRaw<double>(name, TimeStampToMSecs(stamp));
  }

  int lookups = 0;
  int reads = 0;
  bool no_record = false;

 private:
  std::vector<Field> fields_;
  std::map<int, std::vector<uint8_t>> records_;
  std::map<int, std::string> blobs_;
};

// Parses and evaluates against the fake source.
class FilterTest : public ::testing::Test {
 protected:
  bool Eval(const std::string& text, TFilterOptions options = {}) {
    parser.Parse(text);
    return parser.Evaluate(options).get<bool>();
  }

  // The message of the EDatabaseError that parsing `text` raises ("" when it parses).
  std::string ParseError(const std::string& text) {
    std::string message = testing_support::ErrorOf<EDatabaseError>([&] { parser.Parse(text); });
    return message == "<no error>" ? "" : message;
  }

  FakeFieldSource source;
  TFilterParser parser{source};
};

}  // namespace zq::testing
