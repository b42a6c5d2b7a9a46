#include "dbengine/field_defs.h"

#include "dbengine/db_error.h"

namespace zq {
namespace {

// Upper case of a code page 1252 byte: ASCII letters, the accented letters 0xE0-0xFE (except the
// division sign 0xF7), and the three letters whose capitals lie elsewhere (š, œ, ž, ÿ).
unsigned char Upper1252(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
  switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
  }
}

}  // namespace

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper1252(static_cast<unsigned char>(a[i])) != Upper1252(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

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
