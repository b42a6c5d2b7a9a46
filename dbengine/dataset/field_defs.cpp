#include "dbengine/dataset/field_defs.h"

#include "dbengine/format/db_error.h"

namespace zq {
TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
  if (IndexOf(name) >= 0) throw EDatabaseError(FormatMessage("Duplicate field name '%s'", {name}));
  items_.push_back(std::make_unique<TFieldDef>(name, type, size, required, Count() + 1));
  return *items_.back();
}

int TFieldDefs::IndexOf(const std::string& name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameName(items_[i]->Name(), name)) return i;
  return -1;
}

const TFieldDef& TFieldDefs::Find(const std::string& name) const {
  const int i = IndexOf(name);
  if (i < 0) throw EDatabaseError(FormatMessage("Field '%s' not found", {name}));
  return *items_[i];
}

}  // namespace zq
