// Field type codes: the one-byte ordinals stored in a table's field definitions and carried in
// field buffers. Only the codes with a slot width (see SlotWidth in the file format) are storable.
#pragma once

#include <cstdint>

namespace zq {

enum TFieldType : uint8_t {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftGraphic = 17,
  ftFmtMemo = 18,
  ftParadoxOle = 19,
  ftDBaseOle = 20,
  ftTypedBinary = 21,
  ftCursor = 22,
  ftFixedChar = 23,
  ftWideString = 24,
  ftLargeint = 25,
  ftADT = 26,
  ftArray = 27,
  ftReference = 28,
  ftDataSet = 29,
  ftOraBlob = 30,
  ftOraClob = 31,
  ftVariant = 32,
  ftInterface = 33,
  ftIDispatch = 34,
  ftGuid = 35,
  ftTimeStamp = 36,
  ftFMTBcd = 37,
};

// Blob types keep their value in a blob area and a 20-byte descriptor in the record.
constexpr bool IsBlobType(uint8_t type) {
  return (type >= ftBlob && type <= ftTypedBinary) || type == ftOraBlob || type == ftOraClob;
}

// Types whose value is text terminated by NUL (string, fixed char, wide string, GUID).
constexpr bool IsStringType(uint8_t type) {
  return type == ftString || type == ftFixedChar || type == ftWideString || type == ftGuid;
}

// Blob types whose value is text (memo kinds).
constexpr bool IsMemoType(uint8_t type) {
  return type == ftMemo || type == ftFmtMemo || type == ftOraClob;
}

}  // namespace zq
