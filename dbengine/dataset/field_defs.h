// Field definitions of a data set: the name, type and size of every physical field, in field
// number order. A data set builds them when it opens and creates its default fields from them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dbengine/format/db_defs.h"  // SameName
#include "dbengine/format/field_type.h"

namespace zq {

class TFieldDef {
 public:
  TFieldDef(std::string name, TFieldType type, int size, bool required, int field_no)
      : name_(std::move(name)), type_(type), size_(size), required_(required), field_no_(field_no) {}

  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return type_; }
  // Defined size in characters for the string types, else 0.
  int Size() const { return size_; }
  bool Required() const { return required_; }
  // 1-based position among the definitions.
  int FieldNo() const { return field_no_; }

 private:
  std::string name_;
  TFieldType type_;
  int size_;
  bool required_;
  int field_no_;
};

class TFieldDefs {
 public:
  // Appends a definition; its field number is its 1-based position. Raises EDatabaseError
  // "Duplicate field name '%s'" when the name (compared without regard to case) is taken.
  TFieldDef& Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const TFieldDef& operator[](int i) const { return *items_.at(i); }
  // Position of the definition of that name (case ignored), -1 when absent.
  int IndexOf(const std::string& name) const;
  // The definition of that name; "Field '%s' not found" when absent.
  const TFieldDef& Find(const std::string& name) const;

 private:
  std::vector<std::unique_ptr<TFieldDef>> items_;
};

}  // namespace zq
