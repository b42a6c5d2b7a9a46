#include "dbengine/format/db_format.h"

#include <gtest/gtest.h>

#include "dbengine/format/field_type.h"

namespace zq {
namespace {

TEST(DbFormat, SlotWidthsPerTypeCode) {
  EXPECT_EQ(dbfmt::SlotWidth(ftString, 10), 11);
  EXPECT_EQ(dbfmt::SlotWidth(ftFixedChar, 0), 1);
  EXPECT_EQ(dbfmt::SlotWidth(ftSmallint, 0), 2);
  EXPECT_EQ(dbfmt::SlotWidth(ftWord, 0), 2);
  EXPECT_EQ(dbfmt::SlotWidth(ftBoolean, 0), 2);
  EXPECT_EQ(dbfmt::SlotWidth(ftInteger, 0), 4);
  EXPECT_EQ(dbfmt::SlotWidth(ftDate, 0), 4);
  EXPECT_EQ(dbfmt::SlotWidth(ftTime, 0), 4);
  EXPECT_EQ(dbfmt::SlotWidth(ftAutoInc, 0), 4);
  EXPECT_EQ(dbfmt::SlotWidth(ftFloat, 0), 8);
  EXPECT_EQ(dbfmt::SlotWidth(ftCurrency, 0), 8);
  EXPECT_EQ(dbfmt::SlotWidth(ftDateTime, 0), 8);
  EXPECT_EQ(dbfmt::SlotWidth(ftLargeint, 0), 8);
  for (uint8_t blob : {15, 16, 17, 18, 19, 20, 21, 30, 31}) EXPECT_EQ(dbfmt::SlotWidth(blob, 0), 20) << int(blob);
  for (uint8_t bad : {0, 8, 12, 13, 22, 24, 26, 27, 28, 29, 32, 33, 34, 35, 36, 37, 200})
    EXPECT_EQ(dbfmt::SlotWidth(bad, 5), -1) << int(bad);
  EXPECT_EQ(dbfmt::SlotWidth(ftString, -1), -1);
}

TEST(DbFormat, BlobAreaSizeIsNextMultipleOf64Above) {
  EXPECT_EQ(dbfmt::BlobAreaSize(0), 64);
  EXPECT_EQ(dbfmt::BlobAreaSize(1), 64);
  EXPECT_EQ(dbfmt::BlobAreaSize(63), 64);
  EXPECT_EQ(dbfmt::BlobAreaSize(64), 128);
  EXPECT_EQ(dbfmt::BlobAreaSize(100), 128);
  EXPECT_EQ(dbfmt::BlobAreaSize(128), 192);
}

TEST(DbFormat, BlockSizesAndFileMap) {
  // The other tests place their bytes with these constants; here they are pinned to the numbers.
  EXPECT_EQ(dbfmt::kFileHeaderSize, 3821);
  EXPECT_EQ(dbfmt::kTableHeaderSize, 4821);
  EXPECT_EQ(dbfmt::kDirectoryOffset, 2789);
  EXPECT_EQ(dbfmt::kDirTableOffsets, 8);
  EXPECT_EQ(dbfmt::kPerBlock, 1024);
  EXPECT_EQ(dbfmt::kSlotSize, 5);
  EXPECT_EQ(dbfmt::kLinkSize, 8);
  EXPECT_EQ(std::vector<int>({dbfmt::kHdrFirstSlotBlock, dbfmt::kHdrSlotCount, dbfmt::kHdrLastAutoInc,
                              dbfmt::kHdrFieldCount, dbfmt::kHdrFieldDefs, dbfmt::kHdrIndexDefs}),
            std::vector<int>({33, 37, 41, 45, 49, 4181}));
  EXPECT_EQ(std::vector<int>({dbfmt::kFldSize, dbfmt::kIdxFieldNumbers, dbfmt::kIdxFirstLinkBlock, dbfmt::kIdxHeadSlot,
                              dbfmt::kFieldDefSize, dbfmt::kIndexDefSize}),
            std::vector<int>({34, 34, 66, 70, 43, 78}));
  EXPECT_EQ(dbfmt::kSlotBlockSize, 5124);
  EXPECT_EQ(dbfmt::kLinkBlockSize, 8196);
  EXPECT_EQ(dbfmt::kOptionsOffset + dbfmt::kOptionsSize, dbfmt::kDirectoryOffset);
  EXPECT_EQ(dbfmt::kDirectoryOffset + dbfmt::kDirectorySize, 3821);
  EXPECT_EQ(dbfmt::kHdrIndexCount, 4177);
  EXPECT_EQ(TTableDefBlock::IndexEntryOffset(7) + 78 + 16, 4821);
}

TEST(DbFormat, NamesTakeCharactersBeforeNulOrAll33) {
  uint8_t field[33];
  dbfmt::PutName(field, "Societe");
  EXPECT_EQ(dbfmt::GetName(field), "Societe");
  for (int i = 7; i < 33; ++i) EXPECT_EQ(field[i], 0);
  std::fill(field, field + 33, 'A');
  EXPECT_EQ(dbfmt::GetName(field), std::string(33, 'A'));
  dbfmt::PutName(field, std::string(40, 'B'));
  EXPECT_EQ(dbfmt::GetName(field), std::string(32, 'B'));
  EXPECT_EQ(field[32], 0);
}

TEST(DbFormat, TableHeaderWith96FieldsPutsIndexCountAt4177) {
  TTableDefBlock h;
  h.SetName("T");
  h.SetFieldCount(96);
  for (int i = 0; i < 96; ++i) h.SetField(i, {"F" + std::to_string(i), ftInteger, 0x01020304, 1});
  h.SetIndexCount(2);
  TIndexDefEntry e;
  e.Name = "PK";
  e.Options = tiPrimary | tiDescending;
  e.FieldNumbers = {95, 3, -1, -1, -1, -1, -1, -1};
  e.FirstLinkBlock = 0x11223344;
  e.HeadSlot = 7;
  h.SetIndex(1, e);
  const auto& b = h.Bytes;
  EXPECT_EQ(b[4177], 2);
  EXPECT_EQ(b[4178], 0);
  // Field 95 entry at 49 + 95 * 43 = 4134: type at +33, size at +34 (LE), StoreRaw at +38.
  EXPECT_EQ(b[4134], 'F');
  EXPECT_EQ(b[4134 + 33], ftInteger);
  EXPECT_EQ(b[4134 + 34], 0x04);
  EXPECT_EQ(b[4134 + 37], 0x01);
  EXPECT_EQ(b[4134 + 38], 1);
  // Index 1 entry at 4181 + 78 = 4259.
  EXPECT_EQ(b[4259], 'P');
  EXPECT_EQ(b[4259 + 33], tiPrimary | tiDescending);
  EXPECT_EQ(b[4259 + 34], 95);
  EXPECT_EQ(b[4259 + 38], 3);
  EXPECT_EQ(b[4259 + 42], 0xFF);
  EXPECT_EQ(b[4259 + 66], 0x44);
  EXPECT_EQ(b[4259 + 69], 0x11);
  EXPECT_EQ(b[4259 + 70], 7);
  EXPECT_EQ(h.Index(1).FieldNumbers[1], 3);
  EXPECT_EQ(h.FirstLinkBlock(1), 0x11223344);
  EXPECT_EQ(h.Field(95).FieldSize, 0x01020304);
}

TEST(DbFormat, SignatureMagicIsExactAndNulTerminated) {
  TDbSignature s = TDbSignature::Make("2.0");
  EXPECT_TRUE(s.HasMagic());
  EXPECT_EQ(s.Bytes[0], 0x54);
  EXPECT_EQ(s.Bytes[5], 0x42);
  EXPECT_EQ(s.Bytes[6], 0);
  EXPECT_EQ(s.Version(), "2.0");
  s.Bytes[6] = 'X';
  EXPECT_FALSE(s.HasMagic());
  s = TDbSignature::Make("2.0");
  s.Bytes[1] = 0x49;  // case matters
  EXPECT_FALSE(s.HasMagic());
}

TEST(DbFormat, RecordSlotLinkAndBlobDescriptorEncodings) {
  uint8_t raw[20] = {};
  TRecordSlot{0x0A0B0C0D, 1}.Write(raw);
  EXPECT_EQ(raw[0], 0x0D);
  EXPECT_EQ(raw[3], 0x0A);
  EXPECT_EQ(raw[4], 1);
  TIndexLink{5, -1}.Write(raw);
  EXPECT_EQ(raw[0], 5);
  EXPECT_EQ(raw[4], 0xFF);
  EXPECT_EQ(raw[7], 0xFF);
  TBlobDescriptor d;
  d.AreaOffset = 4000;
  d.DataLength = 100;
  d.AreaSize = 128;
  d.Reserved = {1, 2, 3, 4, 5, 6, 7, 8};
  d.Write(raw);
  EXPECT_EQ(dbfmt::GetI32(raw), 4000);
  EXPECT_EQ(dbfmt::GetI32(raw + 8), 128);
  EXPECT_EQ(raw[19], 8);
  EXPECT_EQ(TBlobDescriptor::Read(raw).Reserved[0], 1);
}

TEST(DbFormat, LittleEndianHelpersRoundTrip) {
  uint8_t raw[8];
  dbfmt::PutI64(raw, -2);
  EXPECT_EQ(raw[0], 0xFE);
  EXPECT_EQ(raw[7], 0xFF);
  EXPECT_EQ(dbfmt::GetI64(raw), -2);
  dbfmt::PutF64(raw, 1.0);  // 0x3FF0000000000000
  EXPECT_EQ(raw[7], 0x3F);
  EXPECT_EQ(raw[6], 0xF0);
  EXPECT_EQ(dbfmt::GetF64(raw), 1.0);
  dbfmt::PutI16(raw, -1);
  EXPECT_EQ(dbfmt::GetI16(raw), -1);
}

}  // namespace
}  // namespace zq
