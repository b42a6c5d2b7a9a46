#include "dbengine/format/db_format.h"

#include <algorithm>

#include "dbengine/format/field_type.h"

namespace zq {

namespace dbfmt {

std::string GetName(const uint8_t* p, int size) {
  const uint8_t* end = std::find(p, p + size, uint8_t{0});
  return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
}

void PutName(uint8_t* p, std::string_view name, int size) {
  std::memset(p, 0, static_cast<size_t>(size));
  size_t n = std::min(name.size(), static_cast<size_t>(size - 1));
  n = std::min(n, name.find('\0'));
  std::memcpy(p, name.data(), n);
}

int64_t SlotWidth(uint8_t field_type, int32_t field_size) {
  switch (field_type) {
    case ftString:
    case ftFixedChar:
      return field_size < 0 ? -1 : int64_t{field_size} + 1;
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftDate:
    case ftTime:
    case ftAutoInc:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
    case ftLargeint:
      return 8;
    default:
      return IsBlobType(field_type) ? kBlobDescriptorSize : -1;
  }
}

}  // namespace dbfmt

using namespace dbfmt;

TFieldDefEntry TFieldDefEntry::Read(const uint8_t* p) {
  TFieldDefEntry e;
  e.Name = GetName(p);
  e.FieldType = p[kFldType];
  e.FieldSize = GetI32(p + kFldSize);
  e.StoreRaw = p[kFldStoreRaw];
  return e;
}

void TFieldDefEntry::Write(uint8_t* p) const {
  PutName(p, Name);
  p[kFldType] = FieldType;
  PutI32(p + kFldSize, FieldSize);
  p[kFldStoreRaw] = StoreRaw;
}

TIndexDefEntry TIndexDefEntry::Read(const uint8_t* p) {
  TIndexDefEntry e;
  e.Name = GetName(p);
  e.Options = p[kIdxOptions];
  for (int i = 0; i < kMaxKeyFields; ++i) e.FieldNumbers[i] = GetI32(p + kIdxFieldNumbers + 4 * i);
  e.FirstLinkBlock = GetI32(p + kIdxFirstLinkBlock);
  e.HeadSlot = GetI32(p + kIdxHeadSlot);
  return e;
}

void TIndexDefEntry::Write(uint8_t* p) const {
  PutName(p, Name);
  p[kIdxOptions] = Options;
  for (int i = 0; i < kMaxKeyFields; ++i) PutI32(p + kIdxFieldNumbers + 4 * i, FieldNumbers[i]);
  PutI32(p + kIdxFirstLinkBlock, FirstLinkBlock);
  PutI32(p + kIdxHeadSlot, HeadSlot);
}

bool TDbSignature::HasMagic() const {
  return std::equal(std::begin(kMagic), std::end(kMagic), Bytes.begin()) && Bytes[6] == 0;
}

std::string TDbSignature::Version() const { return GetName(&Bytes[kVersionOffset], kVersionSize); }

TDbSignature TDbSignature::Make(std::string_view version) {
  TDbSignature s;
  std::copy(std::begin(kMagic), std::end(kMagic), s.Bytes.begin());
  PutName(&s.Bytes[kVersionOffset], version, kVersionSize);
  return s;
}

TBlobDescriptor TBlobDescriptor::Read(const uint8_t* p) {
  TBlobDescriptor d;
  d.AreaOffset = GetI32(p);
  d.DataLength = GetI32(p + 4);
  d.AreaSize = GetI32(p + 8);
  std::copy(p + 12, p + 20, d.Reserved.begin());
  return d;
}

void TBlobDescriptor::Write(uint8_t* p) const {
  PutI32(p, AreaOffset);
  PutI32(p + 4, DataLength);
  PutI32(p + 8, AreaSize);
  std::copy(Reserved.begin(), Reserved.end(), p + 12);
}

}  // namespace zq
