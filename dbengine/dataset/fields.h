// The field list of a data set: owns its field objects, finds them by name (case ignored) or by
// field number, and builds lists from ";"-separated names.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dbengine/dataset/field.h"

namespace zq {

class TFields {
 public:
  explicit TFields(TDataSet* data_set) : data_set_(data_set) {}

  // Takes ownership; "Duplicate field name '%s'" when the name is taken.
  TField& Add(std::unique_ptr<TField> field);
  void Remove(TField& field);
  void Clear();
  int Count() const { return static_cast<int>(items_.size()); }
  TField& operator[](int i) const { return *items_.at(i); }
  int IndexOf(const TField& field) const;

  TField* FindField(const std::string& name) const;
  // "Field '%s' not found" when absent.
  TField& FieldByName(const std::string& name) const;
  // The physical field bound to that 1-based number, nullptr when none.
  TField* FieldByNumber(int field_no) const;
  // Fields named in a ";"-separated list, in list order; "Field '%s' not found" for a missing one.
  std::vector<TField*> GetFieldList(const std::string& names) const;

 private:
  TDataSet* data_set_;
  std::vector<std::unique_ptr<TField>> items_;
};

}  // namespace zq
