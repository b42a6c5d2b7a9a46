#include "dbengine/dataset/fields.h"

#include <algorithm>

#include "dbengine/format/db_error.h"
#include "dbengine/dataset/field_defs.h"
#include "dbengine/dataset/index_defs.h"

namespace zq {

TField& TFields::Add(std::unique_ptr<TField> field) {
  if (FindField(field->FieldName()))
    throw EDatabaseError(FormatMessage("Duplicate field name '%s'", {field->FieldName()}));
  field->data_set_ = data_set_;
  items_.push_back(std::move(field));
  return *items_.back();
}

void TFields::Remove(TField& field) {
  auto it = std::find_if(items_.begin(), items_.end(), [&](auto& p) { return p.get() == &field; });
  if (it != items_.end()) items_.erase(it);
}

void TFields::Clear() { items_.clear(); }

int TFields::IndexOf(const TField& field) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[i].get() == &field) return i;
  return -1;
}

TField* TFields::FindField(const std::string& name) const {
  for (auto& f : items_)
    if (SameName(f->FieldName(), name)) return f.get();
  return nullptr;
}

TField& TFields::FieldByName(const std::string& name) const {
  TField* f = FindField(name);
  if (!f) throw EDatabaseError(FormatMessage("Field '%s' not found", {name}));
  return *f;
}

TField* TFields::FieldByNumber(int field_no) const {
  if (field_no <= 0) return nullptr;
  for (auto& f : items_)
    if (f->FieldNo() == field_no) return f.get();
  return nullptr;
}

std::vector<TField*> TFields::GetFieldList(const std::string& names) const {
  std::vector<TField*> out;
  for (const std::string& n : SplitFieldNames(names)) out.push_back(&FieldByName(n));
  return out;
}

}  // namespace zq
