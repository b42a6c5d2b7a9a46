#include "dbengine/format/db_defs.h"

#include "platform/collation.h"

namespace zq {

bool SameName(const std::string& a, const std::string& b) {
  if (a == b) return true;
  return CompareStringA(a, b, true) == 0;
}

void TDbFieldDef::Assign(const TDbFieldDef& source) {
  name_ = source.name_;
  FieldType = source.FieldType;
  FieldSize = source.FieldSize;
  StoreRaw = source.StoreRaw;
}

void TDbIndexDef::Assign(const TDbIndexDef& source) {
  name_ = source.name_;
  Options = source.Options;
  FieldNumbers = source.FieldNumbers;
}

void TDbTableDef::Assign(const TDbTableDef& source) {
  name_ = source.name_;
  TableNumber = source.TableNumber;
}

}  // namespace zq
