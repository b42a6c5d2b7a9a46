#include "dbengine/dataset/index_defs.h"

#include "dbengine/format/db_error.h"
#include "dbengine/dataset/field_defs.h"

namespace zq {

TIndexDef& TIndexDefs::Add(const std::string& name, const std::string& fields,
                           TIndexOptions options) {
  items_.push_back(std::make_unique<TIndexDef>(name, fields, options));
  return *items_.back();
}

int TIndexDefs::IndexOf(const std::string& name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameName(items_[i]->Name(), name)) return i;
  return -1;
}

const TIndexDef& TIndexDefs::Find(const std::string& name) const {
  const int i = IndexOf(name);
  if (i < 0) throw EDatabaseError(FormatMessage("Index '%s' not found", {name}));
  return *items_[i];
}

std::vector<std::string> SplitFieldNames(const std::string& list) {
  std::vector<std::string> out;
  std::string cur;
  auto flush = [&] {
    size_t b = cur.find_first_not_of(" \t");
    size_t e = cur.find_last_not_of(" \t");
    if (b != std::string::npos) out.push_back(cur.substr(b, e - b + 1));
    cur.clear();
  };
  for (char c : list) {
    if (c == ';' || c == ',') flush();
    else cur.push_back(c);
  }
  flush();
  return out;
}

}  // namespace zq
