#include "dbengine/format/value_text.h"

#include <gtest/gtest.h>

#include "dbengine/format/date_time.h"
#include "dbengine/format/db_format.h"
#include "dbengine/format/field_type.h"

namespace zq {
namespace {

std::string Text(std::vector<uint8_t> bytes, uint8_t type) {
  return ValueText(bytes.data(), static_cast<int64_t>(bytes.size()), type);
}

TEST(ValueText, PerType) {
  EXPECT_EQ(Text({'a', 'b', 0, 'z'}, ftString), "ab");
  EXPECT_EQ(Text({'a', 'b', 'c'}, ftFixedChar), "abc");  // no NUL: the whole data
  EXPECT_EQ(Text({0xFE, 0xFF}, ftSmallint), "-2");
  EXPECT_EQ(Text({0xFF, 0xFF}, ftWord), "65535");
  EXPECT_EQ(Text({0x70, 0x11, 0x01, 0x00}, ftInteger), "70000");
  EXPECT_EQ(Text({0xFF, 0xFF, 0xFF, 0xFF}, ftAutoInc), "-1");
  EXPECT_EQ(Text({0, 0, 0, 0, 0, 1, 0, 0}, ftLargeint), "1099511627776");
  EXPECT_EQ(Text({1, 0}, ftBoolean), "True");
  EXPECT_EQ(Text({0, 2}, ftBoolean), "True");  // any non-zero
  EXPECT_EQ(Text({0, 0}, ftBoolean), "False");
  std::vector<uint8_t> f(8);
  dbfmt::PutF64(f.data(), 1.5);
  EXPECT_EQ(Text(f, ftFloat), "1.5");
  dbfmt::PutF64(f.data(), 0.1);
  EXPECT_EQ(Text(f, ftCurrency), "0.1");
  EXPECT_EQ(Text({'x', 'y', 0, 'q'}, ftMemo), "xy");
  EXPECT_EQ(Text({'x', 'y'}, ftBlob), "xy");
}

TEST(ValueText, DatesUseTheEngineShortTexts) {
  std::vector<uint8_t> d(4);
  dbfmt::PutI32(d.data(), 734883);  // 2013-01-15
  EXPECT_EQ(Text(d, ftDate), DateToShortText(EncodeDate(2013, 1, 15)));
  dbfmt::PutI32(d.data(), 37230400);  // 10:20:30.400
  EXPECT_EQ(Text(d, ftTime), TimeToShortText(EncodeTime(10, 20, 30, 400)));
}

TEST(ValueText, UnknownTypesShortDataAndBadValuesGiveEmptyText) {
  EXPECT_EQ(Text({1, 2, 3, 4}, ftBCD), "");
  EXPECT_EQ(Text({1}, ftInteger), "");
  EXPECT_EQ(ValueText(nullptr, 4, ftInteger), "");
  std::vector<uint8_t> d(4);
  dbfmt::PutI32(d.data(), -5);  // no such day
  EXPECT_EQ(Text(d, ftDate), "");
  dbfmt::PutI32(d.data(), 86400000);  // one past the last millisecond of a day
  EXPECT_EQ(Text(d, ftTime), "");
  std::vector<uint8_t> dt(8);
  dbfmt::PutF64(dt.data(), -1.0);
  EXPECT_EQ(Text(dt, ftDateTime), "");
}

}  // namespace
}  // namespace zq
